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
    void missingfields();
    void loginbuttonsanddisconnect();
    void dropnoticedandreconnected();
    void unreachableretriesuntildisconnect_data();
    void unreachableretriesuntildisconnect();
    void rejectedloginkeepsconnection();
    void connectingstate();
    void connectedwithoutlogin();
    void socketstates();
    void arrivalwhilehandling();
};

void tst_connection::missingfields() {
    AgentSession s;
    s.connectas(QString(), QString());
    QCOMPARE(s.form->msg->text(), LoadResString(106));
    QCOMPARE(s.form->msg->ForeColor(), platform::vbRed);
    QCOMPARE(s.form->focusWidget(), s.form->usuario);
    s.connectas(QStringLiteral("alice"), QString());
    QCOMPARE(s.form->msg->text(), LoadResString(110));
    QCOMPARE(s.form->focusWidget(), s.form->password);
    // Enter in the password box: the same action, then the focus on Connect.
    s.form->usuario->clear();
    s.form->password->setFocus();
    QTest::keyClick(s.form->password, Qt::Key_Return);
    QCOMPARE(s.form->msg->text(), LoadResString(106));
    QCOMPARE(s.form->focusWidget(), s.form->conectar);
    QCOMPARE(connstate, qint16(0));
    QCOMPARE(s.form->alfa->State(), 0);
    QCOMPARE(principal::umsgflag, qint16(0));
}

void tst_connection::loginbuttonsanddisconnect() {
    AgentSession s;
    s.form->alfa->RemoteHost = QStringLiteral("localhost"); // the build's default host
    QVERIFY(s.login());
    QCOMPARE(s.server.logins(), QList<QByteArray>{"0#alice,secret#\r\n"});
    QVERIFY(s.shown(LoadResString(109)));
    QCOMPARE(s.form->msg->text(), LoadResString(107));
    QCOMPARE(s.form->msg->ForeColor(), platform::vbBlack);
    QCOMPARE(principal::umsgflag, qint16(1));
    QVERIFY(waitfor([&] { return s.server.loggedin() == 1; }));
    QCOMPARE(s.form->Shape2->FillColor(), platform::vbGreen);
    QVERIFY(!s.form->conectar->isEnabled());
    QVERIFY(s.form->desconectar->isEnabled());
    QVERIFY(!s.form->reintentos->Enabled());

    // Enter in the password box while connected: the same connection logs in again.
    QTest::keyClick(s.form->password, Qt::Key_Return);
    QVERIFY(waitfor([&] { return s.server.logins().size() == 2 && connstate == 2; }));
    QCOMPARE(s.form->alfa->State(), int(Winsock::sckConnected));

    s.form->desconectar->click();
    QCOMPARE(connstate, qint16(0));
    QVERIFY(s.form->CancelSearch);
    QCOMPARE(s.form->alfa->State(), 0);
    QVERIFY(waitfor([&] {
        return s.form->conectar->isEnabled() && !s.form->desconectar->isEnabled() &&
               s.form->Shape2->FillColor() == platform::vbRed && s.server.connections() == 0;
    }));
    QVERIFY(!s.shown(LoadResString(113)));
}

void tst_connection::dropnoticedandreconnected() {
    AgentSession s;
    QVERIFY(s.login());
    s.form->reintentos->setInterval(300);
    int ticks = 0;
    connect(s.form->statustimer, &platform::Timer::Tick, [&] { ++ticks; });
    s.server.dropall();
    QVERIFY(waitfor([&] { return s.form->alfa->State() != Winsock::sckConnected; }));
    ticks = 0;
    QVERIFY(waitfor([&] { return s.form->msg->text() == LoadResString(113); }));
    QVERIFY2(ticks <= 2, qPrintable(QString::number(ticks)));
    QCOMPARE(s.form->msg->ForeColor(), platform::vbRed);
    QCOMPARE(connstate, qint16(3));
    QVERIFY(s.form->reintentos->Enabled());

    QVERIFY(waitfor([&] { return s.server.logins().size() == 2 && connstate == 2; }, 20000));
    QVERIFY(s.shown(LoadResString(114)));
    QCOMPARE(s.server.logins().last(), QByteArray("0#alice,secret#\r\n"));
    QVERIFY(!s.form->reintentos->Enabled());
}

void tst_connection::unreachableretriesuntildisconnect_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("kind"); // 0 nothing listening, 1 closes every connection at once
    QTest::newRow("nothing listening") << QStringLiteral("127.0.0.1") << 0;
    QTest::newRow("host not found") << QStringLiteral("quillharbor-test.invalid") << 0;
    QTest::newRow("accepts and closes") << QStringLiteral("127.0.0.1") << 1;
}

void tst_connection::unreachableretriesuntildisconnect() {
    QFETCH(QString, host);
    QFETCH(int, kind);
    AgentSession s;
    QTcpServer closer;
    QVERIFY(closer.listen(QHostAddress::LocalHost));
    if (kind == 1)
        connect(&closer, &QTcpServer::newConnection, [&] {
            while (QTcpSocket* socket = closer.nextPendingConnection())
                socket->close();
        });
    else
        closer.close();
    s.form->alfa->RemoteHost = host;
    s.form->alfa->RemotePort = closer.serverPort();
    // Longer than two polls, so that each failed attempt shows.
    s.form->reintentos->setInterval(1200);

    s.connectas(QStringLiteral("alice"), QStringLiteral("secret"));
    QVERIFY(waitfor([&] { return s.shown(LoadResString(113)); }, 20000));
    // One whole turn of the cycle: 113, 114, 113 again.
    QVERIFY(waitfor([&] { return s.shown(LoadResString(114)); }, 20000));
    QVERIFY(waitfor([&] { return s.texts.last() == LoadResString(113); }, 20000));
    QVERIFY(connstate == 3 || connstate == 2);
    QVERIFY(s.form->reintentos->Enabled());

    s.form->desconectar_Click();
    s.texts.clear();
    pump(1500); // longer than the retry interval
    QVERIFY(!s.shown(LoadResString(113)));
    QVERIFY(!s.shown(LoadResString(114)));
    QCOMPARE(s.form->alfa->State(), 0);
    QCOMPARE(connstate, qint16(0));
}

