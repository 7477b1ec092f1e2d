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
  // The idle time passes while objects live; that does not end the wait,
  // the grace period after the last one does.
  RunWhileAutomationObjectsLive(10, 100);
  EXPECT_TRUE(alive_after_first);
  EXPECT_EQ(AutomationObjectCount(), 0);
  EXPECT_GE(clock.elapsed(), 155);
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
  RunWhileAutomationObjectsLive(20, 50);
  EXPECT_GE(clock.elapsed(), 125);
  EXPECT_EQ(AutomationObjectCount(), 0);
}

// A client that releases its last object and makes the next one a moment
// later, or whose call still runs with no object left, finds the server
// still there: only a whole grace period without either ends it.
TEST(AutomationHostTest, EndsOnlyAfterAGracePeriodWithoutObjectsAndCalls) {
  AutomationObjectCreated();
  QTimer::singleShot(20, [] { AutomationObjectReleased(); });
  bool alive_for_next = false;
  QTimer::singleShot(120, [&] {
    alive_for_next = true;
    AutomationObjectCreated();  // within the grace period: the same server
  });
  QTimer::singleShot(140, [] {
    AutomationCallStarted();  // a call outliving its object
    AutomationObjectReleased();
  });
  QTimer::singleShot(400, [] { AutomationCallEnded(); });
  // An object made and ended between two looks of the loop still counts.
  QTimer::singleShot(500, [] {
    AutomationObjectCreated();
    AutomationObjectReleased();
  });
  QElapsedTimer clock;
  clock.start();
  RunWhileAutomationObjectsLive(10, 200);
  EXPECT_TRUE(alive_for_next);
  EXPECT_GE(clock.elapsed(), 695);
  EXPECT_LT(clock.elapsed(), 5000);
}

}  // namespace
}  // namespace sorvel
