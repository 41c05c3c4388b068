#pragma once
#include <QString>
#include <functional>

namespace descargas {

// The one question the downloader asks: a modal Yes/No message box with an
// exclamation icon, Yes the default. True for Yes. Unanswered, it takes its
// default after a while (two minutes), the time left shown on that button:
// an agent left alone in the tray never waits for good.
bool askuser(const QString& title, const QString& text);

// How long the question waits for an answer (tests shorten it).
void setanswerwait(int ms);

// Tests answer the question ahead of time: while an answerer is set it is
// called instead of showing the box (it may look at the disk first); an
// empty function restores the box.
void setanswerer(std::function<bool(const QString& title, const QString& text)> answerer);

} // namespace descargas
