// Login, polls and reconnection against a loopback line server; the login
// line, server messages, and the socket and timer controls beneath.
#include "app/principal.h"
#include "connection/pleaseupdate.h"
#include "connection/protocol.h"
#include "platform/controls.h"
#include "platform/resstrings.h"
#include "platform/shell.h"
#include "platform/textfile.h"
#include "platform/winsock.h"
#include "support/agentsession.h"
#include "support/stalllistener.h"
#include "support/urlcatcher.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace testsupport;
using namespace platform;
using principal::connstate;

namespace {
// Sends one message and waits until the agent has handled it.
bool deliver(AgentSession& s, const QByteArray& message) {
    int handled = 0;
    // Connected after the window's own reaction, so this runs once it is done.
    auto counting = QObject::connect(s.form->alfa, &Winsock::DataArrival, [&] { ++handled; });
    s.server.send(message);
    const bool done = waitfor([&] { return handled > 0; });
    QObject::disconnect(counting);
    return done;
}
} // namespace

class tst_connection : public QObject {
    Q_OBJECT
  private slots:
    // Missing fields are asked for, the user first. Enter in the password box
    // acts as Connect, then focuses it, and logs in again on the same
    // connection; a drop is noticed at the next poll and the retry logs in
    // again; Disconnect closes. With nothing listening the attempts go on.
    void loginanddrop() {
        AgentSession s;
        s.form->alfa->RemoteHost = QStringLiteral("localhost"); // the build's default host
        s.form->reintentos->setInterval(300);
        s.connectas(QString(), QString());
        QVERIFY(s.showing(106));
        QCOMPARE(s.form->msg->ForeColor(), vbRed);
        QCOMPARE(s.form->focusWidget(), s.form->usuario);
        s.connectas("alice", QString());
        QVERIFY(s.showing(110));
        QCOMPARE(s.form->focusWidget(), s.form->password);
        s.form->usuario->clear();
        s.form->password->setFocus();
        QTest::keyClick(s.form->password, Qt::Key_Return);
        QVERIFY(s.showing(106));
        QCOMPARE(s.form->focusWidget(), s.form->conectar);
        QVERIFY(s.reaches("connstate 0, socket 0, red, connect"));
        QCOMPARE(principal::umsgflag, qint16(0));
        QVERIFY(s.login());
        QVERIFY(s.shown(109) && s.showing(107));
        QCOMPARE(s.form->msg->ForeColor(), vbBlack);
        QCOMPARE(principal::umsgflag, qint16(1));
        QVERIFY(s.reaches("connstate 2, socket 7, green, disconnect"));
        QTest::keyClick(s.form->password, Qt::Key_Return);
        QVERIFY(waitfor([&] { return s.server.logins().size() == 2 && connstate == 2; }));

        int ticks = 0;
        connect(s.form->statustimer, &Timer::Tick, [&] { ++ticks; });
        s.server.dropall();
        QVERIFY(waitfor([&] { return s.form->alfa->State() != Winsock::sckConnected; }));
        ticks = 0;
        QVERIFY(waitfor([&] { return s.showing(113); }));
        QVERIFY2(ticks <= 2, qPrintable(QString::number(ticks)));
        QCOMPARE(s.form->msg->ForeColor(), vbRed);
        QVERIFY(s.reaches("connstate 3, socket 0, red, connect, disconnect, retrying"));
        QVERIFY(waitfor([&] { return s.server.logins().size() == 3 && connstate == 2; }, 20000));
        QVERIFY(s.shown(114));
        QCOMPARE(s.server.logins(), QList<QByteArray>(3, "0#alice,secret#\r\n"));
        QVERIFY(s.reaches("connstate 2, socket 7, green, disconnect"));

        s.texts.clear();
        s.form->desconectar->click();
        QVERIFY(s.state().startsWith("connstate 0, socket 0,"));
        QVERIFY(s.form->CancelSearch);
        QVERIFY(s.reaches("connstate 0, socket 0, red, connect"));
        QVERIFY(waitfor([&] { return s.server.connections() == 0; }));
        QVERIFY(!s.shown(113));

        s.form->alfa->RemotePort = freeport();
        s.connectas("alice", "secret");
        // One whole turn of the cycle: 113, 114, 113 again.
        QVERIFY(waitfor([&] { return s.shown(113); }, 20000));
        QVERIFY(waitfor([&] { return s.shown(114); }, 20000));
        QVERIFY(waitfor([&] { return s.texts.last() == LoadResString(113); }, 20000));
        QVERIFY(s.reaches("connstate 3, socket 0, red, connect, disconnect, retrying"));
        s.form->desconectar->click();
        s.texts.clear();
        pump(600); // longer than the retry interval
        QVERIFY(!s.shown(113) && !s.shown(114));
        QVERIFY(s.state().startsWith("connstate 0, socket 0,"));
    }

