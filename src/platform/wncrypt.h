#pragma once
#include <QString>
#include <QTime>

// The outside component that supplies the About window's extra line. It is
// looked up by name when it is needed: a library "wncrypt" (libwncrypt.so,
// wncrypt.dll) in the system's library search path, exporting
//     extern "C" const char* GetVersionWnCrypt(double time);
// `time` is the time of day as a fraction of a day (0.5 is noon), the
// library keeps the returned UTF-8 text alive. Nothing here requires it.
namespace platform {

// Looks up another library than "wncrypt" (tests).
void setwncryptlibrary(const QString& name);

// The component's text for `time`; "" when there is no component or no text.
QString GetVersionWnCrypt(const QTime& time);

} // namespace platform
