// The power action after a disc job, shared by the dialogs that write discs:
// when the user ticked "書き込み後に計算機の電源を切る(&H)" and a job that was
// not stopped ran for more than a minute, the action the settings name for
// the outcome runs, and its kind decides whether the result message follows.
#pragma once

#include <cstdint>

#include "platform/clock.h"

namespace sorvel {

// The start of a job on the monotonic clock (platform::GetClock, which tests
// replace), so that wall-clock changes neither trigger nor suppress the action.
class JobStartTime {
 public:
  JobStartTime() : start_(platform::GetClock().Now()) {}
  void Restart() { start_ = platform::GetClock().Now(); }
  // Whole seconds since the start.
  int64_t ElapsedSeconds() const { return platform::ElapsedMs(start_) / 1000; }

 private:
  platform::Clock::TimePoint start_;
};

// Whether the power action is due: ticked, not stopped, and more than 60
// whole seconds since `start`.
bool ShutdownActionDue(bool shutdown_ticked, bool cancelled, const JobStartTime& start);

// Runs the power action that the settings name for a successful or failed job
// (ShutdownSuccess, ShutdownFailed). True when the dialog shall go on to its
// result message: the code is 0, the action returns after a resume (standby,
// hibernate), or the system refused the action; false after a power-off,
// shutdown or restart was accepted.
bool RunShutdownAction(bool success);

// The whole check as the dialogs make it after a job: when the action is due,
// runs it for `success` and sets `cancelled` when no result message shall
// follow. Returns whether the action was due.
bool CheckShutdownAction(bool shutdown_ticked, bool& cancelled, const JobStartTime& start, bool success);

}  // namespace sorvel
