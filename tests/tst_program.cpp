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
    // As another program may write it: LF line ends, a user name in an 8-bit
    // encoding (which goes on the wire as it is).
    QByteArray varsfor(const QString& folder) const {
        return "user=agent\xe9\npass=pa=ss\ndownloaddir=" + QFile::encodeName(folder) +
               "\nexternal1=0\numsg=1\nautostart=1\n";
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
        QCOMPARE(server.logins().last(), QByteArray("0#agent\xe9,pa=ss#\r\n"));
    }
    // A file whose body stalls for `ms` after its first bytes, and the plan
    // that serves it so (first request) and everything else correctly.
    QString stalling(int ms) {
        put(QStringLiteral("slow.bin"), noise(64 * 1024, 7));
        FileServer::Faults stall;
        stall.stallafter = 1000;
        stall.stallms = ms;
        fileserver->setplan({stall, FileServer::Faults()});
        return fileserver->url(QStringLiteral("slow.bin"));
    }
    // The numbers of the flood links ("/f/000123") in `text`, in order.
    static QList<int> numbers(const QByteArray& text) {
        QList<int> found;
        for (qsizetype at = text.indexOf("/f/"); at >= 0; at = text.indexOf("/f/", at + 3))
            found << text.mid(at + 3, 6).toInt();
        return found;
    }
    static QList<int> range(int from, int to) {
        QList<int> all;
        for (int i = from; i < to; ++i)
            all << i;
        return all;
    }

  private slots:
    void initTestCase() {
        if (!server.listen(5000))
            QSKIP("port 5000 is taken on this machine; the program's server port is fixed");
        server.addaccount("agent\xe9", "pa=ss");
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
        const QByteArray big = fileserver->url(QStringLiteral("big.bin")).toUtf8();
        const QByteArray next = fileserver->url(QStringLiteral("next.bin")).toUtf8();
        server.send(big);
        server.send(next);
        // Kept byte for byte, the line break inside it percent-encoded.
        server.send("http://127.0.0.1:1/caf\xe9\r\nlast");
        const QByteArray expected =
            big + "\r\n" + next + "\r\n" + "http://127.0.0.1:1/caf\xe9%0D%0Alast\r\n";
        QVERIFY(
            waitfor([&] { return program->read(QStringLiteral("spool.ini")) == expected; }, 30000));
        program->signal(signal);
        QVERIFY(program->waitforexit());
        QCOMPARE(program->read(QStringLiteral("spool.ini")), expected);
        if (signal == SIGTERM) {
            const QList<QByteArray> vars = program->read(QStringLiteral("vars.ini")).split('\n');
            QCOMPARE(vars.size(), 7);
            QCOMPARE(vars[0], QByteArray("user=agent\xe9\r"));
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

    // 20,000 links, 1 ms apart, while a slow transfer runs (and after it
    // ended): the program stays alive and logs each link once when it comes,
    // fetches them in the order they came, and spool.ini holds every link not
    // yet fetched, in that order. Links may reach it joined (the protocol has
    // no framing), so the checks follow the links' numbers.
    void floodIsTakenInOrder() {
        const int count = 20000;
        const QString slow = stalling(8000);
        startprogram();
        server.send(slow.toUtf8());
        QVERIFY(waitfor([&] { return fileserver->heads().size() == 1; }, 30000));
        server.setpause(1);
        for (int i = 0; i < count; ++i)
            server.send(
                fileserver->url(QStringLiteral("f/%1").arg(i, 6, 10, QLatin1Char('0'))).toUtf8());
        QVERIFY(waitfor([&] { return server.queued() == 0; }, 300000));
        server.setpause(400);
        QByteArray log;
        QVERIFY(waitfor(
            [&] {
                pump(200);
                log = program->read(QStringLiteral("log.txt"));
                return log.contains(
                    QStringLiteral("/f/%1").arg(count - 1, 6, 10, QLatin1Char('0')).toUtf8());
            },
            120000));
        QCOMPARE(program->process().state(), QProcess::Running);

        // Logged when received, each once, in order; again when fetched from the spool.
        QList<QByteArray> received;
        QList<QByteArray> again;
        QSet<QByteArray> seen;
        for (const QByteArray& line : log.split('\n')) {
            if (!line.contains(" : Download : ")) continue;
            const QByteArray link = line.mid(line.indexOf(" : Download : ") + 14).trimmed();
            (seen.contains(link) ? again : received) << link;
            seen.insert(link);
        }
        QCOMPARE(received.first(), slow.toUtf8());
        QCOMPARE(numbers(received.join()), range(0, count));

        // Fetched in the order they came; what is not fetched is in spool.ini, in order.
        const QList<int> spooled = numbers(program->read(QStringLiteral("spool.ini")));
        QList<int> fetched;
        for (const QByteArray& head : fileserver->heads().mid(1))
            fetched += numbers(head.left(head.indexOf('\r')));
        QVERIFY2(fetched.size() > 1, "nothing was fetched after the slow transfer");
        QCOMPARE(fetched, range(0, int(fetched.size())));
        const QList<int> refetched = numbers(again.join());
        const qsizetype both = qMin(refetched.size(), fetched.size());
        QCOMPARE(refetched.mid(0, both), fetched.mid(0, both));
        QVERIFY(!spooled.isEmpty() && spooled.first() <= fetched.size());
        QCOMPARE(spooled, range(spooled.first(), count));

        program->signal(SIGTERM);
        QVERIFY(program->waitforexit());
        QCOMPARE(program->process().exitCode(), 0);
        const QList<int> saved = numbers(program->read(QStringLiteral("spool.ini")));
        QVERIFY(!saved.isEmpty() && saved.first() >= spooled.first());
        QCOMPARE(saved, range(saved.first(), count));
    }

    // A kill at a random moment while links stream in: spool.ini holds every
    // link the program had logged (and so read) and not finished.
    void killAtRandomMomentsLosesNoLink() {
        for (int round = 0; round < 4; ++round) {
            if (round > 0) {
                cleanup();
                init();
            }
            const QString slow = stalling(60000);
            startprogram();
            server.send(slow.toUtf8());
            QVERIFY(waitfor([&] { return fileserver->heads().size() == 1; }, 30000));
            server.setpause(1);
            for (int i = 0; i < 4000; ++i)
                server.send(fileserver->url(QStringLiteral("f/%1").arg(i, 6, 10, QLatin1Char('0')))
                                .toUtf8());
            QVERIFY(waitfor([&] { return server.queued() < 3950; }, 10000));
            pump(int(QRandomGenerator::global()->bounded(2500)));
            program->signal(SIGKILL);
            QVERIFY(program->waitforexit());
            server.setpause(400);
            QByteArray logged;
            for (const QByteArray& line : program->read(QStringLiteral("log.txt")).split('\n'))
                if (line.contains(" : Download : "))
                    logged += line.mid(line.indexOf(" : Download : ") + 14).trimmed() + '\n';
            const QByteArray spool = program->read(QStringLiteral("spool.ini"));
            QVERIFY(spool.startsWith(slow.toUtf8() + "\r\n"));
            const QList<int> kept = numbers(spool);
            QVERIFY2(numbers(logged).size() > 10, "too few links before the kill");
            QCOMPARE(kept.mid(0, numbers(logged).size()), numbers(logged));
            QCOMPARE(kept, range(0, int(kept.size())));
        }
    }

    void dropIsFollowedByReconnection() {
        startprogram();
        server.dropall();
        // The program retries every 60 seconds.
        QVERIFY2(
            waitfor([&] { return server.loggedin() == 1 && server.logins().size() >= 2; }, 90000),
            "no reconnection within 90 seconds");
        QCOMPARE(server.logins().last(), QByteArray("0#agent\xe9,pa=ss#\r\n"));
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
