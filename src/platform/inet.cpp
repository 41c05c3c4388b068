#include "platform/inet.h"

#include "platform/textfile.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
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

// Redirects followed before the request counts as failed.
constexpr int maxredirects = 20;

// Where a redirect answer sends the request; empty when it is no redirect.
QUrl redirecttarget(QNetworkReply* reply) {
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray location = reply->rawHeader("Location");
    const bool redirect =
        status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (!redirect || location.isEmpty()) return QUrl();
    return reply->url().resolved(QUrl::fromEncoded(location));
}
Inet::Error replyerror(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::NoError:
        return Inet::Error::none;
    case QNetworkReply::HostNotFoundError:
        return Inet::Error::hostnotfound;
    case QNetworkReply::ConnectionRefusedError:
        return Inet::Error::cannotconnect;
    case QNetworkReply::SslHandshakeFailedError:
        return Inet::Error::certificate;
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return Inet::Error::proxyrefused;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
        return Inet::Error::proxyunreachable;
    case QNetworkReply::TimeoutError:
        return Inet::Error::timedout;
    case QNetworkReply::ProtocolFailure:
        return Inet::Error::badanswer;
    default:
        return Inet::Error::other;
    }
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
            lasterror = Error::timedout;
            reply->disconnect(this);
            reply->abort();
        }
    });
    connect(stalltimer, &QTimer::timeout, this, [this] {
        stalled = true;
        lasterror = Error::timedout;
    });
    buffer.resize(ownbuffersize);
}

Inet::~Inet() {
    Cancel();
}

bool Inet::Execute(const QString& operation, const QString& requestheaders) {
    Cancel();
    // Bytes of the link that were no UTF-8 are asked for as those bytes.
    QUrl url(percentbytes(URL), QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (operation.compare(QLatin1String("GET"), Qt::CaseInsensitive) != 0 || !url.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false;
    if (!UserName.isEmpty()) {
        url.setUserName(UserName);
        url.setPassword(Password);
    }
    QNetworkRequest request(url);
    // The body must arrive as the bytes of the file: ranges count those.
    request.setRawHeader("Accept-Encoding", "identity");
#if QT_CONFIG(ssl)
    // Redirected requests are copies of this one, so they trust the same.
    if (!authorities.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(authorities);
        request.setSslConfiguration(tls);
    }
#endif
    const QStringList lines = requestheaders.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0) continue;
        request.setRawHeader(line.left(colon).trimmed().toLatin1(),
                             line.mid(colon + 1).trimmed().toLatin1());
    }
    // Redirects are followed here, not by Qt: after a redirect Qt may keep
    // the redirect's headers beside the final answer's (a Content-Length of
    // "169, 300000"), and the downloader needs the final answer's alone.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    redirects = 0;
    send(request);
    requesttimer->start(requesttimeoutms);
    return true;
}

void Inet::send(const QNetworkRequest& request) {
    redirectto.clear();
    reply = manager->get(request);
    reply->setReadBufferSize(replybuffersize);

    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        redirectto = redirecttarget(reply);
        if (redirectto.isEmpty()) headersarrived();
    });
    connect(reply, &QNetworkReply::readyRead, this, [this] {
        if (!redirectto.isEmpty()) return;
        if (!responded) headersarrived();
        stalltimer->start(stalltimeoutms);
    });
    connect(reply, &QNetworkReply::finished, this, [this] {
        if (!redirectto.isEmpty()) return;
        requesttimer->stop();
        stalltimer->stop();
        if (!responded) {
            if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
                responded = true;
            } else {
                failed = true;
                lasterror = replyerror(reply->error());
            }
        }
    });
}

// Outside the reply's signals: the same request again, at the new address.
// Never from https back to http, and not without end.
void Inet::follow() {
    QNetworkRequest request = reply->request();
    const QString scheme = redirectto.scheme().toLower();
    const bool downgrade =
        request.url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
        scheme != QLatin1String("https");
    dropreply();
    if (++redirects > maxredirects || downgrade ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        failed = true;
        lasterror = Error::redirects;
        return;
    }
    request.setUrl(redirectto);
    send(request);
}

void Inet::trust(const QList<QSslCertificate>& extra) {
    authorities = extra;
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
    if (reply && !redirectto.isEmpty()) follow();
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
    // Reading an empty reply would still wake Qt's network thread.
    if (reply->bytesAvailable() <= 0) return;
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

void Inet::Pause(int ms, const std::function<bool()>& giveup) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired() && !(giveup && giveup()))
        waitforevents(int(qMin<qint64>(deadline.remainingTime(), 100)));
}

// Not deleteLater(): the downloader runs inside a yield, where deferred
// deletes wait until the transfer is over, and a server that cuts every
// answer would pile up replies meanwhile. Callers are never inside the
// reply's own signals.
void Inet::dropreply() {
    QNetworkReply* old = reply;
    reply = nullptr;
    old->disconnect(this);
    old->abort();
    delete old;
}

void Inet::Cancel() {
    requesttimer->stop();
    stalltimer->stop();
    if (reply) {
        dropreply();
        manager->clearConnectionCache();
    }
    redirectto.clear();
    responded = false;
    failed = false;
    stalled = false;
    lasterror = Error::none;
    start = end = 0;
}

} // namespace platform
