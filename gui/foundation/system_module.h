// Keeping the machine awake during a disc job, the power action after it, and
// starting other programs.
#pragma once

#include <QString>
#include <cstdint>

namespace sorvel {

// Execution-state flags as the dialogs pass them.
constexpr uint32_t kEsContinuous = 0x80000000u;
constexpr uint32_t kEsSystemRequired = 0x00000001u;
constexpr uint32_t kEsDisplayRequired = 0x00000002u;

// Power action codes of the settings.
constexpr int32_t kPowerActionShutdown = 0x1;
constexpr int32_t kPowerActionReboot = 0x2;
constexpr int32_t kPowerActionForce = 0x4;
constexpr int32_t kPowerActionPowerOff = 0x8;
constexpr int32_t kPowerActionHibernate = 0x4000;
constexpr int32_t kPowerActionStandby = 0x8000;

// Continuous with the system or display required holds a sleep and idle
// inhibitor until a continuous call without them. Returns the previous state,
// or 0 when the inhibitor could not be taken.
uint32_t SetExecutionState(uint32_t flags);

// Standby (0x8000), hibernation (0x4000), power off (8 or 1) or reboot (2),
// each optionally with the force bit 4. Any other code (log-off 0 among them)
// does nothing and returns false. True when the system accepted the action.
bool ShutdownSystem(int32_t flags);

// Starts the command line (split as a shell would, without a shell). With
// `no_wait` false, waits for the program to end while the GUI's events run.
// False when the command line is blank or the program could not be started.
bool RunProcess(bool no_wait, const QString& command_line, int32_t creation_flags);
void RunCommand(bool no_wait, const QString& command_line);

}  // namespace sorvel
