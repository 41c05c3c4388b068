#include "support/scriptedserver.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>
#include <memory>

namespace testsupport {

namespace {
// Bytes given to a socket before the script is asked for more.
constexpr qint64 queued = 64 * 1024;

// Where a request's head ends: after the first blank line, or in HTTP/2,
// after the client's first HEADERS frame (its connection preface, 24 bytes,
// has a blank line too); -1 while it has not come.
qsizetype headend(const QByteArray& bytes, bool http2) {
    if (!http2) {
        const qsizetype blank = bytes.indexOf("\r\n\r\n");
        return blank < 0 ? -1 : blank + 4;
    }
    for (qsizetype at = 24; at + 9 <= bytes.size();) {
        const qsizetype next =
            at + 9 + (quint8(bytes[at]) << 16 | quint8(bytes[at + 1]) << 8 | quint8(bytes[at + 2]));
        if (next > bytes.size()) break;
        if (bytes[at + 3] == 1) return next;
        at = next;
    }
    return -1;
}
} // namespace

void ScriptedServer::usetls(const QString& folder, const QString& name,
                            const QByteArrayList& protocols) {
    auto* secure = new QSslServer(this);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QFile key(folder + '/' + name + ".key");
    if (key.open(QIODevice::ReadOnly)) configuration.setPrivateKey(QSslKey(&key, QSsl::Ec));
    configuration.setLocalCertificateChain(QSslCertificate::fromPath(folder + '/' + name + ".pem"));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    configuration.setAllowedNextProtocols(protocols);
    secure->setSslConfiguration(configuration);
    delete server;
    server = secure;
    tls = true;
}

bool ScriptedServer::listen() {
    if (!server) server = new QTcpServer(this);
    connect(server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* socket = server->nextPendingConnection())
            serve(socket);
    });
    return server->listen(QHostAddress::LocalHost);
}

QString ScriptedServer::url(const QString& path) const {
    return QStringLiteral("%1://127.0.0.1:%2/%3").arg(tls ? "https" : "http").arg(port()).arg(path);
}

void ScriptedServer::serve(QTcpSocket* socket) {
    ++accepted;
    auto request = std::make_shared<QByteArray>();
    auto sent = std::make_shared<qint64>(-1); // -1 until the request head is in
    connect(socket, &QTcpSocket::readyRead, this, [=, this] {
        const QByteArray bytes = socket->readAll();
        if (*sent != -1) return; // whatever follows the head is not looked at
        *request += bytes;
        const auto* secure = qobject_cast<QSslSocket*>(socket);
        const qsizetype end = headend(
            *request, secure && secure->sslConfiguration().nextNegotiatedProtocol() == "h2");
        if (end < 0) return;
        request->truncate(end);
        heads << *request;
        *sent = 0;
        pump(socket, *request, sent.get());
    });
    connect(socket, &QTcpSocket::bytesWritten, this,
            [=, this] { pump(socket, *request, sent.get()); });
    if (auto* secure = qobject_cast<QSslSocket*>(socket))
        connect(secure, &QSslSocket::encryptedBytesWritten, this,
                [=, this] { pump(socket, *request, sent.get()); });
    // Once per connection, however it ends.
    auto over = std::make_shared<bool>(false);
    const auto end = [=, this] {
        if (*over) return;
        *over = true;
        ++ended;
        socket->deleteLater();
    };
    connect(socket, &QTcpSocket::disconnected, this, end);
    connect(socket, &QTcpSocket::errorOccurred, this, end);
}

void ScriptedServer::pump(QTcpSocket* socket, const QByteArray& request, qint64* sent) {
    // Over TLS, what is written moves on at once into the encrypted buffer.
    const auto waiting = [socket] {
        const auto* secure = qobject_cast<QSslSocket*>(socket);
        return socket->bytesToWrite() + (secure ? secure->encryptedBytesToWrite() : 0);
    };
    while (*sent >= 0 && socket->state() == QAbstractSocket::ConnectedState && waiting() < queued) {
        const std::optional<QByteArray> next = script(request, *sent);
        if (!next) {
            *sent = -2; // the answer is complete
            socket->disconnectFromHost();
            return;
        }
        if (next->isEmpty())
            return QTimer::singleShot(10, socket, [=, this] { pump(socket, request, sent); });
        *sent += next->size();
        socket->write(*next);
    }
}

ScriptedServer::Script ScriptedServer::once(const QByteArray& answer) {
    return [answer](const QByteArray&, qint64 sent) {
        return sent == 0 ? std::optional(answer) : std::nullopt;
    };
}

ScriptedServer::Script ScriptedServer::endless(const QByteArray& head, const QByteArray& filler) {
    return [=](const QByteArray&, qint64 sent) { return std::optional(sent == 0 ? head : filler); };
}

ScriptedServer::Script ScriptedServer::silent() {
    return [](const QByteArray&, qint64) -> std::optional<QByteArray> { return QByteArray(); };
}

} // namespace testsupport