    // Each poll while connecting adds a dot. The poll that finds the socket
    // connected sends the login line and lets events run: a Disconnect
    // clicked meanwhile stands.
    void polls_data() {
        QTest::addColumn<bool>("connects"); // then Disconnect is clicked during the poll
        QTest::addColumn<QString>("after"); // two polls
        QTest::newRow("connecting") << false
                                    << "connstate 3, socket 6, red, connect, disconnect: "
                                       "Connecting.... . .";
        QTest::newRow("Disconnect during the yield")
            << true << "connstate 0, socket 0, red, connect: Connecting....";
    }
    void polls() {
        QFETCH(bool, connects);
        QFETCH(QString, after);
        AgentSession s;
        StallListener stall;
        s.form->statustimer->setEnabled(false); // the test polls
        if (!connects) s.form->alfa->RemotePort = stall.port();
        connstate = 3;
        // While a host name is looked up a poll has nothing to do.
        Winsock looking;
        looking.RemoteHost = QStringLiteral("no such host"); // no query leaves the machine
        QVERIFY(looking.Connect());
        QCOMPARE(looking.State(), int(Winsock::sckResolvingHost));
        s.form->statuspoll(looking);
        s.form->msg->setText(LoadResString(109));
        QVERIFY(s.form->alfa->Connect());
        const int state = connects ? Winsock::sckConnected : Winsock::sckConnecting;
        QVERIFY(waitfor([&] { return s.form->alfa->State() == state; }));
        if (connects) QTimer::singleShot(0, s.form->desconectar, &QPushButton::click);
        s.form->statuspoll(*s.form->alfa);
        s.form->statuspoll(*s.form->alfa);
        QCOMPARE(s.state() + ": " + s.form->msg->text(), after);
    }

