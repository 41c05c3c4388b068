#pragma once
#include <QObject>
#include <QString>

class QTcpSocket;

namespace platform {

// The TCP client the agent talks to its server through: Connect, Close,
// SendData, GetData, a DataArrival notification, and a State numbered 0 to 9
// that the status poll reads twice a second (8 and 9, a drop or a failure,
// hold until Close, so a poll cannot miss them). Text crosses the
// wire as UTF-8 both ways; bytes that are not UTF-8 come in and go out
// unchanged (see decodetext).
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

    // Starts connecting to RemoteHost:RemotePort. Refused (false, nothing
    // changes) unless the socket is closed.
    bool Connect();
    // Back to state 0 at once, dropping whatever was waiting either way.
    void Close();
    // False when the socket is not connected; the text is not sent then.
    bool SendData(const QString& text);
    // Everything waiting, as one text; "" when nothing waits.
    QString GetData();
    int State() const;

  signals:
    // New bytes are waiting. Also raised while an earlier DataArrival is
    // still being handled, so a reaction that lets events run sees later
    // messages as they come.
    void DataArrival(qint64 bytesTotal);

  private:
    void arrival();

    QTcpSocket* socket = nullptr;
    // After a failure or a drop the state stays 9 or 8 until Close.
    bool failed = false;
    bool peerclosed = false;
    bool recheckqueued = false;
};

} // namespace platform
