#pragma once
// A loopback server whose answers are scripts: for each connection, once its
// request head has come (up to the first blank line; in HTTP/2, its first
// HEADERS frame), the script is asked for the next bytes to send, and asked again
// whenever the client has taken most of them, so an endless answer never
// piles up here. No bytes means nothing for now: the script is asked again
// 10 ms later. No answer (nullopt) ends it, and the server closes. Over TCP,
// or over TLS with the protocols it offers by ALPN.
#include <QByteArray>
#include <QList>
#include <QObject>
#include <functional>
#include <optional>

class QTcpServer;
class QTcpSocket;

namespace testsupport {

class ScriptedServer : public QObject {
  public:
    // The request head, and how many bytes of the answer were given so far.
    using Script = std::function<std::optional<QByteArray>(const QByteArray& request, qint64 sent)>;

    explicit ScriptedServer(Script script);
    ~ScriptedServer() override;
    // Before listen(): TLS with FOLDER/NAME.pem and FOLDER/NAME.key (see
    // makecertificate), offering `protocols` ("h2", "http/1.1").
    void usetls(const QString& folder, const QString& name, const QByteArrayList& protocols);
    bool listen();
    quint16 port() const;
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
