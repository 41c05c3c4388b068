// The real program, run as a child process from a folder of its own, against
// the reference server on port 5000 and a fault-injecting file server.
#include "fileserver.h"
#include "lineserver.h"
#include "support/childprogram.h"
#include "support/testsupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace testsupport;

class Program : public QObject {
    Q_OBJECT
    QTemporaryDir served;
    QTemporaryDir downloads;
    std::unique_ptr<FileServer> fileserver;
    LineServer server;
    std::unique_ptr<ChildProgram> program;

    QByteArray put(const QString& name, qint64 size, int seed) {
        const QByteArray bytes = pattern(size, seed);
        writefile(served.filePath(name), bytes);
        return bytes;
    }
    QByteArray saved(const QString& name) const { return readfile(downloads.filePath(name)); }
    QStringList logged() const { return loggedlinks(program->read("log.txt")); }
    // Starts the program with auto-login and waits for its login. The
    // settings are as another program may write them: LF line ends, a user
    // name in an 8-bit encoding (which goes on the wire as it is).
    void startprogram() {
        const int before = server.logins().size();
        program->write("vars.ini", "user=agent\xe9\npass=pa=ss\ndownloaddir=" +
                                       QFile::encodeName(downloads.path()) +
                                       "\nexternal1=0\numsg=1\nautostart=1\n");
        QVERIFY(program->start());
        QVERIFY2(waitfor([&] { return server.logins().size() > before && server.loggedin() == 1; },
                         30000),
                 "the program did not log in");
        QCOMPARE(server.logins().last(), QByteArray("0#agent\xe9,pa=ss#\r\n"));
    }
    // A link whose body stalls for `ms` after its first bytes (first request only).
    QString stalling(int ms) {
        put("slow.bin", 64 * 1024, 7);
        fileserver->setplan({{.stallafter = 1000, .stallms = ms}, {}});
        return fileserver->url("slow.bin");
    }
    // The numbers of the flood links ("/f/000123") in `text`, in order.
    static QList<int> numbers(const QString& text) {
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
    // A number in the running program's status ("SigCgt", "VmHWM").
    qulonglong status(const QByteArray& field, int base) const {
        const qint64 pid = program->process().processId();
        const QByteArray all = readfile(QString("/proc/%1/status").arg(pid));
        const QByteArray line = all.mid(all.indexOf('\n' + field + ':') + field.size() + 2);
        return line.left(line.indexOf('\n')).trimmed().split(' ')[0].toULongLong(nullptr, base);
    }
    void flood(int count) {
        server.setpause(1);
        for (int i = 0; i < count; ++i)
            server.send(fileserver->url(QString("f/%1").arg(i, 6, 10, QLatin1Char('0'))).toUtf8());
    }

  private slots:
    void initTestCase() {
        if (!server.listen(5000))
            QSKIP("port 5000 is taken on this machine; the program's server port is fixed");
        server.addaccount("agent\xe9", "pa=ss");
    }

    void init() {
        server.setpause(400);
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

    // A kill, or a request to end (handled as the window's close), while a
    // transfer is in flight and links wait: spool.ini holds every link, the
    // one in flight first; a request to end also saves the settings, byte
    // for byte as they were read. The next start fetches the links again.
    void kills_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGKILL") << SIGKILL;
        QTest::newRow("SIGTERM") << SIGTERM;
    }
    void kills() {
        QFETCH(int, signal);
        const QByteArray big = put("big.bin", 1024 * 1024, 9);
        put("next.bin", 4096, 10);
        // In flight for as long as the test needs.
        fileserver->setfaults({.stallafter = 100000, .stallms = 60000});
        startprogram();
        const QByteArray links[] = {fileserver->url("big.bin").toUtf8(),
                                    fileserver->url("next.bin").toUtf8()};
        server.send(links[0]);
        server.send(links[1]);
        // Kept byte for byte, the line break inside it percent-encoded.
        server.send("http://127.0.0.1:1/caf\xe9\r\nlast");
        const QByteArray expected =
            links[0] + "\r\n" + links[1] + "\r\nhttp://127.0.0.1:1/caf\xe9%0D%0Alast\r\n";
        QVERIFY(waitfor([&] { return program->read("spool.ini") == expected; }, 30000));
        program->signal(signal);
        QVERIFY(program->waitforexit());
        QCOMPARE(program->read("spool.ini"), expected);
        if (signal != SIGKILL) {
            QCOMPARE(program->process().exitStatus(), QProcess::NormalExit);
            QCOMPARE(program->process().exitCode(), 0);
            QVERIFY(program->read("vars.ini")
                        .startsWith("user=agent\xe9\r\npass=pa=ss\r\ndownloaddir=" +
                                    QFile::encodeName(downloads.path())));
        }

        // Meanwhile the body is in big.bin.part, and nothing claims to be big.bin.
        QVERIFY(!QFile::exists(downloads.filePath("big.bin")));
        const qint64 partsize = QFileInfo(downloads.filePath("big.bin.part")).size();
        QVERIFY(partsize > 0);

        // The next start fetches the spool again, the interrupted link first,
        // asking for the rest from 4096 bytes before the end of the partial file.
        fileserver->setplan({});
        const qsizetype before = fileserver->heads().size();
        QVERIFY(waitfor([&] { return server.connections() == 0; }, 10000));
        program->process().start(program->folder() + "/quillharbor");
        QVERIFY(program->process().waitForStarted());
        QVERIFY(waitfor([&] { return saved("next.bin").size() == 4096; }, 60000));
        QCOMPARE(saved("big.bin"), big);
        QCOMPARE(fileserver->header(int(before), "Range"),
                 "bytes=" + QByteArray::number(qMax<qint64>(partsize - 4096, 0)) + '-');
        QCOMPARE(QDir(downloads.path()).entryList(QDir::Files),
                 (QStringList{"big.bin", "next.bin"}));
    }

    // Killed while the body comes (over several connections, or one), then
    // started again: every piece missing is asked for again, from where it
    // stood, also when the server is away (its port refusing) for 40 s after
    // the start; the file is saved whole, its partial file there all along.
    void resumes_data() {
        QTest::addColumn<bool>("spread");
        QTest::newRow("several connections") << true;
        QTest::newRow("server away for 40 s") << false;
    }
    void resumes() {
        QFETCH(bool, spread);
        const QByteArray big = put("big.bin", 8 * 1024 * 1024, 12);
        // 2 MiB/s a connection, or 100000 bytes and no more.
        using Faults = FileServer::Faults;
        fileserver->setfaults(spread ? Faults{.dribble = 4096, .etag = "\"v\""}
                                     : Faults{.stallafter = 100000, .stallms = 600000});
        startprogram();
        server.send(fileserver->url("big.bin").toUtf8());
        const QByteArray part = QFile::encodeName(downloads.filePath("big.bin.part"));
        char pieces[256] = {};
        QVERIFY(waitfor([&] {
            return spread ? getxattr(part, "user.quillharbor.pieces", pieces, 255) > 0 &&
                                std::strchr(pieces, ',')
                          : QFileInfo(part).size() >= 100000;
        }));
        program->signal(SIGKILL);
        QVERIFY(program->waitforexit());
        const quint16 port = fileserver->port();
        if (spread)
            fileserver->setfaults({.etag = "\"v\""});
        else
            fileserver = std::make_unique<FileServer>(); // nothing listens there now
        const qsizetype before = fileserver->heads().size();
        QVERIFY(waitfor([&] { return server.connections() == 0; }, 10000));
        program->process().start(program->folder() + "/quillharbor");
        QDeadlineTimer away(spread ? 0 : 40000);
        bool kept = true; // the partial file, or the file, there all along
        const auto whole = [&] {
            kept &= QFile::exists(part) || QFile::exists(downloads.filePath("big.bin"));
            return !kept || (away.hasExpired() && saved("big.bin") == big);
        };
        QVERIFY(waitfor([&] { return whole() || away.hasExpired(); }, 60000));
        if (!spread) QVERIFY(fileserver->listen(served.path(), port));
        QVERIFY(waitfor(whole, 120000) && kept);
        // Nothing asked for again from the start.
        for (const QByteArray& head : fileserver->heads().mid(before))
            QVERIFY2(!head.contains("Range: bytes=0-"), head);
    }

    // A link under way when the program ended three runs in a row (killed,
    // as the system kills a program that runs out of memory), its partial
    // file not growing, is not fetched again: it leaves the spool
    // with its outcome, and the next link is saved.
    void endedProgramThreeTimes() {
        const QString hang = stalling(600000);
        fileserver->setfaults({.stallafter = 1000, .stallms = 600000}); // every time
        const QByteArray next = put("next.bin", 4096, 11);
        startprogram();
        server.send(hang.toUtf8());
        server.send(fileserver->url("next.bin").toUtf8());
        QVERIFY(waitfor([&] { return program->read("spool.ini").contains("next.bin"); }, 30000));
        // The first run makes the partial file, three more leave it as it was.
        QByteArray record;
        for (int run = 1; run <= 4; ++run) {
            QVERIFY(waitfor([&] { return program->read("transfer.ini") != record; }, 30000));
            record = program->read("transfer.ini");
            program->signal(SIGKILL);
            QVERIFY(program->waitforexit());
            QVERIFY(waitfor([&] { return server.connections() == 0; }, 10000));
            startprogram();
        }
        fileserver->setfaults({});
        QVERIFY(waitfor([&] { return saved("next.bin") == next; }, 30000));
        QCOMPARE(fileserver->heads().size(), 5);
        QVERIFY(program->read("log.txt").contains(" : Not saved : " + hang.toUtf8() +
                                                  " : the transfer ended the program\r\n"));
        QVERIFY(waitfor([&] { return program->read("spool.ini").isEmpty(); }, 10000));
        QVERIFY(!QFile::exists(program->folder() + "/transfer.ini"));
    }

    // A named pipe, a link to an endless device or a 3 GiB (sparse) file in
    // place of a state file neither holds the program up nor brings it down:
    // it is taken as no file, the program works and ends normally, and leaves
    // a small file of its own there (for transfer.ini, none).
    void unusableStateFiles_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("kind");
        for (const char* file : {"vars.ini", "spool.ini", "transfer.ini"})
            for (const char* kind : {"pipe", "link", "huge"})
                QTest::addRow("%s, %s", file, kind) << file << kind;
    }
    void unusableStateFiles() {
        QFETCH(QString, file);
        QFETCH(QString, kind);
        const QString path = program->folder() + '/' + file;
        QFile huge(path);
        QVERIFY(kind == "pipe"   ? mkfifo(QFile::encodeName(path), 0600) == 0
                : kind == "link" ? symlink("/dev/zero", QFile::encodeName(path)) == 0
                                 : huge.open(QIODevice::WriteOnly) && huge.resize(qint64(3) << 30));
        const QByteArray bytes = put("ok.bin", 4096, 12);
        if (file == "vars.ini") { // nothing to log in with: ended once it handles SIGTERM
            QVERIFY(program->start());
            QVERIFY(waitfor([&] { return status("SigCgt", 16) >> (SIGTERM - 1) & 1; }, 30000));
        } else {
            startprogram();
            server.send(fileserver->url("ok.bin").toUtf8());
            QVERIFY(waitfor([&] { return saved("ok.bin") == bytes; }, 30000));
        }
        QVERIFY(status("VmHWM", 10) < 1024 * 1024); // KiB: the file was not read
        program->signal(SIGTERM);
        QVERIFY(program->waitforexit());
        QVERIFY(program->process().exitStatus() == QProcess::NormalExit &&
                program->process().exitCode() == 0);
        const QFileInfo left(path);
        QVERIFY(!left.isSymLink() &&
                (file == "transfer.ini" ? !left.exists() : left.isFile() && left.size() < 4096));
    }

