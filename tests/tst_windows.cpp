// The log and its window, the About window, window icons, the tray, and how
// a server's words reach the log, the alerts line and the tray.
#include "app/principal.h"
#include "app/quillharbor.h"
#include "download/descargas.h"
#include "download/outcome.h"
#include "log/logfunctions.h"
#include "log/logs.h"
#include "platform/resstrings.h"
#include "platform/wncrypt.h"
#include "support/scriptedserver.h"
#include "support/testsupport.h"
#include "system/tray.h"
#include "windows/acercade.h"

#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QtTest>

using namespace testsupport;

namespace {
bool closed() {
    return waitfor([] { return !logs::instance() && visiblewindows<logs>() == 0; });
}

// The whole log is `lines`, each @ a stamp: the locale's short date, 24-hour time.
bool logged(const QString& text, QString lines) {
    return text.contains(QRegularExpression('^' + lines.replace('@', R"(\S+ \d\d:\d\d)") + '$'));
}

// A click as the window system delivers it, so a modal window can refuse it.
void systemclick(QWidget* window, QWidget* control) {
    const QPoint centre = control->mapTo(window, control->rect().center());
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, centre);
}

void minimise(quillharbor& form) {
    form.setWindowState(form.windowState() | Qt::WindowMinimized);
}

void click(const quillharbor& form, QSystemTrayIcon::ActivationReason reason) {
    emit platform::trayicon(&form, 1)->activated(reason);
}

// The window's own icon is the quill, as the window system gets it.
bool showsthequill(const QWidget* window) {
    const auto image = [](const QPixmap& pixmap) {
        return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    };
    return image(window->windowHandle()->icon().pixmap(64)) ==
           image(QPixmap(QStringLiteral(":/pictures/icon-64.png")));
}
} // namespace

