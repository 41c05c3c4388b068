#pragma once
#include <QString>
#include <QStringList>

// The settings file vars.ini and the spool file spool.ini, beside the program.
namespace principal {

QString varspath();
QString spoolpath();

// Applies each line of vars.ini to the main window as it is read.
void readvars();

// Appends each line of spool.ini, unchanged, to the end of the spool list.
void readspool();

// Replaces vars.ini with the six settings lines of the main window's state.
bool writevars();

// Replaces spool.ini with these entries, one a line.
bool writespool(const QStringList& entries);

} // namespace principal
