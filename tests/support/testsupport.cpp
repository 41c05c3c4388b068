#include "support/testsupport.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "platform/paths.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace testsupport {

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

SmallDisk::SmallDisk(const QString& folder, int kib, bool ext4) : where(QFile::encodeName(folder)) {
    if (folder.isEmpty()) return;
    static const bool isolated = geteuid() == 0 && unshare(CLONE_NEWNS) == 0 &&
                                 mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!isolated) return;
    if (!ext4) {
        const QByteArray options = "size=" + QByteArray::number(kib) + "k,mode=0700";
        done = mount("quillharbor-test", where.constData(), "tmpfs", 0, options.constData()) == 0;
        return;
    }
    // mount(8) sets up the loop device; as a child it shares our namespace.
    const QString file = image.filePath("disk.img");
    done = QProcess::execute("mkfs.ext4", {"-q", "-F", "-b", "1024", file, QString::number(kib)}) ==
               0 &&
           QProcess::execute("mount", {"-o", "loop", file, folder}) == 0;
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
    waitfor([] { return false; }, ms);
}

quint16 freeport() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : quint16(0);
}

bool startserver(QProcess& process, const QString& program, const QStringList& arguments,
                 quint16 port, QString* problem) {
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) {
        *problem = process.errorString();
        return false;
    }
    const auto answers = [port] {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(200);
    };
    if (waitfor([&] { return process.state() != QProcess::Running || answers(); }, 10000) &&
        process.state() == QProcess::Running)
        return true;
    process.kill();
    process.waitForFinished(2000);
    *problem = QString::fromLocal8Bit(process.readAll());
    return false;
}

QString findprogram(const QString& name) {
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(name, {"/usr/sbin", "/sbin"}) : found;
}

namespace {
QString openssl(const QString& folder, const QStringList& arguments) {
    QProcess run;
    run.setWorkingDirectory(folder);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("openssl"), arguments);
    if (run.waitForFinished(30000) && run.exitStatus() == QProcess::NormalExit &&
        run.exitCode() == 0)
        return QString();
    return "openssl: " + run.errorString() + ' ' + QString::fromLocal8Bit(run.readAll());
}
} // namespace

QString makecertificate(const QString& folder, const QString& name, const QString& altname,
                        bool expired) {
    if (findprogram(QStringLiteral("openssl")).isEmpty())
        return QStringLiteral("openssl is not installed");
    // Names and alternative names hold no spaces.
    const QString key = QStringLiteral("-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                                       "-keyout %1.key -subj /CN=%2 -addext subjectAltName=%3")
                            .arg(name, altname.section(':', 1), altname);
    if (!expired)
        return openssl(folder, ("req -x509 -days 2 -out " + name + ".pem " + key).split(' '));
    // Only openssl's small authority takes dates in the past.
    writefile(folder + '/' + name + ".cnf",
              "[ca]\ndefault_ca = own\n[own]\ndatabase = " + name.toUtf8() +
                  ".index\nnew_certs_dir = .\nserial = " + name.toUtf8() +
                  ".serial\ndefault_md = sha256\npolicy = any\ncopy_extensions = copy\n"
                  "[any]\ncommonName = supplied\n");
    writefile(folder + '/' + name + ".index", QByteArray());
    writefile(folder + '/' + name + ".serial", "01\n");
    const QString request = openssl(folder, ("req -out " + name + ".csr " + key).split(' '));
    if (!request.isEmpty()) return request;
    return openssl(folder, QStringLiteral("ca -batch -config %1.cnf -selfsign -keyfile %1.key -in "
                                          "%1.csr -out %1.pem -startdate 20200101000000Z "
                                          "-enddate 20200102000000Z")
                               .arg(name)
                               .split(' '));
}

} // namespace testsupport
