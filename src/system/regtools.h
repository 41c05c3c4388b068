#pragma once
#include <QString>

// External download managers and starting with the desktop session.
namespace regtools {

// Full paths of the managers' executables; "" when not installed.
extern QString dapath;
extern QString grpath;

// Finds the installed managers and offers them on the main window.
void detectmanagers();

// Registers / unregisters the program to start when the user logs in.
void autostarton();
void autostartoff();

} // namespace regtools
