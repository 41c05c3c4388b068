#include "fuzzagent.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "platform/paths.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

namespace fuzzagent {

namespace {
// In memory where the system offers it: every link handled rewrites the
// spool file, and syncing that to a disk would take most of the time.
// Removed when the fuzzer exits.
QTemporaryDir& folder() {
    static QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                 ? QStringLiteral("/dev/shm/quillharbor-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/quillharbor-fuzz-XXXXXX"));
    return dir;
}

void setenv(const char* name, const QString& value) {
    qputenv(name, QFile::encodeName(value));
}

// Qt's warnings about what the inputs asked for ("Broken filename passed to
// function", a window that cannot be raised offscreen) would bury the
// fuzzer's own output; fatal messages still end the run.
void quietwarnings(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtFatalMsg) {
        fprintf(stderr, "%s\n", qPrintable(text));
        std::abort();
    }
}

QString makefolder(const QString& name) {
    const QString path = folder().filePath(name);
    QDir().mkpath(path);
    return path;
}
} // namespace

void start() {
    static bool started = false;
    if (started) return;
    started = true;

    qInstallMessageHandler(quietwarnings);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    setenv("HOME", makefolder(QStringLiteral("home")));
    setenv("XDG_CONFIG_HOME", makefolder(QStringLiteral("home/.config")));
    setenv("XDG_DATA_HOME", makefolder(QStringLiteral("home/.local/share")));
    setenv("XDG_CONFIG_DIRS", makefolder(QStringLiteral("xdg-system")));
    const QString runtime = makefolder(QStringLiteral("runtime"));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setenv("XDG_RUNTIME_DIR", runtime);
    // No program can be found: links handed to the desktop go nowhere.
    setenv("PATH", makefolder(QStringLiteral("bin")));

    // QApplication keeps references to these for its whole life.
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    auto* application = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Q_UNUSED(application);

    platform::setapppath(makefolder(QStringLiteral("program")));
    new quillharbor; // becomes the program's main window
}

quillharbor& window() {
    return principal::mainwindow();
}

void write(const QString& name, const uint8_t* data, size_t size) {
    QFile file(platform::appfile(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(reinterpret_cast<const char*>(data), qint64(size));
}

void remove(const QString& name) {
    QFile::remove(platform::appfile(name));
}

} // namespace fuzzagent