void tst_connection::rejectedloginkeepsconnection() {
    AgentSession s;
    s.form->reintentos->setInterval(300);
    s.connectas(QStringLiteral("alice"), QStringLiteral("wrong"));
    QVERIFY(waitfor([&] { return s.form->msg->text() == LoadResString(108); }));
    QCOMPARE(s.form->msg->ForeColor(), platform::vbRed);
    QCOMPARE(connstate, qint16(0));
    QVERIFY(!s.form->reintentos->Enabled());
    pump(1200);
    QCOMPARE(s.form->msg->text(), LoadResString(108));
    QCOMPARE(s.server.connections(), 1);
    QCOMPARE(s.form->alfa->State(), int(Winsock::sckConnected));
    QCOMPARE(s.form->Shape2->FillColor(), platform::vbGreen);
    QVERIFY(s.form->desconectar->isEnabled() && !s.form->conectar->isEnabled());

    // A later drop brings no retry: nobody wants the connection any more.
    s.server.dropall();
    QVERIFY(waitfor([&] { return s.form->conectar->isEnabled(); }));
    pump(1000);
    QVERIFY(!s.shown(LoadResString(113)));
    QCOMPARE(s.server.logins().size(), 1);
}

void tst_connection::connectingstate() {
    AgentSession s;
    StallListener stall;
    s.form->alfa->RemotePort = stall.port();
    s.connectas(QStringLiteral("alice"), QStringLiteral("secret"));
    const QString dots = LoadResString(109) + QStringLiteral(" . .");
    QVERIFY(waitfor([&] { return s.form->msg->text().startsWith(dots); }));
    QCOMPARE(s.form->alfa->State(), int(Winsock::sckConnecting));
    QVERIFY(QString(s.form->msg->text()).remove(LoadResString(109)).remove(" .").isEmpty());
    QCOMPARE(s.form->Shape2->FillColor(), platform::vbRed);

    // A second Connect while connecting is refused by the socket, harmlessly.
    QVERIFY(!s.form->alfa->Connect());
    s.form->conectar->click();
    QCOMPARE(s.form->alfa->State(), int(Winsock::sckConnecting));
    QCOMPARE(connstate, qint16(3));
    QVERIFY(waitfor([&] { return s.form->msg->text().startsWith(LoadResString(109) + " . ."); }));
}

void tst_connection::connectedwithoutlogin() {
    AgentSession s;
    s.form->alfa->Connect();
    QVERIFY(waitfor([&] {
        return s.form->Shape2->FillColor() == platform::vbGreen && s.form->desconectar->isEnabled();
    }));
    pump(600);
    QVERIFY(s.server.logins().isEmpty());
    QCOMPARE(connstate, qint16(0));
}

void tst_connection::socketstates() {
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    platform::Winsock socket;
    socket.RemoteHost = QStringLiteral("127.0.0.1");
    socket.RemotePort = server.serverPort();
    QVERIFY(!socket.SendData(QStringLiteral("x")));
    QVERIFY(socket.Connect());
    QVERIFY(waitfor([&] { return socket.State() == Winsock::sckConnected; }));
    QVERIFY(!socket.Connect());
    QVERIFY(waitfor([&] { return server.hasPendingConnections(); }));
    QTcpSocket* peer = server.nextPendingConnection();
    peer->close(); // a drop stays 8 until Close
    QVERIFY(waitfor([&] { return socket.State() == Winsock::sckClosing; }));
    pump(100);
    QCOMPARE(socket.State(), int(Winsock::sckClosing));
    QVERIFY(!socket.Connect());
    socket.Close();
    QCOMPARE(socket.State(), 0);

    server.close(); // a failure stays 9 until Close
    QVERIFY(socket.Connect());
    QVERIFY(waitfor([&] { return socket.State() == Winsock::sckError; }));
    pump(100);
    QCOMPARE(socket.State(), int(Winsock::sckError));
    socket.Close();
    QCOMPARE(socket.State(), 0);
}

void tst_connection::arrivalwhilehandling() {
    // A message that comes while the handler of the one before still runs
    // (letting events run, as a download does) reaches a handler of its own.
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QTcpSocket* peer = nullptr;
    connect(&server, &QTcpServer::newConnection, [&] { peer = server.nextPendingConnection(); });
    platform::Winsock socket;
    socket.RemoteHost = QStringLiteral("127.0.0.1");
    socket.RemotePort = server.serverPort();
    QStringList received;
    bool nested = false;
    connect(&socket, &Winsock::DataArrival, [&] {
        received << socket.GetData();
        if (received.size() == 1) {
            peer->write("second\xff");
            nested = waitfor([&] { return received.size() == 2; });
        }
    });
    socket.Connect();
    QVERIFY(waitfor([&] { return peer != nullptr; }));
    peer->write("first");
    QVERIFY(waitfor([&] { return received.size() == 2; }));
    QVERIFY(nested);
    QCOMPARE(received, QStringList({"first", QStringLiteral("second\uFFFD")}));
}

QTEST_MAIN(tst_connection)
#include "tst_connection.moc"
