// Start-up on a real window in both languages, starting states, the keyboard; the settings
// and spool files read at start and written since, on any disk; and closing.
#include "app/principal.h"
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "log/logfunctions.h"
#include "platform/autostart.h"
#include "platform/resstrings.h"
#include "platform/textfile.h"
#include "platform/winsock.h"
#include "queue/comandospool.h"
#include "support/testsupport.h"
#include "windows/createuser.h"

#include <QAccessible>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;
using namespace Qt::StringLiterals;

namespace {
// What the window took from the stored state, beside a first start's;
// FOLDER stands for `folder`.
QString applied(const quillharbor& form, const QString& folder, bool hint = true) {
    QString where = QDir::fromNativeSeparators(form.downloaddir->Path());
    if (where == folder) where = "FOLDER";
    if (where == QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
        where = "documents";
    const QString user = form.usuario->text(), pass = form.password->text();
    const QStringList spool = form.spoollist->items();
    const std::pair<bool, QString> parts[] = {
        {!user.isEmpty(), "user '" + user + "'"},
        {!pass.isEmpty(), "pass '" + pass + "'"},
        {form.Check1->Value() != 0, "external1"},
        {form.Check2->Value() != 0, "autostart"},
        {principal::umsgflag != 0, "umsg"},
        {where != QStandardPaths::writableLocation(QStandardPaths::DownloadLocation), where},
        {!spool.isEmpty(), "spool '" + spool.join('|') + "'"},
        {hint && createuser::instance(), "hint"},
        {form.windowState().testFlag(Qt::WindowMinimized), "minimised"},
        {principal::connstate != 0, "connecting"}};
    QStringList shown;
    for (const auto& [when, part] : parts)
        if (when) shown << part;
    return shown.join(", ");
}

ino_t inode(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}
} // namespace

class Startup : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() {
        platform::resetlanguage();
        delete createuser::instance();
    }

    void labelsAndStartingStates_data() {
        QTest::addColumn<bool>("spanish");
        QTest::newRow("english") << false;
        QTest::newRow("spanish") << true;
    }
    void labelsAndStartingStates() {
        QFETCH(bool, spanish);
        platform::setlanguage(spanish ? platform::Language::Spanish : platform::Language::English);
        ProgramFolder folder;
        folder.write("vars.ini", "umsg=0\r\n"); // the create-user hint shows
        auto form = freshwindow();
        principal::Main();
        QVERIFY(form->isVisible());
        noticewindow* hint = createuser::instance();
        QVERIFY(hint && hint->isVisible() && !hint->isModal());
        // Text beyond ASCII from the string table, on a caption and a screen reader's name.
        QCOMPARE(form->Label2->text(), spanish ? "Contraseña : " : "Password : ");
        QCOMPARE(QAccessible::queryAccessibleInterface(form->Shape2)->text(QAccessible::Name),
                 spanish ? "Conexión" : "Connection");
        // The pictures and the light have a name, which starts their tip.
        for (QWidget* control :
             QWidgetList{form->CancelButton, form->sup, form->sdown, form->scancel, form->Shape2}) {
            const QString name =
                QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
            QVERIFY(!name.isEmpty() && control->toolTip().startsWith(name));
        }
        QVERIFY(form->conectar->isEnabled() && form->statustimer->Enabled());
        for (QWidget* off : QWidgetList{form->desconectar, form->sup, form->sdown, form->scancel,
                                        form->GetRight, form->DownloadAccelerator})
            QVERIFY(!off->isEnabled());
        QVERIFY(!form->reintentos->Enabled() && !form->bajando && !form->CancelSearch);

        // Every caption fits its control; push buttons ask for more room than it needs.
        for (QWidget* control : form->findChildren<QWidget*>()) {
            const QString text = control->property("text").toString();
            const auto* frame = qobject_cast<QGroupBox*>(control);
            const int needed = frame ? frame->fontMetrics().horizontalAdvance(frame->title()) + 16
                               : qobject_cast<QPushButton*>(control)
                                   ? control->fontMetrics().horizontalAdvance(text) + 8
                                   : control->sizeHint().width();
            if (frame || (!text.isEmpty() && (qobject_cast<QLabel*>(control) ||
                                              qobject_cast<QAbstractButton*>(control))))
                QVERIFY2(needed <= control->width(),
                         qPrintable(control->objectName() + ' ' + text));
        }
    }

