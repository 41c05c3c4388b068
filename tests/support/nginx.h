#pragma once
// A private nginx serving one folder on a free loopback port, with its own
// temporary prefix and configuration; it runs as the current user and stops
// with this object.
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class Nginx {
  public:
    explicit Nginx(const QString& root);
    ~Nginx();
    // Before start(): serve over TLS and HTTP/2 instead, with a certificate
    // for 127.0.0.1 made for this server (authority()), and answer on the
    // plain port with a redirect there.
    void redirecttotls() { tls = true; }
    // Before start(): more directives for the plain server ("limit_rate 1m;").
    void configure(const QString& directives) { extra = directives; }
    // False (see error()) when nginx or openssl is missing or would not start.
    // Started again after stop(), it listens on the same port.
    bool start();
    void stop();
    quint16 port() const { return listening; }
    QString url(const QString& name) const;      // on the plain port
    QString httpsurl(const QString& name) const; // on the TLS port
    QString error() const { return problem; }
    QString authority() const { return prefix.filePath("server.pem"); }
    // The TLS server's requests so far (or the plain one's), one line each:
    // protocol, status, Range.
    QByteArray accesslog(bool plain = false) const;

  private:
    QString root;
    QTemporaryDir prefix;
    QProcess process;
    quint16 listening = 0;
    quint16 tlsport = 0;
    bool tls = false;
    QString extra;
    QString problem;
};

} // namespace testsupport
