// Link intake benchmark: the agent, in its real window (offscreen), logged in
// to the reference server (a child process), fetches one link whose body
// stalls; meanwhile the server streams N more links, 1 ms apart, each its own
// message. Prints the agent's CPU seconds, the bytes it wrote to spool.ini,
// its peak resident memory and the longest time its GUI thread served no
// events, all over the stream.
//
//   bench_intake N
#include "app/principal.h"
#include "app/quillharbor.h"
#include "support/peakmemory.h"
#include "platform/winsock.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The program folder; writes to any file in it but log.txt are the spool's
// (vars.ini is written only at shutdown, after the measurement).
char watched[4096] = {0};
std::atomic<qint64> spoolbytes{0};

double cpuseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What each file descriptor is, as far as the counting goes: 0 not known yet,
// 1 a spool file, 2 anything else; forgotten when it is closed.
std::atomic<char> kinds[65536];

char kindof(int fd) {
    char target[4096];
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0) return 2;
    target[length] = 0;
    const size_t prefix = std::strlen(watched);
    const bool spool = std::strncmp(target, watched, prefix) == 0 && target[prefix] == '/' &&
                       std::strcmp(target + prefix, "/log.txt") != 0;
    return spool ? 1 : 2;
}

} // namespace

// Every write(2) and close(2) call of Qt in this process passes here (the
// executable's definitions come first in symbol lookup); the bytes that reach
// a file of the program folder other than log.txt are counted.
extern "C" ssize_t write(int fd, const void* data, size_t size) {
    const ssize_t done = ssize_t(syscall(SYS_write, fd, data, size));
    if (done > 0 && fd > 2 && fd < 65536 && watched[0] != 0) {
        if (kinds[fd] == 0) kinds[fd] = kindof(fd);
        if (kinds[fd] == 1) spoolbytes += done;
    }
    return done;
}

