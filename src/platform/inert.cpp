#include "platform/inert.h"

#include "platform/textfile.h"

namespace platform {

namespace {
const QChar ellipsis(0x2026);

// The characters at `at`: a surrogate pair, or one UTF-16 unit.
qsizetype pointlength(const QString& text, qsizetype at) {
    const bool pair =
        at + 1 < text.size() && text.at(at).isHighSurrogate() && text.at(at + 1).isLowSurrogate();
    return pair ? 2 : 1;
}

// The character of `length` units at `at` is not to be shown as it is.
bool hidden(const QString& text, qsizetype at, qsizetype length) {
    const QChar c = text.at(at);
    if (length == 2)
        return QChar::category(QChar::surrogateToUcs4(c, text.at(at + 1))) == QChar::Other_Format;
    return misleading(c) || c.isSurrogate() || c.category() == QChar::Other_Format;
}
} // namespace

bool misleading(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x061c || u == 0x200e || u == 0x200f ||
           u == 0x2028 || u == 0x2029 || (u >= 0x202a && u <= 0x202e) ||
           (u >= 0x2066 && u <= 0x2069);
}

QString inert(const QString& text, qsizetype longest) {
    QString shown;
    shown.reserve(longest < 0 ? text.size() : qMin(text.size(), longest));
    for (qsizetype at = 0; at < text.size();) {
        const qsizetype length = pointlength(text, at);
        // Past the limit, or too far to leave room for the ellipsis: a pair
        // is never split.
        const qsizetype after = at + length == text.size() ? 0 : 1;
        if (longest >= 0 && shown.size() + length + after > longest) {
            if (shown.size() < longest) shown += ellipsis;
            break;
        }
        if (hidden(text, at, length))
            shown += QChar::ReplacementCharacter;
        else
            shown += QStringView(text).mid(at, length);
        at += length;
    }
    return shown;
}

QString phrasetext(const QByteArray& bytes) {
    return bytes.isValidUtf8() ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

QString inertlink(const QString& link) {
    const QString text = percentbytes(link);
    QString line;
    line.reserve(text.size());
    for (qsizetype at = 0; at < text.size();) {
        const qsizetype length = pointlength(text, at);
        const QStringView point = QStringView(text).mid(at, length);
        if (hidden(text, at, length)) {
            for (const char byte : point.toUtf8())
                line += QStringLiteral("%%1").arg(uchar(byte), 2, 16, QLatin1Char('0')).toUpper();
        } else {
            line += point;
        }
        at += length;
    }
    return line;
}

} // namespace platform
