#pragma once
#include <QString>

// Decides how one link is fetched: logs it, then hands an ed2k link to the
// desktop, and an http or https link to an external download manager, to
// the built-in downloader, or to the spool while a transfer runs. A link of
// any other scheme ends there, with an outcome that says so.
void dispatchlink(const QString& link);