    // The keyboard: Delete or Backspace on a chosen spool row removes it as
    // the remove button does, the password shows "*".
    void keyboard() {
        ProgramFolder folder;
        folder.write("vars.ini", "user=ana\r\n");
        folder.write("spool.ini", "http://h/1\r\nhttp://h/2\r\nhttp://h/3\r\n");
        auto form = freshwindow();
        principal::Main();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        // A stored user name: the typing starts in the password box.
        QCOMPARE(QApplication::focusWidget(), form->password);
        QTest::keyClicks(form->password, "pw1");
        QCOMPARE(form->password->displayText(), QStringLiteral("***"));

        platform::ListBox& spool = *form->spoollist;
        spool.setFocus();
        QTest::keyClick(&spool, Qt::Key_Delete); // no row chosen: the button is off, so is the key
        QCOMPARE(spool.ListCount(), 3);
        QTRY_COMPARE(spool.count(), 3); // rows read in a burst show together
        QTest::mouseClick(spool.viewport(), Qt::LeftButton, {},
                          spool.visualItemRect(spool.item(1)).center());
        QVERIFY(form->scancel->isEnabled());
        QTest::keyClick(&spool, Qt::Key_Period); // "." has the Delete key's code in Qt
        QTest::keyClick(&spool, Qt::Key_Delete);
        QCOMPARE(spool.items(), QStringList({"http://h/1", "http://h/3"}));
        QVERIFY(!form->scancel->isEnabled());
        QTRY_COMPARE(folder.read("spool.ini"), "http://h/1\r\nhttp://h/3\r\n");
        QTest::keyClick(&spool, Qt::Key_Down);
        QTest::keyClick(&spool, Qt::Key_Backspace);
        QCOMPARE(spool.ListCount(), 1);
    }

