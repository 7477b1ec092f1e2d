// How a job running on the GUI thread lets the window system work between
// sectors (repaint, the stop button). Replaceable so that tests can act at
// exactly that point.
#pragma once

#include <functional>

namespace sorvel {

// Lets pending window events run (or calls the installed replacement). The
// window system gets a turn at most every few milliseconds, however often
// this is called. Off the GUI thread it does nothing.
void PumpMessages();

// Installs `pump` for PumpMessages; an empty function restores the default.
// Returns the previous one.
std::function<void()> InstallMessagePump(std::function<void()> pump);

}  // namespace sorvel
