// The built-in downloader against the fault-injecting file server: statuses,
// lengths, cuts and resumes, the resume question, cancel, stalls, names, and
// what the window shows meanwhile.
#include "app/quillharbor.h"
#include "download/descargas.h"
#include "download/resumequestion.h"
#include "platform/inet.h"
#include "platform/resstrings.h"
#include "support/downloadrig.h"

#include <QMessageBox>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

using testsupport::DownloadRig;
using Faults = FileServer::Faults;
using Ranges = QList<QByteArray>;

namespace {

Faults fault(qint64 cutafter, int status = 0, int dribble = 0) {
    Faults f;
    f.cutafter = cutafter;
    f.status = status;
    f.dribble = dribble;
    return f;
}
const Faults fine = fault(-1);

// The received count in a time label "… ( 12 KB of 49 KB ) ", or -1.
int shownkb(const QString& label) {
    static const QRegularExpression counts(QStringLiteral("\\( (\\d+) KB of "));
    const auto match = counts.match(label);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

void checkidle(DownloadRig& rig) {
    QCOMPARE(rig.window->bajando, false);
    QCOMPARE(rig.window->descarga->title(), QStringLiteral("Current Download [ninguna]"));
    QCOMPARE(rig.window->TimeLabel->text(), QString());
    QCOMPARE(rig.window->RateLabel->text(), QString());
    QCOMPARE(rig.window->ProgressBar->Value(), 0.0);
}

} // namespace

class tst_download : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { platform::setlanguage(platform::Language::English); }

