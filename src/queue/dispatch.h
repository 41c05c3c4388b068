#pragma once
#include <QString>

// Decides how one link is fetched: logs it, then hands it to the desktop,
// to an external download manager, to the built-in downloader, or to the
// spool while a transfer runs.
void dispatchlink(const QString& link);
