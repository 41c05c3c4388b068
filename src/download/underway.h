#pragma once
#include <QString>

// The link under way, kept in transfer.ini beside the spool from the moment
// its transfer opens a partial file to its end. Found there at the next
// start, it was under way when the program ended without closing: a
// transfer that keeps ending the program (a server that makes it run out of
// memory) is not fetched again and again, and the name of its partial file
// is found again (it may have come from the server).
namespace underway {

QString recordpath();

// Runs in a row that ended with this link under way (the last three are
// the most a link may end before it is no longer fetched).
constexpr int mostruns = 3;

// The runs in a row that ended with `link` under way, its partial file no
// larger than `partsize` (-1 for none) shows now.
int runsbefore(const QString& link, qint64 partsize);

// The name of the partial file recorded for `link`; "" when the record is
// about another link, or there is none.
QString recordedname(const QString& link);

// The transfer of `link` has opened its partial file, named `name`, which
// was `partsize` bytes long when the transfer began: one more run.
void starts(const QString& link, const QString& name, int runs, qint64 partsize);

// No transfer is under way any more (it ended, or the program closes).
void ended();

} // namespace underway
