#include "platform/shell.h"

#include "config.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

namespace platform {

QString website() { return QStringLiteral(QH_WEBSITE); }

void openwebsite() { QDesktopServices::openUrl(QUrl(website())); }

bool openlink(const QString& link) {
    const QUrl url(link, QUrl::TolerantMode);
    if (!url.isValid())
        return false;
    return QDesktopServices::openUrl(url);
}

bool runprogram(const QString& program, const QStringList& arguments) {
    if (program.isEmpty())
        return false;
    return QProcess::startDetached(program, arguments);
}

} // namespace platform