    // Twenty thousand links, 1 ms apart, while a slow transfer runs (and after it
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
        flood(count);
        QVERIFY(waitfor([&] { return server.queued() == 0; }, 300000));
        server.setpause(400);
        const QString last = QString("/f/%1").arg(count - 1, 6, 10, QLatin1Char('0'));
        QStringList links;
        QVERIFY(waitfor(
            [&] {
                pump(200);
                links = logged();
                return !links.filter(last).isEmpty();
            },
            120000));
        QCOMPARE(program->process().state(), QProcess::Running);

        // Logged when received, each once, in order; again when fetched from the spool.
        QStringList received, again;
        QSet<QString> seen;
        for (const QString& link : links) {
            (seen.contains(link) ? again : received) << link;
            seen.insert(link);
        }
        QCOMPARE(received.first(), slow);
        QCOMPARE(numbers(received.join(' ')), range(0, count));

        // Fetched in the order they came; what is not fetched is in spool.ini, in order.
        const QList<int> spooled = numbers(program->read("spool.ini"));
        QList<int> fetched;
        for (const QByteArray& head : fileserver->heads().mid(1))
            fetched += numbers(head.left(head.indexOf('\r')));
        QVERIFY2(fetched.size() > 1, "nothing was fetched after the slow transfer");
        QCOMPARE(fetched, range(0, int(fetched.size())));
        const QList<int> refetched = numbers(again.join(' '));
        const qsizetype both = qMin(refetched.size(), fetched.size());
        QCOMPARE(refetched.mid(0, both), fetched.mid(0, both));
        QVERIFY(!spooled.isEmpty() && spooled.first() <= fetched.size());
        QCOMPARE(spooled, range(spooled.first(), count));

        program->signal(SIGTERM);
        QVERIFY(program->waitforexit());
        QCOMPARE(program->process().exitCode(), 0);
        const QList<int> saved = numbers(program->read("spool.ini"));
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
            flood(4000);
            QVERIFY(waitfor([&] { return server.queued() < 3950; }, 10000));
            pump(int(QRandomGenerator::global()->bounded(2500)));
            program->signal(SIGKILL);
            QVERIFY(program->waitforexit());
            const QList<int> logged = numbers(this->logged().join(' '));
            const QByteArray spool = program->read("spool.ini");
            QVERIFY(spool.startsWith(slow.toUtf8() + "\r\n"));
            const QList<int> kept = numbers(spool);
            QVERIFY2(logged.size() > 10, "too few links before the kill");
            QCOMPARE(kept.mid(0, logged.size()), logged);
            QCOMPARE(kept, range(0, int(kept.size())));
        }
    }
};

QTEST_MAIN(Program)
#include "tst_program.moc"
