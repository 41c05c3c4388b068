// The login line on the wire and the handling of each kind of server message.
#include "app/principal.h"
#include "connection/pleaseupdate.h"
#include "connection/protocol.h"
#include "platform/resstrings.h"
#include "platform/shell.h"
#include "platform/winsock.h"
#include "support/agentsession.h"
#include "support/urlcatcher.h"

#include <QRegularExpression>
#include <QtTest>

using namespace testsupport;
using platform::LoadResString;
using principal::connstate;

namespace {
// Sends one message and waits until the agent has handled it.
bool deliver(AgentSession& s, const QByteArray& message) {
    int handled = 0;
    // Connected after the window's own reaction, so this runs once it is done.
    auto counting =
        QObject::connect(s.form->alfa, &platform::Winsock::DataArrival, [&] { ++handled; });
    s.server.send(message);
    const bool done = waitfor([&] { return handled > 0; });
    QObject::disconnect(counting);
    return done;
}
} // namespace

class tst_protocol : public QObject {
    Q_OBJECT
  private slots:
    void loginbytes_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QByteArray>("line");
        const std::tuple<const char*, QString, QString, QByteArray> cases[] = {
            {"spaces trimmed", "  alice ", " secret  ", "0#alice,secret#\r\n"},
            {"tabs kept", "\talice", "secret\t ", "0#\talice,secret\t#\r\n"},
            {"empty user after trimming", "   ", "pw", "0#,pw#\r\n"},
            {"separators unescaped", "a,b#", "#c,d", "0#a,b#,#c,d#\r\n"},
            {"non-ASCII as UTF-8", QStringLiteral("ñandú"), QStringLiteral("€"),
             "0#\xc3\xb1\x61nd\xc3\xba,\xe2\x82\xac#\r\n"}};
        for (const auto& [name, user, pass, line] : cases)
            QTest::newRow(name) << user << pass << line;
    }
    void loginbytes() {
        QFETCH(QString, user);
        QFETCH(QString, pass);
        QFETCH(QByteArray, line);
        QCOMPARE(protocol::loginline(user, pass).toUtf8(), line);
        AgentSession s;
        s.connectas(user, pass);
        QVERIFY(waitfor([&] { return !s.server.logins().isEmpty(); }));
        QCOMPARE(s.server.logins(), QList<QByteArray>{line});
    }

    // Links are shown and logged; whatever the bytes, the agent neither fails
    // nor stops listening; only the exact "ERR:1" is a rejection.
    void messages() {
        AgentSession s;
        QVERIFY(s.login());
        const QByteArray link = "FTP://127.0.0.1/quillharbor-test/file.bin";
        QVERIFY(deliver(s, link));
        const QRegularExpression linkshown(QStringLiteral("^\\d{1,2}\\D\\d\\d\\D\\d\\d.* ") +
                                           QRegularExpression::escape(LoadResString(115)) + "$");
        QVERIFY2(linkshown.match(s.form->msg->text()).hasMatch(), qPrintable(s.form->msg->text()));
        QCOMPARE(s.form->msg->ForeColor(), platform::vbBlack);
        QVERIFY(s.folder.read("log.txt").contains(link));

        QVERIFY(deliver(s, QByteArray("nul\0inside\0", 11)));
        QVERIFY(deliver(s, "\xff\xfe\xc3(invalid \xe2\x82"));
        QVERIFY(deliver(s, QByteArray(1024 * 1024, 'a')));
        for (int i = 0; i < 300; ++i)
            s.server.send("flood " + QByteArray::number(i));
        // Handled once nothing more arrives for a while.
        int reads = 0;
        connect(s.form->alfa, &platform::Winsock::DataArrival, [&] { ++reads; });
        for (int seen = -1; seen != reads;) {
            seen = reads;
            pump(500);
        }
        QVERIFY(s.form->alfa->GetData().isEmpty());
        s.form->alfa_DataArrival(0); // nothing waiting

        QVERIFY(deliver(s, "ERR:1\r\n"));
        QVERIFY(deliver(s, "err:1"));
        QVERIFY(linkshown.match(s.form->msg->text()).hasMatch());
        QCOMPARE(connstate, qint16(2));
        QVERIFY(deliver(s, "ERR:1"));
        QVERIFY(s.showing(108));
        QCOMPARE(connstate, qint16(0));
        QCOMPARE(s.form->alfa->State(), int(platform::Winsock::sckConnected));
    }

    // Only the exact version line matches; a mismatch brings the one window.
    void versions() {
        AgentSession s;
        QVERIFY(s.login());
        s.form->msg->clear();
        QVERIFY(deliver(s, "version:0.9.9"));
        QVERIFY(!pleaseupdate::instance());
        for (const char* mismatch : {"Version:0.9.9", "version:0.9.9\r\n", "VERSION:1.0.0",
                                     "version:0.9.9http://127.0.0.1/not-fetched"}) {
            QVERIFY(deliver(s, mismatch));
            QVERIFY2(pleaseupdate::instance(), mismatch);
            pleaseupdate::instance()->close();
            QVERIFY(waitfor([] { return !pleaseupdate::instance(); }));
        }
        QVERIFY(s.form->msg->text().isEmpty()); // none was taken for a link

        for (int i = 0; i < 3; ++i)
            QVERIFY(deliver(s, "version:9.9." + QByteArray::number(i)));
        int windows = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            windows += qobject_cast<noticewindow*>(widget) && widget->isVisible() ? 1 : 0;
        QCOMPARE(windows, 1);
        noticewindow* window = pleaseupdate::instance();
        QCOMPARE(window->windowTitle(), LoadResString(105));
        QCOMPARE(window->msg->text(), LoadResString(120));
        QCOMPARE(window->closewin->text(), LoadResString(119));
        QVERIFY(deliver(s, "version:0.9.9")); // a matching line leaves it open
        QCOMPARE(pleaseupdate::instance(), window);

        {
            UrlCatcher browser("http");
            QTest::mouseClick(window->Label1, Qt::LeftButton);
            QTest::mouseClick(window->Label1, Qt::LeftButton);
            QCOMPARE(browser.opened, QList<QUrl>(2, QUrl(platform::website())));
        }
        window->closewin->click();
        QVERIFY(waitfor([] { return !pleaseupdate::instance(); }));
        QVERIFY(deliver(s, "version:1.0.0"));
        QVERIFY(pleaseupdate::instance());
        pleaseupdate::instance()->close();
        QCOMPARE(connstate, qint16(2));
    }
};

QTEST_MAIN(tst_protocol)
#include "tst_protocol.moc"
