#pragma once
// What many tests need: a temporary program folder, a fresh main window in
// it, waiting on the event loop, test data, and a small disk to fill.
#include "platform/paths.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <memory>

class QProcess;
class quillharbor;

namespace testsupport {

// Whole files, raw bytes; an unreadable file reads as empty.
void writefile(const QString& path, const QByteArray& bytes);
QByteArray readfile(const QString& path);

// `size` bytes that differ from offset to offset, the same for the same seed.
QByteArray pattern(qint64 size, int seed = 0);

// The links of a log's download lines, in order.
QStringList loggedlinks(const QByteArray& log);

// Writes an executable `name` into `folder` that appends each argument it
// gets, a line each, to "<name>.args" beside it. Returns its path.
QString standin(const QString& folder, const QString& name);

// A temporary folder that stands in for the program's folder while it lives.
class ProgramFolder {
  public:
    ProgramFolder() { platform::setapppath(dir.path()); }
    ~ProgramFolder() { platform::setapppath(QString()); }
    QString path() const { return dir.path(); }
    QString file(const QString& name) const { return dir.filePath(name); }
    void write(const QString& name, const QByteArray& bytes) const { writefile(file(name), bytes); }
    QByteArray read(const QString& name) const { return readfile(file(name)); }
    bool exists(const QString& name) const { return QFile::exists(file(name)); }

  private:
    QTemporaryDir dir;
};

// While it lives, a file system of `kib` KiB on `folder` that only this
// process sees: tmpfs, or ext4 with 1 KiB blocks (little room for extended
// attributes). Needs root; mounted() is false without, or when `folder` is "".
class SmallDisk {
  public:
    SmallDisk(const QString& folder, int kib, bool ext4 = false);
    ~SmallDisk();
    bool mounted() const { return done; }
    // Writes into `file` on it until it is full.
    void fill(const QString& file) const;

  private:
    QByteArray where;
    QTemporaryDir image;
    bool done = false;
};

// A new main window (the program's one), replacing any earlier one; the
// program-wide values are reset to their start values.
std::unique_ptr<quillharbor> freshwindow();

// Serves the event loop until `condition` holds (true) or `ms` pass.
bool waitfor(const std::function<bool()>& condition, int ms = 5000);
void pump(int ms);

// How many top-level windows of class T are visible.
template <class T> int visiblewindows() {
    const QWidgetList all = QApplication::topLevelWidgets();
    return int(std::count_if(all.begin(), all.end(),
                             [](QWidget* w) { return qobject_cast<T*>(w) && w->isVisible(); }));
}

// A loopback port free at the moment of asking; 0 when none could be had.
quint16 freeport();

// Starts `program`, a server in the foreground, and waits until it accepts
// on `port` of 127.0.0.1; false, with why in `problem`, when it did not.
bool startserver(QProcess& process, const QString& program, const QStringList& arguments,
                 quint16 port, QString* problem);

// The program's path, also in /usr/sbin and /sbin; "" when not installed.
QString findprogram(const QString& name);

// A self-signed certificate for `altname` ("IP:127.0.0.1", "DNS:a.invalid"),
// FOLDER/NAME.pem and .key; an expired one was valid one day of 2020. "" or why not.
QString makecertificate(const QString& folder, const QString& name, const QString& altname,
                        bool expired = false);

} // namespace testsupport
