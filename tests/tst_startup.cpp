// Start-up on a real window: captions, starting states, stored state, auto-login.
#include "app/principal.h"
#include "app/quillharbor.h"
#include "fileserver.h"
#include "lineserver.h"
#include "platform/resstrings.h"
#include "platform/winsock.h"
#include "support/testsupport.h"

#include <QAccessible>
#include <QtTest>

using namespace testsupport;

class Startup : public QObject {
    Q_OBJECT
  private slots:
    void cleanup() { platform::resetlanguage(); }

    void labelsAndStartingStates_data() {
        QTest::addColumn<int>("language");
        QTest::newRow("english") << int(platform::Language::English);
        QTest::newRow("spanish") << int(platform::Language::Spanish);
    }

    void labelsAndStartingStates() {
        QFETCH(int, language);
        const bool spanish = language == int(platform::Language::Spanish);
        platform::setlanguage(platform::Language(language));
        ProgramFolder folder;
        auto form = freshwindow();
        principal::Main();

        QCOMPARE(principal::appversion, QStringLiteral("0.9.9"));
        QCOMPARE(form->windowTitle(), QStringLiteral("Quillharbor 0.9.9"));
        QVERIFY(form->isVisible());
        QCOMPARE(form->size(), QSize(583, 404));
        QCOMPARE(form->conectar->text(), spanish ? "Conectar" : "Connect");
        QCOMPARE(form->desconectar->text(), spanish ? "Desconectar" : "Disconect");
        QCOMPARE(form->Label1->text(), spanish ? "Usuario : " : "User : ");
        QCOMPARE(form->Label2->text(), spanish ? "Contraseña : " : "Password : ");
        QCOMPARE(form->msgs->title(), spanish ? "Ventana de Alertas" : "Alerts Window");
        QCOMPARE(form->usuario->toolTip(),
                 spanish ? "Escriba Aqui su Usuario" : "Write here your UserName");
        QCOMPARE(form->password->toolTip(),
                 spanish ? "Escriba Aqui su Contraseña" : "Write here your Password");
        QCOMPARE(form->descarga->title(), spanish ? "Descarga Actual" : "Current Download");
        QCOMPARE(form->ddirframe->title(),
                 spanish ? "Guardar Descargas En" : "Save Downloads Dir ");
        QCOMPARE(form->spoolframe->title(), spanish ? "Descargas Pendientes" : "Download Spool");
        QCOMPARE(form->opcion1->text(),
                 spanish ? "Usar gestor de descargas externo" : "Use external download manager");
        QCOMPARE(form->options->title(), spanish ? "Opciones" : "Options");
        QCOMPARE(form->vlog->text(), spanish ? "Ver logs" : "View logs");
        // Fixed captions are the same in both languages.
        QCOMPARE(form->Frame2->title(), QStringLiteral("Auto login"));
        QCOMPARE(form->Check2->text(), QStringLiteral("Auto iniciar"));
        QCOMPARE(form->GetRight->text(), QStringLiteral("GetRight"));
        QCOMPARE(form->DownloadAccelerator->text(), QStringLiteral("Download Accelerator"));
        // So are the names a screen reader gives the pictures and the light, and their tips.
        const std::pair<QWidget*, const char*> named[] = {{form->CancelButton, "Cancel download"},
                                                          {form->sup, "Move up"},
                                                          {form->sdown, "Move down"},
                                                          {form->scancel, "Remove"},
                                                          {form->Shape2, "Connection"}};
        for (const auto& [control, name] : named) {
            QCOMPARE(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name),
                     QString::fromLatin1(name));
            QVERIFY(control->toolTip().startsWith(QLatin1String(name)));
        }

        QVERIFY(form->conectar->isEnabled());
        QVERIFY(!form->desconectar->isEnabled());
        QVERIFY(!form->sup->isEnabled() && !form->sdown->isEnabled() &&
                !form->scancel->isEnabled());
        QVERIFY(!form->GetRight->isEnabled() && !form->DownloadAccelerator->isEnabled());
        QVERIFY(form->statustimer->Enabled());
        QCOMPARE(form->statustimer->Interval(), 500);
        QVERIFY(!form->reintentos->Enabled());
        QCOMPARE(form->reintentos->Interval(), 60000);
        QCOMPARE(form->alfa->RemotePort, 5000);
        QVERIFY(!form->bajando && !form->CancelSearch);
        QCOMPARE(principal::connstate, qint16(0));

