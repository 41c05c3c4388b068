#include "platform/registry.h"

#include <QSettings>
#include <QStringList>
#include <memory>

namespace platform {

namespace {
struct Location {
    std::unique_ptr<QSettings> settings;
    QString name;
};

// Opens the settings that hold the value `path` names; no settings for a
// path this program cannot address.
Location locate(const QString& path) {
    QStringList parts = QString(path)
                            .replace(QLatin1Char('/'), QLatin1Char('\\'))
                            .split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    Location found;
    if (parts.size() < 2) return found;
    found.name = parts.takeLast();
#ifdef Q_OS_WIN
    // A 32-bit program's view of HKEY_LOCAL_MACHINE\SOFTWARE.
    found.settings =
        std::make_unique<QSettings>(parts.join(QLatin1Char('\\')), QSettings::Registry32Format);
#else
    // HKEY_LOCAL_MACHINE, SOFTWARE, organisation, application, key groups...
    const bool machine =
        parts.size() >= 4 &&
        parts.at(0).compare(QLatin1String("HKEY_LOCAL_MACHINE"), Qt::CaseInsensitive) == 0 &&
        parts.at(1).compare(QLatin1String("SOFTWARE"), Qt::CaseInsensitive) == 0;
    if (!machine) return found;
    found.settings = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::SystemScope,
                                                 parts.at(2), parts.at(3));
    // Only the application's own file, not the organisation-wide one.
    found.settings->setFallbacksEnabled(false);
    const QStringList groups = parts.mid(4);
    if (!groups.isEmpty())
        found.name = groups.join(QLatin1Char('/')) + QLatin1Char('/') + found.name;
#endif
    return found;
}
} // namespace

QString RegRead(const QString& path) {
    const Location location = locate(path);
    if (!location.settings || location.settings->status() != QSettings::NoError) return QString();
    const QVariant value = location.settings->value(location.name);
    // An unquoted text holding commas comes back from a settings file as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

bool RegWrite(const QString& path, const QString& data) {
    const Location location = locate(path);
    if (!location.settings) return false;
    location.settings->setValue(location.name, data);
    location.settings->sync();
    return location.settings->status() == QSettings::NoError;
}

bool RegDelete(const QString& path) {
    const Location location = locate(path);
    if (!location.settings || !location.settings->contains(location.name)) return false;
    location.settings->remove(location.name);
    location.settings->sync();
    return location.settings->status() == QSettings::NoError;
}

} // namespace platform