    // Spaces are trimmed, nothing else; non-ASCII goes out as UTF-8.
    void loginline_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QByteArray>("line");
        const std::tuple<const char*, QString, QString, QByteArray> cases[] = {
            {"spaces trimmed", "  alice ", " secret  ", "0#alice,secret#\r\n"},
            {"tabs kept", "\talice", "secret\t ", "0#\talice,secret\t#\r\n"},
            {"separators unescaped", "a,b#", "#c,d", "0#a,b#,#c,d#\r\n"},
            {"non-ASCII as UTF-8", QStringLiteral("ñandú"), QStringLiteral("€"),
             "0#\xc3\xb1\x61nd\xc3\xba,\xe2\x82\xac#\r\n"}};
        for (const auto& [name, user, pass, line] : cases)
            QTest::newRow(name) << user << pass << line;
    }
    void loginline() {
        QFETCH(QString, user);
        QFETCH(QString, pass);
        QFETCH(QByteArray, line);
        QCOMPARE(encodetext(protocol::loginline(user, pass)), line);
    }

    // Only the exact version line matches; a mismatch brings the one window.
    // Links are logged in order, whatever the bytes (joined, as the protocol
    // has no framing). Only the exact "ERR:1" rejects: the connection stays,
    // no poll logs in again, and a drop brings no retry.
    void messages() {
        AgentSession s;
        QVERIFY(s.login());
        s.texts.clear();
        QVERIFY(deliver(s, "version:0.9.9"));
        QVERIFY(!pleaseupdate::instance());
        for (const char* mismatch :
             {"Version:0.9.9", "version:0.9.9\r\n", "version:0.9.9http://127.0.0.1/not-fetched"}) {
            QVERIFY(deliver(s, mismatch));
            QVERIFY2(pleaseupdate::instance(), mismatch);
            pleaseupdate::instance()->close();
            QVERIFY(waitfor([] { return !pleaseupdate::instance(); }));
        }
        QVERIFY(s.texts.isEmpty()); // none was taken for a link
        for (int i = 0; i < 3; ++i)
            QVERIFY(deliver(s, "version:9.9." + QByteArray::number(i)));
        QCOMPARE(visiblewindows<noticewindow>(), 1);
        noticewindow* window = pleaseupdate::instance();
        QVERIFY(deliver(s, "version:0.9.9")); // a matching line leaves it open
        QCOMPARE(pleaseupdate::instance(), window);
        UrlCatcher browser("http");
        QTest::mouseClick(window->Label1, Qt::LeftButton);
        QTest::mouseClick(window->Label1, Qt::LeftButton);
        QCOMPARE(browser.opened, QList<QUrl>(2, QUrl(website())));
        window->closewin->click();
        QVERIFY(waitfor([] { return !pleaseupdate::instance(); }));

        const QByteArray link = "FTP://127.0.0.1/quillharbor-test/file.bin";
        QVERIFY(deliver(s, link));
        const QRegularExpression linkshown(QStringLiteral("^\\d{1,2}\\D\\d\\d\\D\\d\\d.* ") +
                                           QRegularExpression::escape(LoadResString(115)) + "$");
        QVERIFY2(!s.texts.filter(linkshown).isEmpty(), qPrintable(s.texts.join('|')));
        for (const QByteArray& odd :
             {QByteArray("nul\0inside\0", 11), QByteArray("\xff\xfe\xc3(invalid \xe2\x82"),
              QByteArray(1024 * 1024, 'a')})
            QVERIFY(deliver(s, odd));
        QString flood;
        for (int i = 0; i < 300; ++i) {
            s.server.send("flood " + QByteArray::number(i));
            flood += "flood " + QString::number(i);
        }
        const auto logged = [&] { return loggedlinks(s.folder.read("log.txt")).join(QString()); };
        QVERIFY(waitfor([&] { return logged().endsWith(flood); }, 20000));
        QVERIFY(logged().startsWith(link));
        QVERIFY(s.form->alfa->GetData().isEmpty());
        s.form->alfa_DataArrival(0); // nothing waiting

        QVERIFY(deliver(s, "ERR:1\r\n"));
        QVERIFY(deliver(s, "err:1"));
        QVERIFY(s.form->msg->text().endsWith(" Not saved err:1: scheme not supported"));
        QCOMPARE(connstate, qint16(2));
        QVERIFY(deliver(s, "ERR:1"));
        QVERIFY(s.showing(108));
        QCOMPARE(s.form->msg->ForeColor(), vbRed);
        QVERIFY(s.reaches("connstate 0, socket 7, green, disconnect"));
        pump(500);
        s.server.dropall();
        QVERIFY(s.reaches("connstate 0, socket 0, red, connect"));
        pump(500);
        QVERIFY(!s.shown(113));
        QCOMPARE(s.server.logins().size(), 1);
    }

    // A message that comes while the handler of the one before yields reaches
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

    // Ticks go on while a handler yields; a tick due at the switch-off does
    // not come. The bar takes 64-bit ranges; the list's selection follows its entry.
    void controls() {
        Timer timer(20, false, nullptr);
        int ticks = 0, depth = 0, deepest = 0;
        connect(&timer, &Timer::Tick, [&] {
            deepest = std::max(deepest, ++depth);
            if (++ticks == 1) pump(300);
            --depth;
        });
        timer.setEnabled(true);
        QVERIFY(waitfor([&] { return ticks >= 5 && depth == 0; }));
        QVERIFY(deepest >= 2);
        timer.setInterval(1);
        const int before = ticks;
        for (int round = 0; round < 20; ++round) {
            timer.setEnabled(true);
            QThread::msleep(5);
            QCoreApplication::processEvents(); // the overdue timeout queues a tick
            const int queued = ticks;
            timer.setEnabled(false);
            pump(10);
            QCOMPARE(ticks, queued);
        }
        QVERIFY(ticks - before < 20); // some rounds had a tick queued at the switch-off

        ProgressBar bar(nullptr);
        QVERIFY(bar.setMax(5.0 * 1024 * 1024 * 1024)); // beyond 32 bits
        QVERIFY(bar.setValue(2.5 * 1024 * 1024 * 1024));
        QCOMPARE(bar.value(), 5000);
        QVERIFY(!bar.setValue(6.0 * 1024 * 1024 * 1024) && !bar.setMax(0));
        QCOMPARE(bar.Value(), 2.5 * 1024 * 1024 * 1024);

        ListBox list(nullptr);
        for (const char* row : {"a", "b", "c"})
            list.AddItem(row);
        QCOMPARE(list.List(2), "c"); // also while a burst is not shown yet
        list.setListIndex(2);
        QVERIFY(list.RemoveItem(0));
        QCOMPARE(list.ListIndex(), 1);
        QVERIFY(list.RemoveItem(1));
        QCOMPARE(list.ListIndex(), -1); // the selected entry went: no selection
        QVERIFY(!list.RemoveItem(5));
        QCOMPARE(list.List(7), QString());
        QCOMPARE(vbcolor(0x00FF0000), QColor(0, 0, 255)); // red in the low byte
    }
};

QTEST_MAIN(tst_connection)
#include "tst_connection.moc"
