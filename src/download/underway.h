#pragma once
#include <QString>

// The link under way, kept in transfer.ini beside the spool from the start
// of its transfer to its end. Found there at the next start, it was under
// way when the program ended without closing: a transfer that keeps ending
// the program (a server that makes it run out of memory) is not fetched
// again and again.
namespace underway {

QString recordpath();

// The transfer of `link` begins, its partial file `partsize` bytes long (-1
// for none), and is recorded. False instead when the link was under way at
// the end of the last three runs, its partial file no larger than when they
// began it: the record goes, and the transfer may not begin (sent again
// later, the link is tried afresh).
bool starts(const QString& link, qint64 partsize);

// No transfer is under way any more (it ended, or the program closes).
void ended();

} // namespace underway