        // Every caption fits its control.
        for (QWidget* control : form->findChildren<QWidget*>()) {
            const bool captioned = !control->property("text").toString().isEmpty();
            // Push buttons ask for more room than their caption needs.
            const int needed = qobject_cast<QPushButton*>(control)
                                   ? control->fontMetrics().horizontalAdvance(
                                         control->property("text").toString()) +
                                         8
                                   : control->sizeHint().width();
            if (captioned &&
                (qobject_cast<QLabel*>(control) || qobject_cast<QAbstractButton*>(control)))
                QVERIFY2(needed <= control->width(),
                         qPrintable(control->objectName() + QLatin1Char(' ') +
                                    control->property("text").toString()));
            if (auto* frame = qobject_cast<QGroupBox*>(control))
                QVERIFY2(frame->fontMetrics().horizontalAdvance(frame->title()) + 16 <=
                             frame->width(),
                         qPrintable(frame->title()));
        }
    }

    // The window as the demo shows it, logged in, with a download under way
    // (progress, rate and time left) and a link waiting in the spool; a
    // picture of it is kept for the documentation (scripts/screenshots.sh).
    void demoDownload_data() { labelsAndStartingStates_data(); }
    void demoDownload() {
        QFETCH(int, language);
        platform::setlanguage(platform::Language(language));
        ProgramFolder folder;
        QTemporaryDir served;
        QTemporaryDir place;
        const QString downloads = place.filePath("Downloads");
        QDir().mkpath(downloads);
        writefile(served.filePath("sample.bin"), QByteArray(16 * 1024 * 1024, 'q'));
        writefile(served.filePath("readme.txt"), "demo\n");
        FileServer files;
        QVERIFY(files.listen(served.path()));
        FileServer::Faults paced;
        paced.dribble = 4096;
        files.setfaults(paced);
        LineServer server;
        server.addaccount("demo", "demo");
        server.setpause(0);
        QVERIFY(server.listen());
        folder.write("vars.ini", "user=demo\r\npass=demo\r\numsg=1\r\ndownloaddir=" +
                                     downloads.toUtf8() + "\r\n");
        auto form = freshwindow();
        form->alfa->RemoteHost = QStringLiteral("127.0.0.1");
        form->alfa->RemotePort = server.port();
        principal::Main();
        form->conectar_Click();
        QVERIFY(waitfor([&] { return server.loggedin() == 1; }, 20000));

        // The transfer runs inside the event loop; a sampler acts from there.
        bool queued = false;
        QImage picture;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, [&] {
            const bool moving = form->bajando && form->ProgressBar->value() > 2000 &&
                                !form->RateLabel->text().isEmpty() &&
                                !form->TimeLabel->text().isEmpty();
            if (moving && !queued) {
                queued = true;
                server.send(files.url("readme.txt").toUtf8());
            } else if (queued && picture.isNull() && form->spoollist->ListCount() == 1) {
                picture = form->grab().toImage();
                form->desconectar_Click();
                form->CancelButton->click();
            }
        });
        sampler.start(20);
        server.send(files.url("sample.bin").toUtf8());
        QVERIFY(waitfor([&] { return !picture.isNull() && !form->bajando; }, 60000));
        const QString pictures =
            QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
        QDir().mkpath(pictures);
        picture.save(QStringLiteral("%1/%2-demo-%3.png")
                         .arg(pictures, QGuiApplication::platformName(),
                              language == int(platform::Language::Spanish) ? "es" : "en"));
    }

    // The keyboard: Tab follows the screen, Delete or Backspace on a chosen
    // spool row removes it as the remove button does, the password shows "*".
    void keyboard() {
        ProgramFolder folder;
        folder.write(QStringLiteral("vars.ini"), "user=ana\r\n");
        folder.write(QStringLiteral("spool.ini"), "http://h/1\r\nhttp://h/2\r\nhttp://h/3\r\n");
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

        // Tab with every control enabled, from the user box round to it again;
        // the two managers are one group, entered by Tab, crossed by the arrows.
        for (QWidget* control : std::initializer_list<QWidget*>{
                 form->desconectar, form->sup, form->sdown, form->scancel, form->GetRight,
                 form->DownloadAccelerator})
            control->setEnabled(true);
        form->usuario->setFocus();
        QStringList order;
        do {
            order << QApplication::focusWidget()->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } while (QApplication::focusWidget() != form->usuario && order.size() < 40);
        QCOMPARE(order.join(' '), "usuario password conectar desconectar Drive1 downloaddir "
                                  "CancelButton spoollist sup sdown scancel Check1 "
                                  "DownloadAccelerator Check2 vlog");
    }

    void storedStateIsApplied() {
        ProgramFolder folder;
        folder.write(QStringLiteral("vars.ini"), "user=ana\r\npass=secret\r\nautostart=0\r\n");
        folder.write(QStringLiteral("spool.ini"), "http://h/1\r\nhttp://h/2\r\n");
        auto form = freshwindow();
        principal::Main();
        QCOMPARE(form->usuario->text(), QStringLiteral("ana"));
        QCOMPARE(form->spoollist->items(), QStringList({"http://h/1", "http://h/2"}));
        QVERIFY(!(form->windowState() & Qt::WindowMinimized));
        QCOMPARE(principal::connstate, qint16(0)); // auto start not ticked: no login
    }

    void autoLoginNeedsBothTexts() {
        ProgramFolder folder;
        folder.write(QStringLiteral("vars.ini"), "user=ana\r\npass=\r\nautostart=1\r\n");
        {
            auto form = freshwindow();
            principal::Main();
            QVERIFY(!(form->windowState() & Qt::WindowMinimized));
            QCOMPARE(principal::connstate, qint16(0));
            QCOMPARE(form->msg->text(), QString());
        }
        folder.write(QStringLiteral("vars.ini"), "user=ana\r\npass=secret\r\nautostart=1\r\n");
        auto form = freshwindow();
        form->alfa->RemoteHost = QStringLiteral("127.0.0.1");
        form->alfa->RemotePort = 1; // nothing listens: the attempt itself is what counts here
        principal::Main();
        QVERIFY(form->windowState() & Qt::WindowMinimized);
        QCOMPARE(principal::umsgflag, qint16(1)); // the Connect action ran
        QVERIFY(principal::connstate != 0);
        form->desconectar_Click();
    }
};

QTEST_MAIN(Startup)
#include "tst_startup.moc"
