#pragma once
#include <QString>
#include <QStringList>

namespace platform {
class FollowingFile;
}

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

// spool.ini, kept current with the spool's entries (comandospool::spoolentries),
// one a line, whatever happens to the program: a link that reaches the agent
// is in the file at once; links that leave it or move are written within a
// short while, and the whole file at once at shutdown.
platform::FollowingFile& spoolfile();

} // namespace principal
