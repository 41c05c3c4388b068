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
    // False (see error()) when nginx is missing or would not start.
    bool start();
    quint16 port() const { return listening; }
    QString url(const QString& name) const;
    QString error() const { return problem; }

  private:
    QString root;
    QTemporaryDir prefix;
    QProcess process;
    quint16 listening = 0;
    QString problem;
};

} // namespace testsupport
