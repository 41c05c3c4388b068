#include "platform/textfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {

constexpr char16_t standinbase = 0xDC00;

// U+FEFF in UTF-8: the byte-order mark some editors put at a file's start.
constexpr QByteArrayView bytemark("\xEF\xBB\xBF");

// Between two whole writes of a followed file: at least this, and the time
// the last write's bytes take at this rate.
constexpr qint64 leastpausems = 100;
constexpr qint64 bytesperms = 256;

// The byte that the character at `at` stands in for, or -1 when it is none.
// Stand-ins are low surrogates: one that ends a pair is half of a real
// character.
int standinbyte(const QString& text, qsizetype at) {
    const char16_t c = text.at(at).unicode();
    if (c < standinbase + 0x80 || c > standinbase + 0xFF) return -1;
    if (at > 0 && QChar::isHighSurrogate(text.at(at - 1).unicode())) return -1;
    return c - standinbase;
}

// The length of the valid UTF-8 sequence at `at`, 0 when there is none.
int sequence(const uchar* bytes, qsizetype at, qsizetype size) {
    const uchar lead = bytes[at];
    int length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if (lead >= 0xC0 && lead < 0xE0) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF8) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (at + length > size) return 0;
    for (int i = 1; i < length; ++i) {
        if ((bytes[at + i] & 0xC0) != 0x80) return 0;
        code = (code << 6) | (bytes[at + i] & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code >= least && code <= 0x10FFFF && !surrogate ? length : 0;
}

// Valid UTF-8 as text. Unlike QString::fromUtf8, a byte-order mark at the
// start is kept as U+FEFF: it is a character like any other here.
QString fromutf8(const char* bytes, qsizetype size) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(bytes, size));
}

// Whatever the file was, it is now readable and writable by its owner alone.
void owneronlyfile(QFileDevice& file) {
#ifdef Q_OS_UNIX
    ::fchmod(file.handle(), S_IRUSR | S_IWUSR);
#else
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
}

// Opens for appending, unbuffered (a failed write leaves nothing behind to
// come out later); a file this creates is never readable by others, not
// even for a moment, when `owneronly`. Never through a link, and never a
// named pipe (which would wait for a reader) or a device.
bool openappend(QFile& file, bool owneronly) {
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(file.fileName()).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                          owneronly ? S_IRUSR | S_IWUSR : 0666);
    if (fd < 0) return false;
    struct stat entry {};
    if (::fstat(fd, &entry) != 0 || !S_ISREG(entry.st_mode) ||
        !file.open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
#else
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) return false;
#endif
    if (owneronly) owneronlyfile(file);
    return true;
}

// Opens a regular file for reading, as openappend() opens it for writing.
bool openregular(QFile& file) {
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(file.fileName()).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat entry {};
    if (::fstat(fd, &entry) != 0 || !S_ISREG(entry.st_mode) ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    const QFileInfo entry(file.fileName());
    return !entry.isSymLink() && entry.isFile() && file.open(QIODevice::ReadOnly);
#endif
}

// At most `longest` bytes of a regular file: its start, or with `tail` its
// end; nothing when it is longer and not `tail`.
std::optional<QByteArray> readregular(const QString& path, qint64 longest, bool tail) {
    QFile file(path);
    if (!openregular(file)) return std::nullopt;
    const qint64 size = file.size();
    if (size > longest && !tail) return std::nullopt;
    if (size > longest && !file.seek(size - longest)) return std::nullopt;
    QByteArray bytes = file.read(qMin(size, longest));
    if (file.error() != QFileDevice::NoError) return std::nullopt;
    return bytes;
}

// A link, a named pipe or a device at `path` gives way to a new file: the
// saver would write through the first, and straight into the others.
void makeroom(const QString& path) {
    const QFileInfo entry(path);
    if (entry.isSymLink() || (entry.exists() && !entry.isFile() && !entry.isDir()))
        QFile::remove(path);
}

// Lines as a file holds them: each ended with CR LF.
QByteArray filebytes(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines)
        bytes += encodetext(line) + "\r\n";
    return bytes;
}

} // namespace

QString decodetext(const QByteArray& bytes) {
#ifdef Q_OS_WIN
    // Windows programs exchange 8-bit text in the system's ANSI code page.
    return QString::fromLocal8Bit(bytes);
#endif
    if (bytes.isValidUtf8()) return fromutf8(bytes.constData(), bytes.size());
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype size = bytes.size();
    QString text;
    text.reserve(size);
    qsizetype run = 0; // start of the valid run not yet copied
    for (qsizetype at = 0; at < size;) {
        if (data[at] < 0x80) {
            ++at;
            continue;
        }
        if (const int length = sequence(data, at, size)) {
            at += length;
            continue;
        }
        text += fromutf8(bytes.constData() + run, at - run);
        text += QChar(char16_t(standinbase + data[at]));
        run = ++at;
    }
    text += fromutf8(bytes.constData() + run, size - run);
    return text;
}

