#include "download/descargas.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "download/formatmask.h"
#include "download/resumequestion.h"
#include "platform/controls.h"
#include "platform/inet.h"
#include "platform/paths.h"
#include "platform/resstrings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
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
// What the file is written in, at most, while chunks keep coming.
constexpr qsizetype batchsize = 256 * 1024;
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
    QString target;
    bool resuming = false;
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
};

quillharbor& window() {
    return principal::mainwindow();
}

// A failure ends the attempt; in the writing phase it also stops the transfer.
void failed(transfer& t) {
    if (t.writing) window().CancelSearch = true;
}

void diskfailed(transfer& t) {
    t.diskfailed = true;
    failed(t);
}

// Names the server should not choose: ones that would write outside the
// download directory or onto it, hidden files (a link ending in "/.bashrc"),
// and names with control characters or bidirectional controls that would
// show the user another name than the one on disk.
bool refusedname(const QString& name) {
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')) || name.contains(QLatin1Char('/')) ||
        name.contains(QLatin1Char('\\')))
        return true;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069))
            return true;
    }
    return false;
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

bool targetexists(const transfer& t) {
    return QFileInfo(t.target).isFile();
}

void showprogress(const transfer& t, float rate, float timeleft) {
    quillharbor& w = window();
    w.TimeLabel->setText(timetext(timeleft) + QLatin1String(" ( ") + sizetext(double(t.received)) +
                         QLatin1String(" of ") + sizetext(double(t.expected)) +
                         QLatin1String(" ) "));
    w.RateLabel->setText(sizetext(double(rate), QStringLiteral("###")) + QLatin1String("/S"));
    w.ProgressBar->setValue(double(t.received));
}

// Compares the start of `chunk`, about to be written at the file's position,
// with what an earlier attempt left there. False on a disk error.
bool checkrewrite(transfer& t, QFile& output, const QByteArray& chunk) {
    const qint64 at = output.pos();
    const qint64 count = qMin<qint64>(chunk.size(), t.ondisk - at);
    if (count <= 0) return true;
    const QByteArray before = output.read(count);
    if (before.size() != count || !output.seek(at)) return false;
    if (before != chunk.first(count)) t.changed = true;
    return true;
}

