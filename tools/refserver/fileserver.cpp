#include "fileserver.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <cstdio>
#include <memory>

namespace {

constexpr qint64 piecesize = 64 * 1024;
constexpr qint64 queuedlimit = 256 * 1024;

QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 416:
        return "Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

// Sends one response body from a file, following the faults, then closes.
class Sender : public QObject {
  public:
    Sender(QTcpSocket* socket, std::unique_ptr<QFile> file, qint64 from, qint64 body,
           const FileServer::Faults& faults)
        : QObject(socket), socket(socket), file(std::move(file)), body(body), faults(faults) {
        if (this->file) this->file->seek(from);
        limit =
            faults.cutafter >= 0 ? qMin(faults.cutafter, body + faults.extra) : body + faults.extra;
        connect(socket, &QTcpSocket::bytesWritten, this, &Sender::pump);
        QTimer::singleShot(0, this, &Sender::pump);
    }

  private:
    void pump() {
        if (waiting || closing) return;
        while (sent < limit && socket->bytesToWrite() < queuedlimit) {
            if (faults.stallafter >= 0 && !stalled && sent >= faults.stallafter) {
                stalled = true;
                waiting = true;
                QTimer::singleShot(faults.stallms, this, [this] {
                    waiting = false;
                    pump();
                });
                return;
            }
            qint64 size = qMin(piecesize, limit - sent);
            if (faults.dribble > 0) size = qMin<qint64>(size, faults.dribble);
            if (faults.stallafter >= 0 && !stalled) size = qMin(size, faults.stallafter - sent);
            QByteArray piece;
            if (sent < body) {
                piece = file->read(qMin(size, body - sent));
                if (piece.isEmpty()) { // the file shrank: end as a cut
                    limit = sent;
                    break;
                }
            } else {
                piece = QByteArray(int(size), 'x');
            }
            socket->write(piece);
            sent += piece.size();
            if (faults.dribble > 0 && sent < limit) {
                waiting = true;
                QTimer::singleShot(faults.pausems, this, [this] {
                    waiting = false;
                    pump();
                });
                return;
            }
        }
        if (sent >= limit) {
            closing = true;
            socket->disconnectFromHost();
        }
    }

    QTcpSocket* socket;
    std::unique_ptr<QFile> file;
    qint64 body;
    FileServer::Faults faults;
    qint64 limit = 0;
    qint64 sent = 0;
    bool stalled = false;
    bool waiting = false;
    bool closing = false;
};

} // namespace

FileServer::FileServer(QObject* parent) : QObject(parent), server(new QTcpServer(this)) {
    connect(server, &QTcpServer::newConnection, this, &FileServer::accept);
}

FileServer::~FileServer() = default;

void FileServer::addoptions(QCommandLineParser& parser) {
    parser.addOptions({
        {QStringLiteral("serve"), QStringLiteral("Serve the files of <dir> over HTTP."),
         QStringLiteral("dir")},
        {QStringLiteral("http-port"), QStringLiteral("Port of the file server (default 8080)."),
         QStringLiteral("port"), QStringLiteral("8080")},
        {QStringLiteral("ignore-range"), QStringLiteral("Answer 200 with the whole file.")},
        {QStringLiteral("status"), QStringLiteral("Answer every request with <code>, no body."),
         QStringLiteral("code")},
        {QStringLiteral("no-length"), QStringLiteral("Send no Content-Length.")},
        {QStringLiteral("announce"), QStringLiteral("Announce <n> as the Content-Length."),
         QStringLiteral("n")},
        {QStringLiteral("cut"), QStringLiteral("Close every response after <n> body bytes."),
         QStringLiteral("n")},
        {QStringLiteral("cut-once"),
         QStringLiteral("Close the first response after <n> body bytes."), QStringLiteral("n")},
        {QStringLiteral("stall"), QStringLiteral("Send nothing for <s> seconds in the body."),
         QStringLiteral("s")},
        {QStringLiteral("stall-after"),
         QStringLiteral("Where the stall starts, in body bytes (default 0)."), QStringLiteral("n"),
         QStringLiteral("0")},
        {QStringLiteral("extra"), QStringLiteral("Send <n> bytes more than announced."),
         QStringLiteral("n")},
        {QStringLiteral("dribble"), QStringLiteral("Send the body in pieces of <n> bytes."),
         QStringLiteral("n")},
    });
}

