#pragma once
// The agent run as a child process in a folder of its own.
#include <QProcess>
#include <QTemporaryDir>

namespace testsupport {

class ChildProgram {
  public:
    // Copies the executable `program` (the built agent by default) into a new
    // temporary folder, which then is its program folder.
    explicit ChildProgram(const QString& program = QString());
    ~ChildProgram();

    QString folder() const { return dir.path(); }
    QString file(const QString& name) const { return dir.filePath(name); }
    void write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;

    // Starts it under the offscreen platform with these arguments (the agent
    // takes none) and extra environment entries.
    bool start(const QStringList& arguments = {}, const QStringList& environment = {});
    // True once the process has installed its handler for SIGTERM, i.e. its
    // state is loaded and a kill will be handled.
    bool waitforhandlers(int ms = 20000);
    void signal(int number);
    bool waitforexit(int ms = 20000);
    QProcess& process() { return child; }

  private:
    QTemporaryDir dir;
    QString executable;
    QProcess child;
};

} // namespace testsupport
