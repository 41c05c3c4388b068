#pragma once
// A private tinyproxy on a free loopback port, with its own configuration
// and log in a temporary folder, as Nginx does for nginx; it runs in the
// foreground and stops with this object.
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class TinyProxy {
  public:
    // With a user name, the proxy asks for it and `password` (Basic).
    explicit TinyProxy(const QString& user = QString(), const QString& password = QString());
    ~TinyProxy();
    // False (see error()) when tinyproxy is missing or would not start.
    bool start();
    void stop();
    quint16 port() const { return listening; }
    // "http://127.0.0.1:PORT", with the credentials when `credentials`.
    QString url(bool credentials = false) const;
    QString error() const { return problem; }
    // The requests it received so far, one line each ("GET http://... HTTP/1.1",
    // "CONNECT 127.0.0.1:443 HTTP/1.1").
    QByteArrayList requests() const;

  private:
    QString user;
    QString password;
    QTemporaryDir prefix;
    QProcess process;
    quint16 listening = 0;
    QString problem;
};

} // namespace testsupport
