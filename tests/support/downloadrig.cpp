#include "support/downloadrig.h"

#include "app/quillharbor.h"
#include "download/descargas.h"
#include "platform/inet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>

namespace testsupport {

DownloadRig::DownloadRig() : window(freshwindow()) {
    server.listen(served.path());
    QObject::connect(&sampler, &QTimer::timeout, [this] {
        Sample s;
        s.requests = int(server.heads().size());
        s.bajando = window->bajando;
        s.caption = window->descarga->title();
        s.timelabel = window->TimeLabel->text();
        s.ratelabel = window->RateLabel->text();
        s.value = window->ProgressBar->Value();
        s.max = window->ProgressBar->Max();
        samples.append(s);
    });
    sampler.setInterval(2);
    auto* manager = window->Inet1->findChild<QNetworkAccessManager*>();
    QObject::connect(manager, &QNetworkAccessManager::finished, [this](QNetworkReply* reply) {
        attempts.append(reply->request().rawHeader("Range"));
    });
}

DownloadRig::~DownloadRig() = default;

QByteArray DownloadRig::pattern(qint64 size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 2463534242u + quint32(seed);
    for (qint64 i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = char(state);
    }
    return bytes;
}

QByteArray DownloadRig::put(const QString& name, qint64 size) {
    const QByteArray bytes = pattern(size);
    QFile out(served.filePath(name));
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) out.write(bytes);
    return bytes;
}

void DownloadRig::download(const QString& urlorname) {
    const QString url =
        urlorname.contains(QLatin1String("://")) ? urlorname : server.url(urlorname);
    samples.clear();
    attempts.clear();
    sampler.start();
    descargas::httpdownload(url, downloadfolder.path() + QLatin1Char('/'), QString(), QString());
    sampler.stop();
}

QByteArray DownloadRig::savedbytes(const QString& name) const {
    QFile in(saved(name));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

bool DownloadRig::exists(const QString& name) const {
    return QFileInfo::exists(saved(name));
}

QStringList DownloadRig::downloadentries() const {
    return QDir(downloadfolder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

} // namespace testsupport
