#pragma once
#include "platform/httpanswer.h"

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

// The HTTP client of the built-in downloader, one connection: the URL and
// credentials (members), then Execute, StillExecuting, GetHeader (the block
// or one header, or the answer read once), the body piece by piece as it
// arrives, and Cancel. Nothing here waits: the caller serves the event loop
// (WaitEvents) and looks again, so a transfer costs CPU only when there is
// something to do.
//
// Each piece of the body goes to `onchunk` straight from curl's buffer, never
// held here. A body that ends early, whether the server closed the connection
// or no byte came for `stalltimeoutms`, ends like a complete one: the bytes
// that did arrive, then the end, so the caller can ask for the rest with a
// range.
//
// Underneath is libcurl, driven from this thread's event loop. Whatever a
// server sends, what it can make us hold is bounded: a header block beyond
// 256 KiB fails the request, and curl's own buffer is 256 KiB. A request
// given up is closed at once. The proxy is the one the system names for
// each address (see useproxy in inet.cpp).
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
    // The connection of an answer received whole stays open for the next
    // request; otherwise no connection outlives its request.
    bool keepalive = false;

    // Certificate authorities trusted besides the system's (tests: a private
    // TLS server on loopback).
    void trust(const QList<QSslCertificate>& authorities);
    // Another connection to the same places: the same trust and time-outs.
    void settingsof(const Inet& other);

    // Starts `operation` on URL with the extra header lines `requestheaders`
    // ("Name: value" joined by CR LF); false when it cannot be started (the
    // downloader only ever asks "GET"). An earlier request is cancelled first.
    bool Execute(const QString& operation, const QString& requestheaders);

    // True until the response headers have arrived or the request failed.
    bool StillExecuting() const;

    // The response header block, status line first ("HTTP/1.1 206 Partial
    // Content"), lines joined by CR LF; nullopt when no response arrived.
    std::optional<QString> GetHeader() const;
    // One response header's value; "" when absent; nullopt when no response.
    std::optional<QString> GetHeader(const QString& name) const;
    // The final answer's headers, read; status 0 when none arrived.
    const Answer& answer() const { return response; }

    // Each piece of the body as it arrives, from inside curl: it may write
    // the piece but not serve events, nor cancel. It is taken; or held, to
    // come again after ReleaseBody (while the caller decides what to do with
    // the answer); or it stops the request (the body then ends where it is,
    // with no error).
    enum class Take { taken, hold, stop };
    std::function<Take(const char* data, qsizetype size)> onchunk;
    void ReleaseBody();
    // The body is over: whole, cut, stalled, stopped, or the request failed.
    bool BodyEnded() const;
    // Milliseconds from Execute to the first byte of the body; -1 before.
    qint64 firstbytems() const { return firstbyte; }

    // Stops the request and releases its connection.
    void Cancel();

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

    // For tests: requests alive now (0 or 1).
    int alive() const;
  signals:
    // Each request as it starts (redirects it follows are part of it).
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
    Take takebody(const char* data, qsizetype size);
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
    Answer response;
    bool responded = false;
    bool failed = false;
    bool stopped = false; // onchunk wanted no more
    bool paused = false;  // curl holds the body until ReleaseBody
    QElapsedTimer sinceexecute;
    QElapsedTimer sincebody;
    qint64 firstbyte = -1;
    Error lasterror = Error::none;
};

} // namespace platform
