// The server-message handler: each input is one message a loopback server
// sends to the real main window's socket, handled by the window's own
// reaction to data arrival.
#include "app/principal.h"
#include "app/quillharbor.h"
#include "fuzzagent.h"
#include "platform/winsock.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdlib>
#include <sys/ioctl.h>

namespace {
QTcpServer* server = nullptr;
QTcpSocket* serverside = nullptr; // the server's end of the connection
QTcpSocket* agentside = nullptr;  // the socket inside the window's `alfa`
int arrivals = 0;

// Bytes the kernel holds for the agent's socket, not yet read by Qt.
int unread() {
    int count = 0;
    return ::ioctl(int(agentside->socketDescriptor()), FIONREAD, &count) == 0 ? count : -1;
}

// Serves the event loop until `condition` holds; a ticking timer makes sure
// the wait for events ends now and then to look again.
template <typename Condition> void serveuntil(Condition condition) {
    static QTimer* wakeup = [] {
        auto* timer = new QTimer;
        timer->start(50);
        return timer;
    }();
    Q_UNUSED(wakeup);
    while (!condition())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzagent::start();
    quillharbor& form = fuzzagent::window();
    // Only the handler runs: no status poll, no reconnection.
    form.statustimer->setEnabled(false);
    form.reintentos->setEnabled(false);
    form.show();

    server = new QTcpServer;
    if (!server->listen(QHostAddress::LocalHost)) std::abort();
    form.alfa->RemoteHost = QStringLiteral("127.0.0.1");
    form.alfa->RemotePort = server->serverPort();
    form.alfa->Connect();
    serveuntil([] { return server->hasPendingConnections(); });
    serverside = server->nextPendingConnection();
    serveuntil([&] { return form.alfa->State() == platform::Winsock::sckConnected; });
    agentside = form.alfa->findChild<QTcpSocket*>();
    if (!agentside) std::abort();
    // Connected after the window's own reaction: counts reactions that ended.
    QObject::connect(form.alfa, &platform::Winsock::DataArrival, [] { ++arrivals; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0; // nothing arrives
    quillharbor& form = fuzzagent::window();
    // Logged in, with a transfer running: http links wait in the spool
    // instead of being fetched.
    principal::connstate = 2;
    form.bajando = true;

    const int before = arrivals;
    serverside->write(reinterpret_cast<const char*>(data), qint64(size));
    serveuntil([&] {
        return arrivals > before && serverside->bytesToWrite() == 0 &&
               agentside->bytesAvailable() == 0 && unread() == 0;
    });
    if (form.alfa->State() != platform::Winsock::sckConnected) std::abort();

    // Keep what grows with every message small.
    form.spoollist->clear();
    fuzzagent::remove(QStringLiteral("log.txt"));
    return 0;
}
