// The reference line server as a program: accounts from options and a file,
// logins checked, typed lines sent to agents until end of input; bad options.
#include "support/testsupport.h"

#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

using namespace testsupport;

namespace {
// A bare client of the server that keeps everything it received.
struct Client {
    Client(quint16 port, const QByteArray& login) {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QStringLiteral("127.0.0.1"), port);
        socket.write(login);
    }
    bool receive(const QByteArray& bytes) {
        return waitfor([&] { return received == bytes; });
    }
    QTcpSocket socket;
    QByteArray received;
};
} // namespace

class tst_refserver : public QObject {
    Q_OBJECT
  private slots:
    void program() {
        ProgramFolder dir;
        dir.write("accounts.txt", "carol:pa:ss\r\n\r\ndave:\r\n");
        QProcess server;
        server.start(qEnvironmentVariable("QUILLHARBOR_SERVER"),
                     {"--port", "0", "--account", "alice:secret", "--accounts",
                      dir.file("accounts.txt"), "--version", "0.9.9", "--pause", "100"});
        QVERIFY(server.waitForStarted());
        QByteArray output;
        connect(&server, &QProcess::readyReadStandardOutput,
                [&] { output += server.readAllStandardOutput(); });
        QVERIFY(waitfor([&] { return output.contains('\n'); }));
        const auto port = QRegularExpression("listening on 127.0.0.1:(\\d+)").match(output);
        QVERIFY2(port.hasMatch(), output.constData());

        const quint16 number = quint16(port.captured(1).toUInt());
        Client alice(number, "0#alice,secret#\r\n"), carol(number, "0#carol,pa:ss#\r\n"),
            intruder(number, "0#alice,secret #\r\n");
        QVERIFY(alice.receive("version:0.9.9") && carol.receive("version:0.9.9"));
        QVERIFY(intruder.receive("ERR:1"));
        QVERIFY(waitfor([&] { return output.contains("0#alice,secret#\\r\\n\" accepted"); }));
        // The end of input (Ctrl-D) stops the server once what was typed is
        // sent, a last line without its line end included.
        server.write("http://127.0.0.1/first\r\nsecond\nthird");
        server.closeWriteChannel();
        for (Client* agent : {&alice, &carol})
            QVERIFY(agent->receive("version:0.9.9http://127.0.0.1/firstsecondthird"));
        QVERIFY(server.waitForFinished(20000));
        QVERIFY(server.exitStatus() == QProcess::NormalExit && server.exitCode() == 0);
        QCOMPARE(intruder.received, "ERR:1");
    }

    void badoptions() {
        for (const char* arguments : {"--port x", "--port 70000", "--pause -1", "--account nocolon",
                                      "--accounts /quillharbor-test/missing"}) {
            QProcess server;
            server.start(qEnvironmentVariable("QUILLHARBOR_SERVER"), QString(arguments).split(' '));
            QVERIFY(server.waitForFinished(20000));
            QVERIFY2(server.exitCode() == 2 && !server.readAllStandardError().isEmpty(), arguments);
        }
    }
};

QTEST_MAIN(tst_refserver)
#include "tst_refserver.moc"
