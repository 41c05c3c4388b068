// Connect, login, the status poll and reconnection, against a line server
// over loopback.
#include "app/principal.h"
#include "platform/resstrings.h"
#include "platform/winsock.h"
#include "support/agentsession.h"
#include "support/stalllistener.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace testsupport;
using platform::LoadResString;
using platform::Winsock;
using principal::connstate;

class tst_connection : public QObject {
    Q_OBJECT
  private slots:
    void missingfields() {
        AgentSession s;
        s.connectas(QString(), QString());
        QVERIFY(s.showing(106));
        QCOMPARE(s.form->msg->ForeColor(), platform::vbRed);
        QCOMPARE(s.form->focusWidget(), s.form->usuario);
        s.connectas("alice", QString());
        QVERIFY(s.showing(110));
        QCOMPARE(s.form->focusWidget(), s.form->password);
        // Enter in the password box: the same action, then the focus on Connect.
        s.form->usuario->clear();
        s.form->password->setFocus();
        QTest::keyClick(s.form->password, Qt::Key_Return);
        QVERIFY(s.showing(106));
        QCOMPARE(s.form->focusWidget(), s.form->conectar);
        QVERIFY(s.reaches("connstate 0, socket 0, red, connect"));
        QCOMPARE(principal::umsgflag, qint16(0));
    }

    void loginbuttonsanddisconnect() {
        AgentSession s;
        s.form->alfa->RemoteHost = QStringLiteral("localhost"); // the build's default host
        QVERIFY(s.login());
        QVERIFY(s.shown(109) && s.showing(107));
        QCOMPARE(s.form->msg->ForeColor(), platform::vbBlack);
        QCOMPARE(principal::umsgflag, qint16(1));
        QVERIFY(s.reaches("connstate 2, socket 7, green, disconnect"));
        QVERIFY(waitfor([&] { return s.server.loggedin() == 1; }));

        // Enter in the password box while connected: the same connection logs in again.
        QTest::keyClick(s.form->password, Qt::Key_Return);
        QVERIFY(waitfor([&] { return s.server.logins().size() == 2 && connstate == 2; }));
        QCOMPARE(s.server.logins(), QList<QByteArray>(2, "0#alice,secret#\r\n"));
        QVERIFY(s.reaches("connstate 2, socket 7, green, disconnect"));

        s.form->desconectar->click();
        QVERIFY(s.state().startsWith("connstate 0, socket 0,"));
        QVERIFY(s.form->CancelSearch);
        QVERIFY(s.reaches("connstate 0, socket 0, red, connect"));
        QVERIFY(waitfor([&] { return s.server.connections() == 0; }));
        QVERIFY(!s.shown(113));
    }

    void dropnoticedandreconnected() {
        AgentSession s;
        QVERIFY(s.login());
        s.form->reintentos->setInterval(300);
        int ticks = 0;
        connect(s.form->statustimer, &platform::Timer::Tick, [&] { ++ticks; });
        s.server.dropall();
        QVERIFY(waitfor([&] { return s.form->alfa->State() != Winsock::sckConnected; }));
        ticks = 0;
        QVERIFY(waitfor([&] { return s.showing(113); }));
        QVERIFY2(ticks <= 2, qPrintable(QString::number(ticks)));
        QCOMPARE(s.form->msg->ForeColor(), platform::vbRed);
        QCOMPARE(connstate, qint16(3));
        QVERIFY(s.form->reintentos->Enabled());

        QVERIFY(waitfor([&] { return s.server.logins().size() == 2 && connstate == 2; }, 20000));
        QVERIFY(s.shown(114));
        QCOMPARE(s.server.logins().last(), QByteArray("0#alice,secret#\r\n"));
        QVERIFY(s.reaches("connstate 2, socket 7, green, disconnect"));
    }

