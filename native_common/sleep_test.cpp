#include "native_common/sleep.h"

#include <gtest/gtest.h>

#include "testing/manual_clock.h"

namespace sorvel {
namespace {

TEST(SleepTest, SleepsOnTheProcessClock) {
  testing::ScopedManualClock clock;
  auto start = clock.clock().Now();
  Sleep(250);
  EXPECT_EQ(clock.clock().Now() - start, std::chrono::milliseconds(250));
  Sleep(0);
  Sleep(-5);
  EXPECT_EQ(clock.clock().Now() - start, std::chrono::milliseconds(250));
}

}  // namespace
}  // namespace sorvel
