// The downloader's HTTP client against servers that misbehave on purpose
// (scripted, on loopback) and through a real proxy (tinyproxy): what a
// hostile server can make it hold, the reason given for each failure, the
// system's proxy, and answers the downloader must not save.
#include "app/quillharbor.h"
#include "platform/controls.h"
#include "platform/inet.h"
#include "platform/winsock.h"
#include "support/downloadrig.h"
#include "support/peakmemory.h"
#include "support/scriptedserver.h"
#include "support/tinyproxy.h"

#include <QTcpServer>
#include <QtTest>

using namespace testsupport;
using Error = platform::Inet::Error;
using Script = ScriptedServer::Script;

namespace {

QByteArray answer(const QByteArray& status, const QByteArray& headers, const QByteArray& body) {
    return "HTTP/1.1 " + status + "\r\n" + headers + "Connection: close\r\n\r\n" + body;
}

QByteArray redirect(const QString& to) {
    return answer("302 Found", "Location: " + to.toLatin1() + "\r\nContent-Length: 0\r\n", {});
}

// An HTTP/2 frame: its length, type, flags and stream, then its payload.
QByteArray frame(char type, char flags, char stream, const QByteArray& payload) {
    const auto size = quint32(payload.size());
    const char head[] = {
        char(size >> 16), char(size >> 8), char(size), type, flags, 0, 0, 0, stream};
    return QByteArray(head, sizeof head) + payload;
}

// HTTP/2: the server's settings, a HEADERS frame starting a header block
// (":status: 200"), `frames` CONTINUATION frames of header fields ("x-a:
// aaaaaaaaaa", literal, never indexed), the last ending the block, then the
// body "hello". With -1, CONTINUATION frames of 1024 fields without end.
Script http2(int frames) {
    const QByteArray field = QByteArray("\x00\x03x-a\x0a", 6) + QByteArray(10, 'a');
    const QByteArray start = frame(4, 0, 0, {}) + frame(1, 0, 1, "\x88");
    if (frames < 0) return ScriptedServer::endless(start, frame(9, 0, 1, field.repeated(1024)));
    QByteArray whole = start;
    for (int i = 1; i <= frames; ++i)
        whole += frame(9, i == frames ? 4 : 0, 1, field.repeated(100));
    return ScriptedServer::once(whole + frame(0, 1, 1, "hello"));
}

// An answer with a body of 300000 bytes: more than comes with its headers.
const QByteArray large = answer("200 OK", "Content-Length: 300000\r\n", QByteArray(300000, 'x'));

// Redirects from /r/0 to /r/1 and on (each over before the next is asked
// for), then at /r/`hops` the large answer, in pieces 10 ms apart.
Script chain(int hops) {
    return [hops, last = large, wait = false](const QByteArray& request,
                                              qint64 sent) mutable -> std::optional<QByteArray> {
        const int at = request.mid(request.indexOf("/r/") + 3).split(' ').value(0).toInt();
        if (at < hops)
            return sent == 0 ? std::optional(redirect("/r/" + QString::number(at + 1)))
                             : std::nullopt;
        if (sent == last.size()) return std::nullopt;
        wait = !wait;
        return wait ? last.mid(sent, 30000) : QByteArray();
    };
}

// One request to its end: the answer's header block ("" without one), the
// body's length and the client's reason.
struct Outcome {
    QString header;
    qint64 body = 0;
    Error error = Error::none;
};

Outcome fetch(platform::Inet& inet, const QString& url) {
    Outcome outcome;
    inet.URL = url;
    inet.onchunk = [&](const char*, qsizetype size) {
        outcome.body += size;
        return platform::Inet::Take::taken;
    };
    if (!inet.Execute("GET", "Range: bytes=0-\r\n")) return outcome;
    while (!inet.BodyEnded())
        platform::WaitEvents();
    outcome.header = inet.GetHeader().value_or(QString());
    outcome.error = inet.error();
    return outcome;
}

// Variables "NAME=VALUE" (space-separated, "PROXY" standing for `proxy`),
// set for as long as this lives; every proxy variable is cleared after, so
// no other test sees a proxy.
class ProxyVariables {
  public:
    ProxyVariables(const QString& assignments, const QString& proxy) {
        for (const QString& one : assignments.split(' ', Qt::SkipEmptyParts))
            qputenv(one.section('=', 0, 0).toLatin1().constData(),
                    one.section('=', 1).replace("PROXY", proxy).toUtf8());
    }
    ~ProxyVariables() {
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
            qunsetenv(name);
    }
};

enum class Tls { none, trusted, unknown, othername };
// A proxy without credentials, one that asks for them and is named without
// or with them, or nothing where the proxy was.
enum class Proxy { open, asks, given, stopped };

struct Request {
    Script script; // none: nothing listens
    Error error = Error::none;
    Tls tls = Tls::none;
    QString variables;  // see ProxyVariables
    QByteArray proxied; // the request line the proxy saw, PORT the server's; "" for none
    Proxy proxy = Proxy::open;
    int timeoutms = 60000; // the request timer
};

struct Flood {
    Script script;
    Error error = Error::none;
    bool http2 = false;      // over TLS, ALPN h2
    bool redirected = false; // reached through a redirect from http://
    bool answered = false;   // the header block was whole; the body is the flood
};

} // namespace
Q_DECLARE_METATYPE(Request)
Q_DECLARE_METATYPE(Flood)

