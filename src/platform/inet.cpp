#include "platform/inet.h"

namespace platform {

Inet::Inet(QObject* parent) : QObject(parent) {}
Inet::~Inet() = default;

} // namespace platform
