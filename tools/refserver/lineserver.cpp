#include "lineserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// A client that sends this much without a line end is not an agent.
constexpr qsizetype maxline = 64 * 1024;

// Bytes as a readable text: control characters and non-ASCII escaped.
QString escaped(const QByteArray& bytes) {
    QString text;
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == '\r')
            text += QStringLiteral("\\r");
        else if (c == '\n')
            text += QStringLiteral("\\n");
        else if (c == '\\')
            text += QStringLiteral("\\\\");
        else if (c < 0x20 || c >= 0x7f)
            text += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
        else
            text += QLatin1Char(char(c));
    }
    return text;
}

} // namespace

LineServer::LineServer(QObject* parent) : QObject(parent), server(new QTcpServer(this)) {
    connect(server, &QTcpServer::newConnection, this, &LineServer::accept);
}

LineServer::~LineServer() = default;

void LineServer::addoptions(QCommandLineParser& parser) {
    parser.addOption(
        {QStringLiteral("port"),
         QStringLiteral("Port for agents on 127.0.0.1 (default 5000; 0: any free port)."),
         QStringLiteral("number"), QStringLiteral("5000")});
    parser.addOption({QStringLiteral("account"),
                      QStringLiteral("An account agents may log in with (repeatable)."),
                      QStringLiteral("user:password")});
    parser.addOption({QStringLiteral("accounts"),
                      QStringLiteral("A file of accounts, one user:password a line."),
                      QStringLiteral("file")});
    parser.addOption({QStringLiteral("version"),
                      QStringLiteral("Send \"version:\" and this text after every login."),
                      QStringLiteral("text")});
    parser.addOption(
        {QStringLiteral("pause"),
         QStringLiteral("Milliseconds between two messages to one agent (default 300)."),
         QStringLiteral("ms"), QStringLiteral("300")});
    parser.addOption({QStringLiteral("keep-serving"),
                      QStringLiteral("Go on serving after the end of standard input (by default "
                                     "the end of input, Ctrl-D, stops the server once the "
                                     "messages typed are sent).")});
}

bool LineServer::configure(const QCommandLineParser& parser, QString* error) {
    bool ok = false;
    const uint portnumber = parser.value(QStringLiteral("port")).toUInt(&ok);
    if (!ok || portnumber > 65535) {
        *error = QStringLiteral("--port wants a number from 0 to 65535");
        return false;
    }
    const int ms = parser.value(QStringLiteral("pause")).toInt(&ok);
    if (!ok || ms < 0) {
        *error = QStringLiteral("--pause wants a number of milliseconds");
        return false;
    }
    setpause(ms);
    QList<QByteArray> given;
    for (const QString& entry : parser.values(QStringLiteral("account")))
        given << entry.toUtf8();
    if (!addaccounts(given, QStringLiteral("--account"), error)) return false;
    if (parser.isSet(QStringLiteral("accounts"))) {
        const QString name = parser.value(QStringLiteral("accounts"));
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(name, file.errorString());
            return false;
        }
        QList<QByteArray> lines;
        for (QByteArray line : file.readAll().split('\n')) {
            if (line.endsWith('\r')) line.chop(1);
            if (!line.isEmpty()) lines << line;
        }
        if (!addaccounts(lines, name, error)) return false;
    }
    setversion(parser.value(QStringLiteral("version")));
    keepserving = parser.isSet(QStringLiteral("keep-serving"));

    if (!listen(quint16(portnumber))) {
        *error =
            QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(portnumber).arg(errorString());
        return false;
    }
    printing = true;
    print(QStringLiteral("listening on 127.0.0.1:%1").arg(port()));
    if (accounts.isEmpty())
        print(QStringLiteral("no accounts given: every login is answered with ERR:1"));

    // Each line typed on standard input goes to every logged-in agent.
    input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(input, &QSocketNotifier::activated, this, &LineServer::readstdin);
    return true;
}

bool LineServer::addaccounts(const QList<QByteArray>& entries, const QString& origin,
                             QString* error) {
    for (const QByteArray& entry : entries) {
        const qsizetype colon = entry.indexOf(':');
        if (colon < 0) {
            *error = QStringLiteral("%1: \"%2\" is not user:password").arg(origin, escaped(entry));
            return false;
        }
        addaccount(entry.left(colon), entry.mid(colon + 1));
    }
    return true;
}

bool LineServer::listen(quint16 portnumber) {
    return server->listen(QHostAddress::LocalHost, portnumber);
}

quint16 LineServer::port() const {
    return server->serverPort();
}

QString LineServer::errorString() const {
    return server->errorString();
}

void LineServer::addaccount(const QByteArray& user, const QByteArray& password) {
    accounts.append({user, password});
}

void LineServer::setversion(const QString& text) {
    version = text.toUtf8();
}

void LineServer::setpause(int ms) {
    pause = ms;
}