class Windows : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() {
        if (logs::instance()) logs::instance()->close();
        QVERIFY(closed());
        platform::resetlanguage();
        platform::settrayavailable(std::nullopt);
        tray::setgatherms(3000);
    }

    // Download lines: date and time, the user's language, the link unchanged.
    // One modeless log window shows log.txt as it was when it opened;
    // clearing leaves the clear line and an empty line, in file and window.
    void logWindow() {
        ProgramFolder folder;
        logfunctions::writelog("http://h/a b : c", 1);
        platform::setlanguage(platform::Language::Spanish);
        logfunctions::writelog(QString(), 1);
        QString text = QString::fromUtf8(folder.read("log.txt"));
        QVERIFY2(logged(text, "@ : Download : http://h/a b : c\r\n@ : Descarga : \r\n"),
                 qPrintable(text));
        QFile::remove(folder.file("log.txt"));
        auto form = freshwindow();
        form->show();
        QTest::mouseClick(form->vlog, Qt::LeftButton);
        logs* window = logs::instance();
        QVERIFY(window && window->isVisible() && !window->isModal() && !window->parentWidget());
        QVERIFY(showsthequill(window) && showsthequill(form.get()));
        QCOMPARE(window->logfile->toPlainText(), QString());
        QVERIFY(!folder.exists("log.txt")); // showing makes no file

        platform::setlanguage(platform::Language::English);
        QTest::mouseClick(window->dellog, Qt::LeftButton);
        QVERIFY(folder.exists("log.txt"));
        logfunctions::writelog("ed2k://x", 1);
        QTest::mouseClick(window->dellog, Qt::LeftButton);
        text = QString::fromUtf8(folder.read("log.txt"));
        QVERIFY2(logged(text, "@ : Clear logs\r\n\r\n"), qPrintable(text));
        const QString cleared = text.replace("\r\n", "\n");
        QCOMPARE(window->logfile->toPlainText(), cleared);
        // A line logged meanwhile shows only once the window opens afresh.
        logfunctions::writelog("http://host/new", 1);
        form->vlog_Click();
        QCOMPARE(logs::instance(), window);
        QCOMPARE(visiblewindows<logs>(), 1);
        QCOMPARE(window->logfile->toPlainText(), cleared);
        window->close(); // the window frame's close unloads it as closewin does
        QVERIFY(closed());
        form->vlog_Click();
        QVERIFY(
            logs::instance()->logfile->toPlainText().endsWith(" : Download : http://host/new\n"));
        QTest::mouseClick(logs::instance()->closewin, Qt::LeftButton);
        QVERIFY(closed());
    }

    void openedModalByTheLogo() {
        // The outside component is not there: the window opens all the same.
        platform::setwncryptlibrary(QStringLiteral("quillharbor-no-such-component"));
        ProgramFolder folder;
        auto form = freshwindow();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        // Runs inside the window's own event loop, then closes it with its button.
        bool inspected = false;
        QTimer::singleShot(0, [&] {
            AcercaDe* window = AcercaDe::instance();
            QVERIFY(window && QTest::qWaitForWindowExposed(window));
            QCOMPARE(QApplication::activeModalWidget(), window);
            QVERIFY(showsthequill(window));
            // A click on the main window is refused while the window is open.
            systemclick(form.get(), form->vlog);
            QCoreApplication::processEvents();
            QVERIFY(!logs::instance());
            inspected = true;
            QTest::mouseClick(window->Command1, Qt::LeftButton);
        });
        // Whatever fails above, the test does not hang in the window.
        QTimer::singleShot(30000, [] {
            if (AcercaDe::instance()) AcercaDe::instance()->close();
        });
        QTest::mouseDClick(form->logo, Qt::LeftButton);
        QVERIFY(inspected);
        QVERIFY(!AcercaDe::instance());

        // Closed, the main window reacts again.
        systemclick(form.get(), form->vlog);
        QVERIFY(waitfor([] { return logs::instance() != nullptr; }));
    }

    // Minimised, also before it is first shown (as auto-login does), the window
    // hides behind one tray icon; only a left click on it brings it back, and
    // the icon stays until shutdown. Without a tray the window only minimises,
    // and the icon, should a tray turn up later, still brings it back.
    void tray_data() {
        QTest::addColumn<bool>("available");
        QTest::addColumn<bool>("early");
        QTest::newRow("tray") << true << false;
        QTest::newRow("minimised before it is shown") << true << true;
        QTest::newRow("no tray") << false << false;
    }
    void tray() {
        QFETCH(bool, available);
        QFETCH(bool, early);
        platform::settrayavailable(available);
        auto form = freshwindow();
        if (early) minimise(*form);
        form->Show();
        QCOMPARE(platform::trayiconcount(), int(early));
        for (int round = 0; round < 2; ++round) {
            minimise(*form);
            QVERIFY(form->isMinimized() && form->isVisible() != available);
            QCOMPARE(platform::trayiconcount(), 1);
            // Right, middle and double clicks and plain moves over the icon do nothing.
            for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick,
                                QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Unknown})
                click(*form, reason);
            pump(50);
            QVERIFY(form->isMinimized() && form->isVisible() != available);
            click(*form, QSystemTrayIcon::Trigger);
            QVERIFY(form->isVisible() && !form->isMinimized());
            // The offscreen platform never activates a window again once it was hidden.
            QVERIFY(round > 0 || early || waitfor([&] { return form->isActiveWindow(); }));
            QCOMPARE(platform::trayiconcount(), 1); // restoring leaves the icon up
            click(*form, QSystemTrayIcon::Trigger); // in plain sight: nothing changes
            QVERIFY(form->isVisible() && !form->isMinimized());
        }
        QVERIFY(!platform::trayicon(form.get(), 1)->icon().isNull());
        // Shutdown takes it down; a second removal is harmless.
        for (int removal = 0; removal < 2; ++removal) {
            form->deleteicon();
            QCOMPARE(platform::trayiconcount(), 0);
        }
    }

    // In the tray, the ends of transfers are gathered into one message, counted
    // in the user's language; in plain sight there is none.
    void traymessage_data() {
        QTest::addColumn<bool>("intray");
        QTest::addColumn<bool>("spanish");
        QTest::addColumn<QString>("ends"); // S saved, N not saved
        QTest::addColumn<QString>("message");
        QTest::newRow("three saved, one not") << true << false << "SSNS"
                                              << "3 files saved, 1 file not saved";
        QTest::newRow("Spanish") << true << true << "NSN"
                                 << "1 archivo guardado, 2 archivos no guardados";
        QTest::newRow("window in sight") << false << false << "SN"
                                         << "";
    }
    void traymessage() {
        QFETCH(bool, intray);
        QFETCH(bool, spanish);
        QFETCH(QString, ends);
        QFETCH(QString, message);
        ProgramFolder folder;
        platform::settrayavailable(true);
        platform::setlanguage(spanish ? platform::Language::Spanish : platform::Language::English);
        tray::setgatherms(300);
        auto form = freshwindow();
        form->Show();
        if (intray) minimise(*form);
        for (const QChar end : ends) {
            descargas::failure result;
            if (end == 'N') result = {descargas::reason::status, 404, "Not Found"};
            descargas::outcome("http://127.0.0.1:1/f.bin", result);
        }
        const auto shown = [&] { return platform::traymessages(form.get(), 1); };
        QVERIFY(shown().isEmpty()); // gathered first, then one message
        QCOMPARE(waitfor([&] { return !shown().isEmpty(); }, 1500), intray);
        QCOMPARE(shown().size(), int(intray));
        QCOMPARE(shown().value(0).second, message);
    }

    // A server's reason phrase reaches the log, the alerts line (its start; the
    // whole in the tooltip) and the tray inert and short; UTF-8 reads as such.
    // A link with controls is logged as the same URL.
    void hostilereasons_data() {
        QTest::addColumn<QByteArray>("phrase");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ESC, CSI, OSC, BS, DEL, C1 in Latin-1")
            << QByteArray("\x1b[2K\x1b[GSaved\x1b]0;owned\a\b\x7f\2332J encontr\xe9")
            << QStringLiteral(
                   "\uFFFD[2K\uFFFD[GSaved\uFFFD]0;owned\uFFFD\uFFFD\uFFFD\uFFFD2J encontr\u00e9");
        QTest::newRow("UTF-8, a direction mark, 10 KB")
            << "\xc3\xb1\xe2\x80\xae" + QByteArray(10240, 'x')
            << QStringLiteral("\u00f1\uFFFD") + QString(57, 'x') + QChar(0x2026);
    }
    void hostilereasons() {
        QFETCH(QByteArray, phrase);
        QFETCH(QString, shown);
        ProgramFolder folder;
        platform::settrayavailable(true);
        tray::setgatherms(100);
        auto form = freshwindow();
        form->Show();
        minimise(*form);
        ScriptedServer server(
            ScriptedServer::once("HTTP/1.1 404 " + phrase + "\r\nContent-Length: 0\r\n\r\n"));
        QVERIFY(server.listen());
        descargas::httpdownload(server.url(QStringLiteral("\x1b[2J\u202E/f.bin")),
                                folder.path() + '/', QString(), QString());
        const QString said = "Not saved f.bin: 404 " + shown, logged = "%1B[2J%E2%80%AE/f.bin";
        QVERIFY(QString::fromUtf8(folder.read("log.txt"))
                    .endsWith(" : Not saved : " + server.url(logged) + " : 404 " + shown + "\r\n"));
        QVERIFY(form->msg->text().endsWith(' ' + said) && form->msg->cursorPosition() == 0);
        QCOMPARE(form->msg->toolTip(), form->msg->text());
        QVERIFY(
            waitfor([&] { return platform::traymessages(form.get(), 1).value(0).second == said; }));
    }
};

QTEST_MAIN(Windows)
#include "tst_windows.moc"
