#include "support/childprogram.h"

#include "support/testsupport.h"

#include <QFile>
#include <csignal>

namespace testsupport {

ChildProgram::ChildProgram() : executable(dir.filePath(QStringLiteral("quillharbor"))) {
    const QString source = qEnvironmentVariable("QUILLHARBOR_EXE");
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
    writefile(dir.filePath(name), bytes);
}

QByteArray ChildProgram::read(const QString& name) const {
    return readfile(dir.filePath(name));
}

bool ChildProgram::start() {
    child.setWorkingDirectory(dir.path());
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.start(executable, {});
    return child.waitForStarted(10000);
}

void ChildProgram::signal(int number) {
    ::kill(pid_t(child.processId()), number);
}

bool ChildProgram::waitforexit(int ms) {
    return waitfor([&] { return child.state() == QProcess::NotRunning; }, ms);
}

} // namespace testsupport
