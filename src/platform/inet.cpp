#include "platform/inet.h"

#include "platform/curlloop.h"
#include "platform/textfile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkProxyFactory>
#include <QTimer>
#include <cstring>

namespace platform {

namespace {
// curl's receive buffer: the most of a body a connection holds, whatever
// the size of the body (its pieces go on to the file at once).
constexpr long curlbuffersize = 256 * 1024;
// A header block beyond this fails the request (curl's own bound, 300 KB,
// is a little higher; a single line is bounded by curl at 100 KB).
constexpr qint64 maxheaderbytes = 256 * 1024;
// Redirects followed before the request counts as failed.
constexpr int maxredirects = 20;

bool httpscheme(const QString& scheme) {
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool sameorigin(const QUrl& a, const QUrl& b) {
    return a.scheme().compare(b.scheme(), Qt::CaseInsensitive) == 0 &&
           a.host().compare(b.host(), Qt::CaseInsensitive) == 0 && a.port() == b.port();
}

// The proxy the system names for `url`: through libproxy on Linux (the
// http_proxy, https_proxy and no_proxy variables in lower or upper case,
// and the desktop's settings), the system's settings on Windows. curl is
// told the answer, an empty one for none, so it does not read the variables
// again by rules of its own (it would ignore HTTP_PROXY). True when a proxy
// is used.
bool useproxy(CURL* easy, const QUrl& url) {
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url));
    for (const QNetworkProxy& proxy : proxies) {
        if (proxy.type() == QNetworkProxy::NoProxy) break;
        QUrl address;
        if (proxy.type() == QNetworkProxy::HttpProxy)
            address.setScheme(QStringLiteral("http"));
        else if (proxy.type() == QNetworkProxy::Socks5Proxy)
            address.setScheme(QStringLiteral("socks5h"));
        else
            continue;
        address.setHost(proxy.hostName());
        address.setPort(proxy.port());
        curl_easy_setopt(easy, CURLOPT_PROXY, address.toEncoded().constData());
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "");
        if (!proxy.user().isEmpty()) {
            curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy.user().toUtf8().constData());
            curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy.password().toUtf8().constData());
        }
        return true;
    }
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    return false;
}

// What a failed transfer means to the user. `answered`: the final answer's
// headers had arrived.
Inet::Error clienterror(CURLcode code, bool answered, bool viaproxy, long connectcode) {
    if (viaproxy && connectcode >= 300) return Inet::Error::proxyrefused;
    switch (code) {
    case CURLE_OK:
        return Inet::Error::none;
    case CURLE_COULDNT_RESOLVE_HOST:
        return Inet::Error::hostnotfound;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return Inet::Error::proxyunreachable;
    case CURLE_COULDNT_CONNECT:
        return viaproxy ? Inet::Error::proxyunreachable : Inet::Error::cannotconnect;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return Inet::Error::certificate;
    case CURLE_OPERATION_TIMEDOUT:
        return Inet::Error::timedout;
    case CURLE_OUT_OF_MEMORY: // curl's bound on one header line
        return answered ? Inet::Error::other : Inet::Error::headertoolarge;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL: // an answer in HTTP/0.9, which curl refuses
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return Inet::Error::badanswer;
    default:
        return Inet::Error::other;
    }
}
} // namespace

// One request on the way to the final answer: the first, or one redirect.
struct Inet::Hop {
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    QUrl url;
    bool viaproxy = false;
    // This answer's header lines so far (an interim answer's are dropped).
    QList<QByteArray> lines;
    int status = 0;
    qint64 headerbytes = 0;
    bool toolarge = false;
    // The final answer's headers are complete: its body goes to onchunk.
    bool inbody = false;
    char errortext[CURL_ERROR_SIZE] = {};
};

Inet::Inet(QObject* parent)
    : QObject(parent), loop(new CurlLoop(this)), requesttimer(new QTimer(this)),
      stalltimer(new QTimer(this)) {
    requesttimer->setSingleShot(true);
    stalltimer->setSingleShot(true);
    loop->ended = [this](CURL* easy, CURLcode result) {
        if (hop && hop->easy == easy) ended(result);
    };
    connect(requesttimer, &QTimer::timeout, this, [this] {
        if (responded || failed) return;
        fail(Error::timedout);
        redirectto.clear();
        drophop();
    });
    // Armed again from the last body byte, rather than restarted with each.
    connect(stalltimer, &QTimer::timeout, this, [this] {
        if (!hop) return;
        // A body held while the caller decides is not stalled.
        const qint64 left = stalltimeoutms - sincebody.elapsed();
        if (paused || left > 0) return stalltimer->start(int(paused ? stalltimeoutms : left));
        lasterror = Error::timedout;
        drophop();
    });
}

