// The spool list: moves, removal, the buttons' states, and spool.ini kept current.
#include "app/quillharbor.h"
#include "queue/comandospool.h"
#include "support/testsupport.h"

#include <QtTest>

using namespace testsupport;

class Spool : public QObject {
    Q_OBJECT
    ProgramFolder* folder = nullptr;
    std::unique_ptr<quillharbor> form;

    void fill(const QStringList& rows, int selected) {
        for (const QString& row : rows)
            form->spoollist->AddItem(row);
        form->spoollist->setListIndex(selected);
    }
    bool buttons() const {
        return form->sup->isEnabled() && form->sdown->isEnabled() && form->scancel->isEnabled();
    }
    bool nobuttons() const {
        return !form->sup->isEnabled() && !form->sdown->isEnabled() && !form->scancel->isEnabled();
    }
    QByteArray spoolfile() const { return folder->read(QStringLiteral("spool.ini")); }

private slots:
    void init() {
        folder = new ProgramFolder;
        form = freshwindow();
        form->show();
    }
    void cleanup() {
        form.reset();
        delete folder;
    }

    void selectingARowEnablesTheButtons() {
        fill({"L1", "L2"}, -1);
        QVERIFY(nobuttons());
        QTest::mouseClick(form->spoollist->viewport(), Qt::LeftButton, {},
                          form->spoollist->visualItemRect(form->spoollist->item(1)).center());
        QCOMPARE(form->spoollist->ListIndex(), 1);
        QVERIFY(buttons());
    }

    void movesKeepTheMovedEntrySelected() {
        fill({"L1", "L2", "L3"}, 1);
        form->spoollist_Click();
        form->sdown_Click();
        QCOMPARE(form->spoollist->items(), QStringList({"L1", "L3", "L2"}));
        QCOMPARE(form->spoollist->ListIndex(), 2);
        QCOMPARE(spoolfile(), QByteArray("L1\r\nL3\r\nL2\r\n"));
        form->sdown_Click(); // the last row: nothing moves
        QCOMPARE(form->spoollist->items(), QStringList({"L1", "L3", "L2"}));
        QCOMPARE(form->spoollist->ListIndex(), 2);
        form->sup_Click();
        form->sup_Click();
        QCOMPARE(form->spoollist->items(), QStringList({"L2", "L1", "L3"}));
        QCOMPARE(form->spoollist->ListIndex(), 0);
        form->sup_Click(); // the first row: nothing moves
        QCOMPARE(form->spoollist->items(), QStringList({"L2", "L1", "L3"}));
        QVERIFY(buttons()); // moves never change the buttons
        QCOMPARE(form->spoollist->ListCount(), 3);
    }

    void cancelRemovesTheSelectedRowAndDisablesTheButtons() {
        fill({"L1", "L2", "L3"}, 1);
        form->spoollist_Click();
        form->scancel_Click();
        QCOMPARE(form->spoollist->items(), QStringList({"L1", "L3"}));
        QCOMPARE(form->spoollist->ListIndex(), -1);
        QVERIFY(nobuttons());
        QCOMPARE(spoolfile(), QByteArray("L1\r\nL3\r\n"));
    }

    void withoutSelectionNothingMoves() {
        fill({"L1", "L2", "L3"}, -1);
        form->spoollist_Click(); // enabled although nothing is selected
        form->sdown_Click();
        form->sup_Click();
        form->scancel_Click();
        QCOMPARE(form->spoollist->items(), QStringList({"L1", "L2", "L3"}));
        QVERIFY(nobuttons());
        QVERIFY(!folder->exists(QStringLiteral("spool.ini"))); // nothing changed, nothing written
    }

    void nothingLeavesWhileDisconnected() {
        fill({"http://127.0.0.1:1/a", "http://127.0.0.1:1/b"}, -1);
        for (int tick = 0; tick < 5; ++tick)
            comandospool::spoolnext();
        QCOMPARE(form->spoollist->ListCount(), 2);
    }

    void inFlightLinksComeFirstInTheFile() {
        fill({"L2"}, -1);
        {
            comandospool::inflightlink fetching(QStringLiteral("L1"));
            QCOMPARE(spoolfile(), QByteArray("L1\r\nL2\r\n"));
            QCOMPARE(comandospool::spoolentries(), QStringList({"L1", "L2"}));
        }
        QCOMPARE(spoolfile(), QByteArray("L2\r\n"));
    }
};

QTEST_MAIN(Spool)
#include "tst_spool.moc"
