#pragma once
#include <QByteArray>
#include <QString>

// Text from outside (a server's words, a name taken from a link, a line read
// from a file) as the program shows and logs it: inert, so it can neither act
// on a terminal that prints the log nor make itself read as something else.
namespace platform {

// Characters that would show or do something other than what they seem to:
// controls (C0, DEL, C1), the marks that change the direction of text
// (bidirectional controls, LRM, RLM, ALM) and the line and paragraph
// separators.
bool misleading(QChar c);

// `text` with every misleading character, every invisible format character
// and every lone surrogate shown as U+FFFD, and at most `longest` characters
// long, the last one then "…" (no limit when `longest` is negative).
QString inert(const QString& text, qsizetype longest = -1);

// A reason phrase's bytes as text: UTF-8 when they are valid UTF-8, Latin-1
// otherwise (what older servers send).
QString phrasetext(const QByteArray& bytes);

// A link as the log keeps it: the same URL on one line, with every character
// that inert() would replace, and every byte that was no UTF-8,
// percent-encoded ("%1B", "%E2%80%AE", "%E9").
QString inertlink(const QString& link);

} // namespace platform
