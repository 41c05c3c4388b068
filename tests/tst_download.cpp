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
using Plan = QList<Faults>; // by request; the last entry repeats
using Ranges = QList<QByteArray>;

namespace {
struct Transfer {
    Plan plan;
    QString ranges;      // each attempt's N in "Range: bytes=N-"
    bool whole = true;   // the file ends complete; otherwise there is none
    int answer = -1;     // to the resume question; -1: it must not be asked
    bool cancel = false; // Cancel clicked once the bar passes 20000
    qint64 size = 50000;
};

Faults cut(qint64 after, int dribble = 0) {
    return {.cutafter = after, .dribble = dribble};
}

void checkidle(DownloadRig& rig) {
    QCOMPARE(rig.window->bajando, false);
    QCOMPARE(rig.window->descarga->title(), "Current Download [ninguna]");
    QCOMPARE(rig.window->TimeLabel->text(), QString());
    QCOMPARE(rig.window->RateLabel->text(), QString());
    QCOMPARE(rig.window->ProgressBar->Value(), 0.0);
}

// The received count in a time label "… ( 12 KB of 49 KB ) ", or -1.
int shownkb(const QString& label) {
    static const QRegularExpression counts(QStringLiteral("\\( (\\d+) KB of "));
    const auto match = counts.match(label);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}
} // namespace
Q_DECLARE_METATYPE(Transfer)

