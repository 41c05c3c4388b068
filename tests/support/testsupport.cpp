#include "support/testsupport.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace testsupport {

ProgramFolder::ProgramFolder() {
    platform::setapppath(dir.path());
}

ProgramFolder::~ProgramFolder() {
    platform::setapppath(QString());
}

void writefile(const QString& path, const QByteArray& bytes) {
    QFile out(path);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) out.write(bytes);
}

QByteArray readfile(const QString& path) {
    QFile in(path);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

QByteArray pattern(qint64 size, int seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 2463534242u + quint32(seed);
    for (qint64 i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = char(state);
    }
    return bytes;
}

QStringList loggedlinks(const QByteArray& log) {
    QStringList links;
    for (const QByteArray& line : log.split('\n'))
        if (const qsizetype at = line.indexOf(" : Download : "); at >= 0)
            links << QString::fromUtf8(line.mid(at + 14)).remove(QLatin1Char('\r'));
    return links;
}

QString standin(const QString& folder, const QString& name) {
    const QString path = folder + QLatin1Char('/') + name;
    writefile(path, "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"$0.args\"\n");
    QFile::setPermissions(path, QFile::ExeOwner | QFile::ReadOwner | QFile::WriteOwner);
    return path;
}

bool ProgramFolder::exists(const QString& name) const {
    return QFile::exists(file(name));
}

SmallDisk::SmallDisk(const QString& folder, int kib) : where(QFile::encodeName(folder)) {
    if (folder.isEmpty()) return;
    static const bool isolated = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                                 mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    const QByteArray options = "size=" + QByteArray::number(kib) + "k,mode=0700";
    done = isolated &&
           mount("quillharbor-test", where.constData(), "tmpfs", 0, options.constData()) == 0;
}

SmallDisk::~SmallDisk() {
    if (done) umount2(where.constData(), MNT_DETACH);
}

void SmallDisk::fill(const QString& file) const {
    const int out =
        ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const QByteArray block(4096, 'f');
    while (::write(out, block.constData(), size_t(block.size())) > 0) {
    }
    ::close(out);
}

std::unique_ptr<quillharbor> freshwindow() {
    principal::connstate = 0;
    principal::umsgflag = 0;
    return std::make_unique<quillharbor>();
}

bool waitfor(const std::function<bool()>& condition, int ms) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

void pump(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
}

} // namespace testsupport
