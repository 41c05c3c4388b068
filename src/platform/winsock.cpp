#include "platform/winsock.h"

#include <QTcpSocket>

namespace platform {

Winsock::Winsock(QObject* parent) : QObject(parent), socket(new QTcpSocket(this)) {}
Winsock::~Winsock() = default;
void Winsock::Connect() {}
void Winsock::Close() {}
void Winsock::SendData(const QString&) {}
QString Winsock::GetData() { return QString(); }
int Winsock::State() const { return sckClosed; }

} // namespace platform
