// The real program, run as a child process from a folder of its own, against
// the reference server on port 5000, a fault-injecting file server and nginx.
#include "fileserver.h"
#include "lineserver.h"
#include "support/childprogram.h"
#include "support/nginx.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

using namespace testsupport;

namespace {
QByteArray noise(qint64 size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), int(size / 4));
    return bytes;
}
} // namespace

class Program : public QObject {
    Q_OBJECT
    QTemporaryDir served;
    QTemporaryDir downloads;
    std::unique_ptr<FileServer> fileserver;
    LineServer server;
    std::unique_ptr<ChildProgram> program;

    void put(const QString& name, const QByteArray& bytes) {
        writefile(served.filePath(name), bytes);
    }
    QByteArray saved(const QString& name) const { return readfile(downloads.filePath(name)); }
    QStringList logged() const {
        QStringList links;
        for (const QByteArray& line : program->read(QStringLiteral("log.txt")).split('\n'))
            if (const qsizetype at = line.indexOf(" : Download : "); at >= 0)
                links << QString::fromUtf8(line.mid(at + 14)).remove(QLatin1Char('\r'));
        return links;
    }
    QByteArray varsfor(const QString& folder) const {
        return "user=agent\r\npass=pa=ss\r\ndownloaddir=" + QFile::encodeName(folder) +
               "\r\nexternal1=0\r\numsg=1\r\nautostart=1\r\n";
    }
    // Starts the program, with auto-login, and waits for its login.
    void startprogram(const QByteArray& spool = QByteArray()) {
        const int before = server.logins().size();
        program->write(QStringLiteral("vars.ini"), varsfor(downloads.path()));
        if (!spool.isNull()) program->write(QStringLiteral("spool.ini"), spool);
        // A stand-in for the desktop's opener, first on the path.
        program->write(QStringLiteral("xdg-open"),
                       "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$(dirname \"$0\")/opened.txt\"\n");
        QFile::setPermissions(program->file(QStringLiteral("xdg-open")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ExeOwner);
        QVERIFY(program->start({}, {QStringLiteral("PATH=") + program->folder() + QLatin1Char(':') +
                                    qEnvironmentVariable("PATH")}));
        QVERIFY2(waitfor([&] { return server.logins().size() > before && server.loggedin() == 1; },
                         30000),
                 "the program did not log in");
        QCOMPARE(server.logins().last(), QByteArray("0#agent,pa=ss#\r\n"));
    }

  private slots:
    void initTestCase() {
        if (!server.listen(5000))
            QSKIP("port 5000 is taken on this machine; the program's server port is fixed");
        server.addaccount(QStringLiteral("agent"), QStringLiteral("pa=ss"));
        server.setpause(400);
    }

    void init() {
        program = std::make_unique<ChildProgram>();
        // A new file server for each test: its fault plan counts requests from its start.
        fileserver = std::make_unique<FileServer>();
        QVERIFY(fileserver->listen(served.path()));
        for (const QString& name : QDir(downloads.path()).entryList(QDir::Files))
            QFile::remove(downloads.filePath(name));
    }

    void cleanup() {
        if (program->process().state() != QProcess::NotRunning) {
            program->signal(SIGTERM);
            program->waitforexit();
        }
        program.reset();
        waitfor([&] { return server.connections() == 0; }, 10000);
    }

    void linksOfEveryKindEndAsTheyShould() {
        const QByteArray whole = noise(3 * 1024 * 1024, 1);
        put(QStringLiteral("whole.bin"), whole);
        put(QStringLiteral("cut.bin"), noise(2 * 1024 * 1024 + 77, 2));
        startprogram();

        // A plain link, then one whose body is cut once in the middle.
        server.send(fileserver->url(QStringLiteral("whole.bin")).toUtf8());
        QVERIFY(waitfor([&] { return saved(QStringLiteral("whole.bin")) == whole; }, 60000));
        FileServer::Faults cut;
        cut.cutafter = 1000000;
        fileserver->setplan({FileServer::Faults(), cut, FileServer::Faults()});
        server.send(fileserver->url(QStringLiteral("cut.bin")).toUtf8());
        QVERIFY(
            waitfor([&] { return saved(QStringLiteral("cut.bin")).size() == 2 * 1024 * 1024 + 77; },
                    60000));
        QCOMPARE(saved(QStringLiteral("cut.bin")), noise(2 * 1024 * 1024 + 77, 2));
        // Resumed 4096 bytes before the point the cut left it at.
        bool resumed = false;
        for (int i = 0; i < fileserver->heads().size(); ++i)
            resumed = resumed || fileserver->header(i, "Range") == "bytes=995904-";
        QVERIFY(resumed);

        // A 404, a secure link, an ed2k link: no file; logged; the ed2k link opened.
        FileServer::Faults missing;
        missing.status = 404;
        fileserver->setplan({missing}); // from here on every request
        const QString ed2k =
            QStringLiteral("ed2k://|file|x y.avi|10|0123456789ABCDEF0123456789ABCDEF|/");
        server.send(fileserver->url(QStringLiteral("gone.bin")).toUtf8());
        server.send("https://127.0.0.1/secure.bin");
        server.send(ed2k.toUtf8());
        QVERIFY(waitfor([&] { return logged().size() == 5; }, 30000));
        QVERIFY(waitfor(
            [&] { return program->read(QStringLiteral("opened.txt")) == ed2k.toUtf8() + "\n"; }));
        QCOMPARE(logged().mid(2),
                 QStringList({fileserver->url(QStringLiteral("gone.bin")),
                              QStringLiteral("https://127.0.0.1/secure.bin"), ed2k}));
        QCOMPARE(QDir(downloads.path()).entryList(QDir::Files),
                 QStringList({"cut.bin", "whole.bin"}));
    }

    void quickSuccessionIsFetchedInOrder() {
        for (const char* name : {"q1.bin", "q2.bin", "q3.bin"})
            put(QString::fromLatin1(name), noise(512 * 1024, quint32(name[1])));
        FileServer::Faults slow;
        slow.stallafter = 1000;
        slow.stallms = 1500; // the first one is still running when the others come
        fileserver->setplan({slow, FileServer::Faults()});
        startprogram();
        for (const char* name : {"q1.bin", "q2.bin", "q3.bin"})
            server.send(fileserver->url(QString::fromLatin1(name)).toUtf8());
        QVERIFY(
            waitfor([&] { return saved(QStringLiteral("q3.bin")).size() == 512 * 1024; }, 60000));
        QStringList order;
        for (const QByteArray& head : fileserver->heads())
            if (order.isEmpty() || order.last() != QString::fromLatin1(head.split(' ').value(1)))
                order << QString::fromLatin1(head.split(' ').value(1));
        QCOMPARE(order, QStringList({"/q1.bin", "/q2.bin", "/q3.bin"}));
        // Queued links are logged when they come and again when they leave the spool.
        QCOMPARE(logged().size(), 5);
    }

    void killsKeepEveryQueuedLink_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGKILL") << SIGKILL;
        QTest::newRow("SIGTERM") << SIGTERM;
    }