Inet::~Inet() {
    Cancel();
}

bool Inet::Execute(const QString& operation, const QString& requestheaders) {
    Cancel();
    // Bytes of the link that were no UTF-8 are asked for as those bytes.
    const QUrl url(percentbytes(URL), QUrl::TolerantMode);
    if (operation.compare(QLatin1String("GET"), Qt::CaseInsensitive) != 0 || !url.isValid() ||
        !httpscheme(url.scheme().toLower()))
        return false;
    sendheaders.clear();
    // The body must arrive as the bytes of the file: ranges count those.
    sendheaders << "Accept-Encoding: identity";
    const QStringList lines = requestheaders.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon <= 0) continue;
        sendheaders << line.left(colon).trimmed().toLatin1() + ": " +
                           line.mid(colon + 1).trimmed().toLatin1();
    }
    asked = url;
    redirects = 0;
    sinceexecute.start();
    if (!send(url)) {
        drophop();
        return false;
    }
    requesttimer->start(requesttimeoutms);
    emit requested(requestheaders);
    return true;
}

// Sets curl up for one request to `url` and starts it.
bool Inet::send(const QUrl& url) {
    hop = std::make_unique<Hop>();
    hop->url = url;
    CURL* easy = hop->easy = curl_easy_init();
    if (!easy) return false;
    curl_easy_setopt(easy, CURLOPT_URL, url.toEncoded().constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed here, one request each, so that each is checked.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    // What the agent's requests always said (Qt's default), so servers answer as before.
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Mozilla/5.0");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A request given up closes its connection at once, whatever this says.
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, keepalive ? 0L : 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, curlbuffersize);
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, hop->errortext);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Inet::onheader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Inet::onbody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    for (const QByteArray& line : sendheaders)
        hop->headers = curl_slist_append(hop->headers, line.constData());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, hop->headers);
    if (!authorities.isEmpty()) {
        curl_blob pem{authorities.data(), size_t(authorities.size()), CURL_BLOB_COPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &pem);
    }
#ifdef Q_OS_WIN
    curl_easy_setopt(easy, CURLOPT_SSL_OPTIONS, long(CURLSSLOPT_NATIVE_CA));
#endif
    hop->viaproxy = useproxy(easy, url);
    // The credentials go to the place asked only, not where it redirects.
    if (!UserName.isEmpty() && sameorigin(url, asked)) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, UserName.toUtf8().constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, Password.toUtf8().constData());
    }
    return loop->add(easy);
}

// Outside curl's callbacks: the same request again, at the new address.
// Never from https back to http, and not without end.
void Inet::follow() {
    const QUrl target = redirectto;
    const bool downgrade =
        hopurl.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
        target.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
    redirectto.clear();
    drophop();
    if (++redirects > maxredirects || downgrade || !httpscheme(target.scheme().toLower()))
        return fail(Error::redirects);
    if (!send(target)) {
        drophop();
        fail(Error::other);
    }
}

void Inet::trust(const QList<QSslCertificate>& extra) {
    authorities.clear();
    if (extra.isEmpty()) return;
    for (const QSslCertificate& certificate : extra)
        authorities += certificate.toPem();
    // Besides the system's authorities, which curl's own option would replace.
    CURL* probe = curl_easy_init();
    char* bundle = nullptr;
    if (probe && curl_easy_getinfo(probe, CURLINFO_CAINFO, &bundle) == CURLE_OK && bundle) {
        QFile system(QString::fromLocal8Bit(bundle));
        if (system.open(QIODevice::ReadOnly)) authorities += '\n' + system.readAll();
    }
    curl_easy_cleanup(probe);
}

void Inet::settingsof(const Inet& other) {
    authorities = other.authorities;
    requesttimeoutms = other.requesttimeoutms;
    stalltimeoutms = other.stalltimeoutms;
}

size_t Inet::onheader(char* data, size_t size, size_t count, void* inet) {
    auto* self = static_cast<Inet*>(inet);
    self->headerline(QByteArray::fromRawData(data, qsizetype(size * count)));
    // A different count makes curl end the request (a refusal's body is of
    // no use either).
    return self->hop->toolarge || self->failed ? 0 : size * count;
}

void Inet::headerline(const QByteArray& line) {
    Hop& h = *hop;
    h.headerbytes += line.size();
    if (h.headerbytes > maxheaderbytes) {
        h.toolarge = true;
        return;
    }
    if (h.inbody) return; // trailers after a chunked body are no headers of ours
    // Each answer starts with its status line: a proxy's or an interim
    // answer's headers are not the final answer's.
    if (line.startsWith("HTTP/")) {
        h.lines = {line.trimmed()};
        h.status = statuscode(h.lines.first());
    } else if (line.trimmed().isEmpty()) {
        headerblock();
    } else if ((line.startsWith(' ') || line.startsWith('\t')) && h.lines.size() > 1) {
        h.lines.last() += ' ' + line.trimmed(); // a folded line continues the last
    } else {
        h.lines << line.trimmed();
    }
}

