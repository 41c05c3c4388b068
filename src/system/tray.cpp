#include "system/tray.h"

#include "app/principal.h"
#include "app/quillharbor.h"

namespace {
const int iconid = 1;
const int iconflags = platform::NIF_MESSAGE + platform::NIF_ICON + platform::NIF_TIP;
} // namespace

namespace tray {

platform::NotifyIconData makeicondata(QWidget* window, int id, int flags,
                                      std::function<void(int message)> callback, const QIcon& icon,
                                      const QString& tip) {
    platform::NotifyIconData data;
    data.window = window;
    data.id = id;
    data.flags = flags;
    data.callback = std::move(callback);
    data.icon = icon;
    data.tip = tip.left(platform::tiplength);
    return data;
}

QString tooltip() {
    return principal::programname();
}

bool hidesonminimise() {
    return platform::trayavailable();
}

void iconmessage(quillharbor& form, int message) {
    // Mouse activity over a window in plain sight is not the tray's business.
    if (form.isVisible() && !form.isMinimized()) return;
    if (message == platform::WM_LBUTTONUP) platform::restorewindow(&form);
}

} // namespace tray

void quillharbor::addicon() {
    // Put the icon up; a later minimise finds it there already, the
    // add is refused and the one icon stays.
    const QString tip = tray::tooltip();
    platform::Shell_NotifyIcon(platform::NIM_ADD,
                               tray::makeicondata(
                                   this, iconid, iconflags,
                                   [this](int message) { tray::iconmessage(*this, message); },
                                   windowIcon(), tip));
    // Hide the window, which takes it off the taskbar; where no tray could
    // show the icon it stays minimised, so the taskbar can still bring it back.
    if (tray::hidesonminimise()) hide();
}

void quillharbor::deleteicon() {
    platform::Shell_NotifyIcon(
        platform::NIM_DELETE,
        tray::makeicondata(this, iconid, iconflags, nullptr, windowIcon(), QString()));
}
