#pragma once
#include <QIcon>
#include <QList>
#include <QPair>
#include <QString>
#include <functional>
#include <optional>

class QSystemTrayIcon;
class QWidget;

// The notification-area (tray) icon: one record names the icon by its window
// and id (so adding it twice keeps one icon, and removing it needs only the
// name), and mouse activity over the icon comes back as a mouse message
// number, which the window's reaction sorts out.
namespace platform {

constexpr int NIM_ADD = 0;
constexpr int NIM_MODIFY = 1;
constexpr int NIM_DELETE = 2;
constexpr int NIF_MESSAGE = 1;
constexpr int NIF_ICON = 2;
constexpr int NIF_TIP = 4;
constexpr int NIF_INFO = 0x10;
constexpr int WM_MOUSEMOVE = 0x200;
constexpr int WM_LBUTTONUP = 0x202;
constexpr int WM_LBUTTONDBLCLK = 0x203;
constexpr int WM_RBUTTONUP = 0x205;
constexpr int WM_MBUTTONUP = 0x208;

// A tooltip holds at most this many characters.
constexpr int tiplength = 63;

struct NotifyIconData {
    QWidget* window = nullptr;
    int id = 0;
    int flags = 0;
    // Receives the mouse message that happened over the icon.
    std::function<void(int message)> callback;
    QIcon icon;
    QString tip;
    // A message to show beside the icon (NIF_INFO), with its title.
    QString info;
    QString infotitle;
};

// Adds (NIM_ADD), changes (NIM_MODIFY) or deletes (NIM_DELETE) the icon
// (window, id). Adding an icon that is already there is refused and the
// existing one stays; changing or deleting one that is not there is refused.
// False when refused. A change with NIF_INFO shows its message.
bool Shell_NotifyIcon(int operation, const NotifyIconData& data);

// The icon (window, id) while it exists, else nullptr.
QSystemTrayIcon* trayicon(const QWidget* window, int id);

// The last messages the icon (window, id) has shown (a few), oldest first:
// title, text.
QList<QPair<QString, QString>> traymessages(const QWidget* window, int id);

// How many icons the program has up.
int trayiconcount();

// Whether the desktop offers a tray at all. Tests may decide it for
// themselves; std::nullopt asks the desktop again.
bool trayavailable();
void settrayavailable(std::optional<bool> available);

// Brings the window back from the tray: shown, normal, raised and active.
void restorewindow(QWidget* window);

} // namespace platform
