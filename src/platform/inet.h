#pragma once
#include <QByteArray>
#include <QObject>
#include <QString>

namespace platform {

// The HTTP client of the built-in downloader, offering the seven operations
// the downloader was designed around.
class Inet : public QObject {
    Q_OBJECT
public:
    explicit Inet(QObject* parent = nullptr);
    ~Inet() override;

    QString URL;
    QString UserName;
    QString Password;
};

} // namespace platform
