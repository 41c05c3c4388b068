#pragma once
// The agent run as a child process in a folder of its own.
#include "support/testsupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <csignal>

namespace testsupport {

class ChildProgram {
  public:
    // Copies the built agent into a new temporary folder, its program folder.
    ChildProgram() {
        const QString source = qEnvironmentVariable("QUILLHARBOR_EXE");
        QFile::copy(source, executable);
        QFile::setPermissions(executable, QFile::permissions(source));
    }
    ~ChildProgram() {
        if (child.state() == QProcess::NotRunning) return;
        child.kill();
        child.waitForFinished(5000);
    }

    QString folder() const { return dir.path(); }
    void write(const QString& name, const QByteArray& bytes) const {
        writefile(dir.filePath(name), bytes);
    }
    QByteArray read(const QString& name) const { return readfile(dir.filePath(name)); }

    // Starts it; the tests' environment selects the offscreen platform.
    bool start() {
        child.setWorkingDirectory(dir.path());
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.setStandardOutputFile(QProcess::nullDevice());
        child.start(executable, {});
        return child.waitForStarted(10000);
    }
    void signal(int number) { ::kill(pid_t(child.processId()), number); }
    bool waitforexit(int ms = 20000) {
        return waitfor([&] { return child.state() == QProcess::NotRunning; }, ms);
    }
    QProcess& process() { return child; }

  private:
    QTemporaryDir dir;
    QString executable = dir.filePath(QStringLiteral("quillharbor"));
    QProcess child;
};

} // namespace testsupport
