#pragma once
#include <QString>

// Machine-wide settings addressed by their full registry path, for example
// "HKEY_LOCAL_MACHINE\SOFTWARE\SpeedBit\Download Accelerator\EXELOCATION"
// (the last component names the value). On Windows these are registry values
// (the 32-bit view, where the managers and the program register themselves).
// Elsewhere the component after "SOFTWARE" is the organisation, the next one
// the application and the rest the key, in the system-wide settings folder:
// /etc/xdg/SpeedBit/Download Accelerator.conf, key EXELOCATION.
// All three report failure only by their result; none shows anything.
namespace platform {

// The value as text; "" when the key or the value is missing or unreadable.
QString RegRead(const QString& path);

// Writes the value as a string; false when it could not be written.
bool RegWrite(const QString& path, const QString& data);

// Removes the value; false when it could not be removed.
bool RegDelete(const QString& path);

} // namespace platform
