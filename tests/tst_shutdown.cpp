// Closing the program: what it saves, what it stops, and that kills save too.
#include "app/principal.h"
#include "app/quillharbor.h"
#include "fileserver.h"
#include "lineserver.h"
#include "platform/paths.h"
#include "platform/winsock.h"
#include "queue/comandospool.h"
#include "support/childprogram.h"
#include "support/testsupport.h"

#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <csignal>

using namespace testsupport;

class Shutdown : public QObject {
    Q_OBJECT
    int endings = 0;

  private slots:
    void init() {
        endings = 0;
        principal::setendprogram([this] { ++endings; });
    }
    void cleanup() { principal::setendprogram(nullptr); }

    void closingSavesSettingsAndSpoolThenEnds() {
        ProgramFolder folder;
        auto form = freshwindow();
        form->usuario->setText(QStringLiteral("ana"));
        form->password->setText(QStringLiteral("se=cret"));
        form->spoollist->AddItem(QStringLiteral("http://h/1"));
        form->spoollist->AddItem(QString());
        form->spoollist->AddItem(QStringLiteral("http://h/3"));
        form->show();
        form->close();
        QCOMPARE(endings, 1);
        const QList<QByteArray> vars = folder.read(QStringLiteral("vars.ini")).split('\n');
        QCOMPARE(vars.size(), 7); // six lines and the end
        QCOMPARE(vars[0], QByteArray("user=ana\r"));
        QCOMPARE(vars[1], QByteArray("pass=se=cret\r"));
        QVERIFY(vars[2].startsWith("downloaddir=/"));
        QCOMPARE(vars[3], QByteArray("external1=0\r"));
        QCOMPARE(vars[4], QByteArray("umsg=0\r")); // no connection was tried
        QCOMPARE(vars[5], QByteArray("autostart=0\r"));
        QCOMPARE(folder.read(QStringLiteral("spool.ini")),
                 QByteArray("http://h/1\r\n\r\nhttp://h/3\r\n"));
        QCOMPARE(form->spoollist->ListCount(), 0);
    }

    void closingWithAnEmptySpoolWritesAnEmptyFile() {
        ProgramFolder folder;
        folder.write(QStringLiteral("spool.ini"), "http://old\r\n");
        auto form = freshwindow();
        form->Form_Unload();
        QCOMPARE(folder.read(QStringLiteral("spool.ini")), QByteArray());
        QCOMPARE(endings, 1);
    }

    void linkInFlightIsSavedFirst() {
        ProgramFolder folder;
        auto form = freshwindow();
        form->spoollist->AddItem(QStringLiteral("http://h/next"));
        comandospool::inflightlink now(QStringLiteral("http://h/now"));
        now.fetching();
        form->bajando = true;
        form->Form_Unload();
        QCOMPARE(folder.read(QStringLiteral("spool.ini")),
                 QByteArray("http://h/now\r\nhttp://h/next\r\n"));
        QVERIFY(form->CancelSearch); // the running transfer was asked to stop
    }

    void unwritableStateStillStopsEverything() {
        ProgramFolder folder;
        QDir().mkpath(folder.file(QStringLiteral("vars.ini"))); // cannot be replaced by a file
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        auto form = freshwindow();
        form->alfa->RemoteHost = QStringLiteral("127.0.0.1");
        form->alfa->RemotePort = server.serverPort();
        form->alfa->Connect();
        QVERIFY(waitfor([&] { return server.hasPendingConnections(); }));
        QTcpSocket* peer = server.nextPendingConnection();
        QVERIFY(waitfor([&] { return form->alfa->State() == platform::Winsock::sckConnected; }));
        form->spoollist->AddItem(QStringLiteral("http://h/1"));
        form->Form_Unload();
        QCOMPARE(folder.read(QStringLiteral("spool.ini")), QByteArray("http://h/1\r\n"));
        QCOMPARE(form->alfa->State(), int(platform::Winsock::sckClosed));
        QCOMPARE(endings, 1);
        // The server saw the connection end without a word.
        QVERIFY(waitfor([&] {
            return peer->state() == QAbstractSocket::UnconnectedState || peer->bytesAvailable() > 0;
        }));
        QCOMPARE(peer->readAll(), QByteArray());
    }

