#include "app/principal.h"
#include "app/quillharbor.h"
#include "download/descargas.h"
#include "download/partial.h"
#include "download/transfer.h"
#include "platform/controls.h"

#include <QTimer>
#include <algorithm>

namespace descargas {

namespace {

// A retry starts this many bytes before the point reached, and checks them.
constexpr qint64 rollback = 4096;
// Serving events and redrawing for every piece of the body would cost more
// than the transfer itself; once a frame keeps the window live.
constexpr qint64 refreshms = 16;
// The pieces recorded with the partial file, at most once a second.
constexpr qint64 recordms = 1000;
// Connections to one server, the least a piece of their own may hold, and
// what one more must add to the rate to be worth keeping; the rate is
// measured over windows of half a second at least, and of eight times the
// longest wait for a first byte (a connection starting up is given four).
constexpr int mostconnections = 8;
constexpr qint64 leastpiece = 1024 * 1024;
constexpr double leastgain = 1.10;
constexpr qint64 leastwindowms = 500;
// A piece is split for another connection only when what is left of it
// takes longer than a new connection needs to get going, this many times
// over.
constexpr qint64 startups = 4;
// Below this many bytes a second over the slow window, a transfer is too slow.
constexpr qint64 leastrate = 100;

quillharbor& window() {
    return principal::mainwindow();
}

// The start of the bytes in place just before `p`: the end of the piece
// before it, or the file's start.
qint64 placedfrom(const transfer& t, const piece& p) {
    qint64 from = 0;
    for (const piece& other : t.pieces)
        if (&other != &p && other.end >= 0 && other.end <= p.pos) from = qMax(from, other.end);
    return from;
}

// The request's header lines: the range, and the version of the file it
// must still be (a strong ETag, else the date).
QString requestheaders(const transfer& t, const connection& c) {
    QString headers = QLatin1String("Range: bytes=") + QString::number(c.asked) + QLatin1Char('-');
    if (c.work->end >= 0 && !c.first) headers += QString::number(c.work->end - 1);
    headers += QLatin1String("\r\n");
    const bool strong = !t.etag.isEmpty() && !t.etag.startsWith("W/");
    const QByteArray version = strong ? t.etag : t.lastmodified;
    if (c.asked > 0 && !version.isEmpty())
        headers +=
            QLatin1String("If-Range: ") + QString::fromLatin1(version) + QLatin1String("\r\n");
    return headers;
}

// The answer of a connection added beside the first must be the same file:
// the range asked for, the same length and the same version.
void acceptextra(transfer& t, connection& c) {
    const platform::Answer& answer = c.inet->answer();
    c.accepted = answer.status == 206 && answer.ranged && answer.first == c.asked &&
                 answer.total == t.expected && answer.etag == t.etag &&
                 answer.lastmodified == t.lastmodified;
    // A server that refuses or fails one more connection gets no more.
    if (!c.accepted) t.nomore = true;
}

// A piece of `c`'s body. Bytes asked for again must be those on disk;
// bytes past its piece are the next piece's, or more than the file holds.
platform::Inet::Take takechunk(transfer& t, connection& c, const char* data, qint64 size) {
    using Take = platform::Inet::Take;
    if (!c.judged) judge(t, c);
    if (c.askuser) return Take::hold;
    if (!c.accepted || t.over || t.changed) return Take::stop;
    piece& p = *c.work;
    if (c.at < p.pos) {
        const qint64 count = qMin(size, p.pos - c.at);
        const std::optional<QByteArray> before = t.file.readat(c.at, count);
        if (!before || before->size() != count) return diskfailed(t), Take::stop;
        if (QByteArrayView(*before) != QByteArrayView(data, count)) {
            t.changed = true;
            return Take::stop;
        }
        c.at += count;
        data += count;
        size -= count;
    }
    const qint64 room = p.end < 0 ? size : qMin(size, p.end - c.at);
    if (room > 0) {
        if (!t.file.writeat(c.at, data, room)) return diskfailed(t), Take::stop;
        c.at += room;
        p.pos = c.at;
    }
    // More than announced is refused (the bar has no room for it).
    if (room < size && p.end == t.expected) return stop(t, reason::badanswer), Take::stop;
    return p.pos == p.end ? Take::stop : Take::taken;
}

int active(const transfer& t) {
    return int(t.connections.size());
}

// The wait for the first byte of a connection of this transfer.
qint64 startupms(const transfer& t) {
    qint64 longest = 0;
    for (const connection& c : t.connections)
        longest = qMax(longest, c.inet->firstbytems());
    return longest;
}

// The largest piece nobody fetches; or else half of the largest one being
// fetched, split off for another connection, when both halves are worth one
// and what is left of it would take longer than a new one needs to start.
piece* nextwork(transfer& t) {
    piece* idle = nullptr;
    piece* largest = nullptr;
    for (piece& p : t.pieces) {
        if (p.left() <= 0) continue;
        if (!p.by && (!idle || p.left() > idle->left())) idle = &p;
        if (p.by && (!largest || p.left() > largest->left())) largest = &p;
    }
    if (idle) return idle;
    if (!largest || largest->left() < 2 * leastpiece) return nullptr;
    const double each = t.rate / qMax<qsizetype>(t.connections.size(), 1);
    if (each > 0 && double(largest->left()) / each < double(startups * startupms(t)))
        return nullptr;
    const qint64 middle = largest->pos + largest->left() / 2;
    const auto after = std::next(std::find_if(t.pieces.begin(), t.pieces.end(),
                                              [&](const piece& p) { return &p == largest; }));
    piece& half = *t.pieces.insert(after, {middle, largest->end});
    largest->end = middle;
    // On record before any byte of it is written: a restart must know the
    // file has holes. Where that cannot be, one connection it is.
    if (!t.file.flush()) {
        diskfailed(t);
        return nullptr;
    }
    if (!recordpieces(t)) {
        largest->end = half.end;
        t.pieces.erase(std::prev(after));
        t.nomore = true;
        return nullptr;
    }
    t.split = true;
    return &half;
}

// One more connection when the rate has stopped rising (the first
// connection may still be starting up), and the last one added raised it
// enough. Each new connection gets time to start before it is measured.
// Only for a file of known length, from a server that honours ranges and
// names the file's version, so that every piece is checked to be of it.
void grow(transfer& t, qint64 now) {
    if (t.connections.empty() || t.connections.back().inet->firstbytems() < 0) return;
    const qint64 startup = startupms(t);
    if (t.windowstart < 0) {
        t.windowstart = now + (t.wanted > 1 ? startups * startup : 0);
        t.windowdone = -1;
    }
    if (now < t.windowstart) return;
    if (t.windowdone < 0) {
        t.windowstart = now;
        t.windowdone = t.received;
        return;
    }
    const qint64 elapsed = now - t.windowstart;
    if (elapsed < qMax(leastwindowms, 2 * startups * startup)) return;
    const double before = t.rate;
    t.rate = double(t.received - t.windowdone) / double(elapsed);
    t.windowstart = now;
    t.windowdone = t.received;
    if (t.nomore || !t.ranges || t.expected <= 0 ||
        (t.etag.isEmpty() && t.lastmodified.isEmpty()) || t.wanted >= mostconnections ||
        int(t.connections.size()) < t.wanted || (t.wanted == 1 && t.rate > leastgain * before))
        return;
    if (t.wanted > 1 && t.rate < leastgain * t.lastrate) {
        t.nomore = true;
        return;
    }
    t.lastrate = t.rate;
    t.wanted += 1;
    t.windowstart = -1;
}

// Connections whose body is over let go of their piece: one that finished
// it may take on another; one that ended early leaves its piece to the
// others, or to the next attempt.
void endconnections(transfer& t) {
    for (auto c = t.connections.begin(); c != t.connections.end();) {
        if (!c->inet->BodyEnded()) {
            ++c;
            continue;
        }
        if (!c->judged && c->inet->answer().status != 0) judge(t, *c);
        if (!c->first && !c->accepted) t.nomore = true;
        const reason why = fromclient(c->inet->error());
        if (c->first && why != reason::none && t.why.why == reason::none) t.why.why = why;
        c->work->by = nullptr;
        if (c->work->left() != 0) ++t.lost;
        c->inet->onchunk = nullptr;
        const bool whole = c->own && c->accepted && c->work->left() == 0 &&
                           c->inet->error() == platform::Inet::Error::none;
        c->inet->Cancel();
        if (whole) t.spare.push_back(std::move(c->own));
        c = t.connections.erase(c);
    }
}

void addconnections(transfer& t) {
    while (!t.over && !t.changed && active(t) < t.wanted - t.lost) {
        piece* work = nextwork(t);
        if (!work) return;
        startconnection(t, *work, false);
    }
}

// Once a frame while the window shows; hidden in the tray it has nobody to
// tell, and is told at the next refresh after it shows again.
void showprogress(transfer& t) {
    quillharbor& w = window();
    if (!w.isVisible()) return;
    // The start time lies a second back, so the divisor is never 0.
    const float rate = float(t.received) / (seconds() - t.starttime);
    if (!(rate > 0)) return;
    const float timeleft = float(t.expected - t.received) / rate;
    w.TimeLabel->setText(timetext(timeleft) + QLatin1String(" ( ") + sizetext(double(t.received)) +
                         QLatin1String(" of ") + sizetext(double(t.expected)) +
                         QLatin1String(" ) "));
    w.RateLabel->setText(sizetext(double(rate), QStringLiteral("###")) + QLatin1String("/S"));
    w.ProgressBar->setValue(double(t.received));
}

// Under 100 bytes a second over the slow window of the time spent
// receiving, across attempts.
bool tooslow(transfer& t) {
    const qint64 now = t.receivingms + t.receiving.elapsed();
    const qint64 window = timing().slowwindowms;
    if (t.progress.empty() || now - t.progress.back().first >= 1000)
        t.progress.push_back({now, t.received});
    while (t.progress.size() > 1 && now - std::next(t.progress.begin())->first >= window)
        t.progress.pop_front();
    const auto& [since, then] = t.progress.front();
    return now - since >= window && t.received - then < leastrate * window / 1000;
}

} // namespace

connection& startconnection(transfer& t, piece& p, bool first) {
    connection& c = t.connections.emplace_back();
    quillharbor& w = window();
    c.first = first;
    c.work = &p;
    p.by = &c;
    if (first) {
        c.inet = w.Inet1;
    } else if (!t.spare.empty()) {
        c.own = std::move(t.spare.front());
        t.spare.pop_front();
        c.inet = c.own.get();
    } else {
        c.own = std::make_unique<platform::Inet>(&w);
        c.own->settingsof(*w.Inet1);
        c.own->keepalive = true;
        c.inet = c.own.get();
    }
    c.asked = c.at = qMax(p.pos - rollback, placedfrom(t, p));
    c.inet->URL = t.url;
    c.inet->UserName = t.user;
    c.inet->Password = t.pass;
    c.inet->onchunk = [&t, &c](const char* data, qsizetype size) {
        return takechunk(t, c, data, size);
    };
    c.inet->Execute(QStringLiteral("GET"), requestheaders(t, c));
    return c;
}

void judge(transfer& t, connection& c) {
    c.judged = true;
    if (c.first)
        acceptfirst(t, c);
    else
        acceptextra(t, c);
}

void receive(transfer& t) {
    quillharbor& w = window();
    // Wakes the loop while a body stalls, for the display and the checks.
    QTimer tick;
    tick.start(500);
    QElapsedTimer clock, sincerefresh, sincerecord;
    clock.start();
    sincerefresh.start();
    sincerecord.start();
    t.receiving.start();
    t.lost = 0;
    t.wanted = 1;
    t.windowstart = -1;
    t.rate = 0;
    while (!t.connections.empty()) {
        platform::WaitEvents();
        if (w.CancelSearch) {
            if (!t.over) stop(t, reason::cancelled);
            break;
        }
        endconnections(t);
        if (t.over || t.changed) break;
        t.received = inplace(t);
        grow(t, clock.elapsed());
        addconnections(t);
        if (sincerefresh.elapsed() >= refreshms || t.connections.empty()) {
            sincerefresh.restart();
            if (!t.file.flush()) {
                diskfailed(t);
                break;
            }
            showprogress(t);
            if (t.split && sincerecord.elapsed() >= recordms) {
                sincerecord.restart();
                recordpieces(t);
            }
        }
        if (tooslow(t)) stop(t, reason::tooslow);
    }
    dropconnections(t);
    t.spare.clear();
    t.receivingms += t.receiving.elapsed();
    t.received = inplace(t);
    if (!t.file.flush())
        diskfailed(t);
    else if (t.split)
        recordpieces(t);
}

void dropconnections(transfer& t) {
    for (connection& c : t.connections) {
        c.inet->onchunk = nullptr;
        c.inet->Cancel();
        if (c.work) c.work->by = nullptr;
    }
    t.connections.clear();
}

} // namespace descargas
