#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class QTimer;

namespace platform {

class CurlLoop;

// The HTTP client of the built-in downloader: the URL and credentials
// (members), then Execute, StillExecuting, GetHeader (the block or one
// header), GetChunk and Cancel, the steps the downloader takes one by one
// while it serves the event loop in between. Operations that can fail
// answer std::nullopt or false.
//
// The body is read through a bounded buffer, never held whole. A body that
// ends early, whether the server closed the connection or no byte came for
// `stalltimeoutms`, ends like a complete one: the bytes that did arrive, then
// an empty chunk, so the caller can ask for the rest with a range.
//
// Underneath is libcurl, driven from this thread's event loop. Whatever a
// server sends, what it can make us hold is bounded: a header block beyond
// 256 KiB fails the request, and the body waits in curl while our buffer is
// full. A request given up is closed at once. The proxy is the one the
// system names for each address (see proxyfor in inet.cpp).
class Inet : public QObject {
    Q_OBJECT
  public:
    explicit Inet(QObject* parent = nullptr);
    ~Inet() override;

    QString URL;
    QString UserName;
    QString Password;

    // No response within this time fails the request; no body byte within
    // this time ends the body. Tests shorten them.
    int requesttimeoutms = 60000;
    int stalltimeoutms = 60000;
    // The downloader's first wait after an attempt that got no further; it
    // doubles with each further one. Tests shorten it.
    int retrywaitms = 1000;

    // Certificate authorities trusted besides the system's (tests: a private
    // TLS server on loopback).
    void trust(const QList<QSslCertificate>& authorities);

    // Starts `operation` on URL with the extra header lines `requestheaders`
    // ("Name: value" joined by CR LF); false when it cannot be started (the
    // downloader only ever asks "GET"). An earlier request is cancelled first.
    bool Execute(const QString& operation, const QString& requestheaders);

    // True until the response headers have arrived or the request failed.
    // While it answers true it lets the event loop wait a little, so a
    // caller polling it does not spin.
    bool StillExecuting();

    // The response header block, status line first ("HTTP/1.1 206 Partial
    // Content"), lines joined by CR LF; nullopt when no response arrived.
    std::optional<QString> GetHeader();
    // One response header's value; "" when absent; nullopt when no response.
    std::optional<QString> GetHeader(const QString& name);

    // The next `size` bytes of the body, waiting (and serving the event loop)
    // until they are there; fewer, down to none, only at the end of the body,
    // or when `giveup` turns true during the wait (a user's cancel must not
    // wait for a stalled server). nullopt when there is no response to read from.
    std::optional<QByteArray> GetChunk(int size, const std::function<bool()>& giveup = {});

    // Stops the request and releases its connection.
    void Cancel();

    // Serves the event loop for `ms`, or until `giveup` turns true.
    void Pause(int ms, const std::function<bool()>& giveup);

    // Why the last request failed, or why its body ended early; none while
    // all is well (a status such as 404 is an answer, not a failure).
    enum class Error {
        none,
        hostnotfound,
        cannotconnect,
        certificate,  // not trusted, expired or for another name
        proxyrefused, // the proxy answered 407 or refused the tunnel
        proxyunreachable,
        headertoolarge,
        timedout,  // no answer, or no body byte, in time
        redirects, // too many, or to a scheme or place refused
        badanswer, // not readable as HTTP
        other,
    };
    Error error() const { return lasterror; }

    // For tests: requests alive now (0 or 1), and each request as it starts
    // (redirects it follows are part of it).
    int alive() const;
  signals:
    void requested(const QString& requestheaders);

  private:
    struct Hop;
    bool send(const QUrl& url);
    void follow();
    void drophop(); // removes the current hop's transfer at once
    void fail(Error why);
    void ended(int result);
    void headerline(const QByteArray& line);
    void headerblock();
    qsizetype takebody(const char* data, qsizetype size);
    void resume();
    bool bodyended() const;
    void waitforevents(int ms);
    static size_t onheader(char* data, size_t size, size_t count, void* inet);
    static size_t onbody(char* data, size_t size, size_t count, void* inet);

    CurlLoop* loop;
    std::unique_ptr<Hop> hop;
    QTimer* requesttimer;
    QTimer* stalltimer;
    QByteArray authorities; // PEM, with the system's
    QList<QByteArray> sendheaders;
    QUrl asked;
    int redirects = 0;
    QUrl redirectto; // a redirect answer arrived: where to ask next
    QUrl hopurl;     // and where that answer came from
    // The final answer's header lines, status line first.
    QList<QByteArray> headers;
    bool responded = false;
    bool failed = false;
    bool finished = false; // the transfer ended, by curl's word
    bool stalled = false;
    bool paused = false; // curl holds the body while our buffer is full
    QElapsedTimer sincebody;
    Error lasterror = Error::none;
    // Our own bounded buffer, a ring: filled by curl in large blocks, handed
    // out in the caller's slices.
    QByteArray buffer;
    qsizetype head = 0;
    qsizetype held = 0;
    QByteArray piece; // the last chunk handed out
};

} // namespace platform
