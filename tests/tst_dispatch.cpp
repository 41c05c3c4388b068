// Dispatch: every link is logged first, then handed to the desktop, to an
// external manager, or to the spool while a transfer runs. The spool list:
// moves, removal, the buttons' states, and spool.ini kept current.
#include "app/quillharbor.h"
#include "queue/comandospool.h"
#include "queue/dispatch.h"
#include "support/testsupport.h"
#include "support/urlcatcher.h"
#include "system/regtools.h"

#include <QFile>
#include <QtTest>

using namespace testsupport;

class Dispatch : public QObject {
    Q_OBJECT
    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<quillharbor> form;

    QStringList loggedlinks() const {
        QStringList links;
        for (const QByteArray& line : folder->read("log.txt").split('\n')) {
            const qsizetype at = line.indexOf(" : Download : ");
            if (at >= 0) links << QString::fromUtf8(line.mid(at + 14)).chopped(1); // drop the CR
        }
        return links;
    }

    // A stand-in program: writes each argument it was given on a line of its own to "<name>.args".
    QString fakeprogram(const QString& name) {
        folder->write(name,
                      "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n");
        QFile::setPermissions(folder->file(name), QFile::ExeOwner | QFile::ReadOwner);
        return folder->file(name);
    }
    bool received(const QString& name, const QString& link) {
        return waitfor([&] { return folder->read(name + ".args") == link.toUtf8() + "\n"; });
    }

    void choosemanager(QRadioButton* manager) {
        // Set the options directly: detection is not what is tested here.
        const QSignalBlocker quiet(form->Check1);
        form->Check1->setValue(1);
        manager->setEnabled(true);
        manager->setChecked(true);
    }

    void fill(const QStringList& rows, int selected) {
        for (const QString& row : rows)
            form->spoollist->AddItem(row);
        form->spoollist->setListIndex(selected);
    }
    // The spool's rows, the selected one in brackets.
    QString shown() const {
        QStringList rows = form->spoollist->items();
        const int at = form->spoollist->ListIndex();
        if (at >= 0) rows[at] = '[' + rows[at] + ']';
        return rows.join(' ');
    }
    // All three buttons enabled (1) or disabled (0); -1 when they differ.
    int buttons() const {
        const int up = form->sup->isEnabled();
        return up == form->sdown->isEnabled() && up == form->scancel->isEnabled() ? up : -1;
    }

  private slots:
    void init() {
        folder = std::make_unique<ProgramFolder>();
        form = freshwindow();
        form->show();
    }
    void cleanup() {
        form.reset();
        folder.reset();
        regtools::dapath.clear();
        regtools::grpath.clear();
    }

