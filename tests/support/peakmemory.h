#pragma once
// Peak resident memory of this process, read from /proc.
#include <QByteArray>
#include <QFile>

namespace testsupport {

// In MiB, since the process started or since the last resetpeakrss().
inline double peakrssmib() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

inline void resetpeakrss() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) clear.write("5");
}

} // namespace testsupport
