#include "support/tinyproxy.h"

#include "support/testsupport.h"

#include <QUrl>

namespace testsupport {

TinyProxy::TinyProxy(const QString& name, const QString& secret) : user(name), password(secret) {}

TinyProxy::~TinyProxy() {
    stop();
}

void TinyProxy::stop() {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QString TinyProxy::url(bool credentials) const {
    QUrl address(QStringLiteral("http://127.0.0.1"));
    address.setPort(listening);
    if (credentials) {
        address.setUserName(user);
        address.setPassword(password);
    }
    return address.toString();
}

QByteArrayList TinyProxy::requests() const {
    QByteArrayList lines;
    for (const QByteArray& line : readfile(prefix.filePath("tinyproxy.log")).split('\n'))
        if (const qsizetype at = line.indexOf("): "); at > 0 && line.contains(" Request ("))
            lines << line.mid(at + 3);
    return lines;
}

bool TinyProxy::start() {
    const QString program = findprogram(QStringLiteral("tinyproxy"));
    if (program.isEmpty()) {
        problem = QStringLiteral("tinyproxy is not installed");
        return false;
    }
    // A port found free may be taken before tinyproxy binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        listening = freeport();
        QByteArray config = "Port " + QByteArray::number(listening) +
                            "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
                            "Allow 127.0.0.1\nDisableViaHeader Yes\nLogLevel Info\nLogFile \"" +
                            prefix.filePath("tinyproxy.log").toUtf8() + "\"\n";
        if (!user.isEmpty())
            config += "BasicAuth " + user.toUtf8() + ' ' + password.toUtf8() + '\n';
        writefile(prefix.filePath("tinyproxy.conf"), config);
        if (startserver(process, program, {"-d", "-c", prefix.filePath("tinyproxy.conf")},
                        listening, &problem))
            return true;
    }
    return false;
}

} // namespace testsupport
