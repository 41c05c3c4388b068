#pragma once
#include "download/reasons.h"
#include "platform/inet.h"
#include "platform/rawfile.h"

#include <QElapsedTimer>
#include <QString>
#include <list>
#include <memory>

// One transfer's working state, passed down from httpdownload to every step
// of it: what is fetched, from where, into which file, over which
// connections, and why it ended.
namespace descargas {

struct connection;

// Bytes of the file still to fetch: [pos, end). `end` is -1 while the
// file's length is not known.
struct piece {
    qint64 pos = 0;
    qint64 end = -1;
    connection* by = nullptr;
    qint64 left() const { return end < 0 ? -1 : end - pos; }
};

// One request for one piece (the first of each attempt, or one added
// beside it).
struct connection {
    platform::Inet* inet = nullptr;
    std::unique_ptr<platform::Inet> own; // one added beside the window's Inet1
    piece* work = nullptr;
    bool first = false; // the attempt's first: its answer decides for the file
    qint64 asked = 0;   // the first byte asked for
    qint64 at = 0;      // where the next byte of its body belongs
    // Its answer has been judged; and taken, its body going to the file.
    bool judged = false;
    bool accepted = false;
    bool askuser = false; // the answer waits for the user's word
};

struct transfer {
    QString url;
    QString user;
    QString pass;
    QString directory; // ending with a separator
    QString name;      // the file's name, "" until known
    QString target;    // directory + name; the transfer writes NAME.part
    QString part;
    platform::RawFile file; // NAME.part, open from the first write to the end

    // The file's length (0 until known) and what of it is still to fetch,
    // in order of position.
    qint64 expected = 0;
    std::list<piece> pieces;
    // Bytes in place (on disk, or on their way with the next flush).
    qint64 received = 0;
    float starttime = 0;
    // The version of the file the partial file holds, as its first answer
    // named it: the ETag and the Last-Modified date.
    QByteArray etag;
    QByteArray lastmodified;

    std::list<connection> connections;
    // Connections this attempt may have at once; no more are added once one
    // did not raise the rate enough, or the server refused one.
    int wanted = 1;
    bool nomore = false;
    bool ranges = false; // the server honours ranges (it said so, or answered one)
    int lost = 0;        // connections of this attempt that ended short of their piece
    // The rate (bytes a millisecond) the connections reached before the
    // last one was added, the rate of the last window measured, and the
    // window being measured now.
    double lastrate = 0;
    double rate = 0;
    qint64 windowstart = -1;
    qint64 windowdone = 0;
    // Connections whose last answer was whole, kept open for another piece:
    // a new one would start slow again.
    std::list<std::unique_ptr<platform::Inet>> spare;

    // The partial file was begun by an earlier run, or by an earlier attempt.
    bool resuming = false;
    bool afterrestart = false;
    bool diskfailed = false;
    bool changed = false;       // the server's file is another one now
    bool refetched = false;     // the file was already fetched afresh once
    bool split = false;         // the pieces are recorded with the partial file
    qint64 recordedinplace = 0; // the bytes in place as last recorded
    // Attempts: the furthest point, the attempts in a row that got no
    // further, and the waits in a row after attempts that got no answer.
    qint64 best = 0;
    int failures = 0;
    qint64 waitedms = 0;
    int silent = 0;
    bool answered = false; // this attempt had an answer to write
    int retryafter = -1;   // seconds the server asked us to wait
    // Bytes in place at moments of the time spent receiving, to tell a
    // transfer too slow to go on.
    QElapsedTimer receiving;
    qint64 receivingms = 0;
    std::list<std::pair<qint64, qint64>> progress;

    // Runs that ended with this link under way, the partial file's size
    // when the transfer began (-1: none), and whether transfer.ini says so.
    int runs = 0;
    qint64 partsize = -1;
    bool recorded = false;

    // Why the attempt, or the transfer, failed; `over`: no further attempt.
    failure why;
    bool over = false;
};

} // namespace descargas

namespace descargas {

// No further attempt: the transfer ends, for the first reason given.
void stop(transfer& t, const failure& why);
void stop(transfer& t, reason why);
// The partial file could not be written (the disk is full, or refused it).
void diskfailed(transfer& t);
// Bytes of the file in place.
qint64 inplace(const transfer& t);
// Seconds from a monotonic source: readings of one transfer stay comparable
// across midnight.
float seconds();

// A request for the bytes of `p` on a connection of its own (the window's
// Inet1 for the attempt's first).
connection& startconnection(transfer& t, piece& p, bool first);
// Whether an answer's body goes to the file: the first connection's decides
// for the file (acceptfirst), the others' must be of the same file.
void judge(transfer& t, connection& c);
void acceptfirst(transfer& t, connection& c);
// The bodies of the attempt's connections into the file, more connections
// beside the first where they pay, until none is left.
void receive(transfer& t);
void dropconnections(transfer& t);

} // namespace descargas
