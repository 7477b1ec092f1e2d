// Elapsed-time source for time-outs and schedules. Tests replace it with a
// manual clock; everything else uses std::chrono::steady_clock.
#pragma once

#include <chrono>

namespace sorvel::platform {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint Now() const = 0;
  virtual void SleepFor(std::chrono::milliseconds duration) = 0;
};

// The clock in use (the steady system clock unless a test installed another).
Clock& GetClock();

// Installs `clock` for the whole process; nullptr restores the system clock.
// The caller keeps ownership and must restore before destroying it.
void SetClock(Clock* clock);

// Milliseconds elapsed on the current clock since `start`.
long long ElapsedMs(Clock::TimePoint start);

}  // namespace sorvel::platform
