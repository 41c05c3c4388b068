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
    qint64 received = 0;
    qint64 expected = 0;
    float starttime = 0;
    // From the first open of the file on, every failure is a writing-phase
    // error: the transfer is given up and the partial file deleted.
    bool writing = false;
};

quillharbor& window() {
    return principal::mainwindow();
}

// A failure ends the attempt; in the writing phase it also stops the transfer.
void failed(transfer& t) {
    if (t.writing) window().CancelSearch = true;
}

// Names that would write outside the download directory, or onto it.
bool refusedname(const QString& name) {
    return name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
           name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
           name.contains(QChar(0));
}

} // namespace

qint64 lengthvalue(const QString& text) {
    bool ok = false;
    const QString digits = text.trimmed();
    for (const QChar c : digits)
        if (!c.isDigit() || c.unicode() > '9') return 0;
    const qint64 value = digits.toLongLong(&ok);
    return ok ? value : 0;
}

namespace {

bool targetexists(const transfer& t) {
    return QFileInfo(t.target).isFile();
}

void showprogress(const transfer& t, float rate, float timeleft) {
    quillharbor& w = window();
    // 7.
    w.TimeLabel->setText(timetext(timeleft) + QLatin1String(" ( ") + sizetext(double(t.received)) +
                         QLatin1String(" of ") + sizetext(double(t.expected)) +
                         QLatin1String(" ) "));
    // 8.
    w.RateLabel->setText(sizetext(double(rate), QStringLiteral("###")) + QLatin1String("/S"));
    // 9.
    w.ProgressBar->setValue(double(t.received));
}

// 13. Chunk by chunk until a chunk of fewer than two bytes.
void chunkloop(transfer& t, QFile& output) {
    quillharbor& w = window();
    QElapsedTimer sincerefresh;
    sincerefresh.start();
    qsizetype got = 0;
    do {
        // 13.1
        const std::optional<QByteArray> chunk =
            w.Inet1->GetChunk(chunksize, [&w] { return w.CancelSearch; });
        if (!chunk) return failed(t);
        got = chunk->size();
        // 13.2
        if (got > 0 && output.write(*chunk) != got) return failed(t);
        // 13.3
        if (w.CancelSearch) return;
        // 13.4; more than announced is refused (the bar has no room for it).
        t.received += got;
        if (t.received > t.expected) return failed(t);
        // 13.5, 13.6
        const float rate = float(t.received) / (clock() - t.starttime);
        if (!(rate > 0)) return failed(t);
        const float timeleft = float(t.expected - t.received) / rate;
        // 13.7 to 13.10, once a frame while chunks keep coming, and after the last.
        if (got < 2 || sincerefresh.elapsed() >= refreshms) {
            showprogress(t, rate, timeleft);
            platform::DoEvents();
            sincerefresh.restart();
        }
    } while (got >= 2);
}

// 11 to 14.
void writingphase(transfer& t) {
    t.writing = true;
    // 11. One level only.
    const QString folder = pathpart(t.target, false, false);
    if (!QFileInfo(folder).isDir() && !QDir().mkdir(folder)) return failed(t);
    // 12. A retry writes again the last bytes of the previous attempt.
    QFile output(t.target);
    const bool opened = t.resuming ? output.open(QIODevice::ReadWrite) && output.seek(t.received)
                                   : output.open(QIODevice::WriteOnly | QIODevice::Truncate);
    if (!opened) return failed(t);
    // 13.
    chunkloop(t, output);
    // 14.
    if (!output.flush()) failed(t);
    output.close();
}

void oneattempt(transfer& t) {
    quillharbor& w = window();
    platform::Inet& inet = *w.Inet1;
    // 1.
    if (t.resuming) t.received = qMax<qint64>(t.received - rollback, 0);
    // 2.
    platform::DoEvents();
    // 3.
    inet.URL = t.url;
    inet.UserName = t.user;
    inet.Password = t.pass;
    if (!inet.Execute(QStringLiteral("GET"), QLatin1String("Range: bytes=") +
                                                 QString::number(t.received) +
                                                 QLatin1String("-\r\n")))
        return failed(t);
    // 4.
    while (inet.StillExecuting()) {
        platform::DoEvents();
        if (w.CancelSearch) return;
    }
    // 5.
    w.descarga->setTitle(platform::LoadResString(116) + QLatin1String(" [") + t.filename +
                         QLatin1String("]"));
    // 6.
    const std::optional<QString> header = inet.GetHeader();
    if (!header) return failed(t);
    const QString status = header->mid(9, 3);
    // 7.
    if (status == QLatin1String("200")) {
        if (t.resuming) {
            QFile::remove(t.target);
            if (!askuser(QStringLiteral("Unable to Resume Download"),
                         QStringLiteral("The server is unable to resume this download.\r\r"
                                        "Do you want to continue anyway?"))) {
                w.CancelSearch = true;
                return;
            }
            t.resuming = false;
        }
    } else if (status != QLatin1String("206")) {
        w.CancelSearch = true;
        return;
    }
    // 8.
    if (!t.resuming) {
        t.starttime = clock() - startoffset;
        const std::optional<QString> length = inet.GetHeader(QStringLiteral("Content-Length"));
        if (!length) return failed(t);
        t.expected = lengthvalue(*length);
        if (t.expected == 0) return;
    }
    // 9.
    w.ProgressBar->setValue(0);
    if (!w.ProgressBar->setMax(double(t.expected))) return failed(t);
    // 10.
    if (!t.resuming) t.received = 0;
    writingphase(t);
}

// True when the transfer goes on with a new attempt.
bool finalcheck(transfer& t) {
    quillharbor& w = window();
    // 1.
    if (t.received == t.expected) return false;
    // 2, 3.
    if (!targetexists(t)) {
        w.CancelSearch = true;
    } else if (!w.CancelSearch) {
        t.resuming = true;
        return true;
    }
    // 4. A file locked elsewhere stays; the transfer ends all the same.
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
    // 1. Before the first yield: nothing else may start a transfer now.
    w.CancelSearch = false;
    w.bajando = true;
    // 2.
    platform::DoEvents();
    // 3.
    transfer t;
    t.url = url;
    t.user = user;
    t.pass = pass;
    t.filename = pathpart(url, true, true);
    t.target = directory + t.filename;
    // 4.
    w.TimeLabel->clear();
    w.RateLabel->clear();
    // 5. (the counts start at 0, not resuming). A name that would leave the
    // download directory is never requested nor written.
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
