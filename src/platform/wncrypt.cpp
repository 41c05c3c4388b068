#include "platform/wncrypt.h"

#include <QLibrary>

namespace platform {

namespace {
QString libraryname = QStringLiteral("wncrypt");
using Entry = const char* (*)(double);
} // namespace

void setwncryptlibrary(const QString& name) {
    libraryname = name;
}

QString GetVersionWnCrypt(const QTime& time) {
    const auto entry = reinterpret_cast<Entry>(QLibrary::resolve(libraryname, "GetVersionWnCrypt"));
    if (!entry) return QString();
    const double fraction = time.msecsSinceStartOfDay() / 86400000.0;
    const char* text = entry(fraction);
    return text ? QString::fromUtf8(text) : QString();
}

} // namespace platform
