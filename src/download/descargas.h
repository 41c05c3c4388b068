#pragma once
#include <QString>

// The built-in downloader and the texts of its progress display.
namespace descargas {

// Fetches one http:// link into `directory` (ending with a separator),
// resuming a body cut short; returns when the transfer is over.
void httpdownload(const QString& url, const QString& directory, const QString& user,
                  const QString& pass);

// A Content-Length value as a count: anything but plain decimal digits (or a
// value beyond 64 bits) gives 0, "no usable length"; the same value listed
// more than once, comma-separated, is that value.
qint64 lengthvalue(const QString& text);

// "1.5 MB", "45 KB", "512 bytes"; "" for a negative or non-numeric value.
QString sizetext(double value, const QString& mask = QString());

// "5 sec", "2 min 5 sec", "1 hr 2 min".
QString timetext(float seconds);

// The part of `path` after its last separator (segment true) or up to and
// including it (segment false); "/" for URLs, the platform's otherwise.
QString pathpart(const QString& path, bool segment, bool url);

} // namespace descargas
