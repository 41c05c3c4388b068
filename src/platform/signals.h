#pragma once
#include <functional>

namespace platform {

// Runs `shutdown` on the GUI thread when the process is asked to end
// (SIGTERM, SIGINT, SIGHUP) or the desktop session ends, so those ends save
// the same state as closing the window.
void onterminate(std::function<void()> shutdown);

} // namespace platform
