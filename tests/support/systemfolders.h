#pragma once
// Redirects what the program reads and writes outside its own folder: the
// system-wide settings (where the download managers are found) and the user's
// configuration home (where the login autostart entry goes).
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class SystemFolders {
  public:
    SystemFolders();
    ~SystemFolders();
    // The user's configuration home (stands for $XDG_CONFIG_HOME).
    QString confighome() const { return dir.filePath(QStringLiteral("config")); }
    // organisation/application.conf in the system settings (stands for /etc/xdg).
    QString systemfile(const QString& organisation, const QString& application) const;
    void setsystemvalue(const QString& organisation, const QString& application, const QString& key,
                        const QString& value) const;

  private:
    QTemporaryDir dir;
    QByteArray oldconfighome;
};

} // namespace testsupport
