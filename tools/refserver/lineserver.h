#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QCommandLineParser;
class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

// The authentication server's side of the line protocol: accepts agents on
// the loopback address, checks each login line ("0#user,password#" CR LF)
// against its accounts, answers a wrong one with "ERR:1" and keeps the connection open,
// may send a version line after a login, and sends messages to every
// logged-in agent. The protocol has no framing, so messages to one agent are
// spaced by a pause to reach it in reads of their own. Run as a program, it
// ends at the end of its standard input (Ctrl-D) once those are sent.
class LineServer : public QObject {
    Q_OBJECT
  public:
    explicit LineServer(QObject* parent = nullptr);
    ~LineServer() override;

    // Command-line options of this server, and applying them (which starts
    // listening, printing logins and reading messages from standard input);
    // false with a message in `error` when they do not make sense.
    static void addoptions(QCommandLineParser& parser);
    bool configure(const QCommandLineParser& parser, QString* error);

    // Listens on 127.0.0.1; port 0 takes any free port.
    bool listen(quint16 port = 0);
    quint16 port() const;
    QString errorString() const;

    // Names and passwords are bytes, as they travel.
    void addaccount(const QByteArray& user, const QByteArray& password);
    // Sent as "version:" + text right after every accepted login; "" for none.
    void setversion(const QString& text);
    // Milliseconds between two messages to the same agent; 0 sends at once.
    void setpause(int ms);

    // Sends one message to every logged-in agent; the number of them.
    int send(const QByteArray& message);
    // Closes every agent's connection, as a server going away does.
    void dropall();

    int connections() const { return int(agents.size()); }
    // Messages queued for agents and not yet sent.
    int queued() const;
    int loggedin() const;
    // Every login line received, in order, exactly as it came (with its line end).
    QList<QByteArray> logins() const { return received; }

  signals:
    void loginreceived(const QByteArray& line, bool accepted);

  private:
    struct Agent {
        QByteArray buffer;
        QList<QByteArray> outbox;
        bool loggedin = false;
        bool pausing = false;
    };

    void accept();
    void readfrom(QTcpSocket* socket);
    void login(QTcpSocket* socket, const QByteArray& line);
    void queue(QTcpSocket* socket, const QByteArray& message);
    void flush(QTcpSocket* socket);
    void readstdin();
    void sendline(QByteArray message);
    void finish();
    bool addaccounts(const QList<QByteArray>& entries, const QString& origin, QString* error);
    void print(const QString& text) const;

    QTcpServer* server;
    QHash<QTcpSocket*, Agent> agents;
    QList<QPair<QByteArray, QByteArray>> accounts;
    QList<QByteArray> received;
    QByteArray version;
    int pause = 300;
    bool printing = false;
    QSocketNotifier* input = nullptr;
    QByteArray pendinginput;
    bool keepserving = false;
};
