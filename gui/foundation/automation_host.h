// The automation start mode: started with the one switch "--automation" (by
// the session bus, for a client), the program shows no window and serves its
// automation objects until it has been idle for a grace period: no object
// alive and no call running.
#pragma once

#include <QStringList>

namespace sorvel {

// The switch of the automation start mode.
inline constexpr char kAutomationSwitch[] = "--automation";

// How long the server stays once idle: a client that releases its last
// object and makes a new one within this time finds the same server.
inline constexpr int kAutomationGraceMs = 5000;

// Whether the program's arguments (without the program name) ask for the
// automation start mode: exactly the one switch.
bool IsAutomationStart(const QStringList& arguments);

// Counts the automation objects alive in the process. Every object calls
// Created once when made and Released once when destroyed, on any thread.
void AutomationObjectCreated();
void AutomationObjectReleased();
int AutomationObjectCount();

// Counts the calls of clients still running (on a worker, answered later),
// on any thread.
void AutomationCallStarted();
void AutomationCallEnded();
int AutomationCallCount();

// Runs the event loop until the process has been idle (no automation object,
// no call running) for `idle_ms` when no object has lived yet (a client that
// started the program and went away without creating one), and for
// `grace_ms` after one has. Returns at once when idle and `idle_ms` is 0.
void RunWhileAutomationObjectsLive(int idle_ms, int grace_ms = kAutomationGraceMs);

}  // namespace sorvel
