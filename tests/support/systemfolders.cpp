#include "support/systemfolders.h"

#include <QFile>
#include <QLibraryInfo>
#include <QSettings>

namespace testsupport {

SystemFolders::SystemFolders() : oldconfighome(qgetenv("XDG_CONFIG_HOME")) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, dir.path());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(confighome()));
}

SystemFolders::~SystemFolders() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope,
                       QLibraryInfo::path(QLibraryInfo::SettingsPath));
    qputenv("XDG_CONFIG_HOME", oldconfighome);
}

QString SystemFolders::systemfile(const QString& organisation, const QString& application) const {
    return dir.filePath(organisation + QLatin1Char('/') + application + QStringLiteral(".conf"));
}

void SystemFolders::setsystemvalue(const QString& organisation, const QString& application,
                                   const QString& key, const QString& value) const {
    QSettings(systemfile(organisation, application), QSettings::IniFormat).setValue(key, value);
}

} // namespace testsupport