// A header block is complete: an interim answer, a redirect, a proxy's
// refusal, or the final answer.
void Inet::headerblock() {
    Hop& h = *hop;
    if (h.status < 200) return;
    const bool redirect =
        h.status == 301 || h.status == 302 || h.status == 303 || h.status == 307 || h.status == 308;
    const QByteArray location = headervalue(h.lines, "Location");
    if (h.status == 407 && h.viaproxy) return fail(Error::proxyrefused);
    if (redirect && !location.isEmpty()) {
        redirectto = h.url.resolved(QUrl::fromEncoded(location));
        hopurl = h.url;
        return;
    }
    response = readanswer(h.lines);
    responded = true;
    h.inbody = true;
    requesttimer->stop();
    sincebody.restart();
    stalltimer->start(stalltimeoutms);
}

size_t Inet::onbody(char* data, size_t size, size_t count, void* inet) {
    const size_t bytes = size * count;
    switch (static_cast<Inet*>(inet)->takebody(data, qsizetype(bytes))) {
    case Take::taken:
        return bytes;
    case Take::hold:
        return CURL_WRITEFUNC_PAUSE;
    case Take::stop:
        break;
    }
    return 0; // a different count makes curl end the request
}

// The body of a redirect or a refusal is dropped; the final answer's goes
// on as it is.
Inet::Take Inet::takebody(const char* data, qsizetype size) {
    if (!hop->inbody || size == 0) return Take::taken;
    if (firstbyte < 0) firstbyte = sinceexecute.elapsed();
    sincebody.restart();
    const Take take = onchunk ? onchunk(data, size) : Take::taken;
    paused = take == Take::hold;
    stopped = take == Take::stop;
    return take;
}

void Inet::ReleaseBody() {
    if (!paused || !hop) return;
    paused = false;
    sincebody.restart();
    curl_easy_pause(hop->easy, CURLPAUSE_CONT);
}

void Inet::fail(Error why) {
    failed = true;
    lasterror = why;
    requesttimer->stop();
    stalltimer->stop();
}

// From the loop, outside curl's callbacks: curl is done with the hop.
void Inet::ended(int result) {
    Hop& h = *hop;
    long connectcode = 0;
    curl_easy_getinfo(h.easy, CURLINFO_HTTP_CONNECTCODE, &connectcode);
    Error why = h.toolarge ? Error::headertoolarge
                           : clienterror(CURLcode(result), responded, h.viaproxy, connectcode);
    // curl names nghttp2 when it refused the server's HTTP/2 frames; before
    // the answer those carry its header block, which nghttp2 and curl bound
    // (8 CONTINUATION frames, 128 KiB of fields). curl has no code of its own
    // for this (it is a receive error).
    if (result == CURLE_RECV_ERROR && std::strstr(h.errortext, "nghttp2"))
        why = responded ? Error::badanswer : Error::headertoolarge;
    if (!redirectto.isEmpty() && !failed) {
        follow();
        return;
    }
    if (!failed && !responded) {
        fail(why == Error::none ? Error::badanswer : why);
    } else if (responded) {
        // The body ended: complete, stopped by the caller, or early for this reason.
        lasterror = stopped ? Error::none : why;
        stalltimer->stop();
    }
    drophop();
}

void Inet::drophop() {
    if (!hop) return;
    if (hop->easy) {
        loop->remove(hop->easy);
        curl_easy_cleanup(hop->easy);
    }
    curl_slist_free_all(hop->headers);
    hop.reset();
    paused = false;
}

bool Inet::StillExecuting() const {
    return !responded && !failed && (hop || !redirectto.isEmpty());
}

std::optional<QString> Inet::GetHeader() const {
    if (!responded) return std::nullopt;
    QString block;
    for (const QByteArray& line : response.lines)
        block += QString::fromLatin1(line) + QLatin1String("\r\n");
    return block;
}

std::optional<QString> Inet::GetHeader(const QString& name) const {
    if (!responded) return std::nullopt;
    return QString::fromLatin1(headervalue(response.lines, name.toLatin1()));
}

bool Inet::BodyEnded() const {
    return !hop;
}

int Inet::alive() const {
    return loop->alive();
}

void Inet::Cancel() {
    requesttimer->stop();
    stalltimer->stop();
    drophop();
    redirectto.clear();
    response = Answer();
    responded = false;
    failed = false;
    stopped = false;
    paused = false;
    firstbyte = -1;
    lasterror = Error::none;
}

} // namespace platform
