#include "download/partial.h"

#include "platform/inert.h"
#include "platform/textfile.h"

namespace descargas {

namespace {
const QString suffix = QStringLiteral(".part");
// The longest name a folder entry may have (bytes; UTF-16 units on Windows).
constexpr qsizetype longestname = 255;

qsizetype namelength(const QString& name) {
#ifdef Q_OS_WIN
    return name.size();
#else
    return platform::encodetext(name).size();
#endif
}

// The link as the file's origin: the URL that was asked for, its bytes that
// were no UTF-8 percent-encoded, one line.
QByteArray originof(const QString& link) {
    return platform::oneline(platform::percentbytes(link)).toUtf8();
}
} // namespace

// Names that would write outside the download directory or onto it, hidden
// files (a link ending in "/.bashrc"), and misleading ones.
bool refusedname(const QString& name) {
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/')) ||
        name.contains(QLatin1Char('\\')) || namelength(name) + suffix.size() > longestname)
        return true;
    for (const QChar c : name)
        if (platform::misleading(c)) return true;
    return false;
}

QString partname(const QString& target) {
    return target + suffix;
}

found lookat(const QString& target, const QString& link, qint64& size) {
    size = -1;
    if (platform::entryat(target) == platform::Entry::directory) return found::notregular;
    const QString part = partname(target);
    switch (platform::entryat(part)) {
    case platform::Entry::none:
        return found::nothing;
    case platform::Entry::file:
        break;
    default:
        return found::notregular;
    }
    // One that cannot be opened (read-only, say) is replaced by a fresh one.
    platform::RawFile file;
    const platform::RawFile::Opened opened = file.reopen(part);
    if (opened == platform::RawFile::Opened::notregular) return found::notregular;
    if (opened != platform::RawFile::Opened::ok) return found::nothing;
    size = file.size();
    return size >= 0 && file.origin() == originof(link) ? found::partial : found::nothing;
}

platform::RawFile::Opened openfresh(platform::RawFile& part, const QString& path,
                                    const QString& link) {
    if (platform::entryat(path) == platform::Entry::file) platform::removefile(path);
    const platform::RawFile::Opened opened = part.create(path);
    // Where the file system keeps no attributes, a later start simply
    // fetches the file again.
    if (opened == platform::RawFile::Opened::ok) part.setorigin(originof(link));
    return opened;
}

bool savepart(const QString& target) {
    return platform::renameover(partname(target), target);
}

void discardpart(const QString& target) {
    const QString part = partname(target);
    if (platform::entryat(part) == platform::Entry::file) platform::removefile(part);
}

} // namespace descargas
