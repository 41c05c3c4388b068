#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// What the header block of an HTTP answer says, read once when it is whole.
// Every value comes from a server and is checked here: numbers that are
// not plain decimal digits, ranges that do not add up and names that are
// not names read as absent.
namespace platform {

struct Answer {
    int status = 0;    // 0: no answer
    QByteArray phrase; // the reason phrase as sent ("Not Found")
    // Content-Length: 0 when absent or unusable.
    qint64 length = 0;
    // Content-Range "bytes FIRST-LAST/TOTAL": whether one was sent, its
    // first byte (-1 when unreadable) and the whole file's length (-1 for
    // "*" or unreadable).
    bool ranged = false;
    qint64 first = -1;
    qint64 total = -1;
    bool acceptsranges = false; // Accept-Ranges: bytes
    // Validators: the file's version as the server names it.
    QByteArray etag;
    QByteArray lastmodified;
    QByteArray disposition;  // Content-Disposition, as sent
    int retryafter = -1;     // seconds; -1 when not given
    QList<QByteArray> lines; // the block, status line first
};

// The code of a status line ("HTTP/1.1 206 Partial Content", "HTTP/2 206"):
// its second word, three digits; 0 when it has none.
int statuscode(QByteArrayView statusline);

// Reads a header block (its lines, status line first).
Answer readanswer(const QList<QByteArray>& lines);

// One header's value; the values of a header sent more than once joined by
// ", "; empty when absent.
QByteArray headervalue(const QList<QByteArray>& lines, QByteArrayView name);

// A Content-Length value: anything but plain decimal digits (or a value
// beyond 64 bits) gives 0, "no usable length"; the same value listed more
// than once, comma-separated, is that value.
qint64 lengthvalue(QByteArrayView text);

// The file name a Content-Disposition header gives: filename* (UTF-8 or
// Latin-1, percent-encoded) over filename, only its last path component;
// "" when it gives none.
QString dispositionname(QByteArrayView header);

} // namespace platform
