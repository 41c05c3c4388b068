// The log file: its lines, clearing, and reading it back into a text box.
#include "log/logfunctions.h"
#include "platform/resstrings.h"
#include "support/testsupport.h"

#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QtTest>

using namespace testsupport;

class LogFile : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { platform::resetlanguage(); }

    void downloadLinesAreAppendedUnchanged() {
        ProgramFolder folder;
        logfunctions::writelog(QStringLiteral("http://h/a b : c"), 1);
        platform::setlanguage(platform::Language::Spanish);
        logfunctions::writelog(QString(), 1);
        const QString text = QString::fromUtf8(folder.read(QStringLiteral("log.txt")));
        const QString stamp = QStringLiteral(R"(\S+ \d\d:\d\d)");
        const QRegularExpression expected(QStringLiteral("^") + stamp +
                                          QStringLiteral(" : Download : http://h/a b : c\r\n") + stamp +
                                          QStringLiteral(" : Descarga : \r\n$"));
        QVERIFY2(expected.match(text).hasMatch(), qPrintable(text));
        // The short date of the user's locale, then 24-hour hours and minutes.
        const QString today = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
        QVERIFY2(text.startsWith(today + QLatin1Char(' ')), qPrintable(text));
    }

    void clearingLeavesTheClearLineAndAnEmptyLine() {
        ProgramFolder folder;
        QPlainTextEdit box;
        logfunctions::clearlog(&box); // a missing file is created
        const QString text = QString::fromUtf8(folder.read(QStringLiteral("log.txt")));
        QVERIFY2(QRegularExpression(QStringLiteral(R"(^\S+ \d\d:\d\d : Clear logs\r\n\r\n$)")).match(text).hasMatch(),
                 qPrintable(text));
        QCOMPARE(box.toPlainText(), text.left(text.indexOf(QLatin1Char('\r'))) + QStringLiteral("\n\n"));

        logfunctions::writelog(QStringLiteral("ed2k://x"), 1);
        logfunctions::clearlog(&box);
        QCOMPARE(QString::fromUtf8(folder.read(QStringLiteral("log.txt"))).count(QStringLiteral("\r\n")), 2);
    }

    void showingTheLog() {
        ProgramFolder folder;
        QPlainTextEdit box;
        box.setPlainText(QStringLiteral("old"));
        logfunctions::showlog(&box); // missing file: empty box, and no file made
        QCOMPARE(box.toPlainText(), QString());
        QVERIFY(!folder.exists(QStringLiteral("log.txt")));

        folder.write(QStringLiteral("log.txt"), "one\r\ntwo\r\n\r\nfour\r\n");
        logfunctions::showlog(&box);
        QCOMPARE(box.toPlainText(), QStringLiteral("one\ntwo\n\nfour\n"));
    }
};

QTEST_MAIN(LogFile)
#include "tst_logfile.moc"
