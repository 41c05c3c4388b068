// The built-in downloader against the fault-injecting file server: statuses,
// lengths, cuts and resumes, the resume question, cancel, stalls, names, and
// what the window shows meanwhile.
#include "app/quillharbor.h"
#include "download/descargas.h"
#include "download/resumequestion.h"
#include "platform/inet.h"
#include "platform/resstrings.h"
#include "support/downloadrig.h"
#include "support/nginx.h"

#include <QMessageBox>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using testsupport::DownloadRig;
using testsupport::pump;
using Faults = FileServer::Faults;
using Plan = QList<Faults>; // by request; the last entry repeats
using Ranges = QList<QByteArray>;

namespace {
struct Transfer {
    Plan plan;
    QString ranges;      // each attempt's N in "Range: bytes=N-"
    bool whole = true;   // the file ends complete; otherwise there is none
    int answer = -1;     // to the resume question; -1: it must not be asked
    bool cancel = false; // Cancel clicked once the bar passes 20000, or after a second attempt
    qint64 size = 50000;
    QByteArray latest;   // what the server holds at the end, when it changed
    int retrywaitms = 1; // the first wait after an attempt that got nowhere
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

// Mounts a file system of `kib` KiB on `folder`, seen by this test process
// only (a mount namespace of its own); false where that is not allowed.
bool smalldisk(const QString& folder, int kib) {
    static const bool isolated = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                                 mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    const QByteArray options = "size=" + QByteArray::number(kib) + 'k';
    return isolated && mount("quillharbor-test", QFile::encodeName(folder).constData(), "tmpfs", 0,
                             options.constData()) == 0;
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
        // A server that keeps cutting: attempts that get no further than the
        // best point wait and are given up after five in a row; getting
        // further starts the count again. (Cut while the agent reads, so Qt
        // does not repeat a request on its own and shift the plan.)
        QTest::newRow("every answer cut at 3000")
            << Transfer{.plan = {cut(3000)}, .ranges = "0 0 0 0 0 0", .whole = false};
        const Faults stuck = cut(4096, 2048);
        QTest::newRow("stuck four times, further, stuck four times")
            << Transfer{.plan = {cut(10000, 2048),
                                 stuck,
                                 stuck,
                                 stuck,
                                 stuck,
                                 cut(8000, 2048),
                                 stuck,
                                 stuck,
                                 stuck,
                                 stuck,
                                 {}},
                        .ranges = "0 5904 5904 5904 5904 5904 9808 9808 9808 9808 9808"};
        QTest::newRow("cancel while waiting to retry") << Transfer{.plan = {cut(3000)},
                                                                   .ranges = "0 0",
                                                                   .whole = false,
                                                                   .cancel = true,
                                                                   .retrywaitms = 600000};
        // Ranges answered with less than asked: the file's length is the
        // range's total, and the rest is asked for.
        QTest::newRow("206 shorter than the file")
            << Transfer{.plan = {{.dribble = 2048, .rangecap = 20000}}, .ranges = "0 15904 31808"};
        QTest::newRow("200 to a retry from 0: the whole file, no question")
            << Transfer{.plan = {cut(3000), {.ignorerange = true}}, .ranges = "0 0"};
        // The served file changes between attempts: the bytes asked again
        // differ, or the Content-Range total does; fetched afresh once.
        const QByteArray same = DownloadRig::pattern(50000);
        const QByteArray other = DownloadRig::pattern(50000, 1);
        const QByteArray longer = same.first(10000) + DownloadRig::pattern(50000, 2);
        QTest::newRow("file replaced between attempts")
            << Transfer{.plan = {cut(10000, 2048), {.replacewith = other}},
                        .ranges = "0 5904 0",
                        .latest = other};
        QTest::newRow("file grew between attempts")
            << Transfer{.plan = {cut(10000, 2048), {.replacewith = longer}},
                        .ranges = "0 5904 0",
                        .latest = longer};
        QTest::newRow("file changed twice")
            << Transfer{.plan = {cut(10000, 2048),
                                 {.replacewith = other},
                                 {.cutafter = 10000, .dribble = 2048, .replacewith = other},
                                 {.replacewith = same}},
                        .ranges = "0 5904 0 5904",
                        .whole = false};
        QTest::newRow("cancel during the body")
            << Transfer{.plan = {cut(-1, 200)}, .ranges = once, .whole = false, .cancel = true};
    }
    void transfers() {
        QFETCH(Transfer, t);
        DownloadRig rig;
        const QByteArray bytes = rig.put("f.bin", t.size);
        rig.server.setplan(t.plan);
        rig.window->Inet1->retrywaitms = t.retrywaitms;
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
            if (rig.window->ProgressBar->Value() <= 20000 && rig.attempts.size() < 2) return;
            clicker.stop();
            // After a second attempt, a moment later: the wait before the third.
            if (rig.attempts.size() >= 2) pump(300);
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
            const QByteArray latest = t.latest.isNull() ? bytes : t.latest;
            QVERIFY(rig.savedbytes("f.bin") == latest);
            QCOMPARE(rig.window->ProgressBar->Max(), double(latest.size()));
        } else {
            QVERIFY(rig.downloadentries().isEmpty());
        }
        // Replies of abandoned attempts do not pile up.
        for (const auto& s : rig.samples)
            QVERIFY2(s.replies <= 1, qPrintable(QString::number(s.replies)));
        checkidle(rig);
    }

