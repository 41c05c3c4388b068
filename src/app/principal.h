#pragma once
#include <QString>
#include <functional>

class quillharbor;

// Program-wide values and the start-up procedure.
namespace principal {

// The program's own version numbers and their text, e.g. "0.9.9".
int major();
int minor();
int revision();
extern QString appversion;
// "Quillharbor " and the version: the window's caption and the tray's tip.
QString programname();

// What the user wants of the connection: 0 none, 3 wanted but not logged
// in, 2 logged in.
extern qint16 connstate;

// 1 once the user has started a connection; stored as "umsg".
extern qint16 umsgflag;

// The start-up procedure: builds and labels the main window, applies the
// stored settings and spool, logs in automatically when asked, shows it.
void Main();

// The main window. It exists from Main (or from its construction in tests)
// until the program ends.
quillharbor& mainwindow();
bool hasmainwindow();
void setmainwindow(quillharbor* window);

// Ends the process at once: nothing after it runs. Tests that run
// shutdown in-process replace the ending with their own (which returns).
void endprogram();
void setendprogram(std::function<void()> ending);

} // namespace principal
