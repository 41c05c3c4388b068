#include "system/tray.h"

#include "app/principal.h"
#include "app/quillharbor.h"
#include "platform/inert.h"
#include "platform/resstrings.h"

#include <QPointer>
#include <QTimer>

namespace {
const int iconid = 1;
const int iconflags = platform::NIF_MESSAGE + platform::NIF_ICON + platform::NIF_TIP;

int gatherms = 3000;
// The ends told since the first one that is still to be shown.
QStringList texts;
int saved = 0;
QPointer<quillharbor> gathering; // the window whose message is due

// "3 files saved", "1 file not saved", or both.
QString counted(int count, int one, int many) {
    return platform::LoadResString(count == 1 ? one : many)
        .replace(QLatin1String("{n}"), QString::number(count));
}

QString gatheredtext() {
    if (texts.size() == 1) return texts.first();
    QStringList parts;
    if (saved > 0) parts << counted(saved, 152, 153);
    const int notsaved = int(texts.size()) - saved;
    if (notsaved > 0) parts << counted(notsaved, 154, 155);
    return parts.join(QLatin1String(", "));
}

void showgathered() {
    if (gathering && !texts.isEmpty()) {
        platform::NotifyIconData data =
            tray::makeicondata(gathering, iconid, platform::NIF_INFO, nullptr, QIcon(), QString());
        data.infotitle = tray::tooltip();
        data.info = gatheredtext();
        platform::Shell_NotifyIcon(platform::NIM_MODIFY, data);
    }
    texts.clear();
    saved = 0;
    gathering = nullptr;
}
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

void tell(quillharbor& form, const QString& text, bool done) {
    const bool intray = hidesonminimise() && platform::trayicon(&form, iconid) && form.isHidden();
    if (!intray) return;
    if (gathering != &form) {
        texts.clear();
        saved = 0;
        gathering = &form;
        QTimer::singleShot(gatherms, &form, showgathered);
    }
    texts << platform::inert(text); // as the alerts line shows it
    saved += done ? 1 : 0;
}

void setgatherms(int ms) {
    gatherms = ms;
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
