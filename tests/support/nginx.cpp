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

Nginx::Nginx(const QString& folder) : root(QDir(folder).absolutePath()) {}

Nginx::~Nginx() {
    if (process.state() == QProcess::NotRunning) return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QString Nginx::url(const QString& name) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(listening).arg(name);
}

QString Nginx::httpsurl(const QString& name) const {
    return QStringLiteral("https://127.0.0.1:%1/%2").arg(tlsport).arg(name);
}

QByteArray Nginx::accesslog() const {
    return readfile(prefix.filePath("access.log"));
}

bool Nginx::makecertificates() {
    const QString openssl = QStandardPaths::findExecutable("openssl");
    if (openssl.isEmpty()) {
        problem = QStringLiteral("openssl is not installed");
        return false;
    }
    // Self-signed: the certificate is its own authority.
    QProcess run;
    run.setWorkingDirectory(prefix.path());
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(openssl, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                        "-nodes", "-keyout", "server.key", "-out", "server.pem", "-days", "2",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    if (run.waitForFinished(30000) && run.exitStatus() == QProcess::NormalExit &&
        run.exitCode() == 0)
        return true;
    problem = "openssl: " + QString::fromLocal8Bit(run.readAll());
    return false;
}

bool Nginx::start() {
    QString program = QStandardPaths::findExecutable("nginx");
    if (program.isEmpty())
        program = QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/sbin"});
    if (program.isEmpty()) {
        problem = QStringLiteral("nginx is not installed");
        return false;
    }
    // The workers run as we do, so they can read our temporary folders
    // (nginx ignores this when not started as root).
    const passwd* user = getpwuid(geteuid());
    const QString base = prefix.path();
    if (tls && !makecertificates()) return false;
    // A port found free may be taken before nginx binds it: try a few.
    const auto freeport = [] {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : quint16(0);
    };
    for (int attempt = 0; attempt < 5; ++attempt) {
        listening = freeport();
        tlsport = tls ? freeport() : 0;
        const QString servers =
            tls ? QStringLiteral("  server { listen 127.0.0.1:%1; return 301 "
                                 "https://127.0.0.1:%2$request_uri; }\n"
                                 "  server { listen 127.0.0.1:%2 ssl http2; root %3;\n"
                                 "    ssl_certificate %4/server.pem; ssl_certificate_key "
                                 "%4/server.key;\n"
                                 "    access_log %4/access.log brief; }\n")
                      .arg(listening)
                      .arg(tlsport)
                      .arg(root, base)
                : QStringLiteral("  server { listen 127.0.0.1:%1; root %2; }\n")
                      .arg(listening)
                      .arg(root);
        const QString config =
            QStringLiteral(
                "user %3; worker_processes 1; pid %1/nginx.pid; error_log %1/error.log;\n"
                "events { worker_connections 64; }\n"
                "http { access_log off; sendfile on; types { application/octet-stream bin; }\n"
                "  log_format brief '$server_protocol $status $http_range';\n"
                "  client_body_temp_path %1/body; proxy_temp_path %1/proxy;\n"
                "  fastcgi_temp_path %1/fastcgi; uwsgi_temp_path %1/uwsgi; scgi_temp_path "
                "%1/scgi;\n%2}\n")
                .arg(base, servers,
                     user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("nobody"));
        QFile file(base + "/nginx.conf");
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(config.toUtf8()) < 0) {
            problem = QStringLiteral("cannot write the nginx configuration");
            return false;
        }
        file.close();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, {"-p", base + '/', "-e", base + "/error.log", "-c",
                                base + "/nginx.conf", "-g", "daemon off;"});
        if (!process.waitForStarted(5000)) {
            problem = process.errorString();
            return false;
        }
        const auto answers = [this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, listening);
            return socket.waitForConnected(200);
        };
        if (waitfor([&] { return process.state() != QProcess::Running || answers(); }, 10000) &&
            process.state() == QProcess::Running)
            return true;
        process.waitForFinished(2000);
        problem = QString::fromLocal8Bit(process.readAll());
    }
    return false;
}

} // namespace testsupport
