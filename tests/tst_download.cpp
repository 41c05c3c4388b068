// The built-in downloader against the fault-injecting file server: statuses,
// lengths, cuts and resumes, the resume question, cancel, stalls, full disks,
// names, sizes beyond 32 bits, and what the window shows meanwhile.
#include "app/quillharbor.h"
#include "download/descargas.h"
#include "download/resumequestion.h"
#include "platform/inert.h"
#include "platform/inet.h"
#include "platform/resstrings.h"
#include "queue/dispatch.h"
#include "support/downloadrig.h"
#include "support/nginx.h"

#include <QDateTime>
#include <QLocale>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace testsupport;
using Faults = FileServer::Faults;
using Plan = QList<Faults>; // by request; the last entry repeats
using Ranges = QList<QByteArray>;

namespace {
struct Transfer {
    Plan plan;
    QString ranges;    // each attempt's N in "Range: bytes=N-"
    bool whole = true; // the file ends complete; otherwise there is none
    int answer = -1;   // to the resume question; -1: it must not be asked
    // Cancel clicked once the bar passes 20000, after a second attempt, or
    // a while after the first request.
    bool cancel = false;
    qint64 size = 50000;
    QByteArray latest;   // what the server holds at the end, when it changed
    int retrywaitms = 1; // the first wait after an attempt that got nowhere
    int disk = 0;        // 1: the download folder is a 64 KiB disk; 2: already full
    QString reason;      // why there is no file, as the log says it
    bool spanish = false;
    bool kept = false; // the partial file stays for another time
    int slowms = 0;    // the slow window, when not the default
};

constexpr int slowly = 200; // bytes a piece: a body of 50000 takes half a second or more
const QByteArray etaga = "\"a\"", etagb = "\"b\"";

Faults cut(qint64 after, int dribble = 0) {
    return {.cutafter = after, .dribble = dribble};
}

// "bytes=N-" for each N in `starts` ("0 5904").
Ranges ranges(const QString& starts) {
    Ranges all;
    for (const QString& start : starts.split(' ', Qt::SkipEmptyParts))
        all << "bytes=" + start.toLatin1() + '-';
    return all;
}

void checkidle(DownloadRig& rig) {
    QCOMPARE(rig.window->bajando, false);
    QCOMPARE(rig.window->descarga->title(), platform::LoadResString(116) + " [ninguna]");
    QCOMPARE(rig.window->TimeLabel->text(), QString());
    QCOMPARE(rig.window->RateLabel->text(), QString());
    QCOMPARE(rig.window->ProgressBar->Value(), 0.0);
}

// The last outcome in the log, after its date and time: "Saved : LINK" or
// "Not saved : LINK : REASON".
QString lastoutcome(const DownloadRig& rig) {
    const QStringList lines = QString::fromUtf8(rig.folder.read("log.txt")).split("\r\n");
    for (auto line = lines.rbegin(); line != lines.rend(); ++line)
        if (line->contains(QRegularExpression(" : (Saved|Not saved|Guardado|No guardado) : ")))
            return line->mid(line->indexOf(" : ") + 3);
    return QString();
}

// The received count in a time label "… ( 12 KB of 49 KB ) ", or -1.
int shownkb(const QString& label) {
    static const QRegularExpression counts(QStringLiteral("\\( (\\d+) KB of "));
    const auto match = counts.match(label);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}
// What is at NAME and NAME.part before a transfer, and after it.
struct Target {
    QString before; // entries of the download folder: "NAME=KIND ..."
    Plan plan;
    QString ranges; // "" when nothing may be requested
    QString after;
    QString reason; // "" when saved
    QString swap;   // put at NAME.part while it is written: symlink or fifo
};

const QByteArray keep = "the user's own file";

// Makes the entry "NAME=KIND" in `folder`: keep (the user's file), symlink
// (to `outside`), fifo, dir, or a partial file of 20000 bytes:
// own (the served file's first bytes, marked with `link`), noattr (the
// same, unmarked), other (marked with another link), ownjunk (other
// bytes), ownlong (60000 bytes).
void makeentry(const QString& folder, const QString& entry, const QString& outside,
               const QString& link, const QByteArray& served) {
    const QString name = entry.section('=', 0, 0), kind = entry.section('=', 1);
    const QByteArray path = QFile::encodeName(folder + '/' + name);
    const QByteArray target = QFile::encodeName(outside);
    if (kind == "keep") writefile(path, keep);
    if (kind == "symlink") QCOMPARE(symlink(target, path), 0);
    if (kind == "fifo") QCOMPARE(mkfifo(path, 0600), 0);
    if (kind == "dir") QCOMPARE(mkdir(path, 0700), 0);
    if (!kind.startsWith("own") && kind != "noattr" && kind != "other") return;
    writefile(path, kind == "ownjunk"   ? pattern(20000, 5)
                    : kind == "ownlong" ? served + pattern(10000, 5)
                                        : served.first(20000));
    const QByteArray origin = (kind == "other" ? link + "?other" : link).toUtf8();
    if (kind != "noattr")
        QCOMPARE(setxattr(path, "user.xdg.origin.url", origin.constData(), origin.size(), 0), 0);
}

// A file by its name's own bytes (Qt's file classes cannot name every file).
QByteArray rawread(const QByteArray& path) {
    QFile file;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return "";
    return file.readAll();
}

// The entries of `folder` (their names' own bytes), sorted: "NAME=KIND"
// with KIND served (the served bytes), keep, other, symlink, fifo or dir.
QString entries(const QString& folder, const QByteArray& served) {
    QStringList found;
    DIR* dir = opendir(QFile::encodeName(folder));
    while (const dirent* entry = dir ? readdir(dir) : nullptr) {
        const QByteArray name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat status {};
        const QByteArray path = QFile::encodeName(folder) + '/' + name;
        lstat(path, &status);
        const QByteArray bytes = S_ISREG(status.st_mode) ? rawread(path) : "";
        const char* kind = S_ISLNK(status.st_mode)    ? "symlink"
                           : S_ISFIFO(status.st_mode) ? "fifo"
                           : S_ISDIR(status.st_mode)  ? "dir"
                           : bytes == served          ? "served"
                           : bytes == keep            ? "keep"
                                                      : "other";
        found << QString::fromLatin1(name.toPercentEncoding("/=.")) + '=' + kind;
    }
    if (dir) closedir(dir);
    found.sort();
    return found.join(' ');
}
} // namespace
Q_DECLARE_METATYPE(Transfer)
Q_DECLARE_METATYPE(Target)
Q_DECLARE_METATYPE(Plan)

