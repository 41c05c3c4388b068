// The settings and spool files: what is written comes back, bad lines are harmless.
#include "app/principal.h"
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "log/logfunctions.h"
#include "platform/autostart.h"
#include "platform/paths.h"
#include "platform/textfile.h"
#include "support/testsupport.h"
#include "windows/createuser.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testsupport;

namespace {
// As root the test runs in a mount namespace of its own, where it can mount
// a small file system and fill it.
bool privatemounts = false;

// A fresh main window after the program read `vars` as its vars.ini.
std::unique_ptr<quillharbor> loaded(const ProgramFolder& folder, const QByteArray& vars) {
    folder.write("vars.ini", vars);
    auto form = freshwindow();
    principal::readvars();
    return form;
}
} // namespace

class StateFiles : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { delete createuser::instance(); }

    void settingsRoundTripKeepsEveryValue() {
        ProgramFolder folder;
        const QString odd = folder.file("a=b folder");
        QDir().mkpath(odd);
        {
            auto form = freshwindow();
            form->usuario->setText(" ana ");
            form->password->setText("p=ss=word,#");
            form->downloaddir->setPath(odd);
            principal::umsgflag = 1;
            QVERIFY(principal::writevars());
        }
        const QByteArray written = folder.read("vars.ini");
        QCOMPARE(written, "user= ana \r\npass=p=ss=word,#\r\ndownloaddir=" +
                              QDir::toNativeSeparators(odd).toUtf8() +
                              "\r\nexternal1=0\r\numsg=1\r\nautostart=0\r\n");
        // The password is in clear: only the owner may read it.
        QCOMPARE(QFileInfo(folder.file("vars.ini")).permissions() & 0x0077, 0);

        auto form = loaded(folder, written);
        QCOMPARE(form->usuario->text(), " ana ");
        QCOMPARE(form->password->text(), "p=ss=word,#");
        QCOMPARE(form->downloaddir->Path(), QDir::toNativeSeparators(odd));
        QCOMPARE(principal::umsgflag, qint16(1));
        QCOMPARE(form->Check1->Value() + form->Check2->Value(), 0);
        // With the user known, the password is what is typed next.
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(QApplication::focusWidget(), form->password);
    }

    void readerTakesAnyLineEndOverridesAndIgnoresBadLines() {
        ProgramFolder folder;
        auto form =
            loaded(folder, "user=first\rUser=capital\ruser =blank\rno equals sign here\r"
                           "pass=a\nb\r\nuser=second\nautostart=7\rumsg=abc\rexternal1=x\r");
        QCOMPARE(form->usuario->text(), "second");
        QCOMPARE(form->password->text(), "a"); // a lone LF ends the line too
        QCOMPARE(form->Check2->Value(), 0);    // 7 is no state of the box
        QCOMPARE(form->Check1->Value(), 0);    // not a number: nothing
        QCOMPARE(principal::umsgflag, qint16(0));
        QVERIFY(!createuser::instance()); // not a number: no window
    }

    // Bytes in another 8-bit encoding come back byte for byte; valid UTF-8
    // is read as such.
    void bytesThatAreNotUtf8ComeBackUnchanged() {
        const QList<QByteArray> pieces{
            "a",        "\xc3\xa9",     "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xff",        "\x80",
            "\xc0\xaf", "\xed\xa0\x80", "\xe2\x82",     "\xf4\x90\x80\x80", "\xed\xb3\xbf"};
        QRandomGenerator random(13);
        for (int i = 0; i < 3000; ++i) {
            QByteArray bytes;
            for (int n = int(random.bounded(8)); n > 0; --n)
                bytes += pieces[random.bounded(int(pieces.size()))];
            QCOMPARE(platform::encodetext(platform::decodetext(bytes)), bytes);
        }
        QCOMPARE(platform::decodetext("\xe2\x82\xac\xe9"), QString("\u20ac") + QChar(0xDCE9));

        ProgramFolder folder;
        auto form = loaded(folder, "user=jos\xe9\npass=\xff=\xc3\xa9\n");
        QCOMPARE(form->password->text(), QChar(0xDCFF) + QString("=\u00e9"));
        QVERIFY(principal::writevars());
        QVERIFY(folder.read("vars.ini").startsWith("user=jos\xe9\r\npass=\xff=\xc3\xa9\r\n"));
    }

    // Every write leaves the state files readable and writable by their owner
    // alone, also files another program had left readable to all.
    void everyWriteLeavesTheFilesOwnerOnly() {
        ProgramFolder folder;
        auto form = freshwindow();
        const auto readabletoall = [&](const char* name) {
            if (!folder.exists(name)) folder.write(name, "x\r\n");
            QFile::setPermissions(folder.file(name),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ReadGroup | QFileDevice::ReadOther);
        };
        const auto owneronly = [&](const char* name) {
            return (QFileInfo(folder.file(name)).permissions() & 0x0077) == 0;
        };
        readabletoall("vars.ini");
        QVERIFY(principal::writevars());
        QVERIFY(owneronly("vars.ini"));
        readabletoall("spool.ini");
        QVERIFY(principal::spoolfile().write());
        QVERIFY(owneronly("spool.ini"));
        readabletoall("spool.ini");
        form->spoollist->AddItem("http://h/1");
        principal::spoolfile().append("http://h/1");
        QVERIFY(owneronly("spool.ini"));
        readabletoall("log.txt");
        logfunctions::writelog("http://h/1", 1);
        QVERIFY(owneronly("log.txt"));
        readabletoall("log.txt");
        logfunctions::clearlog(nullptr);
        QVERIFY(owneronly("log.txt"));
    }

    // On a full disk a write fails and the old file stays whole: nothing
    // short is put in its place, no part of a line is added, nothing is left
    // beside it. The old files end ten bytes short of a page, so that a new
    // line starts on the disk's last free bytes and needs a page it lacks.
    void fullDiskKeepsTheOldFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("write");
        QTest::newRow("settings") << "vars.ini" << 0;
        QTest::newRow("spool, whole") << "spool.ini" << 1;
        QTest::newRow("spool, a link") << "spool.ini" << 2;
        QTest::newRow("log, cleared") << "log.txt" << 3;
        QTest::newRow("log, a link") << "log.txt" << 4;
        QTest::newRow("autostart entry") << "config/autostart/quillharbor.desktop" << 5;
    }
    void fullDiskKeepsTheOldFile() {
        QFETCH(QString, name);
        QFETCH(int, write);
        if (!privatemounts) QSKIP("needs root, for a small file system of its own (unshare -m)");
        QTemporaryDir mountpoint;
        const QByteArray where = QFile::encodeName(mountpoint.path());
        if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k,mode=0700") != 0)
            QSKIP("cannot mount a tmpfs here");
        const std::unique_ptr<const char, void (*)(const char*)> unmount(
            where.constData(), [](const char* path) { ::umount2(path, MNT_DETACH); });
        const QDir disk(mountpoint.path());
        platform::setapppath(disk.path());
        const QByteArray config = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(disk.filePath("config")));
        auto form = freshwindow();

        const qint64 page = ::sysconf(_SC_PAGESIZE);
        QByteArray old;
        if (name == "spool.ini") {
            form->spoollist->AddItem(QString(int(page - 12), 'a'));
            QVERIFY(principal::spoolfile().write());
            old = readfile(disk.filePath(name));
        } else {
            old = QByteArray(int(page - 10), 'o');
            disk.mkpath(QFileInfo(disk.filePath(name)).path());
            writefile(disk.filePath(name), old);
        }
        QCOMPARE(old.size(), page - 10);
        const int filler = ::open(QFile::encodeName(disk.filePath("filler")).constData(),
                                  O_WRONLY | O_CREAT, 0600);
        const QByteArray block(int(page), 'f');
        while (::write(filler, block.constData(), size_t(block.size())) > 0) {
        }
        ::close(filler);

        const QString link = "http://h/" + QString(40, 'x');
        form->spoollist->AddItem(link);
        switch (write) {
        case 0:
            QVERIFY(!principal::writevars());
            break;
        case 1:
            QVERIFY(!principal::spoolfile().write());
            break;
        case 2:
            principal::spoolfile().append(link);
            break;
        case 3:
            logfunctions::clearlog(nullptr);
            break;
        case 4:
            logfunctions::writelog(link, 1);
            break;
        case 5:
            QVERIFY(!platform::setautostart("Quillharbor", "/usr/bin/quillharbor"));
            break;
        }
        QCOMPARE(readfile(disk.filePath(name)), old);
        QCOMPARE(QDir(QFileInfo(disk.filePath(name)).path()).entryList(QDir::Files).size(),
                 name.startsWith("config") ? 1 : 2);
        form.reset();
        qputenv("XDG_CONFIG_HOME", config);
        platform::setapppath(QString());
    }

    void missingFileAppliesNothing() {
        ProgramFolder folder;
        auto form = freshwindow();
        principal::readvars();
        principal::readspool();
        QCOMPARE(form->usuario->text(), QString());
        QCOMPARE(form->spoollist->ListCount(), 0);
        QVERIFY(!folder.exists("vars.ini")); // nothing is created at start
    }

    // No stored folder, or one that is gone: the desktop's download folder,
    // never the directory the program was started in. An empty value: the
    // documents folder.
    void downloadDirectoryDefaults() {
        ProgramFolder folder;
        const QString downloads = QDir::toNativeSeparators(
            QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QVERIFY(QDir().mkpath(documents));
        QDir(downloads).removeRecursively();
        QCOMPARE(loaded(folder, "user=x\r\n")->downloaddir->Path(), downloads);
        QCOMPARE(loaded(folder, "downloaddir=\r\n")->downloaddir->Path(),
                 QDir::toNativeSeparators(documents));
        QCOMPARE(loaded(folder, "downloaddir=/no/such/folder/anywhere\r\n")->downloaddir->Path(),
                 downloads);
        QFile::remove(folder.file("vars.ini"));
        auto form = freshwindow();
        principal::readvars();
        QCOMPARE(form->downloaddir->Path(), downloads);
    }

    void createUserWindowFollowsUmsg() {
        ProgramFolder folder;
        for (const auto& [vars, opens] : {std::pair{"umsg=0\r\n", true},
                                          {"umsg=1\r\n", false},
                                          {"user=x\r\n", false},
                                          {"umsg=2\r\n", true}}) {
            auto form = loaded(folder, vars);
            QVERIFY2((createuser::instance() != nullptr) == opens, vars);
            cleanup();
        }
    }

    void spoolRoundTripKeepsEmptyEntries() {
        ProgramFolder folder;
        folder.write("spool.ini", "http://a/1\r\n\r\nhttp://a/3\rhttp://a/4\nhttp://a/5");
        auto form = freshwindow();
        principal::readspool();
        QCOMPARE(form->spoollist->items(),
                 QStringList({"http://a/1", "", "http://a/3", "http://a/4", "http://a/5"}));
        QVERIFY(principal::spoolfile().write());
        QCOMPARE(folder.read("spool.ini"),
                 "http://a/1\r\n\r\nhttp://a/3\r\nhttp://a/4\r\nhttp://a/5\r\n");
        while (form->spoollist->RemoveItem(0)) {
        }
        QVERIFY(principal::spoolfile().write());
        QCOMPARE(folder.read("spool.ini"), QByteArray());
    }

    void writesReplaceTheFileWhole() {
        ProgramFolder folder;
        auto form = freshwindow();
        const auto inode = [&] {
            struct stat status {};
            return ::stat(QFile::encodeName(folder.file("spool.ini")).constData(), &status) == 0
                       ? status.st_ino
                       : 0;
        };
        form->spoollist->AddItem("http://old/");
        QVERIFY(principal::spoolfile().write());
        const auto before = inode();
        form->spoollist->setList(0, "http://new/");
        QVERIFY(principal::spoolfile().write());
        // A new file renamed over the old one: a reader never sees half of it.
        QVERIFY(before != 0 && inode() != 0 && inode() != before);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList({"spool.ini"}));

        // A write that cannot happen reports it and leaves nothing behind.
        QDir().mkpath(folder.file("vars.ini"));
        QVERIFY(!principal::writevars());
    }
};

int main(int argc, char* argv[]) {
    // Only while the process has a single thread.
    privatemounts = ::unshare(CLONE_NEWNS) == 0 &&
                    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    QApplication application(argc, argv);
    StateFiles test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_statefiles.moc"
