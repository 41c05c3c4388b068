#pragma once
#include <QObject>
#include <QString>

class QTcpSocket;

namespace platform {

// The TCP client the agent talks to its server through, in the terms of the
// socket control it was designed around: Connect/Close/SendData/GetData, a
// DataArrival notification and a State numbered 0 to 9.
class Winsock : public QObject {
    Q_OBJECT
public:
    enum StateValue {
        sckClosed = 0,
        sckOpen = 1,
        sckListening = 2,
        sckConnectionPending = 3,
        sckResolvingHost = 4,
        sckHostResolved = 5,
        sckConnecting = 6,
        sckConnected = 7,
        sckClosing = 8,
        sckError = 9
    };

    explicit Winsock(QObject* parent = nullptr);
    ~Winsock() override;

    QString RemoteHost;
    int RemotePort = 5000;

    void Connect();
    void Close();
    void SendData(const QString& text);
    QString GetData();
    int State() const;

signals:
    void DataArrival(qint64 bytesTotal);

private:
    QTcpSocket* socket = nullptr;
};

} // namespace platform
