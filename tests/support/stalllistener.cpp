#include "support/stalllistener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

StallListener::StallListener() {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd, 0) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length))
        return;
    number = ntohs(address.sin_port);
    // With the accept queue full, the system drops further connection
    // requests instead of refusing them, so the next one keeps waiting.
    for (int i = 0; i < 8; ++i) {
        auto filler = std::make_unique<QTcpSocket>();
        filler->connectToHost(QStringLiteral("127.0.0.1"), number);
        const bool connected = filler->waitForConnected(1000);
        fillers.push_back(std::move(filler));
        if (!connected) break;
    }
}

StallListener::~StallListener() {
    fillers.clear();
    if (fd >= 0) ::close(fd);
}

} // namespace testsupport
