#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

namespace {
QString overridden;

// The portable layout keeps the state beside the executable; a system-wide
// install (a folder the user cannot write, or the system's own program
// folders, which root could write) keeps it in the user's data folder.
bool portablefolder(const QString& folder) {
    QFileInfo info(folder);
#ifndef Q_OS_WIN
    const QString canonical = info.canonicalFilePath();
    for (const QString system : {"/usr", "/bin", "/sbin", "/opt"})
        if (canonical == system || canonical.startsWith(system + QLatin1Char('/'))) return false;
#endif
    return info.isDir() && info.isWritable();
}
} // namespace

QString apppath() {
    if (!overridden.isEmpty()) return overridden;
    static const QString chosen = [] {
        const QString beside = QCoreApplication::applicationDirPath();
        if (portablefolder(beside)) return beside;
        QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QDir().mkpath(data);
        return QDir::cleanPath(data);
    }();
    return chosen;
}

void setapppath(const QString& folder) {
    overridden = QDir::cleanPath(folder);
}

QString appfile(const QString& name) {
    return apppath() + separator() + name;
}

QString exepath() {
    return QCoreApplication::applicationFilePath();
}

QString separator() {
#ifdef Q_OS_WIN
    return QStringLiteral("\\");
#else
    return QStringLiteral("/");
#endif
}

} // namespace platform
