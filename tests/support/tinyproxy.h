#pragma once
// A private tinyproxy on a free loopback port, its configuration and log in a
// temporary folder; it runs in the foreground and stops with this object.
#include "support/testsupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

namespace testsupport {

class TinyProxy {
  public:
    // With a user name, the proxy asks for it and `password` (Basic).
    explicit TinyProxy(const QString& user = QString(), const QString& password = QString())
        : user(user), password(password) {}
    ~TinyProxy() { stop(); }
    // False (see error()) when tinyproxy is missing or would not start.
    bool start() {
        const QString program = findprogram(QStringLiteral("tinyproxy"));
        if (program.isEmpty()) problem = QStringLiteral("tinyproxy is not installed");
        // A port found free may be taken before tinyproxy binds it: try a few.
        for (int attempt = 0; attempt < 5 && !program.isEmpty(); ++attempt) {
            listening = freeport();
            QByteArray config = "Port " + QByteArray::number(listening) +
                                "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\nAllow 127.0.0.1\n"
                                "DisableViaHeader Yes\nLogLevel Info\nLogFile \"" +
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
    void stop() {
        if (process.state() == QProcess::NotRunning) return;
        process.terminate();
        if (!process.waitForFinished(5000)) process.kill();
        process.waitForFinished(5000);
    }
    // "http://127.0.0.1:PORT", with the credentials when `credentials`.
    QString url(bool credentials = false) const {
        QUrl address(QStringLiteral("http://127.0.0.1"));
        address.setPort(listening);
        if (credentials) {
            address.setUserName(user);
            address.setPassword(password);
        }
        return address.toString();
    }
    QString error() const { return problem; }
    // The requests it received so far, one line each ("GET http://... HTTP/1.1",
    // "CONNECT 127.0.0.1:443 HTTP/1.1").
    QByteArrayList requests() const {
        QByteArrayList lines;
        for (const QByteArray& line : readfile(prefix.filePath("tinyproxy.log")).split('\n'))
            if (const qsizetype at = line.indexOf("): "); at > 0 && line.contains(" Request ("))
                lines << line.mid(at + 3);
        return lines;
    }

  private:
    QString user;
    QString password;
    QTemporaryDir prefix;
    QProcess process;
    quint16 listening = 0;
    QString problem;
};

} // namespace testsupport