    void closingDuringATransferKeepsTheLink() {
        QTemporaryDir served;
        QTemporaryDir downloads;
        writefile(served.filePath(QStringLiteral("big.bin")), QByteArray(512 * 1024, 'x'));
        FileServer files;
        QVERIFY(files.listen(served.path()));
        FileServer::Faults stall;
        stall.stallafter = 64 * 1024;
        stall.stallms = 30000;
        files.setfaults(stall);
        LineServer server;
        QVERIFY(server.listen());
        server.addaccount("ana", "pw");

        ChildProgram program(QCoreApplication::applicationFilePath());
        program.write(QStringLiteral("vars.ini"),
                      "user=ana\r\npass=pw\r\nautostart=1\r\numsg=1\r\ndownloaddir=" +
                          QFile::encodeName(downloads.path()) + "\r\n");
        QVERIFY(program.start(
            {QStringLiteral("--as-program"), program.folder(), QString::number(server.port())}));
        QVERIFY(waitfor([&] { return server.loggedin() == 1; }, 20000));
        const QString link = files.url(QStringLiteral("big.bin"));
        server.send(link.toUtf8());
        QVERIFY(program.waitforexit(30000));
        QCOMPARE(program.process().exitCode(), 0);
        const QList<QByteArray> vars = program.read(QStringLiteral("vars.ini")).split('\n');
        QCOMPARE(vars.size(), 7);
        QCOMPARE(vars[0], QByteArray("user=ana\r"));
        QCOMPARE(vars[1], QByteArray("pass=pw\r"));
        QCOMPARE(program.read(QStringLiteral("spool.ini")), (link + "\r\n").toUtf8());
        // The program ended inside the transfer: the partial file stays.
        QVERIFY(QFile(downloads.filePath(QStringLiteral("big.bin"))).size() < 512 * 1024);
    }

    void killsSaveAsClosingDoes_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void killsSaveAsClosingDoes() {
        QFETCH(int, signal);
        // Written by another program: LF line ends, bytes of an 8-bit encoding.
        ChildProgram program;
        program.write(QStringLiteral("vars.ini"), "user=ana\xe9\npass=x=y\xff\numsg=1\n");
        program.write(QStringLiteral("spool.ini"), "http://h/a\xe9\nhttp://h/b\n");
        QVERIFY(program.start());
        QVERIFY(program.waitforhandlers());
        program.signal(signal);
        QVERIFY(program.waitforexit());
        QCOMPARE(program.process().exitStatus(), QProcess::NormalExit);
        const QList<QByteArray> vars = program.read(QStringLiteral("vars.ini")).split('\n');
        QCOMPARE(vars.size(), 7);
        QCOMPARE(vars[0], QByteArray("user=ana\xe9\r"));
        QCOMPARE(vars[1], QByteArray("pass=x=y\xff\r"));
        QCOMPARE(vars[4], QByteArray("umsg=1\r"));
        QCOMPARE(program.read(QStringLiteral("spool.ini")),
                 QByteArray("http://h/a\xe9\r\nhttp://h/b\r\n"));
    }
};

// Run as "the program" by the test above: the real start-up, pointed at a
// test server, and a close of the window as soon as a transfer runs, so the
// close arrives inside the transfer's own yield.
static int asprogram(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    platform::setapppath(QString::fromLocal8Bit(argv[2]));
    auto* form = new quillharbor;
    form->alfa->RemoteHost = QStringLiteral("127.0.0.1");
    form->alfa->RemotePort = QByteArray(argv[3]).toUShort();
    principal::Main();
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [form] {
        if (form->bajando) form->close();
    });
    closer.start(50);
    return QApplication::exec();
}

int main(int argc, char* argv[]) {
    if (argc == 4 && QByteArray(argv[1]) == "--as-program") return asprogram(argc, argv);
    QApplication application(argc, argv);
    Shutdown test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_shutdown.moc"
