// The automation start mode: started with the one switch "--automation" (by
// the session bus, for a client), the program shows no window and serves its
// automation objects until the last one is released.
#pragma once

#include <QStringList>

namespace sorvel {

// The switch of the automation start mode.
inline constexpr char kAutomationSwitch[] = "--automation";

// Whether the program's arguments (without the program name) ask for the
// automation start mode: exactly the one switch.
bool IsAutomationStart(const QStringList& arguments);

// Counts the automation objects alive in the process. Every object calls
// Created once when made and Released once when destroyed.
void AutomationObjectCreated();
void AutomationObjectReleased();
int AutomationObjectCount();

// Runs the event loop while automation objects live: returns when the last one
// is released, or when none has been alive for `idle_ms` (a client that
// started the program and went away without creating one).
void RunWhileAutomationObjectsLive(int idle_ms);

}  // namespace sorvel
