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

class StateFiles : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        if (createuser::instance())
            delete createuser::instance();
    }

    void settingsRoundTripKeepsEveryValue() {
        ProgramFolder folder;
        const QString odd = folder.file(QStringLiteral("a=b folder"));
        QDir().mkpath(odd);
        {
            auto form = freshwindow();
            form->usuario->setText(QStringLiteral(" ana "));
            form->password->setText(QStringLiteral("p=ss=word,#"));
            form->downloaddir->setPath(odd);
            principal::umsgflag = 1;
            QVERIFY(principal::writevars());
        }
        const QByteArray written = folder.read(QStringLiteral("vars.ini"));
        QCOMPARE(written, QByteArray("user= ana \r\npass=p=ss=word,#\r\ndownloaddir=") +
                              QDir::toNativeSeparators(odd).toUtf8() +
                              "\r\nexternal1=0\r\numsg=1\r\nautostart=0\r\n");
        // The password is in clear: only the owner may read it.
        QCOMPARE(QFileInfo(folder.file(QStringLiteral("vars.ini"))).permissions() & 0x0077, 0);

        auto form = freshwindow();
        principal::readvars();
        QCOMPARE(form->usuario->text(), QStringLiteral(" ana "));
        QCOMPARE(form->password->text(), QStringLiteral("p=ss=word,#"));
        QCOMPARE(form->downloaddir->Path(), QDir::toNativeSeparators(odd));
        QCOMPARE(principal::umsgflag, qint16(1));
        QCOMPARE(form->Check1->Value(), 0);
        QCOMPARE(form->Check2->Value(), 0);
    }

    void readerTakesCrOnlyLinesOverridesAndIgnoresBadLines() {
        ProgramFolder folder;
        folder.write(QStringLiteral("vars.ini"),
                     "user=first\rUser=capital\ruser =blank\rno equals sign here\r"
                     "pass=a\nb\r\nuser=second\rautostart=7\rumsg=abc\rexternal1=x\r");
        auto form = freshwindow();
        principal::readvars();
        QCOMPARE(form->usuario->text(), QStringLiteral("second"));
        QCOMPARE(form->password->text(), QStringLiteral("a\nb")); // a lone LF stays in the line
        QCOMPARE(form->Check2->Value(), 0);  // 7 is no state of the box
        QCOMPARE(form->Check1->Value(), 0);  // not a number: nothing
        QCOMPARE(principal::umsgflag, qint16(0));
        QVERIFY(!createuser::instance()); // not a number: no window
    }

    void missingFileAppliesNothing() {
        ProgramFolder folder;
        auto form = freshwindow();
        const QString before = form->downloaddir->Path();
        principal::readvars();
        principal::readspool();
        QCOMPARE(form->usuario->text(), QString());
        QCOMPARE(form->downloaddir->Path(), before);
        QCOMPARE(form->spoollist->ListCount(), 0);
        QVERIFY(!folder.exists(QStringLiteral("vars.ini"))); // nothing is created at start
    }

    void downloadDirectoryDefaults() {
        ProgramFolder folder;
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QVERIFY(QDir().mkpath(documents));
        folder.write(QStringLiteral("vars.ini"), "downloaddir=\r\n");
        auto form = freshwindow();
        principal::readvars();
        QCOMPARE(form->downloaddir->Path(), QDir::toNativeSeparators(documents));

        folder.write(QStringLiteral("vars.ini"), "downloaddir=/no/such/folder/anywhere\r\n");
        auto second = freshwindow();
        const QString before = second->downloaddir->Path();
        principal::readvars();
        QCOMPARE(second->downloaddir->Path(), before);
    }

    void createUserWindowFollowsUmsg() {
        ProgramFolder folder;
        for (const auto& [line, opens] : {std::pair{"umsg=0\r\n", true}, std::pair{"umsg=1\r\n", false},
                                          std::pair{"user=x\r\n", false}, std::pair{"umsg=2\r\n", true}}) {
            folder.write(QStringLiteral("vars.ini"), line);
            auto form = freshwindow();
            principal::readvars();
            QCOMPARE(createuser::instance() != nullptr, opens);
            cleanup();
        }
    }

    void autostartAndExternalValues() {
        ProgramFolder folder;
        folder.write(QStringLiteral("vars.ini"), "autostart=1\r\nexternal1=0\r\n");
        auto form = freshwindow();
        principal::readvars();
        QCOMPARE(form->Check2->Value(), 1);
        QCOMPARE(form->Check1->Value(), 0);
        QVERIFY(!form->DownloadAccelerator->isEnabled());
        QVERIFY(!form->GetRight->isEnabled());
    }

    void userLineMovesFocusToPassword() {
        ProgramFolder folder;
        folder.write(QStringLiteral("vars.ini"), "user=ana\r\n");
        auto form = freshwindow();
        principal::readvars();
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        QCOMPARE(QApplication::focusWidget(), form->password);
    }

    void spoolRoundTripKeepsEmptyEntries() {
        ProgramFolder folder;
        folder.write(QStringLiteral("spool.ini"), "http://a/1\r\n\r\nhttp://a/3\rhttp://a/4");
        auto form = freshwindow();
        principal::readspool();
        QCOMPARE(form->spoollist->items(),
                 QStringList({"http://a/1", "", "http://a/3", "http://a/4"}));
        QVERIFY(principal::writespool(form->spoollist->items()));
        QCOMPARE(folder.read(QStringLiteral("spool.ini")),
                 QByteArray("http://a/1\r\n\r\nhttp://a/3\r\nhttp://a/4\r\n"));
        QVERIFY(principal::writespool({}));
        QCOMPARE(folder.read(QStringLiteral("spool.ini")), QByteArray());
    }

    void writesReplaceTheFileWhole() {
        ProgramFolder folder;
        auto form = freshwindow();
        QVERIFY(principal::writespool({QStringLiteral("http://old/")}));
        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(folder.file(QStringLiteral("spool.ini"))).constData(), &before), 0);
        QVERIFY(principal::writespool({QStringLiteral("http://new/")}));
        struct stat after {};
        QCOMPARE(::stat(QFile::encodeName(folder.file(QStringLiteral("spool.ini"))).constData(), &after), 0);
        // A new file renamed over the old one: a reader never sees half of it.
        QVERIFY(before.st_ino != after.st_ino);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList({"spool.ini"}));

        // A write that cannot happen reports it and leaves nothing behind.
        QDir().mkpath(folder.file(QStringLiteral("vars.ini")));
        QVERIFY(!principal::writevars());
    }
};

QTEST_MAIN(StateFiles)
#include "tst_statefiles.moc"