    void killsKeepEveryQueuedLink() {
        QFETCH(int, signal);
        put(QStringLiteral("big.bin"), noise(1024 * 1024, 9));
        put(QStringLiteral("next.bin"), noise(4096, 10));
        FileServer::Faults stall;
        stall.stallafter = 100000;
        stall.stallms = 60000; // in flight for as long as the test needs
        fileserver->setplan({stall});
        startprogram();
        const QString big = fileserver->url(QStringLiteral("big.bin"));
        const QString next = fileserver->url(QStringLiteral("next.bin"));
        server.send(big.toUtf8());
        server.send(next.toUtf8());
        server.send("http://127.0.0.1:1/last");
        const QByteArray expected =
            (QStringList({big, next, "http://127.0.0.1:1/last"}).join("\r\n") + "\r\n").toUtf8();
        QVERIFY(
            waitfor([&] { return program->read(QStringLiteral("spool.ini")) == expected; }, 30000));
        program->signal(signal);
        QVERIFY(program->waitforexit());
        QCOMPARE(program->read(QStringLiteral("spool.ini")), expected);
        if (signal == SIGTERM) {
            const QList<QByteArray> vars = program->read(QStringLiteral("vars.ini")).split('\n');
            QCOMPARE(vars.size(), 7);
            QCOMPARE(vars[1], QByteArray("pass=pa=ss\r"));
            QVERIFY(vars[2].startsWith("downloaddir=" + QFile::encodeName(downloads.path())));
        }

        // The next start fetches the spool again, the interrupted link first.
        fileserver->setplan({});
        QVERIFY(waitfor([&] { return server.connections() == 0; }, 10000));
        program->process().start(program->folder() + QStringLiteral("/quillharbor"));
        QVERIFY(program->process().waitForStarted());
        QVERIFY(waitfor([&] { return saved(QStringLiteral("next.bin")).size() == 4096; }, 60000));
        QCOMPARE(saved(QStringLiteral("big.bin")), noise(1024 * 1024, 9));
    }

    void dropIsFollowedByReconnection() {
        startprogram();
        server.dropall();
        // The program retries every 60 seconds.
        QVERIFY2(
            waitfor([&] { return server.loggedin() == 1 && server.logins().size() >= 2; }, 90000),
            "no reconnection within 90 seconds");
        QCOMPARE(server.logins().last(), QByteArray("0#agent,pa=ss#\r\n"));
    }

    void realNginxServesTheSameBytes() {
        QTemporaryDir root;
        const QByteArray bytes = noise(5 * 1024 * 1024 + 3, 5);
        writefile(root.filePath(QStringLiteral("n.bin")), bytes);
        Nginx nginx(root.path());
        QVERIFY2(nginx.start(), qPrintable(nginx.error()));
        startprogram();
        server.send(nginx.url(QStringLiteral("n.bin")).toUtf8());
        QVERIFY(
            waitfor([&] { return saved(QStringLiteral("n.bin")).size() == bytes.size(); }, 60000));
        QCOMPARE(saved(QStringLiteral("n.bin")), bytes);
    }
};

QTEST_MAIN(Program)
#include "tst_program.moc"