extern "C" int close(int fd) {
    if (fd >= 0 && fd < 65536) kinds[fd] = 0;
    return int(syscall(SYS_close, fd));
}

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 5000;

    QTemporaryDir work;
    const QString served = work.filePath(QStringLiteral("served"));
    const QString downloads = work.filePath(QStringLiteral("downloads"));
    QDir().mkpath(served);
    QDir().mkpath(downloads);
    testsupport::writefile(served + QStringLiteral("/slow.bin"), QByteArray(1024 * 1024, 's'));

    // The server: links 1 ms apart; the body of every file stalls after 64 KiB.
    QProcess server;
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start(QStringLiteral(QH_SERVER_EXE),
                 {QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--account"),
                  QStringLiteral("bench:bench"), QStringLiteral("--pause"), QStringLiteral("1"),
                  QStringLiteral("--serve"), served, QStringLiteral("--http-port"),
                  QStringLiteral("0"), QStringLiteral("--stall"), QStringLiteral("3600"),
                  QStringLiteral("--stall-after"), QStringLiteral("65536")});
    QByteArray output;
    QObject::connect(&server, &QProcess::readyReadStandardOutput, [&] {
        const QByteArray more = server.readAllStandardOutput();
        if (output.size() < 4096) output += more;
    });
    const auto port = [&](const char* pattern) {
        const auto match =
            QRegularExpression(QString::fromLatin1(pattern)).match(QString::fromUtf8(output));
        return match.hasMatch() ? match.captured(1).toInt() : 0;
    };
    if (!testsupport::waitfor(
            [&] { return port("listening on 127\\.0\\.0\\.1:(\\d+)") && port(":(\\d+)/\\n"); },
            10000)) {
        std::fprintf(stderr, "the reference server did not start\n");
        return 1;
    }
    const int lineport = port("listening on 127\\.0\\.0\\.1:(\\d+)");
    const int httpport = port(":(\\d+)/\\n");

    // The agent, logged in, fetching the slow file.
    testsupport::ProgramFolder folder;
    std::strncpy(watched, QFile::encodeName(folder.path()).constData(), sizeof watched - 1);
    auto form = testsupport::freshwindow();
    form->alfa->RemoteHost = QStringLiteral("127.0.0.1");
    form->alfa->RemotePort = lineport;
    form->downloaddir->setPath(downloads);
    form->usuario->setText(QStringLiteral("bench"));
    form->password->setText(QStringLiteral("bench"));
    form->Show();
    form->conectar_Click();
    if (!testsupport::waitfor([] { return principal::connstate == 2; }, 20000)) {
        std::fprintf(stderr, "the agent did not log in\n");
        return 1;
    }
    testsupport::pump(300);
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(httpport);
    QByteArray lines;
    for (int i = 0; i < count; ++i)
        lines += (base + QStringLiteral("flood/%1.bin\n").arg(i, 6, 10, QLatin1Char('0'))).toUtf8();
    // What the agent has read: each DataArrival is followed by a read of all
    // that waits.
    const qint64 streamed = lines.size() - count; // without the line ends
    qint64 received = 0;
    int reads = 0;
    QObject::connect(form->alfa, &platform::Winsock::DataArrival, [&](qint64 bytes) {
        received += bytes;
        ++reads;
    });

    // The download runs inside the event loop's call to the agent and never
    // returns: what follows runs from timers, inside the download's yields.
    // A precise 5 ms timer watches the GUI thread: its longest gap is the
    // longest stall.
    QElapsedTimer sincetick;
    qint64 longest = 0;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        longest = qMax(longest, sincetick.elapsed());
        sincetick.restart();
    });
    double cpubefore = 0;
    qint64 bytesbefore = 0;
    QElapsedTimer wall;
    QElapsedTimer still;
    int rows = -1;
    enum { fetching, streaming } phase = fetching;
    QTimer steps;
    steps.setInterval(100);
    QObject::connect(&steps, &QTimer::timeout, [&] {
        if (phase == fetching) {
            if (!form->bajando) return;
            phase = streaming;
            cpubefore = cpuseconds();
            bytesbefore = spoolbytes;
            wall.start();
            still.start();
            sincetick.start();
            watch.start();
            received = 0;
            reads = 0;
            server.write(lines);
            return;
        }
        // Until the agent has read everything and the spool has stopped growing.
        if (wall.elapsed() / 10000 != (wall.elapsed() - steps.interval()) / 10000)
            std::fprintf(stderr, "  %3lld s: %d reads, %d rows in the spool\n",
                         wall.elapsed() / 1000, reads, int(form->spoollist->ListCount()));
        if (form->spoollist->ListCount() != rows) {
            rows = form->spoollist->ListCount();
            still.restart();
        }
        if (received < streamed || still.elapsed() < 1000) return;
        watch.stop();
        const double cpu = cpuseconds() - cpubefore;
        const double seconds = double(wall.elapsed() - still.elapsed()) / 1000.0;
        const double written = double(spoolbytes - bytesbefore) / 1048576.0;
        std::printf("links:           %d sent 1 ms apart during a stalled download\n", count);
        std::printf("agent:           %d reads (one a link while it keeps up), %d rows in the "
                    "spool\n",
                    reads, rows);
        std::printf("time:            %8.1f s\n", seconds);
        std::printf("agent CPU:       %8.2f s\n", cpu);
        std::printf("spool.ini:       %8.1f MiB written\n", written);
        std::printf("peak RSS:        %8.1f MiB\n", testsupport::peakrssmib());
        std::printf("longest stall:   %8lld ms\n", longest);
        std::fflush(stdout);
        server.kill();
        server.waitForFinished();
        // The download is still inside its stall: no unwinding, so no
        // destructor removes the temporary folders.
        QDir(folder.path()).removeRecursively();
        work.remove();
        std::_Exit(0);
    });
    steps.start();
    server.write((base + QStringLiteral("slow.bin\n")).toUtf8());
    return QApplication::exec();
}
