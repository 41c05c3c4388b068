#pragma once
#include <QString>

namespace descargas {

// Writes `value` through a digit mask: "0" a digit always shown, "#" a digit
// shown only when significant, "." the decimal separator. The value is
// rounded to the mask's last digit place, halves away from zero; no
// thousands separators; the decimal separator is the system's regional one.
// An empty mask gives the shortest general form (up to 15 significant digits).
QString formatmask(double value, const QString& mask);

} // namespace descargas