int LineServer::send(const QByteArray& message) {
    int count = 0;
    for (auto agent = agents.cbegin(); agent != agents.cend(); ++agent) {
        if (agent->loggedin) {
            queue(agent.key(), message);
            ++count;
        }
    }
    return count;
}

void LineServer::dropall() {
    const QList<QTcpSocket*> sockets = agents.keys();
    for (QTcpSocket* socket : sockets)
        socket->disconnectFromHost();
}

int LineServer::queued() const {
    int count = 0;
    for (const Agent& agent : agents)
        count += int(agent.outbox.size());
    return count;
}

int LineServer::loggedin() const {
    int count = 0;
    for (const Agent& agent : agents)
        count += agent.loggedin ? 1 : 0;
    return count;
}

void LineServer::accept() {
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        // Each message goes out at once, not held back to join the next.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        agents.insert(socket, Agent());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readfrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            agents.remove(socket);
            socket->deleteLater();
        });
    }
}

void LineServer::readfrom(QTcpSocket* socket) {
    if (!agents.contains(socket)) return;
    agents[socket].buffer += socket->readAll();
    for (;;) {
        auto agent = agents.find(socket);
        if (agent == agents.end()) return;
        const qsizetype end = agent->buffer.indexOf('\n');
        if (end < 0) {
            if (agent->buffer.size() > maxline) socket->abort();
            return;
        }
        const QByteArray line = agent->buffer.left(end + 1);
        agent->buffer.remove(0, end + 1);
        login(socket, line);
    }
}

void LineServer::login(QTcpSocket* socket, const QByteArray& line) {
    // Compared as whole lines, so commas and "#" inside names are fine.
    bool accepted = false;
    for (const auto& [user, password] : accounts)
        accepted = accepted || line == "0#" + user + ',' + password + "#\r\n";
    received.append(line);
    agents[socket].loggedin = accepted;
    print(QStringLiteral("login from %1:%2 \"%3\" %4")
              .arg(socket->peerAddress().toString())
              .arg(socket->peerPort())
              .arg(escaped(line),
                   accepted ? QStringLiteral("accepted") : QStringLiteral("rejected (ERR:1)")));
    if (!accepted)
        queue(socket, "ERR:1");
    else if (!version.isEmpty())
        queue(socket, "version:" + version);
    emit loginreceived(line, accepted);
}

void LineServer::queue(QTcpSocket* socket, const QByteArray& message) {
    if (message.isEmpty() || !agents.contains(socket)) return;
    agents[socket].outbox.append(message);
    flush(socket);
}

void LineServer::flush(QTcpSocket* socket) {
    auto agent = agents.find(socket);
    while (agent != agents.end() && !agent->pausing && !agent->outbox.isEmpty()) {
        socket->write(agent->outbox.takeFirst());
        if (pause > 0) {
            agent->pausing = true;
            // The socket as context: a closed connection cancels the rest.
            QTimer::singleShot(pause, socket, [this, socket] {
                auto waiting = agents.find(socket);
                if (waiting == agents.end()) return;
                waiting->pausing = false;
                flush(socket);
            });
        }
    }
}

void LineServer::readstdin() {
    char chunk[4096];
    const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (count <= 0) {
        input->setEnabled(false);
        sendline(pendinginput); // a last line without its line end
        pendinginput.clear();
        if (!keepserving) finish();
        return;
    }
    pendinginput.append(chunk, count);
    for (qsizetype end = pendinginput.indexOf('\n'); end >= 0; end = pendinginput.indexOf('\n')) {
        sendline(pendinginput.left(end));
        pendinginput.remove(0, end + 1);
    }
}

void LineServer::sendline(QByteArray message) {
    if (message.endsWith('\r')) message.chop(1);
    if (message.isEmpty()) return;
    const int count = send(message);
    print(QStringLiteral("sent to %1 agent(s): \"%2\"").arg(count).arg(escaped(message)));
}

void LineServer::finish() {
    print(QStringLiteral("end of input: the server stops once the messages are sent"));
    // Each agent gets what was typed before the end, unless it stops reading:
    // the server does not wait for that longer than a while.
    constexpr int checkms = 50;
    constexpr int givingupms = 30000;
    auto* check = new QTimer(this);
    auto waited = std::make_shared<int>(0);
    connect(check, &QTimer::timeout, this, [this, waited] {
        int unsent = 0;
        for (auto agent = agents.cbegin(); agent != agents.cend(); ++agent)
            unsent += int(agent->outbox.size()) + (agent.key()->bytesToWrite() > 0 ? 1 : 0);
        *waited += checkms;
        if (unsent > 0 && *waited < givingupms) return;
        if (unsent > 0) print(QStringLiteral("gave up sending %1 message(s)").arg(unsent));
        QCoreApplication::quit();
    });
    check->start(checkms);
}

void LineServer::print(const QString& text) const {
    if (!printing) return;
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}
