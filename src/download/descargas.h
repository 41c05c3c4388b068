#pragma once
#include <QString>

// The built-in downloader and the texts of its progress display.
namespace descargas {

// Fetches one http:// link into `directory` (ending with a separator),
// resuming a body cut short; returns when the transfer is over.
void httpdownload(const QString& url, const QString& directory, const QString& user,
                  const QString& pass);

// How long the downloader waits before it tries again and before it gives
// up; tests shorten them.
struct timings {
    // The first wait after a failed attempt; each further one in a row
    // doubles it, up to 60 times it. Attempts that get no answer at all go
    // on until their waits add up to 600 times it (ten minutes).
    int firstwaitms = 1000;
    // A transfer that brings less than 100 bytes a second over this much
    // of its time receiving is too slow to go on.
    int slowwindowms = 180000;
};
timings& timing();

// "1.5 MB", "45 KB", "512 bytes"; "" for a negative or non-numeric value.
QString sizetext(double value, const QString& mask = QString());

// "5 sec", "2 min 5 sec", "1 hr 2 min".
QString timetext(float seconds);

// The part of `path` after its last separator (segment true) or up to and
// including it (segment false); "/" for URLs, the platform's otherwise.
QString pathpart(const QString& path, bool segment, bool url);

} // namespace descargas
