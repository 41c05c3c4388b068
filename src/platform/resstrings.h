#pragma once
#include <QString>

// The program's string table: captions, hints and alerts by number, in
// English or Spanish.
namespace platform {

enum class Language { English, Spanish };

// The text of string `id` in the current language; "" when there is none.
QString LoadResString(int id);

// Spanish for any Spanish locale of the system, English otherwise.
Language systemlanguage();

// The language LoadResString answers in (the system's unless overridden).
Language currentlanguage();

// Tests pick a language explicitly; resetlanguage() goes back to the system's.
void setlanguage(Language language);
void resetlanguage();

} // namespace platform
