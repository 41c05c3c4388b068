#pragma once
// A loopback port whose listening socket never accepts and whose queue is
// already full: a connection attempt to it stays in "connecting".
#include <QTcpSocket>
#include <memory>
#include <vector>

namespace testsupport {

class StallListener {
  public:
    StallListener();
    ~StallListener();
    quint16 port() const { return number; }

  private:
    int fd = -1;
    quint16 number = 0;
    std::vector<std::unique_ptr<QTcpSocket>> fillers;
};

} // namespace testsupport
