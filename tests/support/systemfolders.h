#pragma once
// Redirects the system-wide settings (download managers) and the user's
// configuration home (the autostart entry) into a temporary folder.
#include <QFile>
#include <QLibraryInfo>
#include <QSettings>
#include <QTemporaryDir>

namespace testsupport {

class SystemFolders {
  public:
    SystemFolders() : oldconfighome(qgetenv("XDG_CONFIG_HOME")) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, dir.path());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(confighome()));
    }
    ~SystemFolders() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope,
                           QLibraryInfo::path(QLibraryInfo::SettingsPath));
        qputenv("XDG_CONFIG_HOME", oldconfighome);
    }
    // The user's configuration home (stands for $XDG_CONFIG_HOME).
    QString confighome() const { return dir.filePath("config"); }
    // organisation/application.conf in the system settings (stands for /etc/xdg).
    QString systemfile(const QString& organisation, const QString& application) const {
        return dir.filePath(organisation + '/' + application + ".conf");
    }
    void setsystemvalue(const QString& organisation, const QString& application, const QString& key,
                        const QString& value) const {
        QSettings(systemfile(organisation, application), QSettings::IniFormat).setValue(key, value);
    }

  private:
    QTemporaryDir dir;
    QByteArray oldconfighome;
};

} // namespace testsupport