    // Complete transfers: fresh 200 and 206, bodies cut short and resumed
    // 4096 bytes before the point reached, one-byte last chunks, bytes sent
    // past the announced length. The file ends byte-identical.
    void complete_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QList<Faults>>("plan"); // the last entry repeats
        QTest::addColumn<Ranges>("ranges");
        Faults whole = fine;
        whole.ignorerange = true;
        Faults extra = fine;
        extra.extra = 5000;
        QTest::newRow("206") << qint64(50000) << QList{fine} << Ranges{"bytes=0-"};
        QTest::newRow("200") << qint64(50000) << QList{whole} << Ranges{"bytes=0-"};
        QTest::newRow("cut at 10000 of 50000")
            << qint64(50000) << QList{fault(10000), fine} << Ranges{"bytes=0-", "bytes=5904-"};
        QTest::newRow("cut at 3000")
            << qint64(50000) << QList{fault(3000), fine} << Ranges{"bytes=0-", "bytes=0-"};
        QTest::newRow("every answer cut after 10000")
            << qint64(50000) << QList{fault(10000)}
            << Ranges{"bytes=0-",     "bytes=5904-",  "bytes=11808-", "bytes=17712-",
                      "bytes=23616-", "bytes=29520-", "bytes=35424-", "bytes=41328-"};
        // 10 chunks of 1024, then one of a single byte that ends the loop.
        QTest::newRow("cut leaving a last chunk of one byte")
            << qint64(50000) << QList{fault(10241), fine} << Ranges{"bytes=0-", "bytes=6145-"};
        QTest::newRow("last chunk of the file is one byte")
            << qint64(5121) << QList{fine} << Ranges{"bytes=0-"};
        QTest::newRow("bytes past the announced length are not body")
            << qint64(50000) << QList{extra} << Ranges{"bytes=0-"};
    }
    void complete() {
        QFETCH(qint64, size);
        QFETCH(QList<Faults>, plan);
        QFETCH(Ranges, ranges);
        DownloadRig rig;
        const QByteArray bytes = rig.put(QStringLiteral("setup.zip"), size);
        rig.server.setplan(plan);
        rig.download(QStringLiteral("setup.zip"));
        QCOMPARE(rig.range(0), QByteArray("bytes=0-")); // as it went over the wire
        QCOMPARE(rig.attempts, ranges);
        QVERIFY(rig.savedbytes(QStringLiteral("setup.zip")) == bytes);
        QCOMPARE(rig.window->ProgressBar->Max(), double(size));
        checkidle(rig);
    }

    // Transfers that end without a file: no usable length, refused statuses
    // on the first attempt or on a retry, a resumed body longer than the
    // first announcement. No question is asked.
    void nofile_data() {
        QTest::addColumn<QList<Faults>>("plan");
        QTest::addColumn<int>("attempts");
        Faults nolength = fine;
        nolength.nolength = true;
        Faults zero = fine;
        zero.announce = 0;
        Faults short50000 = fault(10000); // of a 60000-byte file
        short50000.announce = 50000;
        QTest::newRow("no Content-Length") << QList{nolength} << 1;
        QTest::newRow("Content-Length 0") << QList{zero} << 1;
        for (int code : {204, 401, 404}) {
            QTest::addRow("%d first", code) << QList{fault(-1, code)} << 1;
            QTest::addRow("%d on retry", code) << QList{fault(10000), fault(-1, code)} << 2;
        }
        QTest::newRow("more than announced on retry") << QList{short50000, fine} << 2;
    }
    void nofile() {
        QFETCH(QList<Faults>, plan);
        QFETCH(int, attempts);
        DownloadRig rig;
        rig.put(QStringLiteral("f.bin"), 60000);
        rig.server.setplan(plan);
        int asked = 0;
        descargas::setanswerer([&](const QString&, const QString&) { return ++asked, true; });
        rig.download(QStringLiteral("f.bin"));
        descargas::setanswerer({});
        QCOMPARE(rig.attempts.size(), attempts);
        QCOMPARE(asked, 0);
        QVERIFY(rig.downloadentries().isEmpty());
        checkidle(rig);
    }

    // "200" to a range request: the partial file is gone before the question;
    // Yes takes the whole body of that response, No ends without a file.
    void resumerefused_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Yes") << true;
        QTest::newRow("No") << false;
    }
    void resumerefused() {
        QFETCH(bool, yes);
        DownloadRig rig;
        const QByteArray bytes = rig.put(QStringLiteral("f.bin"), 50000);
        Faults whole = fine;
        whole.ignorerange = true;
        rig.server.setplan({fault(10000), whole});
        QStringList asked;
        descargas::setanswerer([&](const QString& title, const QString& text) {
            asked << title << text << QString::number(rig.exists(QStringLiteral("f.bin")));
            return yes;
        });
        rig.download(QStringLiteral("f.bin"));
        descargas::setanswerer({});
        QCOMPARE(asked, (QStringList{QStringLiteral("Unable to Resume Download"),
                                     QStringLiteral("The server is unable to resume this "
                                                    "download.\r\rDo you want to continue anyway?"),
                                     QStringLiteral("0")}));
        QCOMPARE(rig.attempts.size(), 2);
        QCOMPARE(rig.savedbytes(QStringLiteral("f.bin")), yes ? bytes : QByteArray());
        QCOMPARE(rig.exists(QStringLiteral("f.bin")), yes);
        checkidle(rig);
    }

    // Without an answer set ahead, the question is a modal Yes/No box with
    // an exclamation icon and Yes as the default.
    void resumequestionbox() {
        QStringList seen;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            poll.stop();
            seen << box->windowTitle() << box->text();
            QVERIFY(box->isModal() && box->icon() == QMessageBox::Warning);
            QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
            box->button(QMessageBox::No)->click();
        });
        poll.start(20);
        QCOMPARE(descargas::askuser(QStringLiteral("T"), QStringLiteral("X")), false);
        QCOMPARE(seen, (QStringList{QStringLiteral("T"), QStringLiteral("X")}));
    }

    // Cancel while the response is awaited, or a silent server past the
    // response time-out: no file.
    void silentserver_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancel") << true;
        QTest::newRow("response time-out") << false;
    }
    void silentserver() {
        QFETCH(bool, cancel);
        DownloadRig rig;
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QObject::connect(&silent, &QTcpServer::newConnection, [&] {
            if (cancel) QTimer::singleShot(100, rig.window->CancelButton, &QToolButton::click);
        });
        rig.window->Inet1->requesttimeoutms = cancel ? 60000 : 500;
        QElapsedTimer took;
        took.start();
        rig.download(QStringLiteral("http://127.0.0.1:%1/f.bin").arg(silent.serverPort()));
        QVERIFY(took.elapsed() < 30000);
        QVERIFY(rig.downloadentries().isEmpty());
        checkidle(rig);
    }

    // Cancel during the body: the file is deleted and the display cleared.
    void cancelbody() {
        DownloadRig rig;
        rig.put(QStringLiteral("f.bin"), 200000);
        rig.server.setfaults(fault(-1, 0, 200));
        bool partway = false;
        QTimer clicker;
        QObject::connect(&clicker, &QTimer::timeout, [&] {
            if (rig.window->ProgressBar->Value() > 20000) {
                clicker.stop();
                partway = rig.exists(QStringLiteral("f.bin"));
                rig.window->CancelButton->click();
            }
        });
        clicker.start(5);
        rig.download(QStringLiteral("f.bin"));
        QVERIFY(partway);
        QCOMPARE(rig.attempts.size(), 1);
        QVERIFY(rig.downloadentries().isEmpty());
        checkidle(rig);
    }

    // A server that stops sending ends the body; the transfer resumes.
    void stall() {
        DownloadRig rig;
        const QByteArray bytes = rig.put(QStringLiteral("f.bin"), 50000);
        Faults stalling = fine;
        stalling.stallafter = 10000;
        stalling.stallms = 20000;
        rig.server.setplan({stalling, fine});
        rig.window->Inet1->stalltimeoutms = 500;
        QElapsedTimer took;
        took.start();
        rig.download(QStringLiteral("f.bin"));
        QVERIFY(took.elapsed() < 15000);
        QCOMPARE(rig.attempts, (Ranges{"bytes=0-", "bytes=5904-"}));
        QVERIFY(rig.savedbytes(QStringLiteral("f.bin")) == bytes);
        checkidle(rig);
    }

    // File names: the URL's last segment as it is, never one that leaves
    // (or names) the download folder.
    void names_data() {
        QTest::addColumn<QString>("path");  // after http://127.0.0.1:port
        QTest::addColumn<QString>("saved"); // "" when nothing may be requested
        QTest::newRow("query kept") << "/files/get.php?id=5"
                                    << "get.php?id=5";
        QTest::newRow("percent escapes kept") << "/files/a%20b.bin"
                                              << "a%20b.bin";
        QTest::newRow("host only") << ""
                                   << "127.0.0.1:PORT";
        QTest::newRow("trailing /") << "/files/"
                                    << "";
        QTest::newRow("..") << "/files/.."
                            << "";
        QTest::newRow(".") << "/files/."
                           << "";
        QTest::newRow("backslash") << "/files/..\\..\\escape.bin"
                                   << "";
        QTest::newRow("NUL") << QStringLiteral("/files/a") + QChar(0) + QStringLiteral("b") << "";
    }
    void names() {
        QFETCH(QString, path);
        QFETCH(QString, saved);
        DownloadRig rig;
        QDir(rig.served.path()).mkdir(QStringLiteral("files"));
        for (const char* name : {"files/get.php", "files/a b.bin", "index.html"})
            rig.put(QString::fromLatin1(name), 3000);
        rig.server.setfaults(fault(-1, 0, 100)); // slow enough to see the caption
        saved.replace(QStringLiteral("PORT"), QString::number(rig.server.port()));
        const QDir parent(rig.downloads() + QStringLiteral("/.."));
        const QStringList around = parent.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        rig.download(QStringLiteral("http://127.0.0.1:%1").arg(rig.server.port()) + path);
        QCOMPARE(parent.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), around);
        if (saved.isEmpty()) {
            QCOMPARE(rig.server.heads().size(), 0);
            QVERIFY(rig.downloadentries().isEmpty());
        } else {
            QCOMPARE(rig.downloadentries(), QStringList{saved});
            QCOMPARE(rig.savedbytes(saved).size(), 3000);
            const QString caption = QStringLiteral("Current Download [") + saved + ']';
            QVERIFY(std::any_of(rig.samples.begin(), rig.samples.end(),
                                [&](const auto& s) { return s.caption == caption; }));
        }
        checkidle(rig);
    }

    // During a transfer: bajando throughout, the caption names the file, the
    // labels show time left, counts (from 5904 on in the retry) and rate,
    // the bar follows the count.
    void display() {
        DownloadRig rig;
        rig.put(QStringLiteral("setup.zip"), 50000);
        rig.server.setplan({fault(10000, 0, 200), fault(-1, 0, 200)});
        rig.download(QStringLiteral("setup.zip"));
        QCOMPARE(rig.attempts, (Ranges{"bytes=0-", "bytes=5904-"}));
        static const QRegularExpression timelabel(QStringLiteral(
            "^(\\d+ sec|\\d+ min \\d+ sec|\\d+ hr \\d+ min) \\( \\d+ KB of 49 KB \\) $"));
        static const QRegularExpression ratelabel(
            QStringLiteral("^\\d+([.,]\\d+)? (bytes|KB|MB)/S$"));
        int shown = 0;
        int inretry = 0;
        for (const auto& s : rig.samples) {
            QVERIFY(s.bajando);
            if (s.timelabel.isEmpty()) continue;
            ++shown;
            QCOMPARE(s.caption, QStringLiteral("Current Download [setup.zip]"));
            QVERIFY2(timelabel.match(s.timelabel).hasMatch(), qPrintable(s.timelabel));
            QVERIFY2(ratelabel.match(s.ratelabel).hasMatch(), qPrintable(s.ratelabel));
            QCOMPARE(s.max, 50000.0);
            // Between attempts the bar is back at 0 while the labels still
            // show the last count.
            if (s.value > 0) QCOMPARE(shownkb(s.timelabel), int(std::lround(s.value / 1024)));
            if (s.value > 0 && s.requests >= 2) {
                ++inretry;
                QVERIFY2(shownkb(s.timelabel) >= 6, qPrintable(s.timelabel));
            }
        }
        QVERIFY(shown > 3 && inretry > 0);
        checkidle(rig);
    }

    void spanishcaption() {
        platform::setlanguage(platform::Language::Spanish);
        DownloadRig rig;
        rig.server.setfaults(fault(-1, 404));
        rig.download(QStringLiteral("f.bin"));
        platform::setlanguage(platform::Language::English);
        QCOMPARE(rig.window->descarga->title(), QStringLiteral("Descarga Actual [ninguna]"));
    }
};

QTEST_MAIN(tst_download)
#include "tst_download.moc"
