// The settings and spool files: what is written comes back, bad lines are harmless.
#include "app/principal.h"
#include "app/quillharbor.h"
#include "app/statefiles.h"
#include "support/testsupport.h"
#include "windows/createuser.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtTest>
#include <sys/stat.h>

using namespace testsupport;

namespace {
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

    void readerTakesCrOnlyLinesOverridesAndIgnoresBadLines() {
        ProgramFolder folder;
        auto form =
            loaded(folder, "user=first\rUser=capital\ruser =blank\rno equals sign here\r"
                           "pass=a\nb\r\nuser=second\rautostart=7\rumsg=abc\rexternal1=x\r");
        QCOMPARE(form->usuario->text(), "second");
        QCOMPARE(form->password->text(), "a\nb"); // a lone LF stays in the line
        QCOMPARE(form->Check2->Value(), 0);       // 7 is no state of the box
        QCOMPARE(form->Check1->Value(), 0);       // not a number: nothing
        QCOMPARE(principal::umsgflag, qint16(0));
        QVERIFY(!createuser::instance()); // not a number: no window
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
        folder.write("spool.ini", "http://a/1\r\n\r\nhttp://a/3\rhttp://a/4");
        auto form = freshwindow();
        principal::readspool();
        QCOMPARE(form->spoollist->items(),
                 QStringList({"http://a/1", "", "http://a/3", "http://a/4"}));
        QVERIFY(principal::writespool(form->spoollist->items()));
        QCOMPARE(folder.read("spool.ini"), "http://a/1\r\n\r\nhttp://a/3\r\nhttp://a/4\r\n");
        QVERIFY(principal::writespool({}));
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
        QVERIFY(principal::writespool({"http://old/"}));
        const auto before = inode();
        QVERIFY(principal::writespool({"http://new/"}));
        // A new file renamed over the old one: a reader never sees half of it.
        QVERIFY(before != 0 && inode() != 0 && inode() != before);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList({"spool.ini"}));

        // A write that cannot happen reports it and leaves nothing behind.
        QDir().mkpath(folder.file("vars.ini"));
        QVERIFY(!principal::writevars());
    }
};

QTEST_MAIN(StateFiles)
#include "tst_statefiles.moc"