    // A full disk: a file is never left as complete unless every byte is on
    // disk, and the transfer gives up instead of asking again.
    void fulldisk_data() {
        QTest::addColumn<qint64>("filler"); // bytes already on the 64 KiB disk
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("whole");
        QTest::newRow("room enough") << qint64(0) << qint64(60000) << true;
        QTest::newRow("no room at all") << qint64(65536) << qint64(10000) << false;
        QTest::newRow("room for all but the last bytes") << qint64(0) << qint64(70000) << false;
    }
    void fulldisk() {
        QFETCH(qint64, filler);
        QFETCH(qint64, size);
        QFETCH(bool, whole);
        DownloadRig rig;
        if (!smalldisk(rig.downloads(), 64))
            QSKIP("a small full disk needs root and a mount namespace of our own (unshare)");
        const auto unmount = qScopeGuard([&] { umount2(qPrintable(rig.downloads()), MNT_DETACH); });
        QFile fill(rig.downloads() + "/filler");
        QVERIFY(fill.open(QIODevice::WriteOnly));
        QCOMPARE(fill.write(QByteArray(filler, 'f')), filler);
        QVERIFY(fill.flush());
        fill.close();
        const QByteArray bytes = rig.put("f.bin", size);
        rig.download("f.bin");
        QCOMPARE(rig.attempts, Ranges{"bytes=0-"});
        QCOMPARE(rig.exists("f.bin"), whole);
        if (whole) QVERIFY(rig.savedbytes("f.bin") == bytes);
        checkidle(rig);
    }

    // An http:// link that the server redirects to HTTPS, where it speaks
    // HTTP/2 (a private certificate authority, trusted by this client only).
    void http2afterredirect() {
        DownloadRig rig;
        const QByteArray bytes = rig.put("f.bin", 300000);
        testsupport::Nginx nginx(rig.served.path());
        nginx.redirecttotls();
        QVERIFY2(nginx.start(), qPrintable(nginx.error()));
        rig.window->Inet1->trust(QSslCertificate::fromPath(nginx.authority()));
        rig.download(nginx.url("f.bin"));
        QVERIFY(rig.savedbytes("f.bin") == bytes);
        QCOMPARE(nginx.accesslog(), "HTTP/2.0 206 bytes=0-\n");
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
            {"NUL", QStringLiteral("/files/a") + QChar(0) + "b", ""},
            {"hidden file", "/files/.bashrc", ""},
            {"control character", "/files/a\x1b[2Jb", ""},
            {"DEL", QStringLiteral("/files/a") + QChar(0x7f), ""},
            {"bidi override", QStringLiteral("/files/exe") + QChar(0x202e) + "fdp.bin", ""},
            {"bidi isolate", QStringLiteral("/files/a") + QChar(0x2066) + "b.bin", ""}};
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
