#include "download/formatmask.h"

#include <QLocale>
#include <charconv>
#include <cmath>

namespace descargas {

namespace {

QString decimalseparator() {
    return QLocale::system().decimalPoint();
}

// The value's 15 significant decimal digits as an integer part and a
// fraction part of `decimals` digits, rounded there with halves away from
// zero. Working on decimal digits keeps 1.45 a half, as it reads. The digits
// come from std::to_chars, which ignores the C library's locale (printf
// would write a decimal comma under es_ES).
void rounddigits(double magnitude, int decimals, QString& whole, QString& fraction) {
    char text[64];
    const auto written =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific, 14);
    // text: d.dddddddddddddde[+-]xx
    const QLatin1StringView scientific(text, written.ptr);
    const qsizetype e = scientific.indexOf(QLatin1Char('e'));
    QString digits;
    for (const QChar c : scientific.left(e))
        if (c != QLatin1Char('.')) digits += c;
    const int exponent = QString(scientific.mid(e + 1)).toInt();
    // Place the decimal point: `point` digits belong to the integer part.
    int point = exponent + 1;
    if (point < 0) {
        digits = QString(-point, QLatin1Char('0')) + digits;
        point = 0;
    }
    if (digits.size() < point + decimals + 1)
        digits += QString(point + decimals + 1 - digits.size(), QLatin1Char('0'));
    const bool roundup = digits.at(point + decimals) >= QLatin1Char('5');
    digits.truncate(point + decimals);
    if (roundup) {
        int i = digits.size() - 1;
        for (; i >= 0; --i) {
            if (digits.at(i) == QLatin1Char('9')) {
                digits[i] = QLatin1Char('0');
            } else {
                digits[i] = QChar(digits.at(i).unicode() + 1);
                break;
            }
        }
        if (i < 0) {
            digits.prepend(QLatin1Char('1'));
            ++point;
        }
    }
    whole = digits.left(point);
    fraction = digits.mid(point);
    while (whole.startsWith(QLatin1Char('0')))
        whole.remove(0, 1);
}

QString generalform(double value) {
    QString text = QString::number(value, 'g', 15);
    text.replace(QLatin1Char('.'), decimalseparator());
    return text;
}

} // namespace

QString formatmask(double value, const QString& mask) {
    if (std::isnan(value)) return QString();
    if (mask.isEmpty() || std::isinf(value)) return generalform(value);

    const qsizetype dot = mask.indexOf(QLatin1Char('.'));
    const QString integerpart = dot < 0 ? mask : mask.left(dot);
    const QString fractionpart = dot < 0 ? QString() : mask.mid(dot + 1);
    const int mininteger = int(integerpart.count(QLatin1Char('0')));
    const int maxdecimals =
        int(fractionpart.count(QLatin1Char('0')) + fractionpart.count(QLatin1Char('#')));
    const int mindecimals = int(fractionpart.lastIndexOf(QLatin1Char('0')) + 1);

    QString whole;
    QString fraction;
    rounddigits(std::fabs(value), maxdecimals, whole, fraction);
    // A value that rounds to zero is written without a sign.
    bool zero = whole.isEmpty();
    for (const QChar digit : fraction)
        zero = zero && digit == QLatin1Char('0');
    while (fraction.size() > mindecimals && fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    if (whole.size() < mininteger)
        whole.prepend(QString(mininteger - whole.size(), QLatin1Char('0')));

    QString text = (value < 0 && !zero) ? QStringLiteral("-") : QString();
    text += whole;
    if (dot >= 0) text += decimalseparator() + fraction;
    return text;
}

} // namespace descargas
