#include "support/childprogram.h"

#include "support/testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <csignal>

namespace testsupport {

ChildProgram::ChildProgram(const QString& program) {
    const QString source = program.isEmpty() ? qEnvironmentVariable("QUILLHARBOR_EXE") : program;
    executable = dir.filePath(QFileInfo(source).fileName());
    QFile::copy(source, executable);
    QFile::setPermissions(executable, QFile::permissions(source));
}

ChildProgram::~ChildProgram() {
    if (child.state() != QProcess::NotRunning) {
        child.kill();
        child.waitForFinished(5000);
    }
}

void ChildProgram::write(const QString& name, const QByteArray& bytes) const {
    writefile(file(name), bytes);
}

QByteArray ChildProgram::read(const QString& name) const {
    return readfile(file(name));
}

bool ChildProgram::start(const QStringList& arguments, const QStringList& environment) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const QString& entry : environment) {
        const qsizetype at = entry.indexOf(QLatin1Char('='));
        env.insert(entry.left(at), entry.mid(at + 1));
    }
    child.setProcessEnvironment(env);
    child.setWorkingDirectory(dir.path());
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.start(executable, arguments);
    return child.waitForStarted(10000);
}

bool ChildProgram::waitforhandlers(int ms) {
    const QString status = QStringLiteral("/proc/%1/status").arg(child.processId());
    return waitfor(
        [&] {
            QFile in(status);
            if (!in.open(QIODevice::ReadOnly)) return false;
            for (const QByteArray& line : in.readAll().split('\n'))
                if (line.startsWith("SigCgt:"))
                    return ((line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) &
                            1) != 0;
            return false;
        },
        ms);
}

void ChildProgram::signal(int number) {
    ::kill(pid_t(child.processId()), number);
}

bool ChildProgram::waitforexit(int ms) {
    return waitfor([&] { return child.state() == QProcess::NotRunning; }, ms);
}

} // namespace testsupport
