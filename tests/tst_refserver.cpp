// The reference line server, in this process and as the program.
#include "lineserver.h"
#include "support/testsupport.h"

#include <QCommandLineParser>
#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

using namespace testsupport;

namespace {
// A bare client of the server that keeps everything it received.
struct Client {
    explicit Client(quint16 port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    }
    bool receive(const QByteArray& bytes) {
        return waitfor([&] { return received == bytes; });
    }
    QTcpSocket socket;
    QByteArray received;
};

bool configured(LineServer& server, const QStringList& arguments, QString* error) {
    QCommandLineParser parser;
    LineServer::addoptions(parser);
    return parser.parse(QStringList{"quillharbor-server"} + arguments) &&
           server.configure(parser, error);
}
} // namespace

class tst_refserver : public QObject {
    Q_OBJECT
  private slots:
    void loginsandmessages() {
        LineServer server;
        server.addaccount("alice", "secret");
        server.addaccount("bob", "p,w#");
        server.setversion("1.2.3");
        server.setpause(50);
        QVERIFY(server.listen());
        Client alice(server.port()), bob(server.port()), intruder(server.port());
        QVERIFY(waitfor([&] { return server.connections() == 3; }));
        alice.socket.write("0#alice,secret#\r\n");
        bob.socket.write("0#bob,p,w##\r\n");
        intruder.socket.write("0#alice,secret #\r\n");
        QVERIFY(alice.receive("version:1.2.3") && bob.receive("version:1.2.3"));
        QVERIFY(intruder.receive("ERR:1"));
        QCOMPARE(server.loggedin(), 2);
        QCOMPARE(server.logins().size(), 3);
        QVERIFY(server.logins().contains("0#alice,secret #\r\n"));

        // Only logged-in agents get messages; the rejected one stays connected.
        QCOMPARE(server.send("one"), 2);
        QCOMPARE(server.send("two"), 2);
        QVERIFY(alice.receive("version:1.2.3onetwo") && bob.receive("version:1.2.3onetwo"));
        QCOMPARE(intruder.received, QByteArray("ERR:1"));
        QCOMPARE(intruder.socket.state(), QAbstractSocket::ConnectedState);

        server.dropall();
        QVERIFY(waitfor([&] {
            return alice.socket.state() == QAbstractSocket::UnconnectedState &&
                   intruder.socket.state() == QAbstractSocket::UnconnectedState &&
                   server.connections() == 0;
        }));
    }

    void options() {
        ProgramFolder dir;
        dir.write("accounts.txt", "carol:pa:ss\r\n\r\ndave:\r\n");
        LineServer server;
        QString error;
        QVERIFY2(configured(
                     server,
                     {"--port", "0", "--accounts", dir.file("accounts.txt"), "--account", "erin:x"},
                     &error),
                 qPrintable(error));
        Client carol(server.port());
        carol.socket.write("0#carol,pa:ss#\r\n");
        QVERIFY(waitfor([&] { return server.loggedin() == 1; }));

        for (const QStringList& arguments :
             QList<QStringList>{{"--port", "x"},
                                {"--port", "70000"},
                                {"--account", "nocolon"},
                                {"--accounts", dir.file("missing")},
                                {"--port", QString::number(server.port())}}) {
            LineServer other;
            error.clear();
            QVERIFY2(!configured(other, arguments, &error), qPrintable(arguments.join(' ')));
            QVERIFY(!error.isEmpty());
        }
    }

    void program() {
        QProcess server;
        server.start(
            qEnvironmentVariable("QUILLHARBOR_SERVER"),
            {"--port", "0", "--account", "alice:secret", "--version", "0.9.9", "--pause", "100"});
        QVERIFY(server.waitForStarted());
        QByteArray output;
        connect(&server, &QProcess::readyReadStandardOutput,
                [&] { output += server.readAllStandardOutput(); });
        QVERIFY(waitfor([&] { return output.contains('\n'); }));
        const QRegularExpressionMatch port =
            QRegularExpression("listening on 127.0.0.1:(\\d+)").match(output);
        QVERIFY2(port.hasMatch(), output.constData());

        Client alice(quint16(port.captured(1).toUInt()));
        alice.socket.write("0#alice,secret#\r\n");
        QVERIFY(alice.receive("version:0.9.9"));
        QVERIFY(waitfor([&] { return output.contains("0#alice,secret#\\r\\n\" accepted"); }));
        // The end of input (Ctrl-D) stops the server once what was typed is sent,
        // a last line without its line end included.
        server.write("http://127.0.0.1/first\r\nsecond\nthird");
        server.closeWriteChannel();
        QVERIFY(alice.receive("version:0.9.9http://127.0.0.1/firstsecondthird"));
        QVERIFY(server.waitForFinished(20000));
        QCOMPARE(server.exitStatus(), QProcess::NormalExit);
        QCOMPARE(server.exitCode(), 0);
    }
};

QTEST_MAIN(tst_refserver)
#include "tst_refserver.moc"
