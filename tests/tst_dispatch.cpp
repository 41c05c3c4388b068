// Dispatch: every link is logged first, then handed to the desktop, to an
// external manager, or to the spool while a transfer runs.
#include "app/quillharbor.h"
#include "queue/dispatch.h"
#include "support/testsupport.h"
#include "system/regtools.h"

#include <QDesktopServices>
#include <QFile>
#include <QtTest>

using namespace testsupport;

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

class Dispatch : public QObject {
    Q_OBJECT
    ProgramFolder* folder = nullptr;
    std::unique_ptr<quillharbor> form;

    QStringList loggedlinks() const {
        QStringList links;
        for (const QByteArray& line : folder->read(QStringLiteral("log.txt")).split('\n')) {
            const qsizetype at = line.indexOf(" : Download : ");
            if (at >= 0)
                links << QString::fromUtf8(line.mid(at + 14)).chopped(1); // drop the CR
        }
        return links;
    }

    // A stand-in manager: records each argument it was given on a line of its own.
    QString fakemanager(const QString& name) {
        const QString path = folder->file(name);
        folder->write(name, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n");
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
        return path;
    }

    void choosemanager(QRadioButton* manager) {
        // Set the options directly: detection is not what is tested here.
        const QSignalBlocker quiet(form->Check1);
        form->Check1->setValue(1);
        manager->setEnabled(true);
        manager->setChecked(true);
    }

private slots:
    void init() {
        folder = new ProgramFolder;
        form = freshwindow();
    }
    void cleanup() {
        form.reset();
        delete folder;
        regtools::dapath.clear();
        regtools::grpath.clear();
    }

    void ed2kGoesToTheDesktopEvenDuringATransfer() {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("ed2k"), &catcher, "open");
        form->bajando = true;
        dispatchlink(QStringLiteral("ED2K://server.example/file"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("ed2k"));
        QCOMPARE(catcher.opened, QList<QUrl>({QUrl(QStringLiteral("ed2k://server.example/file"))}));
        QCOMPARE(form->spoollist->ListCount(), 0);
        QCOMPARE(folder->read(QStringLiteral("spool.ini")), QByteArray()); // handed on: out of the file

        // A real ed2k link is no well-formed URL: the desktop's opener gets it unchanged.
        const QString link = QStringLiteral("ed2k://|file|a b;$(x).avi|1234|0123456789ABCDEF0123456789ABCDEF|/");
        const QString opener = fakemanager(QStringLiteral("xdg-open"));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(folder->path()) + ":" + path);
        dispatchlink(link);
        qputenv("PATH", path);
        QVERIFY(waitfor([&] { return folder->read(QStringLiteral("xdg-open.args")) == link.toUtf8() + "\n"; }));
        QCOMPARE(loggedlinks(), QStringList({"ED2K://server.example/file", link}));
        QCOMPARE(form->spoollist->ListCount(), 0);
    }

    void otherSchemesAreOnlyLogged() {
        form->bajando = true; // would spool an http link
        const QStringList links{"https://h/a", "ftp://h/b", "", "ERR:1\r\n", "htt://h/c"};
        for (const QString& link : links)
            dispatchlink(link);
        const QStringList logged = links.mid(0, 3) + QStringList{"ERR:1", "htt://h/c"};
        QCOMPARE(loggedlinks(), logged);
        QVERIFY(folder->read(QStringLiteral("log.txt")).contains(" : Download : ERR:1\r\n\r\n"));
        QCOMPARE(form->spoollist->ListCount(), 0);
    }

    void httpDuringATransferWaitsLastInTheSpool() {
        form->spoollist->AddItem(QStringLiteral("http://h/first"));
        form->bajando = true;
        dispatchlink(QStringLiteral("HTTP://H/Second"));
        QCOMPARE(form->spoollist->items(), QStringList({"http://h/first", "HTTP://H/Second"}));
        QCOMPARE(folder->read(QStringLiteral("spool.ini")), QByteArray("http://h/first\r\nHTTP://H/Second\r\n"));
    }

    void externalManagerGetsTheLinkAsOneArgument() {
        const QString link = QStringLiteral("http://h/a b\"c';$(touch pwned)`id`.zip");
        regtools::grpath = fakemanager(QStringLiteral("get right"));
        choosemanager(form->GetRight);
        form->bajando = true; // the manager is started at once all the same
        dispatchlink(link);
        const QString args = regtools::grpath + QStringLiteral(".args");
        QVERIFY(waitfor([&] { return QFile::exists(args); }));
        QVERIFY(waitfor([&] { return folder->read(QStringLiteral("get right.args")).endsWith('\n'); }));
        QCOMPARE(folder->read(QStringLiteral("get right.args")), link.toUtf8() + "\n");
        QVERIFY(!folder->exists(QStringLiteral("pwned")));
        QCOMPARE(form->spoollist->ListCount(), 0);

        regtools::dapath = fakemanager(QStringLiteral("accelerator"));
        choosemanager(form->DownloadAccelerator); // excludes GetRight
        dispatchlink(QStringLiteral("http://h/2"));
        QVERIFY(waitfor([&] { return folder->read(QStringLiteral("accelerator.args")) == "http://h/2\n"; }));
    }

    void tickedWithNoManagerSelectedOnlyLogs() {
        const QSignalBlocker quiet(form->Check1);
        form->Check1->setValue(1);
        dispatchlink(QStringLiteral("http://127.0.0.1:1/x"));
        QCOMPARE(loggedlinks(), QStringList({"http://127.0.0.1:1/x"}));
        QCOMPARE(form->spoollist->ListCount(), 0);
        QVERIFY(!form->bajando);
    }
};

QTEST_MAIN(Dispatch)
#include "tst_dispatch.moc"
