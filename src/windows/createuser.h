#pragma once
#include "windows/noticewindow.h"

// Tells a new user to create an account on the product website first.
namespace createuser {
// Shows the one window, modeless, creating it when needed.
void Show();
// The open window, or nullptr.
noticewindow* instance();
} // namespace createuser
