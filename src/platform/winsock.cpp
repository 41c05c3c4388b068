#include "platform/winsock.h"

#include "platform/textfile.h"

#include <QNetworkProxy>
#include <QTcpSocket>

namespace platform {

Winsock::Winsock(QObject* parent) : QObject(parent), socket(new QTcpSocket(this)) {
    // The login connection is always direct, whatever proxy the downloader uses.
    socket->setProxy(QNetworkProxy::NoProxy);
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) {
                if (error == QAbstractSocket::RemoteHostClosedError)
                    peerclosed = true;
                else
                    failed = true;
            });
    connect(socket, &QAbstractSocket::disconnected, this, [this] {
        if (!failed) peerclosed = true;
    });
    // channelReadyRead, unlike readyRead, is also raised while a handler of
    // an earlier arrival is still running (the handlers let events run).
    connect(socket, &QAbstractSocket::channelReadyRead, this, [this](int) { arrival(); });
}

Winsock::~Winsock() = default;

bool Winsock::Connect() {
    if (State() != sckClosed) return false;
    failed = false;
    peerclosed = false;
    socket->connectToHost(RemoteHost, quint16(RemotePort));
    return true;
}

void Winsock::Close() {
    socket->abort();
    failed = false;
    peerclosed = false;
}

bool Winsock::SendData(const QString& text) {
    if (State() != sckConnected) return false;
    return socket->write(encodetext(text)) >= 0;
}

QString Winsock::GetData() {
    return decodetext(socket->readAll());
}

int Winsock::State() const {
    switch (socket->state()) {
    case QAbstractSocket::HostLookupState:
        return sckResolvingHost;
    case QAbstractSocket::ConnectingState:
        return sckConnecting;
    case QAbstractSocket::ConnectedState:
        return sckConnected;
    case QAbstractSocket::ClosingState:
        return sckClosing;
    default:
        break;
    }
    if (failed) return sckError;
    if (peerclosed) return sckClosing;
    return sckClosed;
}

void Winsock::arrival() {
    if (socket->bytesAvailable() <= 0) return;
    emit DataArrival(socket->bytesAvailable());
    // Bytes the handler left, or that came while it ran without a new
    // notification, get one of their own once the event loop is back.
    if (socket->bytesAvailable() > 0 && !recheckqueued) {
        recheckqueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                recheckqueued = false;
                arrival();
            },
            Qt::QueuedConnection);
    }
}

} // namespace platform