bool FileServer::configure(const QCommandLineParser& parser, QString* error) {
    if (!parser.isSet(QStringLiteral("serve"))) return true;
    auto number = [&](const QString& name, qint64* value) {
        bool ok = true;
        if (parser.isSet(name) || name == QLatin1String("stall-after"))
            *value = parser.value(name).toLongLong(&ok);
        if (!ok || *value < -1) *error = QStringLiteral("--%1 needs a number").arg(name);
        return ok && *value >= -1;
    };
    Faults faults;
    qint64 status = 0, cut = -1, cutonce = -1, stall = 0, stallafter = 0, extra = 0, dribble = 0,
           announce = -1, httpport = 8080;
    if (!number(QStringLiteral("status"), &status) || !number(QStringLiteral("cut"), &cut) ||
        !number(QStringLiteral("cut-once"), &cutonce) || !number(QStringLiteral("stall"), &stall) ||
        !number(QStringLiteral("stall-after"), &stallafter) ||
        !number(QStringLiteral("extra"), &extra) || !number(QStringLiteral("dribble"), &dribble) ||
        !number(QStringLiteral("announce"), &announce) ||
        !number(QStringLiteral("http-port"), &httpport))
        return false;
    faults.ignorerange = parser.isSet(QStringLiteral("ignore-range"));
    faults.status = int(status);
    faults.nolength = parser.isSet(QStringLiteral("no-length"));
    faults.announce = announce;
    faults.cutafter = cut;
    if (stall > 0) {
        faults.stallafter = stallafter;
        faults.stallms = int(stall * 1000);
    }
    faults.extra = extra;
    faults.dribble = int(dribble);
    if (cutonce >= 0) {
        Faults first = faults;
        first.cutafter = cutonce;
        setplan({first, faults});
    } else {
        setplan({faults});
    }
    const QString folder = parser.value(QStringLiteral("serve"));
    if (!QFileInfo(folder).isDir()) {
        *error = QStringLiteral("--serve: no folder %1").arg(folder);
        return false;
    }
    if (!listen(folder, quint16(httpport))) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
                     .arg(httpport)
                     .arg(server->errorString());
        return false;
    }
    std::printf("serving %s at http://127.0.0.1:%u/\n", qPrintable(folder), unsigned(port()));
    std::fflush(stdout);
    return true;
}

bool FileServer::listen(const QString& folder, quint16 portnumber) {
    root = QDir(folder).absolutePath();
    serving = server->listen(QHostAddress::LocalHost, portnumber);
    return serving;
}

quint16 FileServer::port() const {
    return server->serverPort();
}

QString FileServer::url(const QString& name) const {
    return QStringLiteral("http://127.0.0.1:%1/%2").arg(port()).arg(name);
}

void FileServer::setplan(const QList<Faults>& faults) {
    plan = faults;
}

QByteArray FileServer::header(int index, const QByteArray& name) const {
    if (index < 0 || index >= received.size()) return QByteArray();
    const QList<QByteArray> lines = received.at(index).split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

void FileServer::accept() {
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto head = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, head] {
            if (head->endsWith("\r\n\r\n"))
                return; // one request per connection; anything after it is ignored
            *head += socket->readAll();
            const qsizetype endofhead = head->indexOf("\r\n\r\n");
            if (endofhead < 0) return;
            head->truncate(endofhead + 4);
            received.append(*head);
            const int index = int(received.size() - 1);
            respond(socket, *head, index);
            emit requested(index);
        });
    }
}

