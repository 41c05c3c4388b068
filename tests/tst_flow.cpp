// A link's whole road inside the program: from the server's message, through
// dispatch and the downloader, to a file; and the spool behind a transfer.
#include "app/principal.h"
#include "app/quillharbor.h"
#include "download/descargas.h"
#include "fileserver.h"
#include "lineserver.h"
#include "platform/winsock.h"
#include "support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using namespace testsupport;

class Flow : public QObject {
    Q_OBJECT
  private slots:
    void secondLinkWaitsInTheSpoolAndFollows() {
        ProgramFolder folder;
        QTemporaryDir served;
        QTemporaryDir downloads;
        const QByteArray first(700 * 1024, 'a');
        const QByteArray second(5000, 'b');
        writefile(served.filePath(QStringLiteral("first.bin")), first);
        writefile(served.filePath(QStringLiteral("second.bin")), second);
        FileServer files;
        QVERIFY(files.listen(served.path()));
        FileServer::Faults slow;
        slow.stallafter = 200 * 1024;
        slow.stallms = 1500;
        files.setplan({slow, FileServer::Faults()});
        LineServer server;
        QVERIFY(server.listen());
        server.addaccount("ana", "pw");
        server.setpause(0);

        auto form = freshwindow();
        form->downloaddir->setPath(downloads.path());
        form->alfa->RemoteHost = QStringLiteral("127.0.0.1");
        form->alfa->RemotePort = server.port();
        form->usuario->setText(QStringLiteral("ana"));
        form->password->setText(QStringLiteral("pw"));
        form->show();
        form->conectar_Click();
        QVERIFY(waitfor([&] { return server.loggedin() == 1; }, 15000));

        const QString a = files.url(QStringLiteral("first.bin"));
        const QString b = files.url(QStringLiteral("second.bin"));
        // The transfer runs inside the event loop; a sampler looks on from there.
        bool sent = false;
        QStringList spooled;
        QByteArray spoolfile;
        bool stillfirst = false;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, [&] {
            if (form->bajando && !sent) {
                sent = true;
                server.send(b.toUtf8());
            } else if (form->bajando && spooled.isEmpty() && form->spoollist->ListCount() > 0) {
                spooled = form->spoollist->items();
                spoolfile = folder.read(QStringLiteral("spool.ini"));
                stillfirst = files.heads().size() == 1;
            }
        });
        sampler.start(20);
        server.send(a.toUtf8());
        QVERIFY(waitfor(
            [&] { return QFile(downloads.filePath(QStringLiteral("second.bin"))).size() == 5000; },
            30000));
        QVERIFY(waitfor([&] { return !form->bajando; }));
        QCOMPARE(spooled, QStringList({b})); // it waited while the first transfer ran
        QVERIFY(stillfirst);
        // The file held the link in flight first, then the one waiting.
        QCOMPARE(spoolfile, (a + "\r\n" + b + "\r\n").toUtf8());
        QCOMPARE(readfile(downloads.filePath(QStringLiteral("first.bin"))), first);
        QCOMPARE(form->spoollist->ListCount(), 0);
        QVERIFY(!form->sup->isEnabled());
        QVERIFY(waitfor([&] { return folder.read(QStringLiteral("spool.ini")).isEmpty(); }));
        // The second request came only after the first file was complete.
        QCOMPARE(QString::fromLatin1(files.heads().last().split(' ').value(1)),
                 QStringLiteral("/second.bin"));
        form->desconectar_Click();
    }

    void cancelDuringAStalledBodyDoesNotWaitForTheServer() {
        ProgramFolder folder;
        QTemporaryDir served;
        QTemporaryDir downloads;
        writefile(served.filePath(QStringLiteral("stuck.bin")), QByteArray(256 * 1024, 's'));
        FileServer files;
        QVERIFY(files.listen(served.path()));
        FileServer::Faults stall;
        stall.stallafter = 64 * 1024;
        stall.stallms = 40000;
        files.setfaults(stall);
        auto form = freshwindow();
        // Cancel a second into the transfer, while the server holds the body back.
        QTimer canceller;
        int ticks = 0;
        connect(&canceller, &QTimer::timeout, [&] {
            if (form->bajando && ++ticks == 10) form->CancelButton->click();
        });
        canceller.start(100);
        QElapsedTimer took;
        took.start();
        descargas::httpdownload(files.url(QStringLiteral("stuck.bin")),
                                downloads.path() + QLatin1Char('/'), QString(), QString());
        QVERIFY2(took.elapsed() < 20000, "the cancel waited for the stalled server");
        QVERIFY(!form->bajando);
        QVERIFY(!QFile::exists(
            downloads.filePath(QStringLiteral("stuck.bin")))); // partial file deleted
        QCOMPARE(form->descarga->title(), QStringLiteral("Current Download [ninguna]"));
    }
};

QTEST_MAIN(Flow)
#include "tst_flow.moc"
