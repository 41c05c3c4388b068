#pragma once
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QCommandLineParser;
class QTcpServer;
class QTcpSocket;

// A small HTTP file server with byte ranges and injectable faults. It answers
// GET for the files under its root folder (206 with a Range, 200 without) and
// closes the connection after each response. It serves on 127.0.0.1 only.
class FileServer : public QObject {
    Q_OBJECT
  public:
    // What to get wrong in one response. The default is a correct answer.
    struct Faults {
        bool ignorerange = false; // answer 200 with the whole file
        int status = 0;           // a fixed status (no body), e.g. 404
        bool nolength = false;    // no Content-Length; the end is the close
        qint64 announce = -1;     // announce this Content-Length instead
        qint64 cutafter = -1;     // close after this many body bytes
        qint64 stallafter = -1;   // after this many body bytes ...
        int stallms = 0;          // ... send nothing for this long
        qint64 extra = 0;         // bytes sent after the announced body
        int dribble = 0;          // send the body in pieces of this many bytes,
        int pausems = 2;          // this many milliseconds apart
        QByteArray replacewith;   // first the file is replaced by these bytes
        qint64 rangecap = -1;     // a range answer holds at most this many bytes
        bool hangup = false;      // close the connection without any answer
        bool silent = false;      // keep it open without any answer
        QByteArray etag;          // the file's version, as ETag and Last-Modified
        QByteArray lastmodified;  // (If-Range is not honoured: ranges always are)
        QByteArray disposition;   // a Content-Disposition header
        QString servefile;        // this file, whatever the path asked for
    };

    explicit FileServer(QObject* parent = nullptr);
    ~FileServer() override;

    // Command-line options of this server, and applying them; false with a
    // message in `error` when they do not make sense. Serving starts only
    // when --serve was given (see enabled()).
    static void addoptions(QCommandLineParser& parser);
    bool configure(const QCommandLineParser& parser, QString* error);
    bool enabled() const { return serving; }

    // In-process use: serve `root` on 127.0.0.1 (port 0: any free port).
    bool listen(const QString& root, quint16 port = 0);
    quint16 port() const;
    QString url(const QString& name) const; // http://127.0.0.1:port/name

    // Faults by request: request i (from 0) gets plan[i], the last entry
    // for every later request; an empty plan serves correctly.
    void setplan(const QList<Faults>& plan);
    void setfaults(const Faults& faults) { setplan({faults}); }

    // The heads of the requests received so far, in order, as sent.
    QList<QByteArray> heads() const { return received; }
    // The value of `name` in request `index`'s head; "" when absent.
    QByteArray header(int index, const QByteArray& name) const;

  signals:
    void requested(int index);

  private:
    void accept();
    void respond(QTcpSocket* socket, const QByteArray& head, int index);

    QTcpServer* server;
    QString root;
    QList<Faults> plan;
    QList<QByteArray> received;
    bool serving = false;
};