class tst_inet : public QObject {
    Q_OBJECT

  private slots:
    // Whatever a server pushes, the client's memory stays bounded, the
    // attempt fails with its reason, and the server sees the connection end.
    void floods_data() {
        QTest::addColumn<Flood>("f");
        using enum Error;
        const auto endless = &ScriptedServer::endless;
        const QByteArray a(64 * 1024, 'a'), ones(a.size(), '1'), ok = "HTTP/1.1 200 OK\r\n";
        const QByteArray chunked =
            ok + "Content-Length: 5000\r\nTransfer-Encoding: chunked\r\n\r\n";
        // The same server with an end: it does speak HTTP/2.
        QTest::newRow("HTTP/2 header block over 3 CONTINUATION frames")
            << Flood{.script = http2(3), .http2 = true, .answered = true};
        QTest::newRow("HTTP/2 CONTINUATION frames after a redirect") << Flood{
            .script = http2(-1), .error = headertoolarge, .http2 = true, .redirected = true};
        QTest::newRow("endless header line") << Flood{endless(ok + "X-A: ", a), headertoolarge};
        QTest::newRow("endless header lines")
            << Flood{endless(ok, QByteArray("X-A: aaaaaaaaaaaaaaaaaaaaaaaaa\r\n").repeated(2048)),
                     headertoolarge};
        QTest::newRow("endless chunk-size line")
            << Flood{.script = endless(chunked, ones), .error = other, .answered = true};
        QTest::newRow("endless chunk extension")
            << Flood{.script = endless(chunked + "5;", a), .error = timedout, .answered = true};
    }
    void floods() {
        QFETCH(Flood, f);
        QTemporaryDir keys;
        ScriptedServer hostile(f.script);
        if (f.http2) {
            QCOMPARE(makecertificate(keys.path(), "server", "IP:127.0.0.1"), QString());
            hostile.usetls(keys.path(), "server", {"h2"});
        }
        QVERIFY(hostile.listen());
        ScriptedServer first(ScriptedServer::once(redirect(hostile.url("f.bin"))));
        QVERIFY(first.listen());
        platform::Inet inet;
        if (f.http2) inet.trust(QSslCertificate::fromPath(keys.filePath("server.pem")));
        // Should a flood get past curl's bounds, the timers end it.
        inet.requesttimeoutms = 5000;
        inet.stalltimeoutms = 1000;
        resetpeakrss();
        // Under AddressSanitizer the process is larger from the start and
        // freed memory is held back for a while: there only the growth counts.
#ifdef __SANITIZE_ADDRESS__
        const double limit = peakrssmib() + 50;
#else
        const double limit = 100;
#endif
        const Outcome outcome = fetch(inet, (f.redirected ? first : hostile).url("f.bin"));
        const double peak = peakrssmib();
        QCOMPARE(outcome.error, f.error);
        QCOMPARE(outcome.header.isEmpty(), !f.answered);
        QCOMPARE(inet.alive(), 0);
        QCOMPARE(hostile.connections(), 1);
        QVERIFY(waitfor([&] { return hostile.closed() == 1; }, 5000));
        QVERIFY2(peak < limit, qPrintable(QString::number(peak) + " MiB"));
    }

