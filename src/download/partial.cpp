#include "download/partial.h"

#include "platform/inert.h"
#include "platform/textfile.h"

#include <QCryptographicHash>
#include <QUrl>

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

// Where a partial file came from (as curl and wget --xattr record it); a
// digest of it where the link is too long for the room the file system
// gives attributes; the version of the file it holds; the pieces missing.
const char* const originname = "user.xdg.origin.url";
const char* const digestname = "user.quillharbor.origin-sha256";
const char* const etagname = "user.quillharbor.etag";
const char* const modifiedname = "user.quillharbor.last-modified";
const char* const piecesname = "user.quillharbor.pieces";

QByteArray digest(const QByteArray& origin) {
    return QCryptographicHash::hash(origin, QCryptographicHash::Sha256).toHex();
}

bool belongs(const transfer& t) {
    const QByteArray origin = originof(t.url);
    return t.file.attribute(originname) == origin || t.file.attribute(digestname) == digest(origin);
}

// The pieces a partial file still misses: those it records, in order and
// apart; all from its end on when it records none.
bool readpieces(transfer& t, qint64 size) {
    t.pieces.clear();
    const std::optional<QByteArray> recorded = t.file.attribute(piecesname);
    if (!recorded) {
        t.pieces.push_back({size, -1});
        return true;
    }
    qint64 last = 0;
    for (const QByteArray& span : recorded->split(',')) {
        const QByteArrayList ends = span.split('-');
        bool posok = false, endok = true;
        const qint64 pos = ends.value(0).toLongLong(&posok);
        const qint64 end = ends.value(1).isEmpty() ? -1 : ends.value(1).toLongLong(&endok);
        // Bytes before a piece, up to the last one's end, are in place: on disk.
        if (ends.size() != 2 || !posok || !endok || pos < last || (end >= 0 && end < pos) ||
            (pos > last && pos > size) || (!t.pieces.empty() && t.pieces.back().end < 0))
            return false;
        t.pieces.push_back({pos, end});
        last = end;
    }
    return !t.pieces.empty();
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

QString linkname(const QString& link) {
    // After the scheme and the authority, up to the query or the fragment.
    const qsizetype authority = link.indexOf(QLatin1String("://"));
    const qsizetype from = authority < 0 ? 0 : authority + 3;
    qsizetype to = link.size();
    for (const QChar end : {QLatin1Char('?'), QLatin1Char('#')})
        if (const qsizetype at = link.indexOf(end, from); at >= 0) to = qMin(to, at);
    const QString path = link.mid(from, to - from);
    const qsizetype slash = path.indexOf(QLatin1Char('/'));
    if (slash < 0) return QString();
    const QString segment = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return platform::decodetext(QByteArray::fromPercentEncoding(platform::encodetext(segment)));
}

QByteArray originof(const QString& link) {
    const QUrl url(platform::percentbytes(link), QUrl::TolerantMode);
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment)
        .toEncoded();
}

void settarget(transfer& t, const QString& name) {
    t.name = name;
    t.target = t.directory + name;
    t.part = t.target + suffix;
}

found lookat(transfer& t, qint64& size) {
    size = -1;
    t.file.close();
    if (platform::entryat(t.target) == platform::Entry::directory) return found::notregular;
    switch (platform::entryat(t.part)) {
    case platform::Entry::none:
        return found::nothing;
    case platform::Entry::file:
        break;
    default:
        return found::notregular;
    }
    // One that cannot be opened (read-only, say) is replaced by a fresh one.
    const platform::RawFile::Opened opened = t.file.reopen(t.part);
    if (opened == platform::RawFile::Opened::notregular) return found::notregular;
    if (opened != platform::RawFile::Opened::ok) return found::nothing;
    size = t.file.size();
    if (size > 0 && belongs(t) && readpieces(t, size)) {
        t.etag = t.file.attribute(etagname).value_or(QByteArray());
        t.lastmodified = t.file.attribute(modifiedname).value_or(QByteArray());
        return found::partial;
    }
    t.file.close();
    return found::nothing;
}

bool openfresh(transfer& t) {
    t.file.close();
    if (platform::entryat(t.part) == platform::Entry::file) platform::removefile(t.part);
    const platform::RawFile::Opened opened = t.file.create(t.part);
    if (opened == platform::RawFile::Opened::notregular) {
        stop(t, reason::notregular);
        return false;
    }
    if (opened != platform::RawFile::Opened::ok) {
        diskfailed(t);
        return false;
    }
    // The version first: an origin too long for the room the file system
    // gives attributes must not crowd it out. Where it keeps no attributes,
    // a later start simply fetches the file again.
    if (!t.etag.isEmpty()) t.file.setattribute(etagname, t.etag);
    if (!t.lastmodified.isEmpty()) t.file.setattribute(modifiedname, t.lastmodified);
    const QByteArray origin = originof(t.url);
    if (!t.file.setattribute(originname, origin)) t.file.setattribute(digestname, digest(origin));
    return true;
}

bool recordpieces(transfer& t) {
    QByteArrayList pieces;
    for (const piece& p : t.pieces)
        if (p.left() != 0)
            pieces << QByteArray::number(p.pos) + '-' +
                          (p.end < 0 ? QByteArray() : QByteArray::number(p.end));
    if (!t.file.setattribute(piecesname, pieces.join(','))) return false;
    t.recordedinplace = inplace(t);
    return true;
}

bool savepart(transfer& t) {
    if (!t.file.sync()) {
        diskfailed(t);
        return false;
    }
    // The saved file keeps where it came from, nothing of the transfer's own.
    for (const char* name : {etagname, modifiedname, piecesname, digestname})
        t.file.removeattribute(name);
    if (!t.file.sameas(t.part)) {
        stop(t, reason::replaced);
        return false;
    }
    if (!platform::renameover(t.part, t.target)) {
        stop(t, reason::diskerror);
        return false;
    }
    t.file.close();
    return true;
}

void discardpart(transfer& t) {
    const bool mine = t.file.isopen() && t.file.sameas(t.part);
    t.file.close();
    if (mine) platform::removefile(t.part);
}

} // namespace descargas