void FileServer::respond(QTcpSocket* socket, const QByteArray& head, int index) {
    const Faults faults =
        plan.isEmpty() ? Faults() : plan.at(qMin<qsizetype>(index, plan.size() - 1));
    auto answer = [&](int status, const QByteArray& headers) {
        socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n" +
                      headers + "Connection: close\r\n\r\n");
    };
    auto refuse = [&](int status) {
        answer(status, status == 204 ? QByteArray() : QByteArray("Content-Length: 0\r\n"));
        socket->disconnectFromHost();
    };
    if (faults.hangup) return socket->disconnectFromHost();
    if (faults.silent) return;
    if (faults.status != 0) return refuse(faults.status);

    // "GET /path?query HTTP/1.1": the file is the path, without the query.
    const QList<QByteArray> requestline = head.left(head.indexOf("\r\n")).split(' ');
    if (requestline.size() < 2 || requestline.at(0) != "GET") return refuse(404);
    QByteArray target = requestline.at(1);
    if (const qsizetype query = target.indexOf('?'); query >= 0) target.truncate(query);
    QString path = QUrl::fromPercentEncoding(target);
    if (path == QLatin1String("/")) path = QStringLiteral("/index.html");
    if (!faults.servefile.isEmpty()) path = QLatin1Char('/') + faults.servefile;
    if (path.split(QLatin1Char('/')).contains(QStringLiteral(".."))) return refuse(404);
    auto file = std::make_unique<QFile>(root + path);
    // A new version of the file is put in place before this answer.
    if (!faults.replacewith.isNull() && QFileInfo(file->fileName()).isFile() &&
        (!file->open(QIODevice::WriteOnly | QIODevice::Truncate) ||
         file->write(faults.replacewith) != faults.replacewith.size() || !file->flush()))
        return refuse(500);
    file->close();
    if (!QFileInfo(file->fileName()).isFile() || !file->open(QIODevice::ReadOnly))
        return refuse(404);
    const qint64 size = file->size();

    // "Range: bytes=N-" or "bytes=N-M".
    qint64 from = 0;
    qint64 to = size - 1;
    bool ranged = false;
    const QByteArray range = header(index, "Range");
    if (!faults.ignorerange && range.startsWith("bytes=")) {
        const QList<QByteArray> ends = range.mid(6).split('-');
        bool ok = ends.size() == 2;
        if (ok) from = ends.at(0).toLongLong(&ok);
        if (ok && !ends.at(1).isEmpty()) to = qMin(ends.at(1).toLongLong(&ok), size - 1);
        if (ok) {
            if (from >= size || from > to) {
                answer(416, "Content-Range: bytes */" + QByteArray::number(size) +
                                "\r\nContent-Length: 0\r\n");
                socket->disconnectFromHost();
                return;
            }
            ranged = true;
            if (faults.rangecap > 0) to = qMin(to, from + faults.rangecap - 1);
        } else {
            from = 0;
        }
    }
    const qint64 body = to - from + 1;
    QByteArray headers;
    if (ranged)
        headers += "Content-Range: bytes " + QByteArray::number(from) + '-' +
                   QByteArray::number(to) + '/' + QByteArray::number(size) + "\r\n";
    if (!faults.nolength)
        headers +=
            "Content-Length: " + QByteArray::number(faults.announce >= 0 ? faults.announce : body) +
            "\r\n";
    headers += "Content-Type: application/octet-stream\r\n";
    if (!faults.ignorerange) headers += "Accept-Ranges: bytes\r\n";
    if (!faults.etag.isEmpty()) headers += "ETag: " + faults.etag + "\r\n";
    if (!faults.lastmodified.isEmpty()) headers += "Last-Modified: " + faults.lastmodified + "\r\n";
    if (!faults.disposition.isEmpty())
        headers += "Content-Disposition: " + faults.disposition + "\r\n";
    answer(ranged ? 206 : 200, headers);
    new Sender(socket, std::move(file), from, body, faults);
}
