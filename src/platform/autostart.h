#pragma once
#include <QString>

// Starting a program when the user logs in to the desktop. On Windows this is
// a value under the machine-wide Run key; elsewhere a desktop autostart entry,
// $XDG_CONFIG_HOME/autostart/<name in lower case>.desktop.
namespace platform {

// What the login should start: the running executable's full path. On Windows
// the program's folder, "\", its base name and ".exe", as it is registered.
QString autostartcommand();

// Registers `command` under `name`; false when it could not be written.
bool setautostart(const QString& name, const QString& command);

// Unregisters `name`; false when there was nothing to remove or it could not be.
bool removeautostart(const QString& name);

// Where the desktop entry for `name` lives (not used on Windows).
QString autostartentry(const QString& name);

// `program` as one argument of a desktop entry's Exec line: in double quotes,
// with the characters the entry format reserves escaped.
QString desktopexec(const QString& program);

} // namespace platform
