#pragma once
// A loopback server (TCP, or TLS offering protocols by ALPN) whose answers are
// scripts: once a connection's request head is in (up to the first blank line;
// in HTTP/2, the first HEADERS frame), the script is asked for the next bytes,
// again whenever the client took most of them (an endless answer never piles
// up here), 10 ms later when it gave none, and nullopt closes.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <functional>
#include <optional>

#include <QTcpServer>

class QTcpSocket;

namespace testsupport {

class ScriptedServer : public QObject {
  public:
    // The request head, and how many bytes of the answer were given so far.
    using Script = std::function<std::optional<QByteArray>(const QByteArray& request, qint64 sent)>;

    explicit ScriptedServer(Script answer) : script(std::move(answer)) {}
    // Before listen(): TLS with FOLDER/NAME.pem and FOLDER/NAME.key (see
    // makecertificate), offering `protocols` ("h2", "http/1.1").
    void usetls(const QString& folder, const QString& name, const QByteArrayList& protocols);
    bool listen();
    quint16 port() const { return server ? server->serverPort() : 0; }
    // http://127.0.0.1:PORT/PATH, or https:// under TLS.
    QString url(const QString& path) const;

    QByteArrayList requests() const { return heads; }
    int connections() const { return accepted; }
    // Connections that are over: the client closed them, or the script ended.
    int closed() const { return ended; }

    // A whole answer at once: `answer` first, then the end.
    static Script once(const QByteArray& answer);
    // `head` first, then `filler` again and again without end.
    static Script endless(const QByteArray& head, const QByteArray& filler);
    // Nothing, with the connection left open.
    static Script silent();

  private:
    void serve(QTcpSocket* socket);
    void pump(QTcpSocket* socket, const QByteArray& request, qint64* sent);

    Script script;
    QTcpServer* server = nullptr;
    bool tls = false;
    QByteArrayList heads;
    int accepted = 0;
    int ended = 0;
};

} // namespace testsupport
