// The size, rate and time texts of the progress display.
#include "download/descargas.h"
#include "download/formatmask.h"
#include "download/reasons.h"
#include "platform/resstrings.h"

#include <QLocale>
#include <QtTest>
#include <clocale>
#include <limits>

using namespace descargas;

namespace {
// Name, value, mask, and the text with "." for the system's decimal separator.
using Text = std::tuple<const char*, double, const char*, const char*>;

// Rows for `kind`: 's' sizetext(value, mask), 'm' formatmask(value, mask), 't' timetext(value).
void rows(char kind, std::initializer_list<Text> cases) {
    const QString point = QLocale::system().decimalPoint();
    for (const auto& [name, value, mask, expected] : cases)
        QTest::addRow("%c %s", kind, name)
            << kind << value << mask << QString(expected).replace('.', point);
}
} // namespace

class tst_texts : public QObject {
    Q_OBJECT

  private slots:
    // Under a decimal-comma locale the C library must write commas too, or the rows prove nothing.
    void initTestCase() {
        if (QLocale::system().decimalPoint() == QLatin1String(","))
            QVERIFY2(*std::localeconv()->decimal_point == ',',
                     "this locale is not generated here: run scripts/bootstrap.sh");
    }

    void texts_data() {
        QTest::addColumn<char>("kind");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("expected");
        rows('s',
             {{"1023", 1023, "", "1023 bytes"},
              {"1024", 1024, "", "1 KB"},
              {"1048575", 1048575, "", "1024 KB"},
              {"1048576", 1048576, "", "1.0 MB"},
              {"1073741824", 1073741824, "", "1.0 GB"},
              {"beyond 32 bits", 5.5 * 1073741824, "", "5.5 GB"},
              {"-1", -1, "", ""},
              {"not a number", std::numeric_limits<double>::quiet_NaN(), "", ""},
              {"rate 46080", 46080, "###", "45 KB"},
              {"rate 1572864", 1572864, "###", "2 MB"},
              {"rate 1024/1.5 single", double(1024.0f / 1.5f), "###", "682.666687011719 bytes"}});
        rows('m', {{"half away from zero", 2.5, "0", "3"},
                   {"negative half away from zero", -2.5, "0", "-3"},
                   {"decimal half as written", 1.45, "0.0", "1.5"},
                   {"carry into a new digit", 9.96, "###0.0", "10.0"},
                   {"# hides a zero", 0.2, "###", ""},
                   {"#0 keeps one", 0.2, "#0", "0"},
                   {"leading zeros", 7, "000", "007"},
                   {"optional decimals", 2.5, "0.##", "2.5"},
                   {"rounds to zero without sign", -0.2, "0", "0"}});
        rows('t', {{"59.7 rounds to 60", 59.7, "", "60 sec"},
                   {"60", 60, "", "1 min 0 sec"},
                   {"119.6 smaller unit rolls over", 119.6, "", "1 min 0 sec"},
                   {"3599.4", 3599.4, "", "59 min 59 sec"},
                   {"3600", 3600, "", "1 hr 0 min"},
                   {"7170 minutes half to even", 7170, "", "1 hr 0 min"},
                   {"62.5 seconds half to even", 62.5, "", "1 min 2 sec"},
                   {"63.5 seconds half to even", 63.5, "", "1 min 4 sec"},
                   {"-5 hours form, floored", -5, "", "-1 hr 0 min"},
                   {"-3725 negative remainder", -3725, "", "-2 hr -2 min"}});
    }
    void texts() {
        QFETCH(char, kind);
        QFETCH(double, value);
        QFETCH(QString, mask);
        QFETCH(QString, expected);
        QCOMPARE(kind == 's'   ? sizetext(value, mask)
                 : kind == 'm' ? formatmask(value, mask)
                               : timetext(float(value)),
                 expected);
    }

    // Every reason a transfer can fail for has its own short text in both
    // languages; a status without the server's words is its number alone.
    void reasons() {
        for (auto language : {platform::Language::English, platform::Language::Spanish}) {
            platform::setlanguage(language);
            QSet<QString> seen;
            for (int r = int(reason::nolength); r <= int(reason::scheme); ++r) {
                const QString text = reasontext({.why = reason(r)});
                QVERIFY2(!text.isEmpty() && !seen.contains(text), qPrintable(QString::number(r)));
                seen.insert(text);
            }
        }
        platform::setlanguage(platform::Language::English);
        QCOMPARE(reasontext({.why = reason::status, .status = 404}), "404");
    }
};

QTEST_GUILESS_MAIN(tst_texts)
#include "tst_texts.moc"
