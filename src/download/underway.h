#pragma once
#include <QString>

// The link under way, kept in transfer.ini beside the spool from the start
// of its transfer to its end. Found there at the next start, it was under
// way when the program ended without closing: a transfer that keeps ending
// the program (a server that makes it run out of memory) is not fetched
// again and again.
namespace underway {

QString recordpath();

// True when `link` was under way at the end of the last three runs, its
// partial file (`partsize`, -1 for none) no larger than when they began it.
bool endedprogram(const QString& link, qint64 partsize);

// The transfer of `link` begins, its partial file `partsize` bytes long.
void starts(const QString& link, qint64 partsize);

// No transfer is under way any more (it ended, or the program closes).
void ended();

} // namespace underway
