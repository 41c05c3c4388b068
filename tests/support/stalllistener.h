#pragma once
// A loopback port whose listening socket never accepts and whose queue is
// already full: a connection attempt to it stays in "connecting".
#include <QTcpSocket>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

class StallListener {
  public:
    StallListener() : fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd, 0) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length))
            return;
        number = ntohs(address.sin_port);
        // With the accept queue full, the system drops further connection
        // requests instead of refusing them, so the next one keeps waiting.
        for (bool connected = true; connected && fillers.size() < 8;) {
            fillers.push_back(std::make_unique<QTcpSocket>());
            fillers.back()->connectToHost(QStringLiteral("127.0.0.1"), number);
            connected = fillers.back()->waitForConnected(1000);
        }
    }
    ~StallListener() { ::close(fd); }
    quint16 port() const { return number; }

  private:
    int fd = -1;
    quint16 number = 0;
    std::vector<std::unique_ptr<QTcpSocket>> fillers;
};

} // namespace testsupport
