#pragma once
#include "windows/noticewindow.h"

// Tells the user that the server expects another version of the agent.
namespace pleaseupdate {
// Shows the one window, modeless, creating it when needed; an open window
// is brought forward.
void Show();
// The open window, or nullptr.
noticewindow* instance();
} // namespace pleaseupdate
