#pragma once
#include <QString>
#include <QStringList>

// Handing things to the desktop and to other programs. Nothing here goes
// through a command shell: texts from outside are passed as whole arguments.
namespace platform {

// The product website address (a build setting).
QString website();

// Opens the product website in the user's browser.
void openwebsite();

// Opens a link with the program the desktop associates with its scheme.
bool openlink(const QString& link);

// Starts a program with these arguments and does not wait for it.
bool runprogram(const QString& program, const QStringList& arguments);

} // namespace platform
