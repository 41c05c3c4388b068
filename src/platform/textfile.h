#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <optional>

// Text files as the program keeps them: lines written with CR LF; a line read
// ends at CR, CR LF or LF (LF alone is what editors on this system write).
//
// Bytes become text losslessly: what is valid UTF-8 (the 8-bit encoding of
// this system) is read as such, and every other byte is kept as a stand-in
// character (U+DC80 to U+DCFF, which no valid text holds) that is written
// back as that same byte. A file or a server message in another 8-bit
// encoding therefore comes back, and goes on, byte for byte. On Windows the
// 8-bit encoding is the system's ANSI code page instead.
namespace platform {

// The state files' and the server's bytes as text, and back.
QString decodetext(const QByteArray& bytes);
QByteArray encodetext(const QString& text);

// `text` with each stand-in for a byte that was not UTF-8 written "%XX", as
// such a byte stands in a URL.
QString percentbytes(const QString& text);

// `text` with CR and LF percent-encoded ("%0D", "%0A"): one line in a file,
// and for a link the same URL.
QString oneline(const QString& text);

// Files the program keeps for itself are small; this bounds them.
constexpr qint64 smallfile = 1024 * 1024;

// The lines of a regular file of at most `longest` bytes; nothing when it is
// missing, unreadable, longer, or anything but a regular file: a link is not
// followed, and a named pipe or a device is neither waited on nor read. With
// `skipmark`, a UTF-8 byte-order mark that starts the file (an editor's, for
// a file edited by hand) is no part of its first line.
std::optional<QStringList> readlines(const QString& path, bool skipmark = false,
                                     qint64 longest = smallfile);

// The lines of the last `longest` bytes of a regular file (a line cut at
// their start left out), as readlines() reads it otherwise.
std::optional<QStringList> lastlines(const QString& path, qint64 longest);

// Splits text at CR, CR LF or LF; a final line end makes no empty last line.
QStringList splitlines(const QString& text);

// The one writer of whole files: replaces the file with `bytes` atomically.
// Everything is written out and checked before the new file takes the old
// one's place, so on any failure (a full disk among them) the old content
// stays whole. A link or anything else but a regular file at `path` is
// replaced, never written through. `owneronly` leaves the file readable and
// writable by its owner alone, also when it was not before. False when
// anything failed.
bool writewhole(const QString& path, const QByteArray& bytes, bool owneronly = false);

// writewhole() of these lines, each ended with CR LF.
bool writelines(const QString& path, const QStringList& lines, bool owneronly = false);

// Adds text at the end of the file, creating it when missing: all of it or,
// on a failure, nothing. Only a regular file takes it: not one a link
// points to, nor a named pipe. `owneronly` as for writewhole().
bool appendtext(const QString& path, const QString& text, bool owneronly = false);

// A file of lines that follows a list held elsewhere, at a cost linear in
// the changes rather than in the list's length times the changes. A line
// that joins the end of the list is appended at once, so a kill a moment
// later still finds it there. Any other change (a line leaving, lines
// moving) is written whole, once for all the changes made meanwhile, at the
// event loop's next turn, but not sooner than a pause that grows with the
// file: the disk is never kept busy rewriting, whatever the pace of changes.
class FollowingFile {
  public:
    // `path` "" means there is nothing to follow now.
    FollowingFile(std::function<QString()> path, std::function<QStringList()> lines,
                  bool owneronly);

    // `line` has just joined the end of the list.
    void append(const QString& line);
    // The list changed otherwise.
    void changed();
    // Written whole now, whatever was written before.
    bool write();
    // What the file holds is no longer known (it was read, or the list is a
    // new one): the next change writes it whole.
    void forget();

  private:
    void check();

    std::function<QString()> path;
    std::function<QStringList()> lines;
    bool owneronly;
    QString writtenpath;
    std::optional<QStringList> written; // what the file at writtenpath holds
    qint64 writtenbytes = 0;
    bool failed = false; // the last whole write
    QTimer timer;
    QElapsedTimer sincewrite;
    qint64 pausems = 0;
};

} // namespace platform
