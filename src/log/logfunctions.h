#pragma once
#include <QString>

class QPlainTextEdit;

// The activity log, log.txt beside the program: one dated line for every
// dispatched link, for the end of every transfer and for every clearing.
namespace logfunctions {

QString logpath();

// The date in the user's short format, a blank, and the 24-hour time.
QString stamp();

// Appends one line of `kind` for `text`, then lets pending events run once.
// Kind 1, a link received: "date time : Download : link". Kind 2, how a
// transfer ended: "date time : Saved : link", or with a `reason`,
// "date time : Not saved : link : reason".
void writelog(const QString& text, qint16 kind, const QString& reason = QString());

// Empties the log, leaving the clear line and an empty line, and shows the
// new content in `logfile`.
void clearlog(QPlainTextEdit* logfile);

// Fills `logfile` with the log's lines, each followed by a line break.
void showlog(QPlainTextEdit* logfile);

} // namespace logfunctions
