#include "support/nginx.h"

#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <pwd.h>
#include <unistd.h>

namespace testsupport {

namespace {

quint16 freeport() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

bool answers(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

QString nginxprogram() {
    QString found = QStandardPaths::findExecutable(QStringLiteral("nginx"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(
            QStringLiteral("nginx"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found;
}

// The workers run as we do, so they can read our temporary folders (nginx
// ignores this when not started as root).
QString username() {
    const passwd* entry = getpwuid(geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("nobody");
}

} // namespace

Nginx::Nginx(const QString& folder) : root(QDir(folder).absolutePath()) {}

Nginx::~Nginx() {
    if (process.state() != QProcess::NotRunning) {
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
}

QString Nginx::url(const QString& name) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(listening).arg(name);
}

bool Nginx::start() {
    const QString program = nginxprogram();
    if (program.isEmpty()) {
        problem = QStringLiteral("nginx is not installed");
        return false;
    }
    const QString base = prefix.path();
    // A port found free may be taken before nginx binds it: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        listening = freeport();
        const QString config = QStringLiteral("user %4;\n"
                                              "worker_processes 1;\n"
                                              "pid %1/nginx.pid;\n"
                                              "error_log %1/error.log;\n"
                                              "events { worker_connections 64; }\n"
                                              "http {\n"
                                              "  access_log off;\n"
                                              "  sendfile on;\n"
                                              "  client_body_temp_path %1/body;\n"
                                              "  proxy_temp_path %1/proxy;\n"
                                              "  fastcgi_temp_path %1/fastcgi;\n"
                                              "  uwsgi_temp_path %1/uwsgi;\n"
                                              "  scgi_temp_path %1/scgi;\n"
                                              "  types { application/octet-stream bin; }\n"
                                              "  server {\n"
                                              "    listen 127.0.0.1:%2;\n"
                                              "    root %3;\n"
                                              "  }\n"
                                              "}\n")
                                   .arg(base)
                                   .arg(listening)
                                   .arg(root)
                                   .arg(username());
        QFile file(base + QStringLiteral("/nginx.conf"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            problem = QStringLiteral("cannot write the nginx configuration");
            return false;
        }
        file.write(config.toUtf8());
        file.close();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, {QStringLiteral("-p"), base + QLatin1Char('/'), QStringLiteral("-e"),
                                base + QStringLiteral("/error.log"), QStringLiteral("-c"),
                                base + QStringLiteral("/nginx.conf"), QStringLiteral("-g"),
                                QStringLiteral("daemon off;")});
        if (!process.waitForStarted(5000)) {
            problem = process.errorString();
            return false;
        }
        const bool up = waitfor(
            [&] { return process.state() != QProcess::Running || answers(listening); }, 10000);
        if (up && process.state() == QProcess::Running) return true;
        process.waitForFinished(2000);
        problem = QString::fromLocal8Bit(process.readAll());
    }
    return false;
}

} // namespace testsupport
