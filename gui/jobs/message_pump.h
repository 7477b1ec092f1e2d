// How a job running on the GUI thread lets the window system work between
// sectors (repaint, the stop button). Replaceable so that tests can act at
// exactly that point.
#pragma once

#include <functional>

namespace sorvel {

// Runs pending window events once (or the installed replacement).
void PumpMessages();

// Installs `pump` for PumpMessages; an empty function restores the default.
// Returns the previous one.
std::function<void()> InstallMessagePump(std::function<void()> pump);

}  // namespace sorvel