class tst_download : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { platform::setlanguage(platform::Language::English); }

    // Every transfer's Range headers, its file and its question. A body cut
    // short resumes 4096 bytes before the point reached, or from 0 below that.
    void transfers_data() {
        QTest::addColumn<Transfer>("t");
        const QString once = "0", retry = "0 5904";
        QTest::newRow("206") << Transfer{.ranges = once};
        QTest::newRow("200") << Transfer{.plan = {{.ignorerange = true}}, .ranges = once};
        QTest::newRow("cut at 10000") << Transfer{.plan = {cut(10000), {}}, .ranges = retry};
        QTest::newRow("cut at 3000") << Transfer{.plan = {cut(3000), {}}, .ranges = "0 0"};
        QTest::newRow("every answer cut after 10000") << Transfer{
            .plan = {cut(10000)}, .ranges = "0 5904 11808 17712 23616 29520 35424 41328"};
        // 10 chunks of 1024, then one of a single byte that ends the loop.
        QTest::newRow("cut leaving a last chunk of one byte")
            << Transfer{.plan = {cut(10241), {}}, .ranges = "0 6145"};
        QTest::newRow("last chunk of the file is one byte")
            << Transfer{.ranges = once, .size = 5121};
        QTest::newRow("bytes past the announced length are not body")
            << Transfer{.plan = {{.extra = 5000}}, .ranges = once};
        QTest::newRow("a stall ends the body")
            << Transfer{.plan = {{.stallafter = 10000, .stallms = 20000}, {}}, .ranges = retry};
        // "200" to a range request: Yes takes the whole body of that response.
        QTest::newRow("200 on retry, Yes")
            << Transfer{.plan = {cut(10000), {.ignorerange = true}}, .ranges = retry, .answer = 1};
        QTest::newRow("200 on retry, No") << Transfer{.plan = {cut(10000), {.ignorerange = true}},
                                                      .ranges = retry,
                                                      .whole = false,
                                                      .answer = 0};
        QTest::newRow("no Content-Length")
            << Transfer{.plan = {{.nolength = true}}, .ranges = once, .whole = false};
        QTest::newRow("Content-Length 0")
            << Transfer{.plan = {{.announce = 0}}, .ranges = once, .whole = false};
        for (int code : {204, 401, 404}) {
            QTest::addRow("%d first", code)
                << Transfer{.plan = {{.status = code}}, .ranges = once, .whole = false};
            QTest::addRow("%d on retry", code) << Transfer{
                .plan = {cut(10000), {.status = code}}, .ranges = retry, .whole = false};
        }
        QTest::newRow("more than announced on retry")
            << Transfer{.plan = {{.announce = 50000, .cutafter = 10000}, {}},
                        .ranges = retry,
                        .whole = false,
                        .size = 60000};
        QTest::newRow("cancel during the body")
            << Transfer{.plan = {cut(-1, 200)}, .ranges = once, .whole = false, .cancel = true};
    }
    void transfers() {
        QFETCH(Transfer, t);
        DownloadRig rig;
        const QByteArray bytes = rig.put("f.bin", t.size);
        rig.server.setplan(t.plan);
        if (!t.plan.isEmpty() && t.plan.first().stallms > 0)
            rig.window->Inet1->stalltimeoutms = 1000;
        QStringList asked; // with whether the partial file was still there
        descargas::setanswerer([&](const QString& title, const QString& text) {
            asked << title << text << QString::number(rig.exists("f.bin"));
            return t.answer == 1;
        });
        bool partway = false; // the file was there when Cancel was clicked
        QTimer clicker;
        QObject::connect(&clicker, &QTimer::timeout, [&] {
            if (rig.window->ProgressBar->Value() <= 20000) return;
            clicker.stop();
            partway = rig.exists("f.bin");
            rig.window->CancelButton->click();
        });
        if (t.cancel) clicker.start(5);
        rig.download("f.bin");
        descargas::setanswerer({});
        QCOMPARE(rig.server.header(0, "Range"), QByteArray("bytes=0-")); // as it went over the wire
        Ranges ranges;
        for (const QString& start : t.ranges.split(' '))
            ranges << "bytes=" + start.toLatin1() + '-';
        QCOMPARE(rig.attempts, ranges);
        QCOMPARE(partway, t.cancel);
        const QStringList question{"Unable to Resume Download",
                                   "The server is unable to resume this download.\r\r"
                                   "Do you want to continue anyway?",
                                   "0"};
        QCOMPARE(asked, t.answer >= 0 ? question : QStringList());
        if (t.whole) {
            QVERIFY(rig.savedbytes("f.bin") == bytes);
            QCOMPARE(rig.window->ProgressBar->Max(), double(t.size));
        } else {
            QVERIFY(rig.downloadentries().isEmpty());
        }
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
        QCOMPARE(descargas::askuser("T", "X"), false);
        QCOMPARE(seen, (QStringList{"T", "X"}));
    }

    // Cancel while the response is awaited, or a silent server past the
    // response time-out: no file, and no hang.
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

    // File names: the URL's last segment as it is, never one that leaves
    // (or names) the download folder.
    void names_data() {
        QTest::addColumn<QString>("path");  // after http://127.0.0.1:port
        QTest::addColumn<QString>("saved"); // "" when nothing may be requested
        const std::tuple<const char*, QString, const char*> cases[] = {
            {"query kept", "/files/get.php?id=5", "get.php?id=5"},
            {"percent escapes kept", "/files/a%20b.bin", "a%20b.bin"},
            {"host only", "", "127.0.0.1:PORT"},
            {"trailing /", "/files/", ""},
            {"..", "/files/..", ""},
            {".", "/files/.", ""},
            {"backslash", "/files/..\\..\\escape.bin", ""},
            {"NUL", QStringLiteral("/files/a") + QChar(0) + "b", ""}};
        for (const auto& [name, path, saved] : cases)
            QTest::newRow(name) << path << QString(saved);
    }
    void names() {
        QFETCH(QString, path);
        QFETCH(QString, saved);
        DownloadRig rig;
        QDir(rig.served.path()).mkdir("files");
        for (const char* name : {"files/get.php", "files/a b.bin", "index.html"})
            rig.put(name, 3000);
        rig.server.setfaults(cut(-1, 100)); // slow enough to see the caption
        saved.replace("PORT", QString::number(rig.server.port()));
        rig.download(QStringLiteral("http://127.0.0.1:%1").arg(rig.server.port()) + path);
        QCOMPARE(QDir(rig.area.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"downloads"}); // nothing beside the download folder
        if (saved.isEmpty()) {
            QCOMPARE(rig.server.heads().size(), 0);
            QVERIFY(rig.downloadentries().isEmpty());
        } else {
            QCOMPARE(rig.downloadentries(), QStringList{saved});
            QCOMPARE(rig.savedbytes(saved).size(), 3000);
            QVERIFY(std::any_of(rig.samples.begin(), rig.samples.end(), [&](const auto& s) {
                return s.caption == "Current Download [" + saved + ']';
            }));
        }
        checkidle(rig);
    }

    // During a transfer: bajando throughout, the caption names the file, the
    // labels show time left, counts (from 5904 on in the retry) and rate,
    // the bar follows the count. Afterwards the caption names no file, in
    // the user's language.
    void display() {
        DownloadRig rig;
        rig.put("setup.zip", 50000);
        rig.server.setplan({cut(10000, 200), cut(-1, 200)});
        rig.download("setup.zip");
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
            QCOMPARE(s.caption, "Current Download [setup.zip]");
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

        platform::setlanguage(platform::Language::Spanish);
        rig.server.setfaults({.status = 404});
        rig.download("setup.zip");
        platform::setlanguage(platform::Language::English);
        QCOMPARE(rig.window->descarga->title(), "Descarga Actual [ninguna]");
    }
};

QTEST_MAIN(tst_download)
#include "tst_download.moc"
