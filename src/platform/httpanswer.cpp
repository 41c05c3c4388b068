#include "platform/httpanswer.h"

#include "platform/inert.h"

#include <QDateTime>
#include <QLocale>

namespace platform {

namespace {
// Plain decimal digits, blanks around them allowed; -1 otherwise.
qint64 decimal(QByteArrayView text) {
    text = text.trimmed();
    if (text.isEmpty() || text.size() > 18) return -1;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "bytes FIRST-LAST/TOTAL" (or "bytes */TOTAL"): FIRST and TOTAL.
void readrange(QByteArrayView range, Answer& answer) {
    answer.ranged = true;
    range = range.trimmed();
    if (!range.startsWith("bytes ")) return;
    range = range.sliced(6);
    const qsizetype slash = range.indexOf('/');
    if (slash < 0) return;
    const QByteArrayView span = range.first(slash);
    if (const qsizetype dash = span.indexOf('-'); dash >= 0) {
        const qint64 first = decimal(span.first(dash)), last = decimal(span.sliced(dash + 1));
        if (first >= 0 && last >= first) answer.first = first;
    }
    answer.total = decimal(range.sliced(slash + 1));
}

// Retry-After: seconds, or the date after which to ask again.
int retryseconds(QByteArrayView value) {
    if (value.isEmpty()) return -1;
    const qint64 seconds = decimal(value);
    if (seconds >= 0) return int(qMin<qint64>(seconds, 24 * 3600));
    // "Wed, 21 Oct 2015 07:28:00 GMT"
    const QString date = QString::fromLatin1(value.trimmed());
    if (!date.endsWith(QLatin1String(" GMT"))) return -1;
    const QDateTime when =
        QLocale::c().toDateTime(date.chopped(4), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"));
    if (!when.isValid()) return -1;
    QDateTime utc = when;
    utc.setTimeSpec(Qt::UTC);
    return int(qBound(qint64(0), QDateTime::currentDateTimeUtc().secsTo(utc), qint64(24 * 3600)));
}

// The parameters of a Content-Disposition value: name (lower case) and
// value, quoted strings unquoted.
QList<std::pair<QByteArray, QByteArray>> parameters(QByteArrayView header) {
    QList<std::pair<QByteArray, QByteArray>> found;
    qsizetype at = header.indexOf(';');
    while (at >= 0 && at < header.size()) {
        ++at; // past ';'
        const qsizetype equals = header.indexOf('=', at);
        if (equals < 0) break;
        const QByteArray name = header.sliced(at, equals - at).trimmed().toByteArray().toLower();
        at = equals + 1;
        while (at < header.size() && (header[at] == ' ' || header[at] == '\t'))
            ++at;
        QByteArray value;
        if (at < header.size() && header[at] == '"') {
            for (++at; at < header.size() && header[at] != '"'; ++at) {
                if (header[at] == '\\' && at + 1 < header.size()) ++at;
                value += header[at];
            }
            at = header.indexOf(';', at);
        } else {
            const qsizetype end = header.indexOf(';', at);
            value = header.sliced(at, (end < 0 ? header.size() : end) - at).trimmed().toByteArray();
            at = end;
        }
        found.append({name, value});
    }
    return found;
}

// An extended value "charset'language'percent-encoded"; null when its
// charset is neither UTF-8 nor Latin-1.
QString extendedvalue(const QByteArray& value) {
    const QList<QByteArray> parts = value.split('\'');
    if (parts.size() != 3) return QString();
    const QByteArray charset = parts[0].toLower();
    const QByteArray bytes = QByteArray::fromPercentEncoding(parts[2]);
    if (charset == "utf-8") return bytes.isValidUtf8() ? QString::fromUtf8(bytes) : QString();
    if (charset == "iso-8859-1") return QString::fromLatin1(bytes);
    return QString();
}
} // namespace

QByteArray headervalue(const QList<QByteArray>& lines, QByteArrayView name) {
    QByteArray joined;
    bool found = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0 || lines[i].left(colon).trimmed().compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (found) joined += ", ";
        joined += lines[i].mid(colon + 1).trimmed();
        found = true;
    }
    return joined;
}

qint64 lengthvalue(QByteArrayView text) {
    // A header sent twice reads "5120, 5120": the same value repeated is
    // that value (RFC 9110 allows it), different ones are no length.
    qint64 value = -1;
    while (true) {
        const qsizetype comma = text.indexOf(',');
        const qint64 part = decimal(comma < 0 ? text : text.first(comma));
        if (part < 0 || (value >= 0 && part != value)) return 0;
        value = part;
        if (comma < 0) return value;
        text = text.sliced(comma + 1);
    }
}

QString dispositionname(QByteArrayView header) {
    QString plain, extended;
    for (const auto& [name, value] : parameters(header)) {
        if (name == "filename*" && extended.isEmpty()) extended = extendedvalue(value);
        if (name == "filename" && plain.isEmpty()) plain = phrasetext(value);
    }
    const QString name = extended.isEmpty() ? plain : extended;
    const qsizetype separator =
        qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    return name.mid(separator + 1);
}

int statuscode(QByteArrayView statusline) {
    const qsizetype space = statusline.indexOf(' ');
    if (space < 0) return 0;
    const qsizetype second = statusline.indexOf(' ', space + 1);
    const QByteArrayView code =
        statusline.sliced(space + 1, (second < 0 ? statusline.size() : second) - space - 1);
    const qint64 status = code.size() == 3 ? decimal(code) : -1;
    return status >= 100 ? int(status) : 0;
}

Answer readanswer(const QList<QByteArray>& lines) {
    Answer answer;
    answer.lines = lines;
    if (lines.isEmpty()) return answer;
    const QByteArray& statusline = lines.first();
    answer.status = statuscode(statusline);
    const qsizetype space = statusline.indexOf(' ');
    const qsizetype second = space < 0 ? -1 : statusline.indexOf(' ', space + 1);
    if (second > 0) answer.phrase = statusline.mid(second + 1);
    answer.length = lengthvalue(headervalue(lines, "Content-Length"));
    const QByteArray range = headervalue(lines, "Content-Range");
    if (!range.isEmpty()) readrange(range, answer);
    answer.acceptsranges =
        headervalue(lines, "Accept-Ranges").trimmed().compare("bytes", Qt::CaseInsensitive) == 0;
    answer.etag = headervalue(lines, "ETag");
    answer.lastmodified = headervalue(lines, "Last-Modified");
    answer.disposition = headervalue(lines, "Content-Disposition");
    answer.retryafter = retryseconds(headervalue(lines, "Retry-After"));
    return answer;
}

} // namespace platform
