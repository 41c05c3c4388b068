#include "platform/rawfile.h"

#include "platform/textfile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

namespace platform {

namespace {
// Written out whenever this much waits, so that writes stay few and large;
// a piece at least half as large is written straight from where it is.
constexpr qsizetype buffersize = 256 * 1024;
// Bytes written before the disk is asked to start writing them out.
constexpr qint64 writebackstep = 8 * 1024 * 1024;
// An attribute longer than this is none of ours.
constexpr qsizetype maxattribute = 64 * 1024;
#ifndef Q_OS_WIN

QByteArray rawname(const QString& path) {
    return encodetext(path);
}

bool isdiskfull(int error) {
    return error == ENOSPC || error == EDQUOT;
}
#endif
} // namespace

RawFile::~RawFile() {
    close();
}

#ifndef Q_OS_WIN

Entry entryat(const QString& path) {
    struct stat status {};
    if (::lstat(rawname(path).constData(), &status) != 0) return Entry::none;
    if (S_ISREG(status.st_mode)) return Entry::file;
    if (S_ISDIR(status.st_mode)) return Entry::directory;
    if (S_ISLNK(status.st_mode)) return Entry::symlink;
    return Entry::other;
}

// Never through a link, never waiting for a pipe's other end, and only a
// regular file stays open.
RawFile::Opened RawFile::open(const QString& path, bool fresh) {
    close();
    full = false;
    const int flags =
        O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (fresh ? O_CREAT | O_EXCL : 0);
    fd = ::open(rawname(path).constData(), flags, 0666);
    if (fd < 0) {
        full = isdiskfull(errno);
        const Entry there = entryat(path);
        return there == Entry::none || there == Entry::file ? Opened::failed : Opened::notregular;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        fd = -1;
        return Opened::notregular;
    }
    position = 0;
    return Opened::ok;
}

bool RawFile::isopen() const {
    return fd >= 0;
}

qint64 RawFile::size() const {
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0) return -1;
    return qint64(status.st_size);
}

std::optional<QByteArray> RawFile::readat(qint64 offset, qint64 count) {
    if (fd < 0 || offset < 0 || count < 0) return std::nullopt;
    QByteArray bytes(count, Qt::Uninitialized);
    qint64 got = 0;
    while (got < count) {
        const ssize_t n = ::pread(fd, bytes.data() + got, size_t(count - got), off_t(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        got += n;
    }
    bytes.truncate(got);
    return bytes;
}

bool RawFile::writeout(qint64 offset, const char* data, qint64 count) {
    qint64 done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd, data + done, size_t(count - done), off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            full = n < 0 && isdiskfull(errno);
            return false;
        }
        done += n;
    }
    startwriteback(offset, count);
    return true;
}

// The disk starts on what was written while the transfer goes on, so the
// sync at the end finds little left to do.
void RawFile::startwriteback(qint64 offset, qint64 count) {
#ifdef Q_OS_LINUX
    if (offset != unstartedfrom + unstarted) {
        unstartedfrom = offset;
        unstarted = 0;
    }
    unstarted += count;
    if (unstarted < writebackstep) return;
    ::sync_file_range(fd, off_t(unstartedfrom), off_t(unstarted), SYNC_FILE_RANGE_WRITE);
    unstarted = 0;
#else
    Q_UNUSED(offset);
    Q_UNUSED(count);
#endif
}

bool RawFile::sync() {
    return flush() && ::fsync(fd) == 0;
}

bool RawFile::close() {
    if (fd < 0) return true;
    const bool flushed = flush();
    buffer.clear();
    const bool closed = ::close(fd) == 0;
    fd = -1;
    return flushed && closed;
}

bool RawFile::sameas(const QString& path) const {
    struct stat mine {
    }, there{};
    return fd >= 0 && ::fstat(fd, &mine) == 0 && ::lstat(rawname(path).constData(), &there) == 0 &&
           S_ISREG(there.st_mode) && mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
}

bool RawFile::setattribute(const char* name, const QByteArray& value) {
    return fd >= 0 && ::fsetxattr(fd, name, value.constData(), size_t(value.size()), 0) == 0;
}

