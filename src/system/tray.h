#pragma once
#include "platform/trayicon.h"

class QWidget;
class quillharbor;

// The main window's tray icon: minimising hides the window behind it, and
// releasing the left button over it brings the window back.
namespace tray {

// The record for the icon (window, id): flags say which of the callback,
// the picture and the tooltip count; the tooltip is cut to what the tray holds.
platform::NotifyIconData makeicondata(QWidget* window, int id, int flags,
                                      std::function<void(int message)> callback, const QIcon& icon,
                                      const QString& tip);

// "Quillharbor " and the program's version, e.g. "Quillharbor 0.9.9".
QString tooltip();

// Whether minimising may hide the window: only where a tray icon can bring it back.
bool hidesonminimise();

// A mouse message from over the icon: the left button released restores a
// window that is hidden or minimised; every other message is ignored.
void iconmessage(quillharbor& form, int message);

// The end of a transfer, told by the icon's message while the window is in
// the tray. Ends that come within a few seconds of the first are gathered
// into one message ("3 files saved"), so a long spool never floods the desktop.
void tell(quillharbor& form, const QString& text, bool saved);

// How long ends are gathered (tests shorten it).
void setgatherms(int ms);

} // namespace tray
