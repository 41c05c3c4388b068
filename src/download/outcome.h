#pragma once
#include "download/reasons.h"

#include <QString>

// How a link the built-in downloader was meant for ended, told the same way
// everywhere: the alerts line (with the time, black when saved, red when
// not), a line in the log, and the tray icon's message while the window is
// in the tray.
namespace descargas {

// "Saved setup.zip", "Not saved setup.zip: 404 Not Found": the file's name
// (`name`, or the one the link gives) as the user may read it safely; the
// link without its secrets (credentials, query, fragment) when it names no
// file.
QString outcometext(const QString& link, const failure& result, const QString& name = QString());

void outcome(const QString& link, const failure& result, const QString& name = QString());

} // namespace descargas
