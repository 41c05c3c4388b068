#include "platform/autostart.h"

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/textfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

#ifdef Q_OS_WIN
namespace {
const QString runkey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\");
} // namespace
#endif

QString autostartcommand() {
    const QFileInfo program(exepath());
#ifdef Q_OS_WIN
    // Unquoted and without arguments, even when the path holds spaces.
    return QDir::toNativeSeparators(program.absolutePath()) + separator() +
           program.completeBaseName() + QStringLiteral(".exe");
#else
    return program.absoluteFilePath();
#endif
}

QString autostartentry(const QString& name) {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + name.toLower() + QStringLiteral(".desktop");
}

QString desktopexec(const QString& program) {
    // Inside quotes, ", `, $ and \ take a backslash; a % is doubled so it is
    // not read as a field code. Then the value itself is escaped as every
    // string of the entry is (so a backslash ends up as four).
    QString quoted;
    for (const QChar c : program) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%')) quoted += QLatin1Char('%');
        quoted += c;
    }
    quoted = QLatin1Char('"') + quoted + QLatin1Char('"');
    QString value;
    for (const QChar c : quoted) {
        if (c == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}

bool setautostart(const QString& name, const QString& command) {
#ifdef Q_OS_WIN
    return RegWrite(runkey + name, command);
#else
    const QString entry = autostartentry(name);
    if (!QDir().mkpath(QFileInfo(entry).absolutePath())) return false;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2\n"
                                        "Icon=quillharbor\n"
                                        "Terminal=false\n")
                             .arg(name, desktopexec(command));
    return writewhole(entry, text.toUtf8());
#endif
}

bool removeautostart(const QString& name) {
#ifdef Q_OS_WIN
    return RegDelete(runkey + name);
#else
    return QFile::remove(autostartentry(name));
#endif
}

} // namespace platform
