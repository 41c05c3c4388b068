// Where links go (desktop, external manager, spool), and the spool list's
// buttons, with spool.ini kept current.
#include "app/quillharbor.h"
#include "queue/comandospool.h"
#include "queue/dispatch.h"
#include "support/testsupport.h"
#include "support/urlcatcher.h"
#include "system/regtools.h"

#include <QtTest>

using namespace testsupport;

class Dispatch : public QObject {
    Q_OBJECT
    std::unique_ptr<ProgramFolder> folder;
    std::unique_ptr<quillharbor> form;

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

    // Where each link goes, logged first (a line break in it starts no line of
    // its own). A manager gets it at once as one argument no shell sees; ed2k
    // links that are no well-formed URL reach the desktop's opener unchanged.
    void links_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("transfer");   // a transfer runs
        QTest::addColumn<QString>("manager"); // ticked and chosen; "none": ticked only
        QTest::addColumn<QString>("to"); // desktop, xdg-open, a manager, spool; "": logged only
        const QString nasty = "http://h/a b\"c';$(touch pwned)`id`.zip";
        const std::tuple<const char*, QString, bool, QString, QString> cases[] = {
            {"ed2k during a transfer", "ED2K://server.example/file", true, "", "desktop"},
            {"ed2k link", "ed2k://|file|a b;$(x).avi|1234|0123456789ABCDEF0123456789ABCDEF|/",
             false, "", "xdg-open"},
            {"http during a transfer", "HTTP://H/Second", true, "", "spool"},
            {"GetRight during a transfer", nasty, true, "GetRight", "Get Right"},
            {"Download Accelerator", "http://h/2", false, "DownloadAccelerator",
             "Download Accelerator"},
            {"ticked, none chosen", "http://127.0.0.1:1/x", false, "none", ""},
            {"https in capitals", "HTTPS://h/a", true, "", "spool"},
            {"empty", "", true, "", ""},
            {"line break", "ERR:1\r\n", true, "", ""}};
        for (const auto& [name, link, transfer, manager, to] : cases)
            QTest::newRow(name) << link << transfer << manager << to;
    }
    void links() {
        QFETCH(QString, link);
        QFETCH(bool, transfer);
        QFETCH(QString, manager);
        QFETCH(QString, to);
        form->spoollist->AddItem("http://h/first");
        regtools::grpath = standin(folder->path(), "Get Right");
        regtools::dapath = standin(folder->path(), "Download Accelerator");
        if (!manager.isEmpty()) { // set directly: detection is not what is tested here
            const QSignalBlocker quiet(form->Check1);
            form->Check1->setValue(1);
            for (QRadioButton* choice : {form->GetRight, form->DownloadAccelerator}) {
                choice->setEnabled(true);
                choice->setChecked(choice->objectName() == manager);
            }
        }
        form->bajando = transfer;
        UrlCatcher desktop("ed2k");
        standin(folder->path(), "xdg-open");
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(folder->path()) + ":" + path);
        dispatchlink(link);
        qputenv("PATH", path);

        const QString logged = QString(link).replace("\r", "%0D").replace("\n", "%0A");
        QCOMPARE(loggedlinks(folder->read("log.txt")), QStringList{logged});
        // A scheme nothing takes is not saved, and the log says why.
        QCOMPARE(folder->read("log.txt").contains(" : Not saved : " + logged.toUtf8() +
                                                  " : scheme not supported\r\n"),
                 to.isEmpty() && manager.isEmpty());
        QCOMPARE(desktop.opened, to == "desktop" ? QList<QUrl>{QUrl(link)} : QList<QUrl>());
        for (const QString& program : {"xdg-open", "Get Right", "Download Accelerator"})
            QVERIFY(waitfor([&] {
                return folder->read(program + ".args") ==
                       (to == program ? link.toUtf8() + "\n" : QByteArray());
            }));
        const QString spool = "http://h/first\r\n" + (to == "spool" ? link + "\r\n" : QString());
        QCOMPARE(form->spoollist->items().join("\r\n") + "\r\n", spool);
        // The file follows the list once the link is handed on.
        QVERIFY(waitfor([&] { return folder->read("spool.ini") == spool.toUtf8(); }));
        QVERIFY(!form->bajando || transfer);
    }

    // A row chosen with the mouse enables the buttons; moves keep it chosen and
    // stop at the ends. With none chosen nothing moves or goes and Remove
    // disables them. spool.ini follows; nothing leaves it while disconnected.
    void spoolbuttons_data() {
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QString>("clicks"); // Up, Down, Remove
        QTest::addColumn<QString>("after");  // the chosen row in brackets, then the buttons
        QTest::newRow("down, and at the end") << 1 << QString("DD") << "L1 L3 [L2], 1";
        QTest::newRow("up twice, and at the top") << 1 << QString("UUU") << "[L2] L1 L3, 1";
        QTest::newRow("nothing chosen") << -1 << QString("DUR") << "L1 L2 L3, 0";
    }
    void spoolbuttons() {
        QFETCH(int, chosen);
        QFETCH(QString, clicks);
        QFETCH(QString, after);
        platform::ListBox& list = *form->spoollist;
        for (const char* row : {"L1", "L2", "L3"})
            list.AddItem(row);
        list.setListIndex(-1); // shows rows added in a burst at once, none chosen
        if (chosen >= 0)
            QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                              list.visualItemRect(list.item(chosen)).center());
        else
            form->spoollist_Click(); // enabled although nothing is chosen
        for (const QChar click : clicks)
            (click == 'U' ? form->sup : click == 'D' ? form->sdown : form->scancel)->click();
        for (int tick = 0; tick < 5; ++tick)
            comandospool::spoolnext();
        QCOMPARE(shown() + ", " + QString::number(buttons()), after);
        const QByteArray file = (list.items().join("\r\n") + "\r\n").toUtf8();
        QVERIFY(waitfor([&] { return folder->read("spool.ini") == (chosen < 0 ? "" : file); }));
    }
};

QTEST_MAIN(Dispatch)
#include "tst_dispatch.moc"
