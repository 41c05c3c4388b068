#pragma once
#include <QString>

// Where the program keeps its files. Every path it writes is derived from
// apppath(), so tests can run the real code in a temporary folder.
namespace platform {

// The folder that holds the state files and the log, without a trailing
// separator: the executable's folder when it is writable (the portable
// layout), the user's data folder otherwise (a system-wide install).
QString apppath();

// Makes apppath() answer `folder` from now on (tests; "" restores the default).
void setapppath(const QString& folder);

// apppath() + separator + name.
QString appfile(const QString& name);

// Full path of the running executable.
QString exepath();

// The platform's path separator: "\" on Windows, "/" elsewhere.
QString separator();

} // namespace platform
