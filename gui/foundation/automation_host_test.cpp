#include "gui/foundation/automation_host.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

namespace sorvel {
namespace {

TEST(AutomationHostTest, RunsUntilTheLastObjectIsReleased) {
  AutomationObjectCreated();
  AutomationObjectCreated();
  QTimer::singleShot(20, [] { AutomationObjectReleased(); });
  bool alive_after_first = false;
  QTimer::singleShot(40, [&] { alive_after_first = AutomationObjectCount() == 1; });
  QTimer::singleShot(60, [] { AutomationObjectReleased(); });
  QElapsedTimer clock;
  clock.start();
  // The idle time passes while objects live; that does not end the wait.
  RunWhileAutomationObjectsLive(10);
  EXPECT_TRUE(alive_after_first);
  EXPECT_EQ(AutomationObjectCount(), 0);
  EXPECT_GE(clock.elapsed(), 55);
  EXPECT_LT(clock.elapsed(), 5000);
}

TEST(AutomationHostTest, NoObjectEndsAfterTheIdleTime) {
  QElapsedTimer clock;
  clock.start();
  RunWhileAutomationObjectsLive(30);
  EXPECT_GE(clock.elapsed(), 25);
  EXPECT_LT(clock.elapsed(), 5000);
  clock.restart();
  RunWhileAutomationObjectsLive(0);
  EXPECT_LT(clock.elapsed(), 1000);
}

TEST(AutomationHostTest, ObjectCreatedDuringTheIdleTimeKeepsItRunning) {
  QTimer::singleShot(5, [] { AutomationObjectCreated(); });
  QTimer::singleShot(80, [] { AutomationObjectReleased(); });
  QElapsedTimer clock;
  clock.start();
  RunWhileAutomationObjectsLive(20);
  EXPECT_GE(clock.elapsed(), 75);
  EXPECT_EQ(AutomationObjectCount(), 0);
}

}  // namespace
}  // namespace sorvel
