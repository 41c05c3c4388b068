#pragma once
// What the downloader tests share: a program folder with a fresh main window,
// a folder of served files behind an in-process file server, a download
// folder, and samples of the progress display taken while a transfer runs.
#include "app/quillharbor.h"
#include "download/descargas.h"
#include "fileserver.h"
#include "platform/inet.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

namespace testsupport {

// What the window showed at one moment of a transfer.
struct Sample {
    int requests = 0; // requests the server had received by then
    int replies = 0;  // the agent's requests alive then
    bool bajando = false;
    QString caption, timelabel, ratelabel;
    double value = 0, max = 0;
};

class DownloadRig {
  public:
    DownloadRig() : window(freshwindow()) {
        window->show(); // a hidden window's display is not kept up to date
        QDir(area.path()).mkdir("downloads");
        server.listen(served.path());
        // Waits between attempts that got nowhere: short, but still in order.
        descargas::timing() = {.firstwaitms = 1};
        QObject::connect(&sampler, &QTimer::timeout, [this] {
            samples.append({int(server.heads().size()), window->Inet1->alive(), window->bajando,
                            window->descarga->title(), window->TimeLabel->text(),
                            window->RateLabel->text(), window->ProgressBar->Value(),
                            window->ProgressBar->Max()});
        });
        sampler.setInterval(2);
        QObject::connect(window->Inet1, &platform::Inet::requested, [this](const QString& headers) {
            static const QRegularExpression range(QStringLiteral("(?:^|\n)Range: *([^\r\n]*)"));
            attempts.append(range.match(headers).captured(1).toLatin1());
        });
    }

    // A served file of `size` pattern bytes.
    QByteArray put(const QString& name, qint64 size) {
        const QByteArray bytes = pattern(size);
        writefile(served.filePath(name), bytes);
        return bytes;
    }

    // Runs the downloader on `url` (a served file's name when it has no
    // scheme) into the download folder, sampling the display as it goes.
    void download(const QString& urlorname) {
        samples.clear();
        attempts.clear();
        sampler.start();
        descargas::httpdownload(urlorname.contains("://") ? urlorname : server.url(urlorname),
                                downloads() + '/', QString(), QString());
        sampler.stop();
    }

    // The download folder, alone in a temporary folder of its own, so that
    // anything written beside it shows.
    QString downloads() const { return area.filePath("downloads"); }
    QString saved(const QString& name) const { return downloads() + '/' + name; }
    QByteArray savedbytes(const QString& name) const { return readfile(saved(name)); }
    bool exists(const QString& name) const { return QFile::exists(saved(name)); }
    QStringList downloadentries() const {
        return QDir(downloads()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    // The Range header of each request the agent made, in order, as the
    // agent counts them (a redirect it follows is part of the request).
    QList<QByteArray> attempts;

    ProgramFolder folder;
    std::unique_ptr<quillharbor> window;
    QTemporaryDir served;
    QTemporaryDir area;
    FileServer server;
    QList<Sample> samples;

  private:
    QTimer sampler;
};

} // namespace testsupport
