// The log window: one viewer of log.txt, opened from the main window,
// reloaded only when it opens afresh or the log is cleared.
#include "app/quillharbor.h"
#include "log/logfunctions.h"
#include "log/logs.h"
#include "platform/resstrings.h"
#include "support/testsupport.h"

#include <QRegularExpression>
#include <QtTest>

using namespace testsupport;

namespace {
int logwindows() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<logs*>(widget) && widget->isVisible() ? 1 : 0;
    return count;
}

bool closed() {
    return waitfor([] { return logs::instance() == nullptr && logwindows() == 0; });
}
} // namespace

class LogWindow : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() {
        if (logs::instance()) logs::instance()->close();
        QVERIFY(closed());
        platform::resetlanguage();
    }

    void openingOnAMissingLog() {
        platform::setlanguage(platform::Language::Spanish);
        ProgramFolder folder;
        auto form = freshwindow();
        form->show();
        QTest::mouseClick(form->vlog, Qt::LeftButton);
        logs* window = logs::instance();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("logs"));
        QCOMPARE(window->closewin->text(), QStringLiteral("Cerrar Ventana"));
        QCOMPARE(window->dellog->text(), QStringLiteral("Borrar logs"));
        QCOMPARE(window->logfile->geometry(), QRect(7, 8, 555, 329));
        QCOMPARE(window->dellog->geometry(), QRect(184, 344, 137, 25));
        QCOMPARE(window->closewin->geometry(), QRect(329, 344, 233, 25));
        QCOMPARE(window->logfile->toPlainText(), QString());
        QVERIFY(!folder.exists(QStringLiteral("log.txt")));
        // Modeless: the main window stays usable.
        QVERIFY(!window->isModal());
        QVERIFY(!window->parentWidget());
    }

    void reopeningKeepsOneWindowAndItsText() {
        ProgramFolder folder;
        folder.write(QStringLiteral("log.txt"), "first\r\nsecond\r\n");
        auto form = freshwindow();
        form->vlog_Click();
        logs* window = logs::instance();
        QCOMPARE(window->logfile->toPlainText(), QStringLiteral("first\nsecond\n"));

        // Lines logged meanwhile do not show until the window opens afresh.
        logfunctions::writelog(QStringLiteral("http://host/new"), 1);
        form->vlog_Click();
        QCOMPARE(logs::instance(), window);
        QCOMPARE(logwindows(), 1);
        QCOMPARE(window->logfile->toPlainText(), QStringLiteral("first\nsecond\n"));

        window->close(); // the window frame's close unloads it as closewin does
        QVERIFY(closed());
        form->vlog_Click();
        QVERIFY(logs::instance()->logfile->toPlainText().endsWith(
            QStringLiteral(" : Download : http://host/new\n")));
    }

    void clearing() {
        ProgramFolder folder;
        folder.write(QStringLiteral("log.txt"), "old line\r\n");
        auto form = freshwindow();
        form->vlog_Click();
        logs* window = logs::instance();
        window->show();
        QTest::mouseClick(window->dellog, Qt::LeftButton);
        QTest::mouseClick(window->dellog, Qt::LeftButton);
        const QString shown = window->logfile->toPlainText();
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^\S.* \d\d:\d\d : Clear logs\n\n$)"))
                     .match(shown)
                     .hasMatch(),
                 qPrintable(shown));
        QVERIFY(!folder.read(QStringLiteral("log.txt")).contains("old line"));
        QTest::mouseClick(window->closewin, Qt::LeftButton);
        QVERIFY(closed());
    }
};

QTEST_MAIN(LogWindow)
#include "tst_logwindow.moc"
