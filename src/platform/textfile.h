#pragma once
#include <QString>
#include <QStringList>
#include <optional>

// Text files as the program keeps them: UTF-8 text (the 8-bit encoding of
// this system), lines written with CR LF; a line read ends at CR or CR LF,
// while a lone LF stays part of the line.
namespace platform {

// The lines of a file; nothing when it is missing or unreadable.
std::optional<QStringList> readlines(const QString& path);

// Splits text at CR or CR LF; a final line end makes no empty last line.
QStringList splitlines(const QString& text);

// Replaces the file with these lines, atomically: the old content stays whole
// until the new one is complete on disk. `owneronly` makes the file readable
// and writable by its owner alone. False when anything failed.
bool writelines(const QString& path, const QStringList& lines, bool owneronly = false);

// Adds text at the end of the file, creating it when missing.
bool appendtext(const QString& path, const QString& text);

} // namespace platform