    void unreachableretriesuntildisconnect_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("accepts"); // and closes every connection at once
        QTest::newRow("nothing listening") << "127.0.0.1" << false;
        QTest::newRow("host not found") << "quillharbor-test.invalid" << false;
        QTest::newRow("accepts and closes") << "127.0.0.1" << true;
    }
    void unreachableretriesuntildisconnect() {
        QFETCH(QString, host);
        QFETCH(bool, accepts);
        AgentSession s;
        QTcpServer closer;
        QVERIFY(closer.listen(QHostAddress::LocalHost));
        connect(&closer, &QTcpServer::newConnection, [&] {
            while (QTcpSocket* socket = closer.nextPendingConnection())
                socket->close();
        });
        if (!accepts) closer.close();
        s.form->alfa->RemoteHost = host;
        s.form->alfa->RemotePort = closer.serverPort();
        // Longer than two polls, so that each failed attempt shows.
        s.form->reintentos->setInterval(1200);

        s.connectas("alice", "secret");
        // One whole turn of the cycle: 113, 114, 113 again.
        QVERIFY(waitfor([&] { return s.shown(113); }, 20000));
        QVERIFY(waitfor([&] { return s.shown(114); }, 20000));
        QVERIFY(waitfor([&] { return s.texts.last() == LoadResString(113); }, 20000));
        QVERIFY(connstate == 3 || connstate == 2);
        QVERIFY(s.form->reintentos->Enabled());

        // Disconnect, still available, is what stops the attempts.
        s.form->desconectar->click();
        s.texts.clear();
        pump(1500); // longer than the retry interval
        QVERIFY(!s.shown(113) && !s.shown(114));
        QVERIFY(s.state().startsWith("connstate 0, socket 0,"));
    }

    void rejectedloginkeepsconnection() {
        AgentSession s;
        s.form->reintentos->setInterval(300);
        s.connectas("alice", "wrong");
        QVERIFY(waitfor([&] { return s.showing(108); }));
        QCOMPARE(s.form->msg->ForeColor(), platform::vbRed);
        QVERIFY(s.reaches("connstate 0, socket 7, green, disconnect"));
        pump(1200);
        QVERIFY(s.showing(108));
        QCOMPARE(s.server.connections(), 1);
        QCOMPARE(s.state(), "connstate 0, socket 7, green, disconnect");

        // A later drop brings no retry: nobody wants the connection any more.
        s.server.dropall();
        QVERIFY(s.reaches("connstate 0, socket 0, red, connect"));
        pump(1000);
        QVERIFY(!s.shown(113));
        QCOMPARE(s.server.logins().size(), 1);
    }

    void connectingstate() {
        AgentSession s;
        StallListener stall;
        s.form->alfa->RemotePort = stall.port();
        s.connectas("alice", "secret");
        const QString dots = LoadResString(109) + " . .";
        QVERIFY(waitfor([&] { return s.form->msg->text().startsWith(dots); }));
        QVERIFY(QString(s.form->msg->text()).remove(LoadResString(109)).remove(" .").isEmpty());
        QCOMPARE(s.state(), "connstate 3, socket 6, red, connect, disconnect");

        // A second Connect while connecting is refused by the socket, harmlessly.
        QVERIFY(!s.form->alfa->Connect());
        s.form->conectar->click();
        QCOMPARE(s.state(), "connstate 3, socket 6, red, connect, disconnect");
        QVERIFY(waitfor([&] { return s.form->msg->text().startsWith(dots); }));
    }

    void connectedwithoutlogin() {
        AgentSession s;
        s.form->alfa->Connect();
        QVERIFY(s.reaches("connstate 0, socket 7, green, disconnect"));
        pump(600);
        QVERIFY(s.server.logins().isEmpty());
        QCOMPARE(connstate, qint16(0));
    }

    // Links that come during a transfer, faster than they are handled, are
    // each handled once, at once, in the order they came: into the spool and
    // the log. A message may still reach the agent joined to the next (the
    // protocol has no framing), so the texts are compared end to end.
    void burstduringatransferkeepsitsorder() {
        AgentSession s;
        QVERIFY(s.login());
        s.form->bajando = true;
        s.server.setpause(1);
        QString sent;
        for (int i = 0; i < 300; ++i) {
            const QString link = QString("http://h/%1").arg(i);
            s.server.send(link.toUtf8());
            sent += link;
        }
        const auto logged = [&] {
            QString links;
            for (const QByteArray& line : s.folder.read("log.txt").split('\n'))
                links += QString::fromUtf8(line.mid(line.indexOf(" : Download : ") + 14)).trimmed();
            return links;
        };
        QVERIFY(waitfor([&] { return logged().size() >= sent.size(); }, 30000));
        QCOMPARE(logged(), sent);
        QCOMPARE(s.form->spoollist->items().join(QString()), sent);
        QVERIFY(waitfor([&] { return s.folder.read("spool.ini").size() > sent.size(); }));
        QCOMPARE(QString::fromUtf8(s.folder.read("spool.ini")).remove("\r\n"), sent);
        s.form->bajando = false;
    }

    // The socket control alone. A message that comes while the handler of the
    // one before still runs (letting events run, as a download does) reaches
    // a handler of its own. A drop stays 8, a failure 9, until Close.
    void socketcontrol() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        Winsock socket;
        socket.RemoteHost = QStringLiteral("127.0.0.1");
        socket.RemotePort = server.serverPort();
        QTcpSocket* peer = nullptr;
        connect(&server, &QTcpServer::newConnection,
                [&] { peer = server.nextPendingConnection(); });
        QStringList received;
        bool nested = false;
        connect(&socket, &Winsock::DataArrival, [&] {
            received << socket.GetData();
            if (received.size() == 1) {
                peer->write("second\xff");
                nested = waitfor([&] { return received.size() == 2; });
            }
        });
        QVERIFY(!socket.SendData("x"));
        QVERIFY(socket.Connect());
        QVERIFY(waitfor([&] { return socket.State() == Winsock::sckConnected && peer; }));
        QVERIFY(!socket.Connect());
        peer->write("first");
        QVERIFY(waitfor([&] { return received.size() == 2; }));
        QVERIFY(nested);
        // Bytes that are not UTF-8 come in and go out unchanged.
        QCOMPARE(received, QStringList({"first", "second" + QString(QChar(0xDCFF))}));
        QVERIFY(socket.SendData(received[1] + QStringLiteral("\u00e9")));
        QVERIFY(waitfor([&] { return peer->bytesAvailable() == 9; }));
        QCOMPARE(peer->readAll(), QByteArray("second\xff\xc3\xa9"));

        peer->close();
        for (int state : {Winsock::sckClosing, Winsock::sckError}) {
            QVERIFY(waitfor([&] { return socket.State() == state; }));
            pump(100);
            QCOMPARE(socket.State(), state);
            QVERIFY(!socket.Connect());
            socket.Close();
            QCOMPARE(socket.State(), 0);
            server.close();
            QVERIFY(socket.Connect());
        }
    }
};

QTEST_MAIN(tst_connection)
#include "tst_connection.moc"