    void ed2kGoesToTheDesktopEvenDuringATransfer() {
        form->bajando = true;
        {
            UrlCatcher catcher("ed2k");
            dispatchlink("ED2K://server.example/file");
            QCOMPARE(catcher.opened, QList<QUrl>{QUrl("ed2k://server.example/file")});
        }
        // Handed on: out of the file.
        QVERIFY(waitfor([&] { return folder->read("spool.ini").isEmpty(); }));

        // A real ed2k link is no well-formed URL: the desktop's opener gets it unchanged.
        const QString link = "ed2k://|file|a b;$(x).avi|1234|0123456789ABCDEF0123456789ABCDEF|/";
        fakeprogram("xdg-open");
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(folder->path()) + ":" + path);
        dispatchlink(link);
        qputenv("PATH", path);
        QVERIFY(received("xdg-open", link));
        QCOMPARE(loggedlinks(), QStringList({"ED2K://server.example/file", link}));
        QCOMPARE(form->spoollist->ListCount(), 0);
    }

    void otherSchemesAreOnlyLogged() {
        form->bajando = true; // would spool an http link
        const QStringList links{"https://h/a", "ftp://h/b", "", "ERR:1\r\n", "htt://h/c"};
        for (const QString& link : links)
            dispatchlink(link);
        // A line break inside a link cannot start a line of its own.
        QCOMPARE(loggedlinks(), (links.mid(0, 3) + QStringList{"ERR:1%0D%0A", "htt://h/c"}));
        QCOMPARE(form->spoollist->ListCount(), 0);
    }

    void httpDuringATransferWaitsLastInTheSpool() {
        form->spoollist->AddItem("http://h/first");
        form->bajando = true;
        dispatchlink("HTTP://H/Second");
        QCOMPARE(form->spoollist->items(), QStringList({"http://h/first", "HTTP://H/Second"}));
        QCOMPARE(folder->read("spool.ini"), "http://h/first\r\nHTTP://H/Second\r\n");
    }

    // Started at once, also during a transfer, with the link as one argument
    // that no shell ever sees.
    void externalManagerGetsTheLinkAsOneArgument() {
        const QString link = "http://h/a b\"c';$(touch pwned)`id`.zip";
        regtools::grpath = fakeprogram("get right");
        choosemanager(form->GetRight);
        form->bajando = true;
        dispatchlink(link);
        QVERIFY(received("get right", link));
        QVERIFY(!folder->exists("pwned"));
        QCOMPARE(form->spoollist->ListCount(), 0);

        regtools::dapath = fakeprogram("accelerator");
        choosemanager(form->DownloadAccelerator); // excludes GetRight
        dispatchlink("http://h/2");
        QVERIFY(received("accelerator", "http://h/2"));
    }

    void tickedWithNoManagerSelectedOnlyLogs() {
        const QSignalBlocker quiet(form->Check1);
        form->Check1->setValue(1);
        dispatchlink("http://127.0.0.1:1/x");
        QCOMPARE(loggedlinks(), QStringList({"http://127.0.0.1:1/x"}));
        QCOMPARE(form->spoollist->ListCount(), 0);
        QVERIFY(!form->bajando);
    }

    void selectingARowEnablesTheButtons() {
        fill({"L1", "L2"}, -1);
        QCOMPARE(buttons(), 0);
        QTest::mouseClick(form->spoollist->viewport(), Qt::LeftButton, {},
                          form->spoollist->visualItemRect(form->spoollist->item(1)).center());
        QCOMPARE(shown(), "L1 [L2]");
        QCOMPARE(buttons(), 1);
    }

    // Moves keep the moved entry selected and never change the buttons;
    // cancel removes the selected row and disables them.
    void movesAndCancel() {
        fill({"L1", "L2", "L3"}, 1);
        form->spoollist_Click();
        form->sdown_Click();
        QCOMPARE(shown(), "L1 L3 [L2]");
        QVERIFY(waitfor([&] { return folder->read("spool.ini") == "L1\r\nL3\r\nL2\r\n"; }));
        form->sdown_Click(); // the last row: nothing moves
        QCOMPARE(shown(), "L1 L3 [L2]");
        form->sup_Click();
        form->sup_Click();
        QCOMPARE(shown(), "[L2] L1 L3");
        form->sup_Click(); // the first row: nothing moves
        QCOMPARE(shown(), "[L2] L1 L3");
        QCOMPARE(buttons(), 1);

        form->spoollist->setListIndex(1);
        form->scancel_Click();
        QCOMPARE(shown(), "L2 L3");
        QCOMPARE(buttons(), 0);
        QVERIFY(waitfor([&] { return folder->read("spool.ini") == "L2\r\nL3\r\n"; }));
    }

    void withoutSelectionNothingMoves() {
        fill({"L1", "L2", "L3"}, -1);
        form->spoollist_Click(); // enabled although nothing is selected
        form->sdown_Click();
        form->sup_Click();
        form->scancel_Click();
        QCOMPARE(shown(), "L1 L2 L3");
        QCOMPARE(buttons(), 0);
        QVERIFY(!folder->exists("spool.ini")); // nothing changed, nothing written
    }

    void nothingLeavesWhileDisconnected() {
        fill({"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"}, -1);
        for (int tick = 0; tick < 5; ++tick)
            comandospool::spoolnext();
        QCOMPARE(form->spoollist->ListCount(), 2);
    }
};

QTEST_MAIN(Dispatch)
#include "tst_dispatch.moc"
