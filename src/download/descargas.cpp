#include "download/descargas.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "download/formatmask.h"
#include "download/outcome.h"
#include "download/partial.h"
#include "download/resumequestion.h"
#include "download/transfer.h"
#include "download/underway.h"
#include "platform/controls.h"
#include "platform/inert.h"
#include "platform/paths.h"
#include "platform/resstrings.h"

#include <QElapsedTimer>
#include <cmath>

namespace descargas {

namespace {

constexpr float startoffset = 1.0f;
// Attempts in a row that may end without getting further before the
// transfer is given up; waits, in first waits: the longest between two
// attempts, and all those after attempts that got no answer at all.
constexpr int maxfailures = 5;
constexpr int longestwait = 60;
constexpr int noanswerwaits = 600;
// The longest a server may ask us to wait before asking again (seconds).
constexpr int longestretryafter = 600;

quillharbor& window() {
    return principal::mainwindow();
}

failure because(reason why) {
    failure f;
    f.why = why;
    return f;
}

// A status that brings no file: "404 Not Found".
failure refusedstatus(const platform::Answer& answer) {
    if (answer.status == 0) return because(reason::badanswer);
    return {reason::status, answer.status, platform::phrasetext(answer.phrase)};
}

// A status that says the server may serve the file again soon.
bool transient(int status) {
    return status == 408 || status == 429 || status == 500 || status == 502 || status == 503 ||
           status == 504;
}

// The attempt got no answer to write: the HTTP client's reason.
void noanswer(transfer& t, const platform::Inet& inet) {
    const reason why = fromclient(inet.error());
    t.why = because(why == reason::none ? reason::network : why);
    t.answered = false;
}

// The answer names the version of the file begun, or no version at all.
bool samevalidator(const transfer& t, const platform::Answer& answer) {
    return (t.etag.isEmpty() || answer.etag.isEmpty() || answer.etag == t.etag) &&
           (t.lastmodified.isEmpty() || answer.lastmodified.isEmpty() ||
            answer.lastmodified == t.lastmodified);
}

// Opens a new partial file for the body of `c`'s answer, the whole file:
// its length and the clock start now. False (with the reason) when the body
// is not to be written.
bool freshbody(transfer& t, connection& c) {
    quillharbor& w = window();
    const platform::Answer& answer = c.inet->answer();
    t.starttime = seconds() - startoffset;
    t.expected = answer.length;
    if (t.expected == 0) return stop(t, reason::nolength), false;
    // A server may answer a range with less than was asked for: the file is
    // as long as the range's total says, and the rest is asked for like the
    // rest of a cut body.
    if (answer.status == 206 && answer.total > t.expected) t.expected = answer.total;
    t.etag = answer.etag;
    t.lastmodified = answer.lastmodified;
    t.ranges = answer.status == 206 || answer.acceptsranges;
    t.pieces = {{0, t.expected, &c}};
    c.work = &t.pieces.front();
    c.asked = c.at = 0; // a whole file's body, whatever was asked
    t.split = false;
    t.best = t.received = 0;
    t.progress.clear();
    if (!openfresh(t)) return false;
    w.ProgressBar->setValue(0);
    if (!w.ProgressBar->setMax(double(t.expected))) return stop(t, reason::nolength), false;
    return true;
}

// The file's name, now that the server had its word: a name it gives in
// Content-Disposition, else the link's. The partial file of this link
// under that name, left by an earlier transfer, is resumed instead: false,
// and this answer is not written.
bool decidename(transfer& t, const platform::Answer& answer) {
    const QString given = platform::dispositionname(answer.disposition);
    const QString name = !given.isEmpty() && !refusedname(given) ? given : linkname(t.url);
    if (name.isEmpty() && given.isEmpty()) return stop(t, reason::noname), false;
    if (refusedname(name)) return stop(t, reason::namerefused), false;
    if (name == t.name) return true;
    settarget(t, name);
    qint64 size = -1;
    switch (lookat(t, size)) {
    case found::notregular:
        return stop(t, reason::notregular), false;
    case found::partial:
        t.resuming = t.afterrestart = true;
        return false;
    case found::nothing:
        return true;
    }
    return true;
}

} // namespace

float seconds() {
    static const QElapsedTimer since = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return float(double(since.nsecsElapsed()) / 1e9);
}

timings& timing() {
    static timings values;
    return values;
}

void stop(transfer& t, const failure& why) {
    if (!t.over || t.why.why == reason::none) t.why = why;
    t.over = true;
    window().CancelSearch = true;
}

void stop(transfer& t, reason why) {
    stop(t, because(why));
}

void diskfailed(transfer& t) {
    t.diskfailed = true;
    stop(t, t.file.diskfull() ? reason::diskfull : reason::diskerror);
}

qint64 inplace(const transfer& t) {
    if (t.expected <= 0) return t.pieces.empty() ? 0 : t.pieces.front().pos;
    qint64 missing = 0;
    for (const piece& p : t.pieces)
        missing += p.left();
    return t.expected - missing;
}

// The answer of an attempt's first connection decides whether its body is
// written: its status, and whether it is still the file begun.
void acceptfirst(transfer& t, connection& c) {
    const platform::Answer& answer = c.inet->answer();
    const bool samefile = samevalidator(t, answer);
    if (answer.status == 200) {
        if (t.resuming && !samefile) {
            // To an If-Range: the new version of the file, whole.
            if (t.refetched) return stop(t, reason::changed);
            t.refetched = true;
            discardpart(t);
        } else if (t.resuming && c.asked > 0 && !t.afterrestart) {
            // The whole file again, to a range from further on: the partial
            // file goes, and the user decides whether to start over (nobody
            // saw a transfer begun by an earlier run: it starts over).
            discardpart(t);
            c.askuser = true;
            return;
        }
        t.resuming = t.afterrestart = false;
        if (t.name.isEmpty() || !t.file.isopen()) {
            if (!decidename(t, answer)) return;
        }
        c.accepted = freshbody(t, c);
        return;
    }
    if (answer.status == 206) {
        // Never bytes from elsewhere than asked: on a retry the file
        // changed, on a first attempt the answer is refused.
        const bool there = !answer.ranged || answer.first == c.asked;
        if (!t.resuming) {
            if (!there) return stop(t, reason::badanswer);
            if (!decidename(t, answer)) return;
            c.accepted = freshbody(t, c);
            return;
        }
        if (t.afterrestart) {
            // The length comes from the range's total, which must hold the
            // partial file and end where its pieces end.
            const qint64 last = t.pieces.back().end;
            t.expected =
                answer.total >= c.asked && (last < 0 || last == answer.total) ? answer.total : 0;
            for (piece& p : t.pieces)
                if (p.end < 0) p.end = t.expected;
            t.starttime = seconds() - startoffset;
            t.afterrestart = false;
            window().ProgressBar->setValue(0);
            window().ProgressBar->setMax(double(qMax<qint64>(t.expected, 1)));
        }
        // Otherwise the server's file is another one now.
        t.changed = t.expected <= 0 || !there || !samefile ||
                    (answer.total >= 0 && answer.total != t.expected);
        if (t.changed) return;
        t.ranges = true;
        c.accepted = true;
        return;
    }
    // The partial file is longer than the server's file: another one.
    if (t.resuming && answer.status == 416) {
        t.changed = true;
        return;
    }
    // A server busy or away a moment costs nothing already fetched: this
    // attempt counts as one without an answer.
    if (t.resuming && transient(answer.status)) {
        t.why = refusedstatus(answer);
        t.answered = false;
        t.retryafter = answer.retryafter;
        return;
    }
    stop(t, refusedstatus(answer));
}

namespace {

// The user is asked whether to start over: No ends the transfer; Yes takes
// the body of this same answer as the whole file.
void startsover(transfer& t, connection& c) {
    // The body waits meanwhile (held, should it come during the question).
    const bool yes = askuser(QStringLiteral("Unable to Resume Download"),
                             QStringLiteral("The server is unable to resume this download.\r\r"
                                            "Do you want to continue anyway?"));
    c.askuser = false;
    if (!yes) return stop(t, reason::cancelled);
    t.resuming = false;
    c.accepted = freshbody(t, c);
}

// Serves events for `ms`, or until Cancel.
void pause(int ms) {
    platform::Pause(ms, [] { return window().CancelSearch; });
}

void oneattempt(transfer& t) {
    quillharbor& w = window();
    t.why = {};
    t.answered = true;
    t.retryafter = -1;
    platform::DoEvents();
    // The first piece still missing; a retry asks from a little before the
    // point it reached, and checks those bytes against the disk.
    piece* first = nullptr;
    for (piece& p : t.pieces)
        if (p.left() != 0 && !first) first = &p;
    if (!first) return stop(t, reason::badanswer);
    connection& c = startconnection(t, *first, true);
    while (c.inet->StillExecuting()) {
        platform::WaitEvents();
        if (w.CancelSearch) return dropconnections(t);
    }
    w.descarga->setTitle(platform::LoadResString(116) + QLatin1String(" [") + t.name +
                         QLatin1String("]"));
    if (c.inet->answer().status == 0) {
        noanswer(t, *c.inet);
        return dropconnections(t);
    }
    if (!c.judged) judge(t, c);
    if (c.askuser) startsover(t, c);
    if (!c.accepted) return dropconnections(t);
    w.descarga->setTitle(platform::LoadResString(116) + QLatin1String(" [") + t.name +
                         QLatin1String("]"));
    // From the first byte written on, transfer.ini names the link under way.
    if (!t.recorded) {
        underway::starts(t.url, t.name, t.runs, t.partsize);
        t.recorded = true;
    }
    c.inet->ReleaseBody();
    receive(t);
}

// After an attempt that fell short: the wait before the next, or the end
// of the transfer. False when giving up.
bool backoff(transfer& t) {
    const int first = timing().firstwaitms;
    if (!t.answered) {
        // No answer at all: a server away a while, tried for ten minutes
        // or so before the bytes already fetched are left for another time.
        if (t.waitedms >= qint64(first) * noanswerwaits) return false;
        qint64 wait = qMin(qint64(first) << qMin(t.silent++, 20), qint64(first) * longestwait);
        if (t.retryafter > 0)
            wait = qMax<qint64>(wait, qMin(t.retryafter, longestretryafter) * 1000LL);
        t.waitedms += wait;
        pause(int(wait));
        return !window().CancelSearch;
    }
    t.waitedms = 0;
    t.silent = 0;
    if (t.received > t.best) {
        t.best = t.received;
        t.failures = 0;
        return true;
    }
    if (++t.failures >= maxfailures) {
        t.why = because(reason::gaveup);
        return false;
    }
    pause(int(qMin<qint64>(qint64(first) << (t.failures - 1), qint64(first) * longestwait)));
    return !window().CancelSearch;
}

// True when the transfer goes on with a new attempt.
bool finalcheck(transfer& t) {
    quillharbor& w = window();
    t.received = inplace(t);
    // The server's file is not the one begun: start over from byte 0, once.
    if (t.changed && !w.CancelSearch) {
        t.changed = false;
        discardpart(t);
        if (t.refetched) return stop(t, reason::changed), false;
        t.refetched = true;
        t.resuming = t.afterrestart = t.split = false;
        t.expected = t.received = t.best = 0;
        t.failures = 0;
        t.etag.clear();
        t.lastmodified.clear();
        t.pieces = {{0, -1}};
        t.progress.clear();
        return true;
    }
    // Complete: every announced byte is in place.
    if (t.expected > 0 && t.received == t.expected && !t.diskfailed) return false;
    if (w.CancelSearch) {
        if (!t.over) stop(t, reason::cancelled);
        return false;
    }
    // Nothing to go on with: no partial file (a failure before the first
    // byte), or not the one written any more.
    if (!t.file.isopen()) return stop(t, t.why), false;
    if (!t.file.sameas(t.part)) return stop(t, reason::replaced), false;
    if (t.received == 0 && t.answered) return stop(t, t.why), false;
    if (!backoff(t)) {
        stop(t, w.CancelSearch ? because(reason::cancelled) : t.why);
        return false;
    }
    t.resuming = true;
    return true;
}

// Before any request: the name the link gives (or the one a transfer of
// it, killed, was writing), what is at NAME and NAME.part, and whether this
// link keeps ending the program. False (with the reason) when the transfer
// may not begin.
bool prepare(transfer& t) {
    const QString recorded = underway::recordedname(t.url);
    const QString fromlink = linkname(t.url);
    const QString name = !recorded.isEmpty() && !refusedname(recorded) ? recorded : fromlink;
    // A name the server should not choose is never requested nor written;
    // a link that names no file may still get a name from the server.
    if (!name.isEmpty() && refusedname(name)) return stop(t, reason::namerefused), false;
    found there = found::nothing;
    if (!name.isEmpty()) {
        settarget(t, name);
        there = lookat(t, t.partsize);
    }
    if (there == found::notregular) return stop(t, reason::notregular), false;
    t.runs = underway::runsbefore(t.url, t.partsize);
    if (t.runs >= underway::mostruns) {
        underway::ended();
        return stop(t, reason::endedprogram), false;
    }
    // Left by an earlier run for this same link: its first attempt asks for the rest.
    if (there == found::partial) {
        t.resuming = t.afterrestart = true;
        t.received = t.best = inplace(t);
    } else {
        t.pieces = {{0, -1}};
    }
    return true;
}

// The partial file takes NAME's place when every byte is on disk. Otherwise
// it stays for another time, with what it holds, but for a cancel or when
// nothing of it is worth keeping.
void finish(transfer& t) {
    const bool whole = t.expected > 0 && t.received == t.expected && !t.diskfailed &&
                       t.why.why != reason::changed && t.why.why != reason::cancelled;
    if (whole && savepart(t)) {
        t.why = {};
        return;
    }
    if (t.why.why == reason::none) t.why = because(reason::network);
    if (t.why.why == reason::cancelled || t.why.why == reason::changed || !t.file.isopen())
        return discardpart(t);
    // What took its place is none of ours: left alone.
    if (t.why.why == reason::replaced) {
        t.file.close();
        return;
    }
    // What the next transfer of this link resumes from: as recorded, or
    // all the file holds.
    if (!t.diskfailed && t.file.flush() && t.split) recordpieces(t);
    const qint64 kept = t.split ? t.recordedinplace : t.file.size();
    if (kept <= 0) return discardpart(t);
    t.why.kept = kept;
    t.file.close();
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
    t.directory = directory;
    w.TimeLabel->clear();
    w.RateLabel->clear();
    if (prepare(t)) {
        do
            oneattempt(t);
        while (finalcheck(t));
        finish(t);
        if (t.recorded) underway::ended();
    }
    // Told while the transfer still counts as running: the log lets events
    // run, and the next transfer must not start inside this one.
    outcome(url, t.why, t.name);
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
