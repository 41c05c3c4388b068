#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

namespace {
QString overridden;

bool writablefolder(const QString& folder) {
    QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}
} // namespace

QString apppath() {
    if (!overridden.isEmpty())
        return overridden;
    static const QString chosen = [] {
        const QString beside = QCoreApplication::applicationDirPath();
        if (writablefolder(beside))
            return beside;
        QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QDir().mkpath(data);
        return QDir::cleanPath(data);
    }();
    return chosen;
}

void setapppath(const QString& folder) { overridden = QDir::cleanPath(folder); }

QString appfile(const QString& name) { return apppath() + separator() + name; }

QString exepath() { return QCoreApplication::applicationFilePath(); }

QString separator() {
#ifdef Q_OS_WIN
    return QStringLiteral("\\");
#else
    return QStringLiteral("/");
#endif
}

} // namespace platform
