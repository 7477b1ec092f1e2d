#include "platform/clock.h"

#include <atomic>
#include <thread>

namespace sorvel::platform {
namespace {

class SystemClock final : public Clock {
 public:
  TimePoint Now() const override { return std::chrono::steady_clock::now(); }
  void SleepFor(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

SystemClock g_system_clock;
std::atomic<Clock*> g_clock{nullptr};

}  // namespace

Clock& GetClock() {
  Clock* c = g_clock.load(std::memory_order_acquire);
  return c ? *c : g_system_clock;
}

void SetClock(Clock* clock) { g_clock.store(clock, std::memory_order_release); }

long long ElapsedMs(Clock::TimePoint start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(GetClock().Now() - start).count();
}

}  // namespace sorvel::platform
