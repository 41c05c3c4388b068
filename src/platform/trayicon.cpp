#include "platform/trayicon.h"

#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <map>
#include <utility>

namespace platform {

namespace {
using Key = std::pair<const QWidget*, int>;
std::map<Key, QPointer<QSystemTrayIcon>> icons;
std::map<Key, QList<QPair<QString, QString>>> messages;
std::optional<bool> availableoverride;
constexpr qsizetype keptmessages = 16;

int mousemessage(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return WM_LBUTTONUP;
    case QSystemTrayIcon::DoubleClick:
        return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::Context:
        return WM_RBUTTONUP;
    case QSystemTrayIcon::MiddleClick:
        return WM_MBUTTONUP;
    default:
        return WM_MOUSEMOVE;
    }
}
} // namespace

bool Shell_NotifyIcon(int operation, const NotifyIconData& data) {
    const Key key{data.window, data.id};
    auto found = icons.find(key);
    if (found != icons.end() && !found->second)
        found = icons.erase(found); // its window took it along
    if (operation == NIM_ADD) {
        if (found != icons.end()) return false;
        auto* icon = new QSystemTrayIcon(data.window);
        if (data.flags & NIF_ICON) icon->setIcon(data.icon);
        if (data.flags & NIF_TIP) icon->setToolTip(data.tip);
        if ((data.flags & NIF_MESSAGE) && data.callback) {
            QObject::connect(icon, &QSystemTrayIcon::activated,
                             [callback = data.callback](QSystemTrayIcon::ActivationReason reason) {
                                 callback(mousemessage(reason));
                             });
        }
        icon->show();
        icons[key] = icon;
        messages.erase(key);
        return true;
    }
    if (operation == NIM_MODIFY) {
        if (found == icons.end()) return false;
        if (data.flags & NIF_TIP) found->second->setToolTip(data.tip);
        if (data.flags & NIF_INFO) {
            found->second->showMessage(data.infotitle, data.info);
            // The last few stay for a look afterwards; the program may run for months.
            auto& shown = messages[key];
            shown.append({data.infotitle, data.info});
            if (shown.size() > keptmessages) shown.removeFirst();
        }
        return true;
    }
    if (operation == NIM_DELETE) {
        if (found == icons.end()) return false;
        messages.erase(key);
        QSystemTrayIcon* icon = found->second;
        icons.erase(found);
        icon->hide();
        delete icon;
        return true;
    }
    return false;
}

QSystemTrayIcon* trayicon(const QWidget* window, int id) {
    const auto found = icons.find(Key{window, id});
    return found == icons.end() ? nullptr : found->second.data();
}

QList<QPair<QString, QString>> traymessages(const QWidget* window, int id) {
    const auto found = messages.find(Key{window, id});
    if (!trayicon(window, id) || found == messages.end()) return {};
    return found->second;
}

int trayiconcount() {
    int count = 0;
    for (const auto& entry : icons)
        count += entry.second ? 1 : 0;
    return count;
}

bool trayavailable() {
    if (availableoverride) return *availableoverride;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void settrayavailable(std::optional<bool> available) {
    availableoverride = available;
}

void restorewindow(QWidget* window) {
    // Normal state first, then shown: a window shown while still minimised
    // would only come back as a taskbar entry.
    window->showNormal();
    window->raise();
    window->activateWindow();
}

} // namespace platform
