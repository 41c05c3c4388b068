#pragma once
// The agent run as a child process in a folder of its own.
#include <QProcess>
#include <QTemporaryDir>

namespace testsupport {

class ChildProgram {
  public:
    // Copies the built agent into a new temporary folder, which then is its
    // program folder.
    ChildProgram();
    ~ChildProgram();

    QString folder() const { return dir.path(); }
    void write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;

    // Starts it (the tests' environment selects the offscreen platform).
    bool start();
    void signal(int number);
    bool waitforexit(int ms = 20000);
    QProcess& process() { return child; }

  private:
    QTemporaryDir dir;
    QString executable;
    QProcess child;
};

} // namespace testsupport