QByteArray encodetext(const QString& text) {
#ifdef Q_OS_WIN
    return text.toLocal8Bit();
#endif
    QByteArray bytes;
    qsizetype run = 0; // start of the text not yet encoded
    for (qsizetype at = 0; at < text.size(); ++at) {
        const int byte = standinbyte(text, at);
        if (byte < 0) continue;
        bytes += QStringView(text).mid(run, at - run).toUtf8();
        bytes += char(byte);
        run = at + 1;
    }
    if (run == 0) return text.toUtf8();
    bytes += QStringView(text).mid(run).toUtf8();
    return bytes;
}

QString percentbytes(const QString& text) {
    QString escaped;
    escaped.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        if (const int byte = standinbyte(text, at); byte >= 0)
            escaped += QLatin1Char('%') + QString::number(byte, 16).toUpper();
        else
            escaped += text.at(at);
    }
    return escaped;
}

QString oneline(const QString& text) {
    if (!text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n'))) return text;
    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1String("%0D"));
    line.replace(QLatin1Char('\n'), QLatin1String("%0A"));
    return line;
}

QStringList splitlines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) continue;
        lines << text.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < text.size()) lines << text.mid(start);
    return lines;
}

std::optional<QStringList> readlines(const QString& path, bool skipmark, qint64 longest) {
    std::optional<QByteArray> bytes = readregular(path, longest, false);
    if (!bytes) return std::nullopt;
    if (skipmark && bytes->startsWith(bytemark)) bytes->remove(0, bytemark.size());
    return splitlines(decodetext(*bytes));
}

std::optional<QStringList> lastlines(const QString& path, qint64 longest) {
    // One byte more than asked for, to see whether the first line is whole.
    std::optional<QByteArray> bytes = readregular(path, longest + 1, true);
    if (!bytes) return std::nullopt;
    if (bytes->size() > longest) {
        const qsizetype end = bytes->indexOf('\n');
        bytes->remove(0, end < 0 ? bytes->size() : end + 1);
    }
    return splitlines(decodetext(*bytes));
}

bool writewhole(const QString& path, const QByteArray& bytes, bool owneronly) {
    makeroom(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (owneronly) owneronlyfile(file);
    // Writes are buffered, and a commit would put even a short file in the
    // old one's place: everything goes out and is checked first.
    if (file.write(bytes) != bytes.size() || !file.flush() ||
        file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool writelines(const QString& path, const QStringList& lines, bool owneronly) {
    return writewhole(path, filebytes(lines), owneronly);
}

bool appendtext(const QString& path, const QString& text, bool owneronly) {
    QFile file(path);
    if (!openappend(file, owneronly)) return false;
    const qint64 before = file.size();
    const QByteArray bytes = encodetext(text);
    if (file.write(bytes) == bytes.size()) return true;
    // A part of a line would join the next one: take it back.
    file.resize(before);
    return false;
}

FollowingFile::FollowingFile(std::function<QString()> path, std::function<QStringList()> lines,
                             bool owneronly)
    : path(std::move(path)), lines(std::move(lines)), owneronly(owneronly) {
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [this] { check(); });
}

void FollowingFile::append(const QString& line) {
    const QString target = path();
    if (target.isEmpty()) return;
    // Not known what the file holds: written whole, at once unless the last
    // try failed (then with the next try).
    if (!written || writtenpath != target) {
        if (failed)
            changed();
        else
            write();
        return;
    }
    // On a failure nothing was added: the whole file follows later.
    const QString text = line + QStringLiteral("\r\n");
    if (appendtext(target, text, owneronly)) {
        written->append(line);
        writtenbytes += text.size();
    } else {
        changed();
    }
}

void FollowingFile::changed() {
    if (timer.isActive()) return;
    const qint64 since = sincewrite.isValid() ? sincewrite.elapsed() : pausems;
    timer.start(int(qBound<qint64>(0, pausems - since, pausems)));
}

void FollowingFile::check() {
    const QString target = path();
    if (target.isEmpty()) return;
    if (writtenpath == target && written == lines()) {
        // Comparing costs as much as writing: not more often either.
        sincewrite.restart();
        pausems = qMax(leastpausems, writtenbytes / bytesperms);
        return;
    }
    write();
}

bool FollowingFile::write() {
    timer.stop();
    const QString target = path();
    if (target.isEmpty()) return false;
    const QStringList now = lines();
    const QByteArray bytes = filebytes(now);
    // A failed write leaves the old file whole, so what it holds stays known.
    const bool done = writewhole(target, bytes, owneronly);
    if (done) {
        writtenpath = target;
        written = now;
        writtenbytes = bytes.size();
    }
    failed = !done;
    sincewrite.restart();
    pausems = qMax(leastpausems, bytes.size() / bytesperms);
    if (failed) changed();
    return done;
}

void FollowingFile::forget() {
    timer.stop();
    written.reset();
}

} // namespace platform
