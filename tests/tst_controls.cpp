// The control stand-ins the rest of the program leans on.
#include "platform/controls.h"
#include "support/testsupport.h"

#include <QtTest>

using namespace platform;

class Controls : public QObject {
    Q_OBJECT
  private slots:
    void timerTicksGoOnWhileAHandlerYields() {
        Timer timer(20, false, nullptr);
        int ticks = 0;
        int deepest = 0;
        int depth = 0;
        connect(&timer, &Timer::Tick, [&] {
            ++ticks;
            ++depth;
            deepest = std::max(deepest, depth);
            if (ticks == 1) // the first tick yields for a while, as a download does
                testsupport::pump(300);
            --depth;
        });
        timer.setEnabled(true);
        QVERIFY(testsupport::waitfor([&] { return ticks >= 5 && depth == 0; }));
        QVERIFY(deepest >= 2);
        timer.setEnabled(false);
    }

    // A tick already due when the timer is switched off does not come.
    void switchedOffTimerStaysSilent() {
        Timer timer(1, false, nullptr);
        int ticks = 0;
        connect(&timer, &Timer::Tick, [&] { ++ticks; });
        for (int round = 0; round < 20; ++round) {
            timer.setEnabled(true);
            QThread::msleep(5);
            QCoreApplication::processEvents(); // the overdue timeout queues a tick
            const int before = ticks;
            timer.setEnabled(false);
            testsupport::pump(10);
            QCOMPARE(ticks, before);
        }
        QVERIFY(ticks < 20); // some rounds had a tick queued at the switch-off
    }

    void progressBarScalesAnyRange() {
        ProgressBar bar(nullptr);
        QVERIFY(bar.setMax(5.0 * 1024 * 1024 * 1024)); // beyond 32 bits
        QVERIFY(bar.setValue(2.5 * 1024 * 1024 * 1024));
        QCOMPARE(bar.value(), 5000);
        QVERIFY(!bar.setValue(6.0 * 1024 * 1024 * 1024)); // above the maximum: refused
        QCOMPARE(bar.Value(), 2.5 * 1024 * 1024 * 1024);
        QVERIFY(!bar.setMax(0));
    }

    void listBoxSelectionAfterRemoval() {
        ListBox list(nullptr);
        for (const char* row : {"a", "b", "c"})
            list.AddItem(QString::fromLatin1(row));
        list.setListIndex(2);
        QVERIFY(list.RemoveItem(0));
        QCOMPARE(list.ListIndex(), 1); // the same entry stays selected
        QVERIFY(list.RemoveItem(1));
        QCOMPARE(list.ListIndex(), -1); // the selected entry went: no selection
        QVERIFY(!list.RemoveItem(5));
        QCOMPARE(list.List(7), QString());
    }

    void colourValuesAreBlueGreenRed() {
        QCOMPARE(vbcolor(vbRed), QColor(255, 0, 0));
        QCOMPARE(vbcolor(vbGreen), QColor(0, 255, 0));
        QCOMPARE(vbcolor(0x00FF0000), QColor(0, 0, 255));
    }
};

QTEST_MAIN(Controls)
#include "tst_controls.moc"
