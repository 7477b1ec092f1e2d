#include "native_common/sleep.h"

#include "platform/clock.h"

namespace sorvel {

void Sleep(int32_t milliseconds) {
  if (milliseconds <= 0) return;
  platform::GetClock().SleepFor(std::chrono::milliseconds(milliseconds));
}

}  // namespace sorvel