class tst_download : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { platform::setlanguage(platform::Language::English); }

    // Every transfer's Range headers, its file and its question. A body cut
    // short resumes 4096 bytes before the point reached, or from 0 below that.
    void transfers_data() {
        QTest::addColumn<Transfer>("t");
        const QString once = "0", retry = "0 5904";
        const auto saved = [](const Plan& plan, const QString& ranges) {
            return Transfer{.plan = plan, .ranges = ranges};
        };
        const auto nofile = [](const Plan& plan, const QString& ranges, const QString& reason) {
            return Transfer{.plan = plan, .ranges = ranges, .whole = false, .reason = reason};
        };
        // What was fetched stays, the reason saying so.
        const auto kept = [](const Plan& plan, const QString& ranges, const QString& reason) {
            return Transfer{
                .plan = plan, .ranges = ranges, .whole = false, .reason = reason, .kept = true};
        };
        QTest::newRow("206") << saved({}, once);
        QTest::newRow("200") << saved({{.ignorerange = true}}, once);
        QTest::newRow("cut at 10000") << saved({cut(10000), {}}, retry);
        QTest::newRow("cut at 3000") << saved({cut(3000), {}}, "0 0");
        QTest::newRow("every answer cut after 10000")
            << saved({cut(10000)}, "0 5904 11808 17712 23616 29520 35424 41328");
        QTest::newRow("bytes past the announced length are not body")
            << saved({{.extra = 5000}}, once);
        QTest::newRow("a stall ends the body")
            << saved({{.stallafter = 10000, .stallms = 20000}, {}}, retry);
        QTest::newRow("200 with a body that never starts") << nofile(
            {{.ignorerange = true, .stallafter = 0, .stallms = 600000}}, once, "timed out");
        // "200" to a range request: Yes takes the whole body of that response.
        const Plan twohundred{cut(10000), {.ignorerange = true}};
        QTest::newRow("200 on retry, Yes")
            << Transfer{.plan = twohundred, .ranges = retry, .answer = 1};
        Transfer no = nofile(twohundred, retry, "cancelled");
        no.answer = 0;
        QTest::newRow("200 on retry, No") << no;
        QTest::newRow("200 to a retry from 0: the whole file, no question")
            << saved({cut(3000), {.ignorerange = true}}, "0 0");
        QTest::newRow("no Content-Length")
            << nofile({{.nolength = true}}, once, "no file length given");
        const std::pair<int, const char*> refused[] = {{204, "204 No Content"},
                                                       {404, "404 Not Found"}};
        for (const auto& [code, reason] : refused) {
            QTest::addRow("%d first", code) << nofile({{.status = code}}, once, reason);
            QTest::addRow("%d on retry", code)
                << kept({cut(10000), {.status = code}}, retry, reason);
        }
        // A server that keeps cutting: attempts that get no further than the
        // best point wait and are given up after five in a row; getting
        // further starts the count again.
        QTest::newRow("every answer cut at 3000")
            << kept({cut(3000)}, "0 0 0 0 0 0", "gave up after 5 attempts");
        // A server away a while, or busy, costs nothing already on disk: the
        // attempts go on, paced, for ten minutes' worth of waits (here scaled
        // down with the first wait).
        const Faults away{.hangup = true}, busy{.status = 503};
        QTest::newRow("no answer to two retries, then the rest")
            << saved({cut(10000, 2048), away, away, {}}, "0 5904 5904 5904");
        QTest::newRow("503 to two retries, then the rest")
            << saved({cut(10000, 2048), busy, busy, {}}, "0 5904 5904 5904");
        QTest::newRow("no answer to any retry")
            << kept({cut(10000, 2048), away}, "0" + QString(" 5904").repeated(16), "network error");
        const Plan stuck(4, cut(4096, 2048));
        QTest::newRow("stuck four times, further, stuck four times")
            << saved(Plan{cut(10000, 2048)} + stuck + Plan{cut(8000, 2048)} + stuck + Plan{{}},
                     "0 5904 5904 5904 5904 5904 9808 9808 9808 9808 9808");
        // Ranges answered with less than asked: the file's length is the
        // range's total, and the rest is asked for.
        QTest::newRow("206 shorter than the file")
            << saved({{.dribble = 2048, .rangecap = 20000}}, "0 15904 31808");
        // The served file changes between attempts: the bytes asked again
        // differ, the Content-Range total does, the version a 206 names does
        // (a server that does not honour If-Range), or the range asked for
        // is past its end; fetched afresh once.
        const QByteArray same = pattern(50000), other = pattern(50000, 1);
        const QByteArray longer = same.first(10000) + pattern(50000, 2);
        const QByteArray monday = "Mon, 01 Jan 2024 00:00:00 GMT",
                         tuesday = "Tue, 02 Jan 2024 00:00:00 GMT";
        const std::tuple<const char*, Faults, Faults> changes[] = {
            {"replaced", cut(10000, 2048), {.replacewith = other}},
            {"grown", cut(10000, 2048), {.replacewith = longer}},
            {"of another ETag, the bytes asked again the same",
             {.cutafter = 10000, .dribble = 2048, .etag = etaga},
             {.replacewith = same.first(10000) + other.mid(10000), .etag = etagb}},
            {"of another date",
             {.cutafter = 10000, .dribble = 2048, .lastmodified = monday},
             {.replacewith = same.first(10000) + other.mid(10000), .lastmodified = tuesday}},
            {"shrunk (416)", cut(10000, 2048), {.replacewith = same.first(3000)}}};
        for (const auto& [name, first, then] : changes)
            QTest::addRow("file %s between attempts", name) << Transfer{
                .plan = {first, then}, .ranges = "0 5904 0", .latest = then.replacewith};
        QTest::newRow("file changed twice")
            << nofile({cut(10000, 2048),
                       {.replacewith = other},
                       {.cutafter = 10000, .dribble = 2048, .replacewith = other},
                       {.replacewith = same}},
                      "0 5904 0 5904", "the file changed on the server");
        Transfer cancel = nofile({cut(-1, slowly)}, once, "cancelled");
        cancel.cancel = true;
        QTest::newRow("cancel during the body") << cancel;
        cancel.plan = {{.stallafter = 10000, .stallms = 600000}};
        QTest::newRow("cancel during a stalled body") << cancel;
        // A server that never answers: Cancel, or the time-out, ends the wait.
        cancel.plan = {{.silent = true}};
        QTest::newRow("cancel while the answer is awaited") << cancel;
        QTest::newRow("no answer in time") << nofile({{.silent = true}}, once, "timed out");
        cancel = {.plan = {cut(3000)},
                  .ranges = "0 0",
                  .whole = false,
                  .cancel = true,
                  .retrywaitms = 600000,
                  .reason = "cancelled"};
        QTest::newRow("cancel while waiting to retry") << cancel;
        // A trickle that never stalls long enough to end the body.
        Transfer trickle = kept({{.dribble = 1, .pausems = 100}}, once, "too slow");
        trickle.slowms = 1500;
        QTest::newRow("too slow") << trickle;
        // A full disk: a file is never left as complete unless every byte is
        // on disk, and the transfer gives up instead of asking again.
        QTest::newRow("room enough on a small disk")
            << Transfer{.ranges = once, .size = 60000, .disk = 1};
        QTest::newRow("no room at all") << Transfer{
            .ranges = once, .whole = false, .size = 10000, .disk = 2, .reason = "disk full"};
        QTest::newRow("room for all but the last bytes") << Transfer{.ranges = once,
                                                                     .whole = false,
                                                                     .size = 70000,
                                                                     .disk = 1,
                                                                     .reason = "disk full",
                                                                     .kept = true};
        // The outcome in Spanish, with what was kept.
        Transfer spanish = kept({cut(3000)}, "0 0 0 0 0 0", "abandonada tras 5 intentos");
        spanish.spanish = true;
        QTest::newRow("given up, in Spanish") << spanish;
    }
    void transfers() {
        QFETCH(Transfer, t);
        DownloadRig rig;
        platform::setlanguage(t.spanish ? platform::Language::Spanish
                                        : platform::Language::English);
        const auto english =
            qScopeGuard([] { platform::setlanguage(platform::Language::English); });
        const SmallDisk disk(t.disk ? rig.downloads() : QString(), 64);
        if (t.disk && !disk.mounted())
            QSKIP("a small full disk needs root and a mount namespace of our own (unshare)");
        if (t.disk == 2) disk.fill(rig.downloads() + "/filler");
        const QByteArray bytes = rig.put("f.bin", t.size);
        rig.server.setplan(t.plan);
        descargas::timing().firstwaitms = t.retrywaitms;
        if (t.slowms) descargas::timing().slowwindowms = t.slowms;
        // A stall, or a silent server, ends the attempt soon, unless Cancel is to end it.
        rig.window->Inet1->stalltimeoutms = rig.window->Inet1->requesttimeoutms =
            t.cancel ? 600000 : 1000;
        QStringList asked; // with whether the partial file was still there
        descargas::setanswerer([&](const QString& title, const QString& text) {
            asked << title << text << QString::number(rig.exists("f.bin.part"));
            return t.answer == 1;
        });
        bool partway = false; // the file was there when Cancel was clicked
        int ticks = 0;        // of the clicker since the first request
        QTimer clicker;
        QObject::connect(&clicker, &QTimer::timeout, [&] {
            ticks += !rig.server.heads().isEmpty();
            if (rig.window->ProgressBar->Value() <= 20000 && rig.attempts.size() < 2 && ticks < 200)
                return;
            clicker.stop();
            // After a second attempt, a moment later: the wait before the third.
            if (rig.attempts.size() >= 2) pump(300);
            partway = rig.exists("f.bin.part");
            rig.window->CancelButton->click();
        });
        if (t.cancel) clicker.start(5);
        rig.download("f.bin");
        descargas::setanswerer({});
        QCOMPARE(rig.server.header(0, "Range"), QByteArray("bytes=0-")); // as it went over the wire
        QCOMPARE(rig.attempts, ranges(t.ranges));
        QCOMPARE(partway, t.cancel && !t.plan.first().silent);
        const QStringList question{"Unable to Resume Download",
                                   "The server is unable to resume this download.\r\r"
                                   "Do you want to continue anyway?",
                                   "0"};
        QCOMPARE(asked, t.answer >= 0 ? question : QStringList());
        // The partial file is renamed, or kept with the bytes fetched (never
        // in the way of the next transfer), or deleted.
        const QString link = rig.server.url("f.bin");
        const qint64 kept = QFileInfo(rig.saved("f.bin.part")).size();
        QStringList entries = t.disk == 2 ? QStringList{"filler"} : QStringList();
        if (t.whole || t.kept) entries.prepend(t.whole ? "f.bin" : "f.bin.part");
        QCOMPARE(rig.downloadentries().join(" "), entries.join(" "));
        QVERIFY(t.whole || !t.kept || (kept > 0 && bytes.startsWith(rig.savedbytes("f.bin.part"))));
        if (t.whole) {
            const QByteArray latest = t.latest.isNull() ? bytes : t.latest;
            QVERIFY(rig.savedbytes("f.bin") == latest);
            QCOMPARE(rig.window->ProgressBar->Max(), double(latest.size()));
        }
        QVERIFY(!rig.folder.exists("transfer.ini"));
        // The outcome in the log and on the alerts line, black or red.
        const QString said = platform::LoadResString(t.whole ? 130 : 131);
        QString why = t.whole ? QString() : ": " + t.reason;
        if (t.kept)
            why += " (" +
                   platform::LoadResString(159).replace("{size}", descargas::sizetext(kept)) + ')';
        QCOMPARE(lastoutcome(rig), said + " : " + link + QString(why).replace(":", " :"));
        QVERIFY2(rig.window->msg->text().endsWith(' ' + said + " f.bin" + why),
                 qPrintable(rig.window->msg->text()));
        QCOMPARE(rig.window->msg->ForeColor(), t.whole ? platform::vbBlack : platform::vbRed);
        // Meanwhile: bajando throughout, the replies of abandoned attempts do
        // not pile up, the caption names the file, the labels show time
        // left, counts and rate, the bar follows the count (between attempts
        // it is back at 0 while the labels still show the last count).
        static const QRegularExpression labels(
            "^(\\d+ sec|\\d+ min \\d+ sec|\\d+ hr \\d+ min) \\( \\d+ (bytes|KB) of \\d+ KB \\) "
            "\\d+([.,]\\d+)? (bytes|KB|MB)/S$");
        int shown = 0;
        for (const auto& s : rig.samples) {
            QVERIFY(s.bajando && s.replies <= 1);
            if (s.timelabel.isEmpty()) continue;
            QCOMPARE(s.caption, platform::LoadResString(116) + " [f.bin]");
            QVERIFY2(labels.match(s.timelabel + s.ratelabel).hasMatch(),
                     qPrintable(s.timelabel + s.ratelabel));
            if (s.value < 1024) continue;
            ++shown;
            QCOMPARE(shownkb(s.timelabel), int(std::lround(s.value / 1024)));
        }
        // A body dribbled until Cancel runs long enough to show its progress.
        QVERIFY(shown > 0 || !t.cancel || t.plan.first().dribble != slowly);
        descargas::timing() = {.firstwaitms = 1};
        checkidle(rig);
    }

    // NAME is replaced only by a whole file, by a rename, whatever was
    // there (a symlink's target stays as it was); anything but a regular file
    // at NAME.part, and a directory at NAME, are refused before any request,
    // and the next link is saved. A partial file is resumed only when it
    // names this link and the server's file is still the one begun.
    void targets_data() {
        QTest::addColumn<Target>("t");
        const QString served = "t.bin=served", refused = "not a regular file";
        const std::pair<const char*, Target> rows[] = {
            {"file at NAME, transfer fails",
             {"t.bin=keep",
              {cut(1000)},
              "0 0 0 0 0 0",
              "t.bin.part=other t.bin=keep",
              "gave up after 5 attempts (1000 bytes kept)"}},
            {"file at NAME, saved", {"t.bin=keep", {}, "0", served}},
            {"symlink at NAME", {"t.bin=symlink", {}, "0", served}},
            {"FIFO at NAME", {"t.bin=fifo", {}, "0", served}},
            {"directory at NAME", {"t.bin=dir", {}, "", "t.bin=dir", refused}},
            {"FIFO at NAME.part", {"t.bin.part=fifo", {}, "", "t.bin.part=fifo", refused}},
            {"symlink at NAME.part", {"t.bin.part=symlink", {}, "", "t.bin.part=symlink", refused}},
            {"partial file of another link", {"t.bin.part=other", {}, "0", served}},
            {"partial file without its link", {"t.bin.part=noattr", {}, "0", served}},
            {"partial file of this link", {"t.bin.part=own", {}, "15904", served}},
            {"partial file of this link, other bytes",
             {"t.bin.part=ownjunk", {}, "15904 0", served}},
            {"partial file of this link, 200 to its range",
             {"t.bin.part=own", {{.ignorerange = true}}, "15904", served}},
            {"partial file longer than the file", {"t.bin.part=ownlong", {}, "55904 0", served}},
            // Whatever else can write the folder: NAME stays as it was.
            {"NAME.part swapped for a symlink while written",
             {"",
              {cut(-1, 500)},
              "0",
              "t.bin.part=symlink",
              "the partial file was replaced",
              "symlink"}},
            {"NAME.part swapped for a FIFO while written",
             {"t.bin=keep",
              {cut(-1, 500)},
              "0",
              "t.bin.part=fifo t.bin=keep",
              "the partial file was replaced",
              "fifo"}},
        };
        for (const auto& [name, target] : rows)
            QTest::newRow(name) << target;
    }
    void targets() {
        QFETCH(Target, t);
        DownloadRig rig;
        const QByteArray bytes = rig.put("t.bin", 50000);
        const QByteArray next = rig.put("next.bin", 3000);
        const QString outside = rig.area.filePath("outside.txt");
        writefile(outside, keep);
        for (const QString& entry : t.before.split(' '))
            makeentry(rig.downloads(), entry, outside, rig.server.url("t.bin"), bytes);
        rig.server.setplan(t.plan);
        QTimer swapper;
        QObject::connect(&swapper, &QTimer::timeout, [&] {
            if (QFileInfo(rig.saved("t.bin.part")).size() < 20000) return;
            swapper.stop();
            QFile::remove(rig.saved("t.bin.part"));
            makeentry(rig.downloads(), "t.bin.part=" + t.swap, outside, "", bytes);
        });
        if (!t.swap.isEmpty()) swapper.start(5);
        bool asked = false; // never: nobody saw a transfer begun by an earlier run
        descargas::setanswerer([&](const QString&, const QString&) { return asked = true; });
        rig.download("t.bin");
        descargas::setanswerer({});
        QVERIFY(!asked);
        QCOMPARE(rig.attempts, ranges(t.ranges));
        QCOMPARE(entries(rig.downloads(), bytes), t.after);
        QCOMPARE(readfile(outside), keep);
        QVERIFY(!QFile::exists(outside + ".none"));
        QCOMPARE(lastoutcome(rig),
                 t.reason.isEmpty() ? "Saved : " + rig.server.url("t.bin")
                                    : "Not saved : " + rig.server.url("t.bin") + " : " + t.reason);
        rig.server.setplan({});
        rig.download("next.bin");
        QVERIFY(rig.savedbytes("next.bin") == next);
        checkidle(rig);
    }

    // A new version of the file (same length, other bytes) between a kill
    // and the next start, or between two attempts (nginx stopped meanwhile):
    // nginx answers the If-Range of the version begun with the whole new
    // file, which is saved, with no question and nothing of the old one.
    void versions_data() {
        QTest::addColumn<bool>("etag"); // else the date only
        QTest::addColumn<bool>("restart");
        QTest::newRow("ETag, after a restart") << true << true;
        QTest::newRow("date, after a restart") << false << true;
        QTest::newRow("ETag, between attempts") << true << false;
        QTest::newRow("date, between attempts") << false << false;
    }
    void versions() {
        QFETCH(bool, etag);
        QFETCH(bool, restart);
        DownloadRig rig;
        // Only the head differs: the bytes around the resume point match.
        const QByteArray old = rig.put("v.bin", 300000), newer = pattern(50000, 3) + old.mid(50000);
        const QDateTime monday(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
        QFile served(rig.served.filePath("v.bin"));
        QVERIFY(served.open(QIODevice::ReadWrite) &&
                served.setFileTime(monday, QFileDevice::FileModificationTime));
        served.close();
        Nginx nginx(rig.served.path());
        nginx.configure(QString(etag ? "" : "etag off;") + (restart ? "" : "limit_rate 100k;"));
        QVERIFY2(nginx.start(), qPrintable(nginx.error()));
        QTimer cutter; // nginx away a moment, the file replaced meanwhile
        QObject::connect(&cutter, &QTimer::timeout, [&] {
            if (QFileInfo(rig.saved("v.bin.part")).size() < 60000) return;
            cutter.stop();
            nginx.stop();
            writefile(served.fileName(), newer);
            QVERIFY(nginx.start());
        });
        if (restart) { // what a killed run left: the old version's first bytes, and its marks
            const QByteArray part = QFile::encodeName(rig.saved("v.bin.part"));
            const QByteArray origin = nginx.url("v.bin").toUtf8(),
                             version =
                                 etag ? "\"" + QByteArray::number(monday.toSecsSinceEpoch(), 16) +
                                            "-493e0\""
                                      : "Mon, 01 Jan 2024 00:00:00 GMT";
            writefile(part, old.first(100000));
            QCOMPARE(setxattr(part, "user.xdg.origin.url", origin.data(), origin.size(), 0) +
                         setxattr(part,
                                  etag ? "user.quillharbor.etag" : "user.quillharbor.last-modified",
                                  version.data(), version.size(), 0),
                     0);
            writefile(served.fileName(), newer);
        } else {
            descargas::timing().firstwaitms = 50;
            cutter.start(5);
        }
        // No question: "No" would leave no file.
        descargas::setanswerer([](const QString&, const QString&) { return false; });
        rig.download(nginx.url("v.bin"));
        descargas::setanswerer({});
        QVERIFY(rig.savedbytes("v.bin") == newer);
        QCOMPARE(rig.downloadentries(), QStringList{"v.bin"});
        QVERIFY2(nginx.accesslog(true).contains("HTTP/1.1 200 bytes="), nginx.accesslog(true));
    }

    // A body from servers that hold each connection to 2 MiB/s: connections
    // are added while they pay, each for a piece of its own, when the server
    // honours ranges and names the file's version; one refused, or naming
    // another version, ends the adding. The file is whole either way.
    void connections_data() {
        QTest::addColumn<Plan>("plan");    // empty: nginx
        QTest::addColumn<int>("requests"); // 0: two or more; -1: any
        const Faults throttled{.dribble = 4096, .etag = etaga}, unnamed{.dribble = 4096},
            dated{.dribble = 4096, .lastmodified = "Mon, 01 Jan 2024 00:00:00 GMT"},
            norange{.ignorerange = true, .dribble = 4096, .etag = etaga},
            busy{.status = 503, .etag = etaga}, other{.dribble = 4096, .etag = etagb};
        QTest::newRow("nginx") << Plan() << 0;
        QTest::newRow("FileServer, an ETag") << Plan{throttled} << 0;
        QTest::newRow("FileServer, a date") << Plan{dated} << 0;
        QTest::newRow("no version named") << Plan{unnamed} << 1;
        QTest::newRow("no ranges") << Plan{norange} << 1;
        // The second's piece is fetched once the first has done its own.
        QTest::newRow("503 to a second connection") << Plan{throttled, busy, throttled} << 3;
        QTest::newRow("another version on a second connection") << Plan{throttled, other} << -1;
        // The server no longer honours ranges: the question (unanswered, so
        // Yes after its wait), and the whole file from that answer.
        QTest::newRow("ranges no more") << Plan{throttled, norange} << 4;
    }
    void connections() {
        QFETCH(Plan, plan);
        QFETCH(int, requests);
        DownloadRig rig;
        const QByteArray bytes = rig.put("m.bin", 6 * 1024 * 1024);
        Nginx nginx(rig.served.path());
        nginx.configure("limit_rate 2m;");
        if (plan.isEmpty()) QVERIFY2(nginx.start(), qPrintable(nginx.error()));
        rig.server.setplan(plan);
        descargas::setanswerwait(1000);
        rig.download(plan.isEmpty() ? nginx.url("m.bin") : rig.server.url("m.bin"));
        descargas::setanswerwait(120000);
        QVERIFY(rig.savedbytes("m.bin") == bytes);
        QCOMPARE(rig.downloadentries(), QStringList{"m.bin"});
        const qsizetype asked =
            plan.isEmpty() ? nginx.accesslog(true).count('\n') : rig.server.heads().size();
        QVERIFY2(requests < 0 || (requests ? asked == requests : asked >= 2),
                 qPrintable(QString::number(asked)));
        checkidle(rig);
    }

    // A link's secrets (credentials, query, fragment) stay in the log: the
    // file's name, its origin attribute and the alerts line have none, and a
    // partial file is resumed by a link given again with a fresh token.
    void secrets() {
        DownloadRig rig;
        const QByteArray bytes = rig.put("f.bin", 50000);
        rig.put("index.html", 100);
        const QString host = QStringLiteral("127.0.0.1:%1").arg(rig.server.port());
        const QString secret = "http://alice:S3cr3tPw@" + host;
        const QString link = secret + "/f.bin?X-Amz-Signature=abc&token=";
        rig.server.setplan({cut(10000), {.status = 404}, {}});
        Ranges asked;
        for (const QString& each : {link + "one#frag", link + "two", secret}) {
            rig.download(each);
            asked += rig.attempts;
            QVERIFY(!rig.window->msg->text().contains(QRegularExpression("S3cr3t|token|frag")));
        }
        QCOMPARE(asked, Ranges({"bytes=0-", "bytes=5904-", "bytes=5904-", "bytes=0-"}));
        QVERIFY(rig.savedbytes("f.bin") == bytes);
        QCOMPARE(rig.downloadentries(), QStringList{"f.bin"});
        char origin[200] = {};
        getxattr(QFile::encodeName(rig.saved("f.bin")), "user.xdg.origin.url", origin,
                 sizeof origin);
        QCOMPARE(origin, "http://" + host + "/f.bin");
        QVERIFY(rig.window->msg->text().endsWith("Not saved http://" + host +
                                                 ": the link names no file"));
        QVERIFY(
            rig.folder.read("log.txt").contains(" : Saved : " + (link + "two").toUtf8() + "\r\n"));
    }

    // A link too long for the room ext4 gives a file's attributes: its
    // partial file keeps a digest of the origin instead, and the link given
    // again resumes it.
    void longlink() {
        DownloadRig rig;
        const SmallDisk disk(rig.downloads(), 4096, true);
        if (!disk.mounted()) QSKIP("an ext4 disk needs root, a mount namespace and loop devices");
        const QByteArray bytes = rig.put("f.bin", 50000);
        const QString link = rig.server.url(QString(240, 'd').append('/').repeated(21) + "f.bin");
        QVERIFY(link.size() > 5000);
        Faults whole{.servefile = "f.bin"}, cut = whole;
        cut.cutafter = 10000;
        rig.server.setplan({cut, {.hangup = true}});
        rig.download(link);
        const QByteArray part = QFile::encodeName(rig.saved("f.bin.part"));
        char value[100] = {};
        QCOMPARE(getxattr(part, "user.xdg.origin.url", value, sizeof value), -1);
        QCOMPARE(getxattr(part, "user.quillharbor.origin-sha256", value, sizeof value), 64);
        rig.server.setplan({whole});
        rig.download(link);
        QCOMPARE(rig.attempts, Ranges{"bytes=5904-"});
        QVERIFY(rig.savedbytes("f.bin") == bytes);
    }

    // An https link, in any letter case, goes to the built-in downloader, as
    // does an http:// link that the server redirects to HTTPS: saved byte for
    // byte from a server that speaks HTTP/2 with a certificate trusted (by
    // this client only); from one whose certificate is not, no file, and the
    // outcome says why.
    void https_data() {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("redirected");
        QTest::newRow("trusted") << true << false;
        QTest::newRow("untrusted") << false << false;
        QTest::newRow("redirected from http") << true << true;
    }
    void https() {
        QFETCH(bool, trusted);
        QFETCH(bool, redirected);
        DownloadRig rig;
        const QByteArray bytes = rig.put("f.bin", 300000);
        testsupport::Nginx nginx(rig.served.path());
        nginx.redirecttotls();
        QVERIFY2(nginx.start(), qPrintable(nginx.error()));
        if (trusted) rig.window->Inet1->trust(QSslCertificate::fromPath(nginx.authority()));
        rig.window->downloaddir->setPath(rig.downloads());
        const QString link =
            redirected ? nginx.url("f.bin") : nginx.httpsurl("f.bin").replace("https", "HTTPS");
        dispatchlink(link);
        const QString reason = trusted ? "" : "certificate not trusted";
        QCOMPARE(rig.downloadentries(), trusted ? QStringList{"f.bin"} : QStringList());
        QVERIFY(!trusted || rig.savedbytes("f.bin") == bytes);
        QCOMPARE(nginx.accesslog(), trusted ? "HTTP/2.0 206 bytes=0-\n" : "");
        QCOMPARE(lastoutcome(rig),
                 trusted ? "Saved : " + link : "Not saved : " + link + " : " + reason);
        QVERIFY(rig.window->msg->text().endsWith(trusted ? "Saved f.bin"
                                                         : "Not saved f.bin: " + reason));
        QCOMPARE(rig.window->msg->ForeColor(), trusted ? platform::vbBlack : platform::vbRed);
        checkidle(rig);
    }

    // Without an answer set ahead, the question is a modal Yes/No box with
    // an exclamation icon and Yes as the default, the time left on it (its
    // wait running out is the "ranges no more" row's).
    void resumequestionbox() {
        QStringList seen;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            poll.stop();
            seen << box->windowTitle() << box->text() << box->button(QMessageBox::Yes)->text();
            QVERIFY(box->isModal() && box->icon() == QMessageBox::Warning);
            QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
            box->button(QMessageBox::No)->click();
        });
        poll.start(20);
        QVERIFY(!descargas::askuser("T", "X"));
        QCOMPARE(seen.mid(0, 2), (QStringList{"T", "X"}));
        QVERIFY2(QRegularExpression("^&Yes \\((2:00|1:5\\d)\\)$").match(seen.value(2)).hasMatch(),
                 qPrintable(seen.value(2)));
    }

    // File names: the server's (Content-Disposition), else the last segment
    // of the link's path, never one that leaves (or names) the download
    // folder or misleads; one the link gives that way is not even asked for.
    void names_data() {
        QTest::addColumn<QString>("path");        // after http://127.0.0.1:port
        QTest::addColumn<QString>("disposition"); // served by nginx with this header
        QTest::addColumn<QString>("saved");       // "" for none, then the reason
        QTest::addColumn<QString>("reason");
        const QString refused = "name refused", noname = "the link names no file";
        const std::tuple<const char*, QString, QString, QString, QString> cases[] = {
            {"query and fragment", "/files/get.php?id=5#top", "", "get.php", ""},
            {"percent escapes", "/files/a%20b.bin", "", "a b.bin", ""},
            {"host only", "", "", "", noname},
            {"trailing /", "/files/", "", "", "404 Not Found"},
            {"..", "/files/..", "", "", refused},
            {"backslash", "/files/..\\..\\escape.bin", "", "", refused},
            {"encoded slash", "/files/..%2Fescape.bin", "", "", refused},
            {"NUL", QStringLiteral("/files/a") + QChar(0) + "b", "", "", refused},
            {"hidden file", "/files/.bashrc", "", "", refused},
            {"control character", "/files/a\x1b[2Jb", "", "", refused},
            {"bidi override", QStringLiteral("/files/exe") + QChar(0x202e) + "fdp.bin", "", "",
             refused},
            {"C1 control", QStringLiteral("/files/a") + QChar(0x85) + "b.bin", "", "", refused},
            {"line separator", QStringLiteral("/files/a") + QChar(0x2028) + "b.bin", "", "",
             refused},
            {"longest name that takes .part", "/files/" + QString(250, 'n'), "", QString(250, 'n'),
             ""},
            {"too long to take .part", "/files/" + QString(251, 'n'), "", "", refused},
            {"server's name, UTF-8", "/files/get.php?id=7",
             "attachment; filename*=UTF-8''r%C3%A9sum%C3%A9.pdf; filename=\"resume.pdf\"",
             QString::fromUtf8("r\u00e9sum\u00e9.pdf"), ""},
            {"server's name with a path", "/files/get.php", "attachment; filename=\"../../e.bin\"",
             "e.bin", ""},
            {"server's name for a link without one", "/", "attachment; filename=i.bin", "i.bin",
             ""},
            {"server's hidden name", "/files/get.php", "attachment; filename=\".bashrc\"",
             "get.php", ""}};
        for (const auto& [name, path, disposition, saved, reason] : cases)
            QTest::newRow(name) << path << disposition << saved << reason;
    }
    void names() {
        QFETCH(QString, path);
        QFETCH(QString, disposition);
        QFETCH(QString, saved);
        QFETCH(QString, reason);
        DownloadRig rig;
        QDir(rig.served.path()).mkdir("files");
        for (const QString& name : {QString("files/get.php"), QString("files/a b.bin"),
                                    QString("index.html"), "files/" + QString(250, 'n')})
            rig.put(name, 3000);
        rig.server.setfaults(cut(-1, 100)); // slow enough to see the caption
        Nginx nginx(rig.served.path());
        nginx.configure("add_header Content-Disposition \"" +
                        QString(disposition).replace("\"", "\\\"") + "\";");
        if (!disposition.isEmpty()) QVERIFY2(nginx.start(), qPrintable(nginx.error()));
        const quint16 port = disposition.isEmpty() ? rig.server.port() : nginx.port();
        const QString link = QStringLiteral("http://127.0.0.1:%1").arg(port) + path;
        rig.download(link);
        QCOMPARE(QDir(rig.area.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"downloads"}); // nothing beside the download folder
        QCOMPARE(rig.downloadentries(), saved.isEmpty() ? QStringList() : QStringList{saved});
        const QString logged = platform::inertlink(link);
        QCOMPARE(lastoutcome(rig),
                 reason.isEmpty() ? "Saved : " + logged : "Not saved : " + logged + " : " + reason);
        if (reason == "name refused") QCOMPARE(rig.server.heads().size(), 0);
        if (!saved.isEmpty()) {
            QCOMPARE(rig.savedbytes(saved).size(), 3000);
            QVERIFY(rig.window->msg->text().contains("Saved " + saved.left(60)));
            QVERIFY(!disposition.isEmpty() ||
                    std::any_of(rig.samples.begin(), rig.samples.end(), [&](const auto& s) {
                        return s.caption == "Current Download [" + saved + ']';
                    }));
        }
        checkidle(rig);
    }

    // Names with bytes that are no UTF-8 are asked for as they came and
    // written with exactly those bytes: two such links are two files.
    void rawbytenames() {
        DownloadRig rig;
        const QByteArray bytes = rig.put(QStringLiteral("inv") + QChar(0xfffd) + ".bin", 3000);
        for (const char16_t standin : {0xDCFF, 0xDCFE})
            rig.download(rig.server.url("inv") + QChar(standin) + ".bin");
        const QString found = entries(rig.downloads(), bytes);
        for (const char* name : {"/inv\xff.bin", "/inv\xfe.bin"})
            unlink(QFile::encodeName(rig.downloads()) + name);
        QCOMPARE(found, "inv%FE.bin=served inv%FF.bin=served");
        QVERIFY(rig.server.heads().value(0).startsWith("GET /inv%FF.bin HTTP/1.1\r\n"));
    }

    // Byte counts beyond 32 bits: a body cut past 2 GiB resumes beyond 2 GiB
    // and the file ends complete. The served file is sparse, with marked
    // regions that must land at their offsets.
    void beyond32bits() {
        constexpr qint64 twogib = qint64(1) << 31, size = twogib + 16 * 1024 * 1024 + 7;
        constexpr qint64 cut = twogib + 8 * 1024 * 1024, length = 70000;
        constexpr qint64 marks[] = {0, twogib - 100000, twogib + 1000, size - length};
        DownloadRig rig;
        QFile served(rig.served.filePath("big.bin"));
        QVERIFY(served.open(QIODevice::WriteOnly) && served.resize(size));
        for (int i = 0; i < 4; ++i)
            QVERIFY(served.seek(marks[i]) && served.write(pattern(length, i)) == length);
        served.close();
        rig.server.setplan({{.cutafter = cut}, {}});
        rig.download("big.bin");
        // 4096 before the count written. On a loaded machine that count has
        // been seen to fall short of the cut (bytes the server sent before its
        // close never reached the reply), but the cut is far enough past 2 GiB.
        QCOMPARE(rig.attempts.size(), 2);
        QCOMPARE(rig.attempts[0], "bytes=0-");
        const qint64 resumed = rig.attempts[1].mid(6).chopped(1).toLongLong();
        QVERIFY2(resumed > twogib && resumed <= cut - 4096, rig.attempts[1]);
        QFile in(rig.saved("big.bin"));
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(in.size(), size);
        for (int i = 0; i < 4; ++i)
            QVERIFY(in.seek(marks[i]) && in.read(length) == pattern(length, i));
        in.remove();
        QCOMPARE(rig.window->ProgressBar->Max(), double(size));
        checkidle(rig);
    }
};

QTEST_MAIN(tst_download)
#include "tst_download.moc"
