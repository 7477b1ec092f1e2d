#include "gui/dialogs/power_action.h"

#include "gui/foundation/application_setting.h"
#include "gui/foundation/system_module.h"

namespace sorvel {

namespace {

constexpr int64_t kMinimumJobSeconds = 60;
// Shutdown, reboot and power off: after these the machine does not come back.
constexpr int32_t kFinalActions = kPowerActionShutdown | kPowerActionReboot | kPowerActionPowerOff;

}  // namespace

bool ShutdownActionDue(bool shutdown_ticked, bool cancelled, const JobStartTime& start) {
  return shutdown_ticked && !cancelled && start.ElapsedSeconds() > kMinimumJobSeconds;
}

bool RunShutdownAction(bool success) {
  ApplicationSetting* settings = AcquireSettings();
  const int32_t code = success ? settings->ShutdownSuccess() : settings->ShutdownFailed();
  ReleaseSettings();
  if (code == 0) return true;
  // A refused action (the system's policy may forbid it) leaves the machine
  // running: the user still gets the outcome.
  if (!ShutdownSystem(code)) return true;
  return (code & kFinalActions) == 0;
}

bool CheckShutdownAction(bool shutdown_ticked, bool& cancelled, const JobStartTime& start, bool success) {
  if (!ShutdownActionDue(shutdown_ticked, cancelled, start)) return false;
  cancelled = !RunShutdownAction(success);
  return true;
}

}  // namespace sorvel
