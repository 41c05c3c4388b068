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
QByteArray whole() {
    return answer("200 OK", "Content-Length: 300000\r\n", QByteArray(300000, 'x'));
}

// Redirects from /r/0 to /r/1 and on (each over before the next is asked
// for), then at /r/`hops` the whole answer, in pieces 10 ms apart.
Script chain(int hops) {
    return [hops, last = whole(), wait = false](const QByteArray& request,
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

// The proxy variables of this process, set for as long as it lives; all of
// them are cleared again after, so no other test sees a proxy.
class ProxyVariables {
  public:
    explicit ProxyVariables(const QList<std::pair<const char*, QString>>& values) {
        for (const auto& [name, value] : values)
            if (!value.isEmpty()) qputenv(name, value.toUtf8());
    }
    ~ProxyVariables() {
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
            qunsetenv(name);
    }
};

enum class Tls { none, trusted, unknown, othername, expired };
enum class Proxy { none, asks, stopped };

struct Failure {
    Script script; // none: nothing listens
    Tls tls = Tls::none;
    Proxy proxy = Proxy::none;
    Error error = Error::none;
    int timeoutms = 60000; // the request timer
};

struct Flood {
    Script script;
    bool http2 = false;      // over TLS, ALPN h2
    bool redirected = false; // reached through a redirect from http://
    Error error = Error::none;
    bool answered = false; // the header block was whole; the body is the flood
};

struct ProxyRow {
    QList<std::pair<const char*, QString>> variables; // "PROXY" stands for the proxy's URL
    bool credentials = false;                         // the proxy asks, and the URL carries them
    bool https = false;                               // a TLS server: through a tunnel
    bool stopped = false;                             // nothing listens where the proxy was
    QByteArray request;                               // what the proxy's log shows; "" for nothing
};

} // namespace
Q_DECLARE_METATYPE(Failure)
Q_DECLARE_METATYPE(Flood)
Q_DECLARE_METATYPE(ProxyRow)

class tst_inet : public QObject {
    Q_OBJECT

  private slots:
    // Whatever a server pushes, the client's memory stays bounded, the
    // attempt fails with its reason, and the server sees the connection end.
    void floods_data() {
        QTest::addColumn<Flood>("f");
        const QByteArray a(64 * 1024, 'a');
        // The same server with an end: it does speak HTTP/2.
        QTest::newRow("HTTP/2 header block over 3 CONTINUATION frames")
            << Flood{.script = http2(3), .http2 = true, .answered = true};
        QTest::newRow("HTTP/2 CONTINUATION frames after a redirect") << Flood{
            .script = http2(-1), .http2 = true, .redirected = true, .error = Error::headertoolarge};
        QTest::newRow("HTTP/2 CONTINUATION frames")
            << Flood{.script = http2(-1), .http2 = true, .error = Error::headertoolarge};
        QTest::newRow("endless header line")
            << Flood{.script = ScriptedServer::endless("HTTP/1.1 200 OK\r\nX-A: ", a),
                     .error = Error::headertoolarge};
        QTest::newRow("endless header lines")
            << Flood{.script = ScriptedServer::endless(
                         "HTTP/1.1 200 OK\r\n",
                         QByteArray("X-A: aaaaaaaaaaaaaaaaaaaaaaaaa\r\n").repeated(2048)),
                     .error = Error::headertoolarge};
        QTest::newRow("endless status line") << Flood{
            .script = ScriptedServer::endless("HTTP/1.1 200 ", a), .error = Error::headertoolarge};
        const QByteArray chunked =
            "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\nTransfer-Encoding: chunked\r\n\r\n";
        QTest::newRow("endless chunk-size line")
            << Flood{.script = ScriptedServer::endless(chunked, QByteArray(64 * 1024, '1')),
                     .error = Error::other,
                     .answered = true};
        QTest::newRow("endless chunk extension")
            << Flood{.script = ScriptedServer::endless(chunked + "5;", a),
                     .error = Error::timedout,
                     .answered = true};
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

    // Each way a request fails, with the reason the client gives.
    void failures_data() {
        QTest::addColumn<Failure>("f");
        const Script fine = ScriptedServer::once(whole());
        QTest::newRow("nothing listens") << Failure{.error = Error::cannotconnect};
        QTest::newRow("unknown authority")
            << Failure{.script = fine, .tls = Tls::unknown, .error = Error::certificate};
        QTest::newRow("certificate for another name")
            << Failure{.script = fine, .tls = Tls::othername, .error = Error::certificate};
        QTest::newRow("expired certificate")
            << Failure{.script = fine, .tls = Tls::expired, .error = Error::certificate};
        QTest::newRow("proxy asks for credentials (407)")
            << Failure{.script = fine, .proxy = Proxy::asks, .error = Error::proxyrefused};
        QTest::newRow("proxy asks for credentials before a tunnel (407)")
            << Failure{fine, Tls::trusted, Proxy::asks, Error::proxyrefused, 60000};
        QTest::newRow("proxy stopped")
            << Failure{.script = fine, .proxy = Proxy::stopped, .error = Error::proxyunreachable};
        QTest::newRow("no answer in time") << Failure{
            .script = ScriptedServer::silent(), .error = Error::timedout, .timeoutms = 500};
        QTest::newRow("not HTTP") << Failure{.script = ScriptedServer::once("hello\r\n\r\n"),
                                             .error = Error::badanswer};
        QTest::newRow("redirect from https to http")
            << Failure{.script = ScriptedServer::once(redirect("http://127.0.0.1:1/f.bin")),
                       .tls = Tls::trusted,
                       .error = Error::redirects};
        QTest::newRow("redirect to ftp")
            << Failure{.script = ScriptedServer::once(redirect("ftp://127.0.0.1/f.bin")),
                       .error = Error::redirects};
        QTest::newRow("21 redirects") << Failure{.script = chain(21), .error = Error::redirects};
        QTest::newRow("20 redirects") << Failure{.script = chain(20)};
    }
    void failures() {
        QFETCH(Failure, f);
        QTemporaryDir keys;
        const QString altname = f.tls == Tls::othername ? "DNS:other.invalid" : "IP:127.0.0.1";
        if (f.tls != Tls::none)
            QCOMPARE(makecertificate(keys.path(), "server", altname, f.tls == Tls::expired),
                     QString());
        ScriptedServer server(f.script);
        if (f.tls != Tls::none) server.usetls(keys.path(), "server", {"http/1.1"});
        QString url = QStringLiteral("http://127.0.0.1:%1/r/0").arg(freeport());
        if (f.script) {
            QVERIFY(server.listen());
            url = server.url("r/0");
        }
        TinyProxy proxy("alice", "s3cret");
        if (f.proxy != Proxy::none) QVERIFY2(proxy.start(), qPrintable(proxy.error()));
        if (f.proxy == Proxy::stopped) proxy.stop();
        const ProxyVariables variables(
            {{"http_proxy", f.proxy != Proxy::none ? proxy.url() : QString()},
             {"https_proxy", f.proxy != Proxy::none ? proxy.url() : QString()}});
        platform::Inet inet;
        if (f.tls != Tls::unknown && f.tls != Tls::none)
            inet.trust(QSslCertificate::fromPath(keys.filePath("server.pem")));
        inet.requesttimeoutms = f.timeoutms;
        const Outcome outcome = fetch(inet, url);
        QCOMPARE(outcome.error, f.error);
        QCOMPARE(outcome.body, f.error == Error::none ? 300000 : 0);
        QCOMPARE(inet.alive(), 0);
    }

    // The downloader goes through the proxy the system names, unless the
    // address is one to reach directly.
    void proxy_data() {
        QTest::addColumn<ProxyRow>("p");
        const QByteArray get = "GET http://127.0.0.1:PORT/f.bin HTTP/1.1";
        QTest::newRow("http_proxy")
            << ProxyRow{.variables = {{"http_proxy", "PROXY"}}, .request = get};
        QTest::newRow("HTTP_PROXY")
            << ProxyRow{.variables = {{"HTTP_PROXY", "PROXY"}}, .request = get};
        QTest::newRow("no_proxy") << ProxyRow{
            .variables = {{"http_proxy", "PROXY"}, {"no_proxy", "localhost,127.0.0.1"}}};
        QTest::newRow("NO_PROXY") << ProxyRow{
            .variables = {{"HTTP_PROXY", "PROXY"}, {"NO_PROXY", "127.0.0.1"}}};
        QTest::newRow("credentials in the proxy's URL") << ProxyRow{
            .variables = {{"http_proxy", "PROXY"}}, .credentials = true, .request = get};
        QTest::newRow("https_proxy: a tunnel")
            << ProxyRow{.variables = {{"https_proxy", "PROXY"}},
                        .https = true,
                        .request = "CONNECT 127.0.0.1:PORT HTTP/1.1"};
        QTest::newRow("stopped proxy")
            << ProxyRow{.variables = {{"http_proxy", "PROXY"}}, .stopped = true};
    }
    void proxy() {
        QFETCH(ProxyRow, p);
        DownloadRig rig;
        const QByteArray bytes = rig.put("f.bin", 20000);
        QTemporaryDir keys;
        ScriptedServer secure(ScriptedServer::once(answer(
            "200 OK", "Content-Length: " + QByteArray::number(bytes.size()) + "\r\n", bytes)));
        if (p.https) {
            QCOMPARE(makecertificate(keys.path(), "server", "IP:127.0.0.1"), QString());
            secure.usetls(keys.path(), "server", {"http/1.1"});
            QVERIFY(secure.listen());
            rig.window->Inet1->trust(QSslCertificate::fromPath(keys.filePath("server.pem")));
        }
        TinyProxy proxy(p.credentials ? "alice" : "", "s3cret");
        QVERIFY2(proxy.start(), qPrintable(proxy.error()));
        if (p.stopped) proxy.stop();
        for (auto& [name, value] : p.variables)
            value.replace("PROXY", proxy.url(p.credentials));
        const ProxyVariables variables(p.variables);
        rig.download(p.https ? secure.url("f.bin") : rig.server.url("f.bin"));
        const quint16 port = p.https ? secure.port() : rig.server.port();
        p.request.replace("PORT", QByteArray::number(port));
        QCOMPARE(proxy.requests(),
                 p.request.isEmpty() ? QByteArrayList() : QByteArrayList{p.request});
        QCOMPARE(rig.savedbytes("f.bin"), p.stopped ? QByteArray() : bytes);
        QCOMPARE(rig.server.heads().size() + secure.requests().size(), p.stopped ? 0 : 1);
    }

    // The login connection to the service never takes the downloader's proxy.
    void loginstaysdirect() {
        TinyProxy proxy;
        QVERIFY2(proxy.start(), qPrintable(proxy.error()));
        const ProxyVariables variables({{"http_proxy", proxy.url()},
                                        {"HTTPS_PROXY", proxy.url()},
                                        {"HTTP_PROXY", proxy.url()}});
        QTcpServer service;
        QVERIFY(service.listen(QHostAddress::LocalHost));
        platform::Winsock socket;
        socket.RemoteHost = "127.0.0.1";
        socket.RemotePort = service.serverPort();
        QVERIFY(socket.Connect());
        QVERIFY(waitfor([&] { return socket.State() == platform::Winsock::sckConnected; }));
        QVERIFY(service.hasPendingConnections());
        QCOMPARE(proxy.requests(), QByteArrayList());
    }

    // Answers the downloader must not keep, on the first attempt too, and
    // lengths it may read.
    void answers_data() {
        QTest::addColumn<QByteArray>("headers"); // beside the status line
        QTest::addColumn<bool>("saved");
        QTest::newRow("206 from byte 1000, total unknown")
            << QByteArray("206 Partial Content\r\nContent-Range: bytes 1000-5119/*\r\n"
                          "Content-Length: 4120\r\n")
            << false;
        QTest::newRow("206 from byte 1000 of 5120")
            << QByteArray("206 Partial Content\r\nContent-Range: bytes 1000-5119/5120\r\n"
                          "Content-Length: 4120\r\n")
            << false;
        QTest::newRow("206 from byte 0, total unknown")
            << QByteArray("206 Partial Content\r\nContent-Range: bytes 0-5119/*\r\n"
                          "Content-Length: 5120\r\n")
            << true;
        QTest::newRow("the same Content-Length twice")
            << QByteArray("200 OK\r\nContent-Length: 5120\r\nContent-Length: 5120\r\n") << true;
        QTest::newRow("one Content-Length listing the length twice")
            << QByteArray("200 OK\r\nContent-Length: 5120, 5120\r\n") << true;
        QTest::newRow("two different Content-Length values")
            << QByteArray("200 OK\r\nContent-Length: 5120\r\nContent-Length: 5000\r\n") << false;
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
