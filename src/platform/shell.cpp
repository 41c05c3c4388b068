#include "platform/shell.h"

#include "config.h"

#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

#ifdef Q_OS_WIN
// shellapi.h relies on the types windows.h declares.
#include <windows.h>

#include <shellapi.h>
#endif

namespace platform {

QString website() {
    return QStringLiteral(QH_WEBSITE);
}

void openwebsite() {
    QDesktopServices::openUrl(QUrl(website()));
}

bool openlink(const QString& link) {
#ifdef Q_OS_WIN
    const std::wstring file = link.toStdWString();
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", file.c_str(), L"0", nullptr, SW_SHOWNORMAL));
    return result > 32;
#else
    const QUrl url(link, QUrl::StrictMode);
    if (url.isValid()) return QDesktopServices::openUrl(url);
    // Links that are not well-formed URLs (ed2k links carry "|" where a host
    // name would stand) go to the desktop's opener unchanged, as one argument.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {link});
#endif
}

bool runprogram(const QString& program, const QStringList& arguments) {
    if (program.isEmpty()) return false;
    return QProcess::startDetached(program, arguments);
}

} // namespace platform
