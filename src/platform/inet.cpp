#include "platform/inet.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <cstring>

namespace platform {

namespace {
// Our buffer and Qt's buffer under the reply: together they bound the memory
// a transfer takes, whatever the size of the body.
constexpr qsizetype ownbuffersize = 256 * 1024;
constexpr qint64 replybuffersize = 1024 * 1024;
// How long one wait for network events lasts before the caller looks again.
constexpr int pollms = 10;

bool followedredirect(QNetworkReply* reply) {
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 300 && status < 400 && reply->hasRawHeader("Location");
}
} // namespace

Inet::Inet(QObject* parent)
    : QObject(parent), manager(new QNetworkAccessManager(this)), requesttimer(new QTimer(this)),
      stalltimer(new QTimer(this)) {
    requesttimer->setSingleShot(true);
    stalltimer->setSingleShot(true);
    connect(requesttimer, &QTimer::timeout, this, [this] {
        if (reply && !responded) {
            failed = true;
            reply->disconnect(this);
            reply->abort();
        }
    });
    connect(stalltimer, &QTimer::timeout, this, [this] { stalled = true; });
    buffer.resize(ownbuffersize);
}

Inet::~Inet() {
    Cancel();
}

bool Inet::Execute(const QString& operation, const QString& requestheaders) {
    Cancel();
    QUrl url(URL, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false;
    if (!UserName.isEmpty()) {
        url.setUserName(UserName);
        url.setPassword(Password);
    }
    QNetworkRequest request(url);
    // The body must arrive as the bytes of the file: ranges count those.
    request.setRawHeader("Accept-Encoding", "identity");
    const QStringList lines = requestheaders.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0) continue;
        request.setRawHeader(line.left(colon).trimmed().toLatin1(),
                             line.mid(colon + 1).trimmed().toLatin1());
    }
    if (operation.compare(QLatin1String("GET"), Qt::CaseInsensitive) == 0)
        reply = manager->get(request);
    else
        reply = manager->sendCustomRequest(request, operation.toLatin1());
    reply->setReadBufferSize(replybuffersize);

    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        if (!followedredirect(reply)) headersarrived();
    });
    connect(reply, &QNetworkReply::readyRead, this, [this] {
        if (!responded) headersarrived();
        stalltimer->start(stalltimeoutms);
    });
    connect(reply, &QNetworkReply::finished, this, [this] {
        requesttimer->stop();
        stalltimer->stop();
        if (!responded) {
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
                responded = true;
            else
                failed = true;
        }
    });
    requesttimer->start(requesttimeoutms);
    return true;
}

void Inet::headersarrived() {
    if (responded) return;
    responded = true;
    requesttimer->stop();
    stalltimer->start(stalltimeoutms);
}

bool Inet::StillExecuting() {
    if (!reply || responded || failed) return false;
    waitforevents(pollms);
    return reply && !responded && !failed;
}

std::optional<QString> Inet::GetHeader() {
    if (!reply || !responded) return std::nullopt;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return QString();
    const bool http2 = reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool();
    QString block = QLatin1String(http2 ? "HTTP/2 " : "HTTP/1.1 ") +
                    QString::number(status.toInt()) + QLatin1Char(' ') +
                    reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString() +
                    QLatin1String("\r\n");
    const auto headers = reply->rawHeaderPairs();
    for (const auto& [name, value] : headers)
        block += QString::fromLatin1(name) + QLatin1String(": ") + QString::fromLatin1(value) +
                 QLatin1String("\r\n");
    return block;
}

std::optional<QString> Inet::GetHeader(const QString& name) {
    if (!reply || !responded) return std::nullopt;
    return QString::fromLatin1(reply->rawHeader(name.toLatin1()));
}

std::optional<QByteArray> Inet::GetChunk(int size, const std::function<bool()>& giveup) {
    if (!reply || !responded) return std::nullopt;
    size = qMax(size, 0);
    while (end - start < size) {
        fillbuffer();
        if (end - start >= size || bodyended()) break;
        waitforevents(pollms);
        if (!reply) return QByteArray();
        if (giveup && giveup()) break;
    }
    const qsizetype count = qMin<qsizetype>(size, end - start);
    QByteArray chunk(buffer.constData() + start, count);
    start += count;
    return chunk;
}

void Inet::fillbuffer() {
    if (!reply) return;
    if (start == end) start = end = 0;
    if (start > 0 && buffer.size() - end < buffer.size() / 2) {
        std::memmove(buffer.data(), buffer.constData() + start, size_t(end - start));
        end -= start;
        start = 0;
    }
    const qint64 got = reply->read(buffer.data() + end, buffer.size() - end);
    if (got > 0) end += got;
}

bool Inet::bodyended() const {
    // Qt may report the connection closed while bytes are still waiting in
    // the reply: those belong to the body too.
    return (stalled || reply->isFinished()) && reply->bytesAvailable() == 0;
}

void Inet::waitforevents(int ms) {
    QTimer guard;
    guard.setSingleShot(true);
    guard.start(ms);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void Inet::Cancel() {
    requesttimer->stop();
    stalltimer->stop();
    if (reply) {
        QNetworkReply* old = reply;
        reply = nullptr;
        old->disconnect(this);
        old->abort();
        old->deleteLater();
        manager->clearConnectionCache();
    }
    responded = false;
    failed = false;
    stalled = false;
    start = end = 0;
}

} // namespace platform
