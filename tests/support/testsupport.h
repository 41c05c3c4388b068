#pragma once
// What many tests need: a temporary program folder, a fresh main window in
// it, and waiting on the event loop.
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>

class quillharbor;

namespace testsupport {

// Whole files, raw bytes; an unreadable file reads as empty.
void writefile(const QString& path, const QByteArray& bytes);
QByteArray readfile(const QString& path);

// A temporary folder that stands in for the program's folder while it lives.
class ProgramFolder {
  public:
    ProgramFolder();
    ~ProgramFolder();
    QString path() const { return dir.path(); }
    QString file(const QString& name) const { return dir.filePath(name); }
    // Writes raw bytes to a file in the folder.
    void write(const QString& name, const QByteArray& bytes) const { writefile(file(name), bytes); }
    QByteArray read(const QString& name) const { return readfile(file(name)); }
    bool exists(const QString& name) const;

  private:
    QTemporaryDir dir;
};

// A new main window (the program's one), replacing any earlier one; the
// program-wide values are reset to their start values.
std::unique_ptr<quillharbor> freshwindow();

// Serves the event loop until `condition` holds or `ms` pass; true when it held.
bool waitfor(const std::function<bool()>& condition, int ms = 5000);

// Serves the event loop for `ms`.
void pump(int ms);

// Peak resident memory of this process in MiB, since its start or the last
// reset (for the benchmarks).
double peakrssmib();
void resetpeakrss();

} // namespace testsupport