    // Read at start, written back, read again: the same each time (without a session bus,
    // the password stays in vars.ini). Keys end at the first "=", the last of a key wins, any
    // line end counts, bad lines are passed over; bytes that are not UTF-8 come back unchanged.
    // The download folder is the desktop's (made when missing) unless the stored one exists,
    // the documents folder when it is empty.
    void storedstate_data() {
        QTest::addColumn<QByteArray>("vars");    // null: no file
        QTest::addColumn<QByteArray>("spool");   // null: no file
        QTest::addColumn<QString>("applied");    // see applied()
        QTest::addColumn<QByteArray>("written"); // vars.ini written back; "" not compared
        const QByteArray none,
            every = "user= ana \r\npass=p=ss=word,#\r\ndownloaddir=FOLDER\r\n"
                    "external1=0\r\numsg=1\r\nautostart=0\r\n",
            rest = "downloaddir=DOWNLOADS\r\nexternal1=0\r\numsg=0\r\nautostart=0\r\n";
        QTest::newRow("no files") << none << none << "" << none;
        QTest::newRow("every value")
            << every << "http://h/1\r\nhttp://h/2\r\n"_ba
            << "user ' ana ', pass 'p=ss=word,#', umsg, FOLDER, spool 'http://h/1|http://h/2'"
            << every;
        QTest::newRow("any line end, bad lines")
            << "user=first\rUser=capital\ruser =blank\rno equals sign here\r"
               "pass=a\nb\r\nuser=second\nautostart=7\rumsg=abc\rexternal1=x\r"_ba
            << "http://a/1\r\n\r\nhttp://a/3\rhttp://a/4\nhttp://a/5"_ba
            << "user 'second', pass 'a', spool 'http://a/1||http://a/3|http://a/4|http://a/5'"
            << none;
        // U+1F4A9's second half lies among the stand-ins for lone bytes.
        QTest::newRow("bytes of another encoding")
            << "user=jos\xe9\npass=\xf0\x9f\x92\xa9\xff=\xc3\xa9\n"_ba << none
            << "user 'jos" + QString(QChar(0xDCE9)) + "', pass '\U0001F4A9" + QChar(0xDCFF) +
                   "=\u00e9'"
            << "user=jos\xe9\r\npass=\xf0\x9f\x92\xa9\xff=\xc3\xa9\r\n"_ba + rest;
        // A mark that starts a file is an editor's; elsewhere it is a character.
        QTest::newRow("byte-order marks")
            << "\xef\xbb\xbfuser=ana\npass=\xe7\xef\xef\xbb\xbf\n"_ba
            << "\xef\xbb\xbfhttp://h/1\r\n\xef\xbb\xbfhttp://h/2\r\n"_ba
            << "user 'ana', pass '" + QString(QChar(0xDCE7)) + QChar(0xDCEF) + QChar(0xFEFF) +
                   "', spool 'http://h/1|" + QChar(0xFEFF) + "http://h/2'"
            << "user=ana\r\npass=\xe7\xef\xef\xbb\xbf\r\n"_ba + rest;
        QTest::newRow("folder empty") << "downloaddir=\r\n"_ba << none << "documents" << none;
        QTest::newRow("folder gone")
            << "downloaddir=/no/such/folder/anywhere\r\n"_ba << none << "" << none;
        QTest::newRow("auto-login without a password")
            << "user=ana\r\npass=\r\nautostart=1\r\n"_ba << none << "user 'ana', autostart" << none;
        QTest::newRow("auto-login")
            << "user=ana\r\npass=secret\r\nautostart=1\r\numsg=1\r\n"_ba << none
            << "user 'ana', pass 'secret', autostart, umsg, minimised, connecting" << none;
    }
    void storedstate() {
        QFETCH(QByteArray, vars);
        QFETCH(QByteArray, spool);
        QFETCH(QString, applied);
        QFETCH(QByteArray, written);
        ProgramFolder folder;
        const QString odd = folder.file("a=b folder");
        QDir().mkpath(odd);
        const QString downloads =
            QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        QDir(downloads).removeRecursively();
        QVERIFY(QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
        const auto placed = [&](QByteArray bytes) {
            return bytes.replace("FOLDER", QFile::encodeName(odd))
                .replace("DOWNLOADS", QFile::encodeName(downloads));
        };
        if (!vars.isNull()) folder.write("vars.ini", placed(vars));
        if (!spool.isNull()) folder.write("spool.ini", spool);
        for (int round = 0; round < 2; ++round) {
            auto form = freshwindow();
            form->alfa->RemoteHost = QStringLiteral("127.0.0.1");
            form->alfa->RemotePort = 1; // nothing listens: the attempt itself is what counts
            principal::Main();
            // Written back as umsg 0, the next start brings the hint.
            QCOMPARE(::applied(*form, odd, round == 0), applied);
            if (round == 0) {
                // Nothing is written at start.
                QCOMPARE(folder.exists("vars.ini"), !vars.isNull());
                QCOMPARE(folder.exists("spool.ini"), !spool.isNull());
                QVERIFY(principal::writevars() && principal::spoolfile().write());
                if (!written.isEmpty()) QCOMPARE(folder.read("vars.ini"), placed(written));
                const QStringList rows = form->spoollist->items();
                QCOMPARE(folder.read("spool.ini"),
                         rows.isEmpty() ? QByteArray() : (rows.join("\r\n") + "\r\n").toUtf8());
            }
            form->desconectar_Click();
            delete createuser::instance();
        }
    }

    // Each way the program writes a file. With room: the new content, readable by its owner
    // only (also when the old file was readable to all); a whole file is replaced by a new one,
    // so a reader never sees half of it. On a full disk the write fails and the old file stays
    // whole, with nothing beside it. The old files end ten bytes short of a page, so that a new
    // line starts on the disk's last free bytes and needs a page it lacks.
    void writes_data() {
        QTest::addColumn<int>("write");
        QTest::addColumn<bool>("full");
        const char* names[] = {"settings",     "spool, whole", "spool, a link",
                               "log, cleared", "log, a link",  "autostart entry"};
        for (int write = 0; write < 6; ++write)
            for (bool full : {false, true})
                QTest::addRow("%s%s", names[write], full ? ", full disk" : "") << write << full;
    }
    void writes() {
        QFETCH(int, write);
        QFETCH(bool, full);
        ProgramFolder folder;
        const SmallDisk disk(full ? folder.path() : QString(), 64);
        if (full && !disk.mounted())
            QSKIP("a small full disk needs root and a mount namespace of our own (unshare)");
        const QDir dir(folder.path());
        const QString path =
            dir.filePath(QStringList{"vars.ini", "spool.ini", "spool.ini", "log.txt", "log.txt",
                                     "config/autostart/quillharbor.desktop"}[write]);
        const QByteArray config = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath("config")));
        const auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", config); });
        auto form = freshwindow();
        const qint64 page = ::sysconf(_SC_PAGESIZE);
        QByteArray old(int(page - 10), 'o');
        if (write == 1 || write == 2) {
            form->spoollist->AddItem(QString(int(page - 12), 'a'));
            QVERIFY(principal::spoolfile().write());
            old = readfile(path);
        } else {
            dir.mkpath(QFileInfo(path).path());
            writefile(path, old);
        }
        QCOMPARE(old.size(), page - 10);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ReadGroup | QFileDevice::ReadOther);
        const ino_t before = inode(path);
        if (full) disk.fill(dir.filePath("filler"));

        const QString link = "http://h/" + QString(40, 'x');
        form->spoollist->AddItem(link);
        // What each write reports; the ones that report nothing give -1.
        const std::function<int()> writes[] = {
            [] { return int(principal::writevars()); },
            [] { return int(principal::spoolfile().write()); },
            [&] { return principal::spoolfile().append(link), -1; },
            [] { return logfunctions::clearlog(nullptr), -1; },
            [&] { return logfunctions::writelog(link, 1), -1; },
            [] { return int(platform::setautostart("Quillharbor", "/usr/bin/quillharbor")); }};
        const int written = writes[write]();
        const QByteArray now = readfile(path);
        if (written >= 0) QCOMPARE(written == 1, !full);
        QCOMPARE(now == old, full);
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files).size(),
                 full && write != 5 ? 2 : 1);
        if (full) return;
        const bool appended = write == 2 || write == 4;
        QCOMPARE(inode(path) == before, appended);
        if (appended) QVERIFY(now.startsWith(old) && now.contains(link.toUtf8()));
        if (write != 5) QCOMPARE(QFileInfo(path).permissions() & 0x0077, 0);
    }

    // Closing the window saves the spool, the link in flight first, empties the list, stops
    // the transfer, closes the connection without a word to the server and ends the program;
    // all of it also when the settings cannot be written.
    void closing() {
        int endings = 0;
        principal::setendprogram([&] { ++endings; });
        ProgramFolder folder;
        QDir().mkpath(folder.file("vars.ini")); // cannot be replaced by a file
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        auto form = freshwindow();
        form->alfa->RemoteHost = QStringLiteral("127.0.0.1");
        form->alfa->RemotePort = server.serverPort();
        form->alfa->Connect();
        QVERIFY(waitfor([&] { return server.hasPendingConnections(); }));
        QTcpSocket* peer = server.nextPendingConnection();
        QVERIFY(waitfor([&] { return form->alfa->State() == platform::Winsock::sckConnected; }));
        form->spoollist->AddItem("http://h/next");
        comandospool::inflightlink now("http://h/now");
        now.fetching();
        form->bajando = true;
        QVERIFY(!principal::writevars());
        form->show();
        form->close();
        principal::setendprogram(nullptr);
        QCOMPARE(endings, 1);
        QCOMPARE(folder.read("spool.ini"), "http://h/now\r\nhttp://h/next\r\n");
        QCOMPARE(form->spoollist->ListCount(), 0);
        QVERIFY(form->CancelSearch);
        QCOMPARE(form->alfa->State(), int(platform::Winsock::sckClosed));
        QVERIFY(waitfor([&] {
            return peer->state() == QAbstractSocket::UnconnectedState || peer->bytesAvailable() > 0;
        }));
        QCOMPARE(peer->readAll(), QByteArray());
    }
};

QTEST_MAIN(Startup)
#include "tst_startup.moc"
