// The size, rate and time texts of the progress display, and path splitting.
#include "download/descargas.h"
#include "download/formatmask.h"

#include <QLocale>
#include <QtTest>
#include <limits>

using namespace descargas;

class tst_texts : public QObject {
    Q_OBJECT

    // "1.5" with the system's decimal separator.
    static QString regional(QString text) {
        return text.replace(QLatin1Char('.'), QLocale::system().decimalPoint());
    }

  private slots:
    void sizes_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0") << 0.0 << ""
                           << "0 bytes";
        QTest::newRow("1023") << 1023.0 << ""
                              << "1023 bytes";
        QTest::newRow("1024") << 1024.0 << ""
                              << "1 KB";
        QTest::newRow("1536 rounds half up") << 1536.0 << ""
                                             << "2 KB";
        QTest::newRow("1048575") << 1048575.0 << ""
                                 << "1024 KB";
        QTest::newRow("1048576") << 1048576.0 << ""
                                 << "1.0 MB";
        QTest::newRow("1572864") << 1572864.0 << ""
                                 << "1.5 MB";
        QTest::newRow("1073741824") << 1073741824.0 << ""
                                    << "1.0 GB";
        QTest::newRow("2147483647") << 2147483647.0 << ""
                                    << "2.0 GB";
        QTest::newRow("beyond 32 bits") << 5.0 * 1073741824.0 + 536870912.0 << ""
                                        << "5.5 GB";
        QTest::newRow("-1") << -1.0 << ""
                            << "";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << ""
                                      << "";
        QTest::newRow("rate 46080") << 46080.0 << "###"
                                    << "45 KB";
        QTest::newRow("rate 1572864") << 1572864.0 << "###"
                                      << "2 MB";
        QTest::newRow("rate 1024/1.5 single") << double(1024.0f / 1.5f) << "###"
                                              << "682.666687011719 bytes";
        QTest::newRow("rate 1023.5") << 1023.5 << "###"
                                     << "1023.5 bytes";
        QTest::newRow("rate 512") << 512.0 << "###"
                                  << "512 bytes";
    }
    void sizes() {
        QFETCH(double, value);
        QFETCH(QString, mask);
        QFETCH(QString, expected);
        QCOMPARE(sizetext(value, mask), regional(expected));
    }

    void times_data() {
        QTest::addColumn<float>("seconds");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0") << 0.0f << "0 sec";
        QTest::newRow("5.4") << 5.4f << "5 sec";
        QTest::newRow("59.7 rounds to 60") << 59.7f << "60 sec";
        QTest::newRow("60") << 60.0f << "1 min 0 sec";
        QTest::newRow("125") << 125.0f << "2 min 5 sec";
        QTest::newRow("119.6 smaller unit rolls over") << 119.6f << "1 min 0 sec";
        QTest::newRow("3599.4") << 3599.4f << "59 min 59 sec";
        QTest::newRow("3600") << 3600.0f << "1 hr 0 min";
        QTest::newRow("3725") << 3725.0f << "1 hr 2 min";
        QTest::newRow("7170 minutes half to even") << 7170.0f << "1 hr 0 min";
        QTest::newRow("62.5 seconds half to even") << 62.5f << "1 min 2 sec";
        QTest::newRow("63.5 seconds half to even") << 63.5f << "1 min 4 sec";
        QTest::newRow("-5 hours form, floored") << -5.0f << "-1 hr 0 min";
        QTest::newRow("-3725 negative remainder") << -3725.0f << "-2 hr -2 min";
    }
    void times() {
        QFETCH(float, seconds);
        QFETCH(QString, expected);
        QCOMPARE(timetext(seconds), expected);
    }

    void masks_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("expected");
        QTest::newRow("half away from zero") << 2.5 << "0"
                                             << "3";
        QTest::newRow("negative half away from zero") << -2.5 << "0"
                                                      << "-3";
        QTest::newRow("decimal half as written") << 1.45 << "0.0"
                                                 << "1.5";
        QTest::newRow("carry into a new digit") << 9.96 << "###0.0"
                                                << "10.0";
        QTest::newRow("# hides a zero") << 0.2 << "###"
                                        << "";
        QTest::newRow("#0 keeps one") << 0.2 << "#0"
                                      << "0";
        QTest::newRow("leading zeros") << 7.0 << "000"
                                       << "007";
        QTest::newRow("optional decimals") << 2.5 << "0.##"
                                           << "2.5";
        QTest::newRow("rounds to zero without sign") << -0.2 << "0"
                                                     << "0";
        QTest::newRow("general whole") << 1234.0 << ""
                                       << "1234";
        QTest::newRow("general fraction") << 0.1 << ""
                                          << "0.1";
    }
    void masks() {
        QFETCH(double, value);
        QFETCH(QString, mask);
        QFETCH(QString, expected);
        QCOMPARE(formatmask(value, mask), regional(expected));
    }

    void paths_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("segment");
        QTest::addColumn<bool>("url");
        QTest::addColumn<QString>("expected");
        QTest::newRow("url segment") << "a/b/setup.zip" << true << true << "setup.zip";
        QTest::newRow("url ends in separator") << "a/b/" << true << true << "";
        QTest::newRow("url without separator") << "setup.zip" << true << true << "setup.zip";
        QTest::newRow("query kept") << "http://h/get.php?id=5" << true << true << "get.php?id=5";
        QTest::newRow("folder") << "/downloads/setup.zip" << false << false << "/downloads/";
        QTest::newRow("folder without separator") << "setup.zip" << false << false << "setup.zip";
        QTest::newRow("segment of a path")
            << "/downloads/setup.zip" << true << false << "setup.zip";
        QTest::newRow("url flag uses /, not the platform's")
            << "a\\b/c\\d" << true << true << "c\\d";
    }
    void paths() {
        QFETCH(QString, path);
        QFETCH(bool, segment);
        QFETCH(bool, url);
        QFETCH(QString, expected);
        QCOMPARE(pathpart(path, segment, url), expected);
    }

    void longpaths() {
        // Beyond what a 16-bit position can hold.
        const QString path = QString(40000, QLatin1Char('a')) + QStringLiteral("/tail");
        QCOMPARE(pathpart(path, true, true), QStringLiteral("tail"));
    }
};

QTEST_GUILESS_MAIN(tst_texts)
#include "tst_texts.moc"
