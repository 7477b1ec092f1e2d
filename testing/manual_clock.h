// A clock that moves only when told to (or when code under test sleeps on it).
#pragma once

#include <mutex>

#include "platform/clock.h"

namespace sorvel::testing {

class ManualClock final : public platform::Clock {
 public:
  TimePoint Now() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return now_;
  }
  void SleepFor(std::chrono::milliseconds duration) override { Advance(duration); }
  void Advance(std::chrono::milliseconds duration) {
    std::lock_guard<std::mutex> lock(mutex_);
    now_ += duration;
  }

 private:
  mutable std::mutex mutex_;
  TimePoint now_{};
};

// Installs a manual clock for the lifetime of the object.
class ScopedManualClock {
 public:
  ScopedManualClock() { platform::SetClock(&clock_); }
  ~ScopedManualClock() { platform::SetClock(nullptr); }
  ManualClock& clock() { return clock_; }

 private:
  ManualClock clock_;
};

}  // namespace sorvel::testing
