#include "download/descargas.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "download/formatmask.h"
#include "download/outcome.h"
#include "download/partial.h"
#include "download/reasons.h"
#include "download/resumequestion.h"
#include "download/underway.h"
#include "platform/controls.h"
#include "platform/inert.h"
#include "platform/inet.h"
#include "platform/paths.h"
#include "platform/rawfile.h"
#include "platform/resstrings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cmath>

namespace descargas {

namespace {

constexpr int chunksize = 1024;
constexpr qint64 rollback = 4096;
constexpr float startoffset = 1.0f;
// Serving events and redrawing after every 1024-byte chunk would cost far
// more than the transfer itself; once a frame keeps the window live.
constexpr qint64 refreshms = 16;
// Attempts in a row that may end without getting further before the
// transfer is given up, and the longest wait between two of them.
constexpr int maxfailures = 5;
constexpr int maxwaitms = 60000;

// Seconds from a monotonic source: readings of one transfer stay comparable
// across midnight.
float clock() {
    static const QElapsedTimer since = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return float(double(since.nsecsElapsed()) / 1e9);
}

// One transfer's working state.
struct transfer {
    QString url;
    QString user;
    QString pass;
    QString filename;
    QString target; // the file's name; the transfer writes NAME.part
    QString part;
    bool resuming = false;
    // The first attempt continues a partial file left by an earlier run:
    // the file's length is not known yet.
    bool afterrestart = false;
    // Bytes of the target file that are on disk (written and flushed).
    qint64 received = 0;
    qint64 expected = 0;
    float starttime = 0;
    // From the first open of the file on, every failure is a writing-phase
    // error: the transfer is given up and the partial file deleted.
    bool writing = false;
    // The disk refused bytes: the file is never complete, whatever the counts.
    bool diskfailed = false;
    // A retry asks again for bytes already on disk (those before `ondisk`):
    // they must be the same, or the server's file is another one now.
    qint64 ondisk = 0;
    bool changed = false;
    bool refetched = false; // the file was already fetched afresh once
    // The furthest point reached, and the attempts in a row that got no further.
    qint64 best = 0;
    int failures = 0;
    // Why the last attempt, or the transfer, failed.
    failure why;
};

quillharbor& window() {
    return principal::mainwindow();
}

failure because(reason why) {
    failure f;
    f.why = why;
    return f;
}

// A failure ends the attempt; in the writing phase it also stops the transfer.
void failed(transfer& t, reason why) {
    t.why = because(why);
    if (t.writing) window().CancelSearch = true;
}

// The HTTP client failed: its reason.
void failed(transfer& t) {
    const reason why = fromclient(window().Inet1->error());
    failed(t, why == reason::none ? reason::network : why);
}

// The request brought no answer to write: the HTTP client's reason. Nothing
// of this attempt reached the disk, so a transfer with part of its file on
// disk goes on as after an attempt that got no further (paced, and given up
// after a few): a server that is away a moment does not cost the bytes
// already fetched.
void notanswered(transfer& t) {
    const reason why = fromclient(window().Inet1->error());
    t.why = because(why == reason::none ? reason::network : why);
    t.received = qMax(t.received, t.ondisk);
}

void diskfailed(transfer& t, const platform::RawFile& file) {
    t.diskfailed = true;
    failed(t, file.diskfull() ? reason::diskfull : reason::diskerror);
}

// The user's cancel, seen by the transfer.
void cancelled(transfer& t) {
    if (t.why.why == reason::none) t.why = because(reason::cancelled);
}

// A status that brings no file: "404 Not Found" from "HTTP/1.1 404 Not Found".
failure refusedstatus(const QString& statusline) {
    bool numeric = false;
    const int code = statusline.section(QLatin1Char(' '), 1, 1).toInt(&numeric);
    if (!numeric || code < 100 || code > 999) return because(reason::badanswer);
    // The phrase's bytes again (the status line was read as Latin-1), for
    // a server that speaks UTF-8.
    return {reason::status, code,
            platform::phrasetext(statusline.section(QLatin1Char(' '), 2).toLatin1())};
}

} // namespace

namespace {
qint64 decimal(const QString& text) {
    bool ok = false;
    const QString digits = text.trimmed();
    for (const QChar c : digits)
        if (!c.isDigit() || c.unicode() > '9') return 0;
    const qint64 value = digits.toLongLong(&ok);
    return ok ? value : 0;
}
} // namespace

qint64 lengthvalue(const QString& text) {
    // A header sent twice reads "5120, 5120": the same value repeated is
    // that value (RFC 9110 allows it), different ones are no length.
    const QStringList values = text.split(QLatin1Char(','));
    const qint64 value = decimal(values.first());
    for (const QString& other : values)
        if (decimal(other) != value) return 0;
    return value;
}

namespace {

// The whole file's length in "Content-Range: bytes FIRST-LAST/TOTAL"; 0
// when the header is absent or gives no number.
qint64 rangetotal(const QString& contentrange) {
    return lengthvalue(contentrange.section(QLatin1Char('/'), 1));
}

// A "Content-Range: bytes FIRST-LAST/TOTAL" (when the server sends one)
// must start where it was asked to, and a retry's must name the total
// already known (`expected`; 0 on a first attempt, "*" for an unknown one).
bool samefile(const QString& contentrange, qint64 from, qint64 expected) {
    const QString range = contentrange.trimmed();
    if (range.isEmpty()) return true;
    if (!range.startsWith(QLatin1String("bytes "))) return false;
    const QString span = range.mid(6).section(QLatin1Char('/'), 0, 0);
    const QString total = range.section(QLatin1Char('/'), 1);
    return lengthvalue(span.section(QLatin1Char('-'), 0, 0)) == from &&
           (expected == 0 || total == QLatin1String("*") || rangetotal(range) == expected);
}

// After a restart the length comes from the range's total, which must be
// known and hold the partial file; 0 otherwise (the server's file is another).
qint64 restartlength(const QString& contentrange, qint64 ondisk) {
    const qint64 total = rangetotal(contentrange);
    return total >= ondisk ? total : 0;
}

bool partexists(const transfer& t) {
    return platform::entryat(t.part) == platform::Entry::file;
}

void showprogress(const transfer& t, float rate, float timeleft) {
    quillharbor& w = window();
    w.TimeLabel->setText(timetext(timeleft) + QLatin1String(" ( ") + sizetext(double(t.received)) +
                         QLatin1String(" of ") + sizetext(double(t.expected)) +
                         QLatin1String(" ) "));
    w.RateLabel->setText(sizetext(double(rate), QStringLiteral("###")) + QLatin1String("/S"));
    w.ProgressBar->setValue(double(t.received));
}

// Compares the start of `chunk`, about to be written at `at`, with what an
// earlier attempt left there. False on a disk error.
bool checkrewrite(transfer& t, platform::RawFile& output, qint64 at, const QByteArray& chunk) {
    const qint64 count = qMin<qint64>(chunk.size(), t.ondisk - at);
    if (count <= 0) return true;
    const std::optional<QByteArray> before = output.readat(at, count);
    if (!before || before->size() != count) return false;
    if (*before != chunk.first(count)) t.changed = true;
    return true;
}

// Chunk by chunk until a chunk of fewer than two bytes. A chunk counts as
// received only once a flush has put it on disk.
void chunkloop(transfer& t, platform::RawFile& output) {
    quillharbor& w = window();
    QElapsedTimer sincerefresh;
    sincerefresh.start();
    qint64 unflushed = 0;
    qsizetype got = 0;
    do {
        const std::optional<QByteArray> chunk =
            w.Inet1->GetChunk(chunksize, [&w] { return w.CancelSearch; });
        if (!chunk) return failed(t);
        got = chunk->size();
        if (!checkrewrite(t, output, t.received + unflushed, *chunk)) return diskfailed(t, output);
        if (t.changed) return;
        if (got > 0 && !output.write(*chunk)) return diskfailed(t, output);
        unflushed += got;
        // The chunk in hand is written, then a cancel is obeyed.
        if (w.CancelSearch) return cancelled(t);
        // More than announced is refused (the bar has no room for it).
        if (t.received + unflushed > t.expected) return failed(t, reason::badanswer);
        // The display, once a frame while chunks keep coming, and after the last.
        if (got < 2 || sincerefresh.elapsed() >= refreshms) {
            if (!output.flush()) return diskfailed(t, output);
            t.received += unflushed;
            unflushed = 0;
            // The start time lies a second back, so the divisor is never 0.
            const float rate = float(t.received) / (clock() - t.starttime);
            if (!(rate > 0)) return failed(t);
            const float timeleft = float(t.expected - t.received) / rate;
            showprogress(t, rate, timeleft);
            platform::DoEvents();
            sincerefresh.restart();
        }
    } while (got >= 2);
}

// Creates the folder (one level), opens the partial file and writes the
// body; a whole body is synced to the disk.
void writingphase(transfer& t) {
    t.writing = true;
    const QString folder = pathpart(t.target, false, false);
    if (!QFileInfo(folder).isDir() && !QDir().mkdir(folder)) return failed(t, reason::diskerror);
    // A retry writes again the last bytes of the previous attempt, after
    // checking they are the same.
    platform::RawFile output;
    const platform::RawFile::Opened opened =
        t.resuming ? output.reopen(t.part) : openfresh(output, t.part, t.url);
    if (opened == platform::RawFile::Opened::notregular) return failed(t, reason::notregular);
    if (opened != platform::RawFile::Opened::ok || !output.seek(t.received))
        return diskfailed(t, output);
    chunkloop(t, output);
    if (t.received == t.expected && !t.diskfailed && !output.sync()) return diskfailed(t, output);
    if (!output.close()) diskfailed(t, output);
}

// The whole file again, to a range from further on: the partial file goes,
// and the user decides whether to start over. False for No.
bool startsover(transfer& t) {
    discardpart(t.target);
    if (askuser(QStringLiteral("Unable to Resume Download"),
                QStringLiteral("The server is unable to resume this download.\r\r"
                               "Do you want to continue anyway?")))
        return true;
    window().CancelSearch = true;
    cancelled(t);
    return false;
}

// The answer's status decides whether its body is written. False when the
// attempt ends here (the reason, or a changed file, is recorded).
bool acceptstatus(transfer& t, const QString& statusline) {
    quillharbor& w = window();
    const QString status = statusline.section(QLatin1Char(' '), 1, 1);
    if (status == QLatin1String("200")) {
        // The whole file to a range from 0 is just what was asked for; to a
        // range from further on, the user decides whether to start over
        // (nobody saw a transfer begun by an earlier run: it starts over).
        if (t.resuming && t.received > 0 && !t.afterrestart && !startsover(t)) return false;
        t.resuming = false;
        return true;
    }
    if (status == QLatin1String("206")) {
        // Never bytes from elsewhere than asked: on a retry the file changed,
        // on a first attempt the answer is refused.
        const std::optional<QString> range = w.Inet1->GetHeader(QStringLiteral("Content-Range"));
        if (!range) return notanswered(t), false;
        if (!t.resuming && !samefile(*range, t.received, 0)) {
            w.CancelSearch = true;
            t.why = because(reason::badanswer);
            return false;
        }
        if (t.resuming) {
            if (t.afterrestart) t.expected = restartlength(*range, t.ondisk);
            if (t.expected <= 0 || !samefile(*range, t.received, t.expected)) {
                t.changed = true;
                return false;
            }
        }
        return true;
    }
    if (t.afterrestart && status == QLatin1String("416")) {
        // The partial file is longer than the server's file: another one.
        t.changed = true;
        return false;
    }
    w.CancelSearch = true;
    t.why = refusedstatus(statusline);
    return false;
}

// A fresh body: its length and the clock start now. False when it has no
// usable length.
bool freshbody(transfer& t, bool partial) {
    platform::Inet& inet = *window().Inet1;
    t.starttime = clock() - startoffset;
    const std::optional<QString> length = inet.GetHeader(QStringLiteral("Content-Length"));
    if (!length) return notanswered(t), false;
    t.expected = lengthvalue(*length);
    if (t.expected == 0) return failed(t, reason::nolength), false;
    // A server may answer a range with less than was asked for: the file is
    // as long as the range's total says, and the rest is asked for like the
    // rest of a cut body.
    if (partial) {
        const std::optional<QString> range = inet.GetHeader(QStringLiteral("Content-Range"));
        if (range && rangetotal(*range) > t.expected) t.expected = rangetotal(*range);
    }
    t.received = 0;
    t.ondisk = 0;
    return true;
}

void oneattempt(transfer& t) {
    quillharbor& w = window();
    platform::Inet& inet = *w.Inet1;
    // A retry starts a little before the point reached, and checks that
    // overlap against the disk.
    if (t.resuming) {
        t.ondisk = t.received;
        t.received = qMax<qint64>(t.received - rollback, 0);
    }
    t.why = {};
    platform::DoEvents();
    inet.URL = t.url;
    inet.UserName = t.user;
    inet.Password = t.pass;
    if (!inet.Execute(QStringLiteral("GET"), QLatin1String("Range: bytes=") +
                                                 QString::number(t.received) +
                                                 QLatin1String("-\r\n")))
        return notanswered(t);
    while (inet.StillExecuting()) {
        platform::DoEvents();
        if (w.CancelSearch) return cancelled(t);
    }
    w.descarga->setTitle(platform::LoadResString(116) + QLatin1String(" [") + t.filename +
                         QLatin1String("]"));
    // The status code is the status line's second word, whatever the
    // protocol's version ("HTTP/1.1 206 Partial Content", "HTTP/2 206").
    const std::optional<QString> header = inet.GetHeader();
    if (!header) return notanswered(t);
    const QString statusline = header->left(header->indexOf(QLatin1String("\r\n")));
    if (!acceptstatus(t, statusline)) return;
    if (t.afterrestart) {
        t.afterrestart = false;
        t.starttime = clock() - startoffset;
    }
    if (!t.resuming && !freshbody(t, statusline.section(QLatin1Char(' '), 1, 1) == "206")) return;
    w.ProgressBar->setValue(0);
    if (!w.ProgressBar->setMax(double(t.expected))) return failed(t, reason::nolength);
    writingphase(t);
}

// After an attempt that got no further than the best point so far: wait
// (1 s, 2 s, 4 s, ... at most a minute; a cancel ends the wait at once), or
// give up after too many such attempts in a row. False when giving up.
bool backoff(transfer& t) {
    quillharbor& w = window();
    if (t.received > t.best) {
        t.best = t.received;
        t.failures = 0;
        return true;
    }
    if (++t.failures >= maxfailures) return false;
    const qint64 wait = qMin<qint64>(qint64(w.Inet1->retrywaitms) << (t.failures - 1), maxwaitms);
    w.Inet1->Pause(int(wait), [&w] { return w.CancelSearch; });
    return !w.CancelSearch;
}

// True when the transfer goes on with a new attempt.
bool finalcheck(transfer& t) {
    quillharbor& w = window();
    // The server's file is not the one begun: start over from byte 0, once.
    if (t.changed && !w.CancelSearch) {
        t.changed = false;
        discardpart(t.target);
        if (t.refetched) {
            w.CancelSearch = true;
            t.why = because(reason::changed);
            return false;
        }
        t.refetched = true;
        t.resuming = t.afterrestart = false;
        t.received = t.best = 0;
        t.failures = 0;
        return true;
    }
    // Complete: every announced byte is on disk.
    if (t.received == t.expected && !t.diskfailed) return false;
    if (!partexists(t)) {
        w.CancelSearch = true;
    } else if (!w.CancelSearch) {
        // The body ended early: ask for the rest, unless attempts keep
        // getting nowhere.
        if (backoff(t)) {
            t.resuming = true;
            return true;
        }
        // The last attempt's own reason (a server that stayed away) says more.
        if (w.CancelSearch || t.why.why == reason::none)
            t.why = because(w.CancelSearch ? reason::cancelled : reason::gaveup);
        w.CancelSearch = true;
    }
    return false;
}

// Before any request: the name, what is at NAME and NAME.part, and whether
// this link keeps ending the program. False (with the reason) when the
// transfer may not begin.
bool prepare(transfer& t) {
    if (refusedname(t.filename)) {
        t.why = because(reason::namerefused);
        return false;
    }
    qint64 partsize = -1;
    const found there = lookat(t.target, t.url, partsize);
    if (there == found::notregular) {
        t.why = because(reason::notregular);
        return false;
    }
    if (!underway::starts(t.url, partsize)) {
        t.why = because(reason::endedprogram);
        return false;
    }
    // Left by an earlier run for this same link: its first attempt asks for the rest.
    if (there == found::partial) {
        t.resuming = t.afterrestart = t.writing = true;
        t.received = partsize;
    }
    return true;
}

// The partial file takes NAME's place when every byte is on disk, and is
// deleted otherwise (one locked elsewhere stays; the transfer ends all the
// same). The reason stays only when the file was not saved.
void finish(transfer& t) {
    const bool whole =
        t.expected > 0 && t.received == t.expected && !t.diskfailed && t.why.why != reason::changed;
    if (whole && savepart(t.target)) {
        t.why = {};
        return;
    }
    if (whole) t.why = because(reason::diskerror);
    discardpart(t.target);
    if (t.why.why == reason::none)
        t.why = because(window().CancelSearch ? reason::cancelled : reason::network);
}

void cleanup() {
    quillharbor& w = window();
    w.descarga->setTitle(platform::LoadResString(116) + QLatin1String(" [ninguna]"));
    w.ProgressBar->setValue(0);
    w.TimeLabel->clear();
    w.RateLabel->clear();
    w.Inet1->Cancel();
    w.bajando = false;
}

} // namespace

void httpdownload(const QString& url, const QString& directory, const QString& user,
                  const QString& pass) {
    quillharbor& w = window();
    // Before the first yield: nothing else may start a transfer now.
    w.CancelSearch = false;
    w.bajando = true;
    platform::DoEvents();
    transfer t;
    t.url = url;
    t.user = user;
    t.pass = pass;
    t.filename = pathpart(url, true, true);
    t.target = directory + t.filename;
    t.part = partname(t.target);
    w.TimeLabel->clear();
    w.RateLabel->clear();
    // A name the server should not choose, or a name taken by something
    // else than a file, is never requested nor written.
    if (prepare(t)) {
        do
            oneattempt(t);
        while (finalcheck(t));
        finish(t);
        underway::ended();
    }
    // Told while the transfer still counts as running: the log lets events
    // run, and the next transfer must not start inside this one.
    outcome(url, t.why);
    cleanup();
}

QString sizetext(double value, const QString& mask) {
    if (std::isnan(value) || value < 0) return QString();
    if (value < 1024) return formatmask(value, QString()) + QLatin1String(" bytes");
    if (value < 1048576)
        return formatmask(value / 1024, mask.isEmpty() ? QStringLiteral("###0") : mask) +
               QLatin1String(" KB");
    if (value < 1073741824)
        return formatmask(value / 1048576, mask.isEmpty() ? QStringLiteral("###0.0") : mask) +
               QLatin1String(" MB");
    return formatmask(value / 1073741824, mask.isEmpty() ? QStringLiteral("###0.0") : mask) +
           QLatin1String(" GB");
}

QString timetext(float seconds) {
    const double t = seconds;
    if (std::isnan(t)) return QString();
    // The larger unit is taken down, the smaller rounded (halves to even,
    // the default rounding mode); remainders keep the dividend's sign.
    if (t >= 0 && t < 60) return formatmask(t, QStringLiteral("0")) + QLatin1String(" sec");
    if (t >= 60 && t < 3600)
        return formatmask(std::floor(t / 60), QStringLiteral("#0")) + QLatin1String(" min ") +
               formatmask(std::fmod(std::nearbyint(t), 60.0), QStringLiteral("0")) +
               QLatin1String(" sec");
    return formatmask(std::floor(t / 3600), QStringLiteral("#0")) + QLatin1String(" hr ") +
           formatmask(std::fmod(std::nearbyint(t / 60), 60.0), QStringLiteral("0")) +
           QLatin1String(" min");
}

QString pathpart(const QString& path, bool segment, bool url) {
    const QString separator = url ? QStringLiteral("/") : platform::separator();
    const qsizetype last = path.lastIndexOf(separator);
    if (last < 0) return path;
    return segment ? path.mid(last + 1) : path.left(last + 1);
}

} // namespace descargas

void quillharbor::CancelButton_Click() {
    CancelSearch = true;
}
