// The password in a real GNOME Keyring (support/keyringsession.sh starts it), one start
// after the other. Elsewhere there is no session bus and it stays in vars.ini.
#include "app/principal.h"
#include "app/statefiles.h"
#include "support/agentsession.h"

#include <QtTest>

using namespace testsupport;

namespace {
QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess tool;
    tool.start(program, arguments);
    tool.waitForFinished(10000);
    return tool.readAllStandardOutput();
}

// What the keyring keeps for `user`: the password, "locked", or "-" for nothing.
QString entry(const QString& user) {
    const QByteArray found = run("secret-tool", {"search", "server", "Quillharbor", "user", user});
    const qsizetype at = found.indexOf("\nsecret = ");
    return found.isEmpty() ? "-" : at < 0 ? "locked" : found.mid(at + 10).split('\n').first();
}
} // namespace

class Keyring : public QObject {
    Q_OBJECT
    QByteArray saved = "user=alice\r\npass=secret\r\nautostart=1\r\n";

  private slots:
    void starts_data() {
        QTest::addColumn<bool>("lock");     // the keyring, before the start
        QTest::addColumn<QString>("login"); // typed with the password "other" once started
        // The window (its password box and state), vars.ini's first two lines
        // as a save writes them, the keyring's entries for alice and for bob.
        QTest::addColumn<QString>("after");
        QTest::newRow("pass= moves into the keyring")
            << false << ""
            << "secret minimised connected | user=alice pass= | secret -";
        QTest::newRow("the next start logs in from it; another user replaces it")
            << false << "bob"
            << "other minimised connected | user=bob pass= | - other";
        QTest::newRow("locked: asks, deletes nothing") << true << ""
                                                       << " asks | user=bob pass= | - locked";
    }
    void starts() {
        QFETCH(bool, lock);
        QFETCH(QString, login);
        QFETCH(QString, after);
        if (lock) // the row's "locked" entry shows it took
            run("dbus-send", {"--session", "--print-reply", "--dest=org.freedesktop.secrets",
                              "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                              "array:objpath:/org/freedesktop/secrets/collection/login"});
        AgentSession s;
        s.server.addaccount("bob", "other");
        s.folder.write("vars.ini", saved);
        principal::Main();
        const auto window = [&] {
            return s.form->password->text() + (s.form->isMinimized() ? " minimised" : "") +
                   (principal::connstate == 2 ? " connected"
                    : s.showing(110)          ? " asks"
                                              : "");
        };
        QVERIFY(waitfor([&] { return window().contains(QRegularExpression("connected|asks")); }));
        if (!login.isEmpty()) { // typed, then Enter in the password box
            s.form->usuario->setText(login);
            s.form->password->setText("other");
            s.form->password_KeyDown(13, 0);
        }
        const auto now = [&] {
            principal::writevars(); // what a save writes at this moment
            saved = s.folder.read("vars.ini");
            return QStringList{window(), QString(saved).split("\r\n").mid(0, 2).join(' '),
                               entry("alice") + ' ' + entry("bob")}
                .join(" | ");
        };
        QVERIFY2(waitfor([&] { return now() == after; }), qPrintable(now()));
    }
};

QTEST_MAIN(Keyring)
#include "tst_keyring.moc"