    // Each way a request ends, with the reason the client gives. It goes through
    // the proxy the system names, unless the address is one to reach directly.
    void requests_data() {
        QTest::addColumn<Request>("r");
        using enum Error;
        const Script fine = ScriptedServer::once(large);
        const auto redirectto = [](const QString& to) {
            return ScriptedServer::once(redirect(to));
        };
        const QByteArray get = "GET http://127.0.0.1:PORT/r/0 HTTP/1.1",
                         tunnel = "CONNECT 127.0.0.1:PORT HTTP/1.1";
        QTest::newRow("nothing listens") << Request{{}, cannotconnect};
        QTest::newRow("unknown authority") << Request{fine, certificate, Tls::unknown};
        QTest::newRow("certificate for another name") << Request{fine, certificate, Tls::othername};
        QTest::newRow("HTTP_PROXY") << Request{fine, none, Tls::none, "HTTP_PROXY=PROXY", get};
        QTest::newRow("no_proxy") << Request{fine, none, Tls::none,
                                             "http_proxy=PROXY no_proxy=localhost,127.0.0.1"};
        QTest::newRow("NO_PROXY") << Request{fine, none, Tls::none,
                                             "HTTP_PROXY=PROXY NO_PROXY=127.0.0.1"};
        QTest::newRow("credentials in http_proxy's URL")
            << Request{fine, none, Tls::none, "http_proxy=PROXY", get, Proxy::given};
        QTest::newRow("https_proxy: a tunnel")
            << Request{fine, none, Tls::trusted, "https_proxy=PROXY", tunnel};
        QTest::newRow("proxy asks (407)")
            << Request{fine, proxyrefused, Tls::none, "http_proxy=PROXY", get, Proxy::asks};
        QTest::newRow("proxy asks before a tunnel (407)")
            << Request{fine, proxyrefused, Tls::trusted, "https_proxy=PROXY", tunnel, Proxy::asks};
        QTest::newRow("proxy stopped")
            << Request{fine, proxyunreachable, Tls::none, "http_proxy=PROXY", "", Proxy::stopped};
        QTest::newRow("no answer in time")
            << Request{.script = ScriptedServer::silent(), .error = timedout, .timeoutms = 500};
        QTest::newRow("not HTTP") << Request{ScriptedServer::once("hello\r\n\r\n"), badanswer};
        QTest::newRow("redirect from https to http")
            << Request{redirectto("http://127.0.0.1:1/f.bin"), redirects, Tls::trusted};
        QTest::newRow("redirect to ftp") << Request{redirectto("ftp://127.0.0.1/f.bin"), redirects};
        QTest::newRow("21 redirects") << Request{chain(21), redirects};
        QTest::newRow("20 redirects") << Request{chain(20)};
    }
    void requests() {
        QFETCH(Request, r);
        QTemporaryDir keys;
        const QString altname = r.tls == Tls::othername ? "DNS:other.invalid" : "IP:127.0.0.1";
        if (r.tls != Tls::none)
            QCOMPARE(makecertificate(keys.path(), "server", altname), QString());
        ScriptedServer server(r.script);
        if (r.tls != Tls::none) server.usetls(keys.path(), "server", {"http/1.1"});
        if (r.script) QVERIFY(server.listen());
        const quint16 port = r.script ? server.port() : freeport();
        TinyProxy proxy(r.proxy == Proxy::open ? "" : "alice", "s3cret");
        if (!r.variables.isEmpty()) QVERIFY2(proxy.start(), qPrintable(proxy.error()));
        if (r.proxy == Proxy::stopped) proxy.stop();
        const ProxyVariables variables(r.variables, proxy.url(r.proxy == Proxy::given));
        platform::Inet inet;
        if (r.tls != Tls::unknown && r.tls != Tls::none)
            inet.trust(QSslCertificate::fromPath(keys.filePath("server.pem")));
        inet.requesttimeoutms = r.timeoutms;
        const Outcome outcome =
            fetch(inet, r.script ? server.url("r/0") : QString("http://127.0.0.1:%1/").arg(port));
        QCOMPARE(outcome.error, r.error);
        QCOMPARE(outcome.body, r.error == Error::none ? 300000 : 0);
        QCOMPARE(inet.alive(), 0);
        // The login connection goes direct whatever the variables say.
        QTcpServer service;
        QVERIFY(service.listen(QHostAddress::LocalHost));
        platform::Winsock login;
        login.RemoteHost = "127.0.0.1";
        login.RemotePort = service.serverPort();
        QVERIFY(login.Connect());
        QVERIFY(waitfor([&] { return login.State() == platform::Winsock::sckConnected; }));
        r.proxied.replace("PORT", QByteArray::number(port));
        QCOMPARE(proxy.requests(),
                 r.proxied.isEmpty() ? QByteArrayList() : QByteArrayList{r.proxied});
    }

    // Answers the downloader must not keep, on the first attempt too, and
    // lengths it may read.
    void answers_data() {
        QTest::addColumn<QByteArray>("headers"); // beside the status line
        QTest::addColumn<bool>("saved");
        const auto partial = [](int from) { // to the end, total unknown
            return "206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(from) +
                   "-5119/*\r\nContent-Length: " + QByteArray::number(5120 - from) + "\r\n";
        };
        const QByteArray plain = "200 OK\r\nContent-Length: 5120\r\n";
        QTest::newRow("206 from byte 1000, total unknown") << partial(1000) << false;
        QTest::newRow("206 from byte 0, total unknown") << partial(0) << true;
        QTest::newRow("the same Content-Length twice") << plain + plain.mid(8) << true;
        QTest::newRow("two different Content-Length values") << plain + "Content-Length: 5000\r\n"
                                                             << false;
    }
    void answers() {
        QFETCH(QByteArray, headers);
        QFETCH(bool, saved);
        DownloadRig rig;
        const QByteArray body = pattern(5120);
        const qsizetype from = headers.contains("bytes 1000-") ? 1000 : 0;
        ScriptedServer server(
            ScriptedServer::once("HTTP/1.1 " + headers + "\r\n" + body.mid(from)));
        QVERIFY(server.listen());
        rig.download(server.url("f.bin"));
        QCOMPARE(rig.savedbytes("f.bin"), saved ? body : QByteArray());
        QCOMPARE(rig.downloadentries(), saved ? QStringList{"f.bin"} : QStringList());
        QCOMPARE(server.requests().size(), 1);
    }
};

QTEST_MAIN(tst_inet)
#include "tst_inet.moc"
