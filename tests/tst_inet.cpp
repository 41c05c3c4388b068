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
enum class Proxy { none, asks, stopped };

struct Failure {
    Script script; // none: nothing listens
    Error error = Error::none;
    Tls tls = Tls::none;
    Proxy proxy = Proxy::none;
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
Q_DECLARE_METATYPE(Failure)
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

    // Each way a request fails, with the reason the client gives.
    void failures_data() {
        QTest::addColumn<Failure>("f");
        using enum Error;
        const Script fine = ScriptedServer::once(whole());
        const auto redirectto = [](const QString& to) {
            return ScriptedServer::once(redirect(to));
        };
        QTest::newRow("nothing listens") << Failure{{}, cannotconnect};
        QTest::newRow("unknown authority") << Failure{fine, certificate, Tls::unknown};
        QTest::newRow("certificate for another name") << Failure{fine, certificate, Tls::othername};
        QTest::newRow("proxy asks (407)") << Failure{fine, proxyrefused, Tls::none, Proxy::asks};
        QTest::newRow("proxy asks before a tunnel (407)")
            << Failure{fine, proxyrefused, Tls::trusted, Proxy::asks};
        QTest::newRow("proxy stopped")
            << Failure{fine, proxyunreachable, Tls::none, Proxy::stopped};
        QTest::newRow("no answer in time")
            << Failure{.script = ScriptedServer::silent(), .error = timedout, .timeoutms = 500};
        QTest::newRow("not HTTP") << Failure{ScriptedServer::once("hello\r\n\r\n"), badanswer};
        QTest::newRow("redirect from https to http")
            << Failure{redirectto("http://127.0.0.1:1/f.bin"), redirects, Tls::trusted};
        QTest::newRow("redirect to ftp") << Failure{redirectto("ftp://127.0.0.1/f.bin"), redirects};
        QTest::newRow("21 redirects") << Failure{chain(21), redirects};
        QTest::newRow("20 redirects") << Failure{chain(20)};
    }
    void failures() {
        QFETCH(Failure, f);
        QTemporaryDir keys;
        const QString altname = f.tls == Tls::othername ? "DNS:other.invalid" : "IP:127.0.0.1";
        if (f.tls != Tls::none)
            QCOMPARE(makecertificate(keys.path(), "server", altname), QString());
        ScriptedServer server(f.script);
        if (f.tls != Tls::none) server.usetls(keys.path(), "server", {"http/1.1"});
        if (f.script) QVERIFY(server.listen());
        const QString url = f.script ? server.url("r/0")
                                     : QStringLiteral("http://127.0.0.1:%1/r/0").arg(freeport());
        TinyProxy proxy("alice", "s3cret");
        if (f.proxy != Proxy::none) QVERIFY2(proxy.start(), qPrintable(proxy.error()));
        if (f.proxy == Proxy::stopped) proxy.stop();
        const ProxyVariables variables(
            f.proxy == Proxy::none ? "" : "http_proxy=PROXY https_proxy=PROXY", proxy.url());
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
    // address is one to reach directly; the login connection never does.
    void proxy_data() {
        QTest::addColumn<QString>("variables");  // see ProxyVariables
        QTest::addColumn<bool>("credentials");   // the proxy asks, and its URL carries them
        QTest::addColumn<QByteArray>("request"); // what the proxy's log shows; "" for nothing
        const QByteArray get = "GET http://127.0.0.1:PORT/f.bin HTTP/1.1";
        QTest::newRow("HTTP_PROXY") << "HTTP_PROXY=PROXY" << false << get;
        QTest::newRow("no_proxy") << "http_proxy=PROXY no_proxy=localhost,127.0.0.1" << false
                                  << QByteArray();
        QTest::newRow("NO_PROXY") << "HTTP_PROXY=PROXY NO_PROXY=127.0.0.1" << false << QByteArray();
        QTest::newRow("credentials in http_proxy's URL") << "http_proxy=PROXY" << true << get;
        QTest::newRow("https_proxy: a tunnel")
            << "https_proxy=PROXY" << false << QByteArray("CONNECT 127.0.0.1:PORT HTTP/1.1");
    }
    void proxy() {
        QFETCH(QString, variables);
        QFETCH(bool, credentials);
        QFETCH(QByteArray, request);
        const bool https = request.startsWith("CONNECT");
        DownloadRig rig;
        const QByteArray bytes = rig.put("f.bin", 20000);
        QTemporaryDir keys;
        ScriptedServer secure(ScriptedServer::once(answer(
            "200 OK", "Content-Length: " + QByteArray::number(bytes.size()) + "\r\n", bytes)));
        if (https) {
            QCOMPARE(makecertificate(keys.path(), "server", "IP:127.0.0.1"), QString());
            secure.usetls(keys.path(), "server", {"http/1.1"});
            QVERIFY(secure.listen());
            rig.window->Inet1->trust(QSslCertificate::fromPath(keys.filePath("server.pem")));
        }
        TinyProxy proxy(credentials ? "alice" : "", "s3cret");
        QVERIFY2(proxy.start(), qPrintable(proxy.error()));
        const ProxyVariables set(variables, proxy.url(credentials));
        rig.download(https ? secure.url("f.bin") : rig.server.url("f.bin"));
        QTcpServer service;
        QVERIFY(service.listen(QHostAddress::LocalHost));
        platform::Winsock login;
        login.RemoteHost = "127.0.0.1";
        login.RemotePort = service.serverPort();
        QVERIFY(login.Connect());
        QVERIFY(waitfor([&] { return login.State() == platform::Winsock::sckConnected; }));
        request.replace("PORT", QByteArray::number(https ? secure.port() : rig.server.port()));
        QCOMPARE(proxy.requests(), request.isEmpty() ? QByteArrayList() : QByteArrayList{request});
        QCOMPARE(rig.savedbytes("f.bin"), bytes);
        QCOMPARE(rig.server.heads().size() + secure.requests().size(), 1);
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
