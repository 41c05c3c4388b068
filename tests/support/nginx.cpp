#include "support/nginx.h"

#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <pwd.h>
#include <unistd.h>

namespace testsupport {

Nginx::Nginx(const QString& folder) : root(QDir(folder).absolutePath()) {}

Nginx::~Nginx() {
    stop();
}

void Nginx::stop() {
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

QByteArray Nginx::accesslog(bool plain) const {
    return readfile(prefix.filePath(plain ? "plain.log" : "access.log"));
}

bool Nginx::start() {
    const QString program = findprogram(QStringLiteral("nginx"));
    if (program.isEmpty()) {
        problem = QStringLiteral("nginx is not installed");
        return false;
    }
    // The workers run as we do, so they can read our temporary folders
    // (nginx ignores this when not started as root).
    const passwd* user = getpwuid(geteuid());
    const QString base = prefix.path();
    // Self-signed: the certificate is its own authority.
    if (tls)
        problem = makecertificate(base, QStringLiteral("server"), QStringLiteral("IP:127.0.0.1"));
    if (!problem.isEmpty()) return false;
    // A port found free may be taken before nginx binds it: try a few.
    const bool again = listening != 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!again) listening = freeport();
        if (!again) tlsport = tls ? freeport() : 0;
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
                : QStringLiteral("  server { listen 127.0.0.1:%1; root %2;\n"
                                 "    access_log %3/plain.log brief; %4 }\n")
                      .arg(listening)
                      .arg(root, base, extra);
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
        if (startserver(process, program,
                        {"-p", base + '/', "-e", base + "/error.log", "-c", base + "/nginx.conf",
                         "-g", "daemon off;"},
                        listening, &problem))
            return true;
    }
    return false;
}

} // namespace testsupport