std::optional<QByteArray> RawFile::attribute(const char* name) const {
    if (fd < 0) return std::nullopt;
    const ssize_t length = ::fgetxattr(fd, name, nullptr, 0);
    if (length < 0 || length > maxattribute) return std::nullopt;
    QByteArray value(length, Qt::Uninitialized);
    const ssize_t got = ::fgetxattr(fd, name, value.data(), size_t(length));
    if (got < 0) return std::nullopt;
    value.truncate(got);
    return value;
}

void RawFile::removeattribute(const char* name) {
    if (fd >= 0) ::fremovexattr(fd, name);
}

bool renameover(const QString& from, const QString& to) {
    if (::rename(rawname(from).constData(), rawname(to).constData()) != 0) return false;
    // The new name itself on disk too, where the folder can be synced.
    const int folder =
        ::open(rawname(QFileInfo(to).path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

bool removefile(const QString& path) {
    return ::unlink(rawname(path).constData()) == 0;
}

#else

// Windows: Qt's file class on the name as it is; a link or another kind of
// entry at the name is refused before opening.
Entry entryat(const QString& path) {
    const QFileInfo info(path);
    if (info.isSymLink() || info.isJunction()) return Entry::symlink;
    if (!info.exists()) return Entry::none;
    if (info.isDir()) return Entry::directory;
    return info.isFile() ? Entry::file : Entry::other;
}

RawFile::Opened RawFile::open(const QString& path, bool fresh) {
    close();
    full = false;
    const Entry there = entryat(path);
    if (there != Entry::none && there != Entry::file) return Opened::notregular;
    file = new QFile(path);
    const QIODevice::OpenMode mode =
        QIODevice::ReadWrite | (fresh ? QIODevice::NewOnly : QIODevice::ExistingOnly);
    if (!file->open(mode)) {
        delete file;
        file = nullptr;
        return Opened::failed;
    }
    fd = 0;
    position = 0;
    return Opened::ok;
}

bool RawFile::isopen() const {
    return file != nullptr;
}

qint64 RawFile::size() const {
    return file ? file->size() : -1;
}

std::optional<QByteArray> RawFile::readat(qint64 offset, qint64 count) {
    if (!file || !file->seek(offset)) return std::nullopt;
    const QByteArray bytes = file->read(count);
    if (file->error() != QFileDevice::NoError) return std::nullopt;
    return bytes;
}

bool RawFile::writeout(qint64 offset, const char* data, qint64 count) {
    if (!file->seek(offset) || file->write(data, count) != count || !file->flush()) {
        full = file->error() == QFileDevice::ResourceError;
        return false;
    }
    return true;
}

bool RawFile::sync() {
    return flush() && FlushFileBuffers(HANDLE(_get_osfhandle(file->handle())));
}

bool RawFile::close() {
    if (!file) return true;
    const bool flushed = flush();
    buffer.clear();
    file->close();
    delete file;
    file = nullptr;
    fd = -1;
    return flushed;
}

bool RawFile::sameas(const QString& path) const {
    return file && entryat(path) == Entry::file;
}

bool RawFile::setattribute(const char*, const QByteArray&) {
    return false;
}

std::optional<QByteArray> RawFile::attribute(const char*) const {
    return std::nullopt;
}

void RawFile::removeattribute(const char*) {}

bool renameover(const QString& from, const QString& to) {
    return MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()),
                       reinterpret_cast<const wchar_t*>(to.utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool removefile(const QString& path) {
    return entryat(path) != Entry::directory && QFile::remove(path);
}

#endif

RawFile::Opened RawFile::create(const QString& path) {
    return open(path, true);
}

RawFile::Opened RawFile::reopen(const QString& path) {
    return open(path, false);
}

bool RawFile::writeat(qint64 offset, const char* data, qint64 count) {
    if (!isopen()) return false;
    if (count >= buffersize / 2) {
        if (!flush() || !writeout(offset, data, count)) return false;
        position = offset + count;
        return true;
    }
    if (offset != position + buffer.size() || buffer.size() + count > buffersize) {
        if (!flush()) return false;
        position = offset;
    }
    buffer.append(data, count);
    return true;
}

bool RawFile::flush() {
    if (!isopen()) return false;
    if (buffer.isEmpty()) return true;
    if (!writeout(position, buffer.constData(), buffer.size())) return false;
    position += buffer.size();
    // Emptied, not freed: growing it again piece by piece would copy it over and over.
    buffer.resize(0);
    return true;
}

} // namespace platform
