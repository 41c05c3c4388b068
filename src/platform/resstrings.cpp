#include "platform/resstrings.h"

#include "config.h"

#include <QFile>
#include <QHash>
#include <QLocale>
#include <QUrl>
#include <optional>

static void initresources() {
    Q_INIT_RESOURCE(resources);
}

namespace platform {

namespace {
struct Texts {
    QString english;
    QString spanish;
};

std::optional<Language> chosen;

const QHash<int, Texts>& table() {
    static const QHash<int, Texts> loaded = [] {
        initresources();
        QHash<int, Texts> result;
        QFile file(QStringLiteral(":/strings.txt"));
        if (!file.open(QIODevice::ReadOnly)) return result;
        const QString website = QStringLiteral(QH_WEBSITE);
        const QString domain = QUrl(website).host();
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            if (line.startsWith(QLatin1Char('#'))) continue;
            const QStringList fields = line.split(QLatin1Char('\t'));
            bool numeric = false;
            const int id = fields.value(0).toInt(&numeric);
            if (!numeric || fields.size() != 3) continue;
            auto fill = [&](QString text) {
                return text.replace(QLatin1String("{website}"), website)
                    .replace(QLatin1String("{domain}"), domain);
            };
            result.insert(id, Texts{fill(fields[1]), fill(fields[2])});
        }
        return result;
    }();
    return loaded;
}
} // namespace

Language systemlanguage() {
    return QLocale::system().language() == QLocale::Spanish ? Language::Spanish : Language::English;
}

Language currentlanguage() {
    return chosen.value_or(systemlanguage());
}

void setlanguage(Language language) {
    chosen = language;
}

void resetlanguage() {
    chosen.reset();
}

QString LoadResString(int id) {
    const auto found = table().constFind(id);
    if (found == table().constEnd()) return QString();
    return currentlanguage() == Language::Spanish ? found->spanish : found->english;
}

} // namespace platform
