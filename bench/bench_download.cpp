// Download benchmark: the agent's httpdownload in a real main window and curl
// fetch the same file from a private nginx over loopback; prints both
// throughputs, the CPU time each spent per GiB, their ratios and the agent's
// peak resident memory.
//
//   bench_download [size in MiB, default 1024]
//   bench_download --fetch|--fetch-shown URL FOLDER
//
// The second form only fetches URL into FOLDER with the agent (bench/compare
// runs it in a network namespace) and prints the transfer's wall-clock and
// CPU seconds and the agent's peak resident MiB on one line. The agent is in
// the tray there, its window hidden, as it lives unattended; --fetch-shown
// has its window on the screen, the display kept up to date.
#include "app/quillharbor.h"
#include "download/descargas.h"
#include "support/nginx.h"
#include "support/peakmemory.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

// A file of `mib` MiB whose bytes vary (nothing a transport could shortcut).
bool makefile(const QString& path, qint64 mib) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    for (qint64 i = 0; i < mib; ++i) {
        const QByteArray block = testsupport::pattern(1024 * 1024, int(i));
        if (out.write(block) != block.size()) return false;
    }
    return true;
}

double cpuseconds(const rusage& usage) {
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One curl run writing to `file`: its wall-clock and CPU seconds; false when
// it failed.
bool runcurl(const QString& curl, const QString& url, const QString& file, double* seconds,
             double* cpu) {
    const QByteArray program = QFile::encodeName(curl), out = QFile::encodeName(file),
                     address = url.toUtf8();
    char* const argv[] = {const_cast<char*>(program.constData()),
                          const_cast<char*>("-s"),
                          const_cast<char*>("-o"),
                          const_cast<char*>(out.constData()),
                          const_cast<char*>(address.constData()),
                          nullptr};
    QElapsedTimer clock;
    clock.start();
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return false;
    *seconds = double(clock.nsecsElapsed()) / 1e9;
    *cpu = cpuseconds(usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool samefile(const QString& a, const QString& b) {
    QFile x(a);
    QFile y(b);
    if (!x.open(QIODevice::ReadOnly) || !y.open(QIODevice::ReadOnly) || x.size() != y.size())
        return false;
    while (!x.atEnd())
        if (x.read(1 << 20) != y.read(1 << 20)) return false;
    return true;
}

struct agentrun {
    double seconds = 0, cpu = 0, peak = 0, before = 0;
};

// One transfer by the agent's downloader in a real main window; only the
// transfer is timed, not the window's start.
agentrun agentfetch(const QString& url, const QString& folder, bool shown) {
    testsupport::ProgramFolder program;
    auto window = testsupport::freshwindow();
    if (shown) window->Show();
    testsupport::pump(200);
    testsupport::resetpeakrss();
    agentrun run;
    run.before = testsupport::peakrssmib();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double cpubefore = cpuseconds(usage);
    QElapsedTimer clock;
    clock.start();
    descargas::httpdownload(url, folder + QLatin1Char('/'), QString(), QString());
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    getrusage(RUSAGE_SELF, &usage);
    run.cpu = cpuseconds(usage) - cpubefore;
    run.peak = testsupport::peakrssmib();
    return run;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QByteArray mode = argc == 4 ? argv[1] : "";
    if (mode == "--fetch" || mode == "--fetch-shown") {
        const agentrun run = agentfetch(QString::fromUtf8(argv[2]), QFile::decodeName(argv[3]),
                                        mode == "--fetch-shown");
        // Machine text: QByteArray::number ignores the locale.
        std::printf("%s %s %s\n", QByteArray::number(run.seconds, 'f', 3).constData(),
                    QByteArray::number(run.cpu, 'f', 3).constData(),
                    QByteArray::number(run.peak, 'f', 1).constData());
        return 0;
    }
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    const double bytes = double(mib) * 1024 * 1024;

    QTemporaryDir work;
    const QString served = work.filePath(QStringLiteral("served"));
    const QString agentdir = work.filePath(QStringLiteral("agent"));
    QDir().mkpath(served);
    QDir().mkpath(agentdir);
    const QString name = QStringLiteral("big.bin");
    std::printf("creating a %lld MiB file...\n", mib);
    std::fflush(stdout);
    if (!makefile(served + QLatin1Char('/') + name, mib)) {
        std::fprintf(stderr, "cannot create the file\n");
        return 1;
    }

    testsupport::Nginx nginx(served);
    if (!nginx.start()) {
        std::fprintf(stderr, "nginx: %s\n", qPrintable(nginx.error()));
        return 1;
    }
    const QString url = nginx.url(name);

    // curl writes to a file as the agent does.
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        std::fprintf(stderr, "curl is not installed\n");
        return 1;
    }
    const QString curlfile = work.filePath(QStringLiteral("curl.bin"));
    // curl runs before and after the agent; the faster run counts, so the
    // writing back of the file just created cannot flatter the ratio.
    double curlseconds[2] = {}, curlcpu[2] = {};
    bool curlok = runcurl(curl, url, curlfile, &curlseconds[0], &curlcpu[0]) &&
                  QFileInfo(curlfile).size() == qint64(bytes);
    QFile::remove(curlfile);
    // The agent, in its real window.
    const agentrun agent = agentfetch(url, agentdir, true);
    const bool agentok =
        samefile(agentdir + QLatin1Char('/') + name, served + QLatin1Char('/') + name);

    QFile::remove(agentdir + QLatin1Char('/') + name);
    curlok = runcurl(curl, url, curlfile, &curlseconds[1], &curlcpu[1]) && curlok &&
             QFileInfo(curlfile).size() == qint64(bytes);
    QFile::remove(curlfile);

    const double gib = bytes / (1024.0 * 1024 * 1024);
    const double curlbest = qMin(curlseconds[0], curlseconds[1]);
    const double curlrate = bytes / curlbest / 1048576.0;
    const double agentrate = bytes / agent.seconds / 1048576.0;
    const double curlcpugib = qMin(curlcpu[0], curlcpu[1]) / gib, agentcpugib = agent.cpu / gib;
    std::printf("file:            %lld MiB over loopback from nginx\n", mib);
    std::printf("curl:            %8.1f MiB/s  (%.2f s and %.2f s, the faster counts)%s\n",
                curlrate, curlseconds[0], curlseconds[1], curlok ? "" : "  FAILED");
    std::printf("agent:           %8.1f MiB/s  (%.2f s)%s\n", agentrate, agent.seconds,
                agentok ? "" : "  FAILED (file differs)");
    std::printf("ratio agent/curl: %.2f  (target at least 1.00)\n", agentrate / curlrate);
    std::printf(
        "CPU per GiB:     curl %.2f s (%.2f s and %.2f s, the lower counts), agent %.2f s\n",
        curlcpugib, curlcpu[0] / gib, curlcpu[1] / gib, agentcpugib);
    std::printf("CPU ratio agent/curl: %.2f  (target at most 1.00)\n", agentcpugib / curlcpugib);
    std::printf("agent peak RSS:  %8.1f MiB  (%.1f MiB before the transfer; target under 64)\n",
                agent.peak, agent.before);
    return curlok && agentok ? 0 : 1;
}