// Chunk by chunk until a chunk of fewer than two bytes. A chunk counts as
// received only once a flush has put it on disk.
void chunkloop(transfer& t, QFile& output) {
    quillharbor& w = window();
    QElapsedTimer sincerefresh;
    sincerefresh.start();
    qint64 unflushed = 0;
    qsizetype got = 0;
    // Chunks reach the file in large writes: a system call for every 1024
    // bytes would cost more than the rest of the transfer.
    QByteArray pending;
    const auto writepending = [&] {
        const bool written = output.write(pending) == pending.size();
        pending.resize(0);
        return written;
    };
    do {
        const std::optional<QByteArray> chunk =
            w.Inet1->GetChunk(chunksize, [&w] { return w.CancelSearch; });
        if (!chunk) return failed(t);
        got = chunk->size();
        if (!checkrewrite(t, output, *chunk)) return diskfailed(t);
        if (t.changed) return;
        pending += *chunk;
        unflushed += got;
        // The chunk in hand is written, then a cancel is obeyed. Bytes that
        // are compared with the disk are written at once, so the next
        // comparison reads at the file's position.
        if ((w.CancelSearch || pending.size() >= batchsize || output.pos() < t.ondisk) &&
            !writepending())
            return diskfailed(t);
        if (w.CancelSearch) return;
        // More than announced is refused (the bar has no room for it).
        if (t.received + unflushed > t.expected) return failed(t);
        // The display, once a frame while chunks keep coming, and after the last.
        if (got < 2 || sincerefresh.elapsed() >= refreshms) {
            if (!writepending() || !output.flush()) return diskfailed(t);
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

// Creates the folder (one level), opens the file and writes the body.
void writingphase(transfer& t) {
    t.writing = true;
    const QString folder = pathpart(t.target, false, false);
    if (!QFileInfo(folder).isDir() && !QDir().mkdir(folder)) return failed(t);
    // A retry writes again the last bytes of the previous attempt, after
    // checking they are the same.
    QFile output(t.target);
    const bool opened = t.resuming ? output.open(QIODevice::ReadWrite) && output.seek(t.received)
                                   : output.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (!opened) return diskfailed(t);
    chunkloop(t, output);
    output.close();
    if (output.error() != QFileDevice::NoError) diskfailed(t);
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
    platform::DoEvents();
    inet.URL = t.url;
    inet.UserName = t.user;
    inet.Password = t.pass;
    if (!inet.Execute(QStringLiteral("GET"), QLatin1String("Range: bytes=") +
                                                 QString::number(t.received) +
                                                 QLatin1String("-\r\n")))
        return failed(t);
    while (inet.StillExecuting()) {
        platform::DoEvents();
        if (w.CancelSearch) return;
    }
    w.descarga->setTitle(platform::LoadResString(116) + QLatin1String(" [") + t.filename +
                         QLatin1String("]"));
    // The status code is the status line's second word, whatever the
    // protocol's version ("HTTP/1.1 206 Partial Content", "HTTP/2 206").
    const std::optional<QString> header = inet.GetHeader();
    if (!header) return failed(t);
    const QString status =
        header->left(header->indexOf(QLatin1String("\r\n"))).section(QLatin1Char(' '), 1, 1);
    if (status == QLatin1String("200")) {
        // The whole file to a range from 0 is just what was asked for; to a
        // range from further on, the user decides whether to start over.
        if (t.resuming && t.received > 0) {
            QFile::remove(t.target);
            if (!askuser(QStringLiteral("Unable to Resume Download"),
                         QStringLiteral("The server is unable to resume this download.\r\r"
                                        "Do you want to continue anyway?"))) {
                w.CancelSearch = true;
                return;
            }
        }
        t.resuming = false;
    } else if (status == QLatin1String("206")) {
        // Never bytes from elsewhere than asked: on a retry the file changed,
        // on a first attempt the answer is refused.
        const std::optional<QString> range = inet.GetHeader(QStringLiteral("Content-Range"));
        if (!range) return failed(t);
        if (!samefile(*range, t.received, t.resuming ? t.expected : 0)) {
            t.changed = t.resuming;
            w.CancelSearch = !t.resuming;
            return;
        }
    } else {
        w.CancelSearch = true;
        return;
    }
    // A fresh body: its length and the clock start now.
    if (!t.resuming) {
        t.starttime = clock() - startoffset;
        const std::optional<QString> length = inet.GetHeader(QStringLiteral("Content-Length"));
        if (!length) return failed(t);
        t.expected = lengthvalue(*length);
        if (t.expected == 0) return;
        // A server may answer a range with less than was asked for: the file
        // is as long as the range's total says, and the rest is asked for
        // like the rest of a cut body.
        if (status == QLatin1String("206")) {
            const std::optional<QString> range = inet.GetHeader(QStringLiteral("Content-Range"));
            if (range && rangetotal(*range) > t.expected) t.expected = rangetotal(*range);
        }
        t.received = 0;
        t.ondisk = 0;
    }
    w.ProgressBar->setValue(0);
    if (!w.ProgressBar->setMax(double(t.expected))) return failed(t);
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
        QFile::remove(t.target);
        if (t.refetched) {
            w.CancelSearch = true;
            return false;
        }
        t.refetched = true;
        t.resuming = false;
        t.received = t.best = 0;
        t.failures = 0;
        return true;
    }
    // Complete: every announced byte is on disk.
    if (t.received == t.expected && !t.diskfailed) return false;
    if (!targetexists(t)) {
        w.CancelSearch = true;
    } else if (!w.CancelSearch) {
        // The body ended early: ask for the rest, unless attempts keep
        // getting nowhere.
        if (backoff(t)) {
            t.resuming = true;
            return true;
        }
        w.CancelSearch = true;
    }
    // A file locked elsewhere stays; the transfer ends all the same.
    if (targetexists(t)) QFile::remove(t.target);
    return false;
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
    w.TimeLabel->clear();
    w.RateLabel->clear();
    // A name the server should not choose is never requested nor written.
    if (!refusedname(t.filename)) {
        do
            oneattempt(t);
        while (finalcheck(t));
    }
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
