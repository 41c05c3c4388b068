#pragma once
// While it lives, takes the links the program hands to the desktop for one
// scheme, instead of the desktop.
#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

namespace testsupport {

class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    explicit UrlCatcher(const QString& scheme) : scheme(scheme) {
        QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler(scheme); }
    QList<QUrl> opened;

  public slots:
    void open(const QUrl& url) { opened << url; }

  private:
    QString scheme;
};

} // namespace testsupport
