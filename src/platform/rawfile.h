#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

class QFile;

// Files of the download folder, named by the exact bytes of their names (a
// name's stand-ins for bytes that were no UTF-8 become those bytes again),
// opened without following a symbolic link and without blocking, and
// written only when they are regular files.
namespace platform {

// What is at a path, not following a symbolic link there.
enum class Entry { none, file, directory, symlink, other };
Entry entryat(const QString& path);

// One file open for reading and writing at given offsets. Bytes written go
// through a buffer of its own; they are on disk (as far as this program can
// tell) once flush() has succeeded.
class RawFile {
  public:
    enum class Opened { ok, notregular, failed };

    RawFile() = default;
    ~RawFile();
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    // A new file of that name; an entry already there makes it fail.
    Opened create(const QString& path);
    // The regular file of that name, as it is.
    Opened reopen(const QString& path);
    bool isopen() const;

    // Its size on disk, -1 when unknown.
    qint64 size() const;
    // `count` bytes at `offset`, fewer at the end of the file; nullopt on an error.
    std::optional<QByteArray> readat(qint64 offset, qint64 count);
    // Bytes for `offset` on: gathered in a buffer of its own while they
    // follow on from the last, written straight from `data` when large.
    bool writeat(qint64 offset, const char* data, qint64 count);
    bool flush();
    // flush(), then the file's bytes to the disk itself.
    bool sync();
    // Flushes and closes; false when the last bytes could not be written.
    bool close();
    // The last failure was a full disk (or quota).
    bool diskfull() const { return full; }
    // `path` names this very file still (a regular file, not a link to it):
    // nobody put another entry in its place.
    bool sameas(const QString& path) const;

    // Extended attributes ("user.xdg.origin.url", where the file came from);
    // where the file system keeps none, setting fails and reading gives
    // nullopt.
    bool setattribute(const char* name, const QByteArray& value);
    std::optional<QByteArray> attribute(const char* name) const;
    void removeattribute(const char* name);

  private:
    Opened open(const QString& path, bool fresh);
    bool writeout(qint64 offset, const char* data, qint64 count);
    void startwriteback(qint64 offset, qint64 count);

    int fd = -1;
    qint64 position = 0; // where the buffer's first byte belongs
    QByteArray buffer;
    bool full = false;
    // Written bytes the disk was not yet asked to write out (contiguous).
    qint64 unstartedfrom = 0;
    qint64 unstarted = 0;
#ifdef Q_OS_WIN
    QFile* file = nullptr;
#endif
};

// Gives `from` the name `to` in one step, replacing whatever entry (but a
// directory) had that name; the new name is on disk when this returns true.
bool renameover(const QString& from, const QString& to);

// Deletes the file `path` (never a directory, nor what a link points to).
bool removefile(const QString& path);

} // namespace platform
