// The power action after a job with a recording power interface: the due
// check on the monotonic clock, the code per outcome, and whether the result
// message follows.
#include "gui/dialogs/power_action.h"

#include <gtest/gtest.h>

#include <QStringList>

#include "gui/foundation/application_setting.h"
#include "gui/dialogs/dialog_test_support.h"
#include "testing/gui/recording_power_backend.h"
#include "testing/manual_clock.h"

namespace sorvel {
namespace {

class PowerActionTest : public ::testing::Test {
 protected:
  PowerActionTest() { power_.accept_actions = true; }
  // The power actions asked for, in order.
  QString Actions() const {
    QStringList actions;
    for (const QString& call : power_.calls)
      if (!call.startsWith(QStringLiteral("acquire")) && call != QStringLiteral("release")) actions << call;
    return actions.join(',');
  }
  void SetCodes(int32_t success, int32_t failed) {
    Settings()->SetShutdownSuccess(success);
    Settings()->SetShutdownFailed(failed);
  }

  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScopedManualClock clock_;
  testing::RecordingPowerBackend power_;
};

TEST_F(PowerActionTest, DueOnlyAfterMoreThanSixtyWholeSecondsOfAJobNotStopped) {
  struct Case {
    int elapsed_ms;
    bool ticked;
    bool cancelled;
    bool due;
  } cases[] = {
      {60999, true, false, false}, {61000, true, false, true},  {60000, true, false, false},
      {3600000, false, false, false}, {3600000, true, true, false}, {0, true, false, false},
  };
  for (const Case& c : cases) {
    JobStartTime start;
    clock_.clock().Advance(std::chrono::milliseconds(c.elapsed_ms));
    EXPECT_EQ(ShutdownActionDue(c.ticked, c.cancelled, start), c.due) << c.elapsed_ms;
  }
}

TEST_F(PowerActionTest, CodeDecidesTheCallAndWhetherTheMessageFollows) {
  struct Case {
    int32_t code;
    const char* call;  // "" for none
    bool message;
  } cases[] = {
      {0, "", true},
      {8, "poweroff", false},
      {1, "poweroff", false},
      {2, "reboot", false},
      {8 | 4, "poweroff", false},
      {0x8000, "suspend", true},
      {0x4000, "hibernate", true},
  };
  for (const Case& c : cases) {
    for (bool success : {true, false}) {
      power_.calls.clear();
      SetCodes(success ? c.code : 0, success ? 0 : c.code);
      EXPECT_EQ(RunShutdownAction(success), c.message) << c.code;
      EXPECT_EQ(Actions(), QString::fromLatin1(c.call)) << c.code;
    }
  }
}

TEST_F(PowerActionTest, RefusedActionStillShowsTheMessage) {
  power_.accept_actions = false;
  SetCodes(8, 2);
  EXPECT_TRUE(RunShutdownAction(true));
  EXPECT_TRUE(RunShutdownAction(false));
  EXPECT_EQ(Actions(), QStringLiteral("poweroff,reboot"));
}

TEST_F(PowerActionTest, DefaultsPowerOffOnlyAfterASuccessfulLongJob) {
  // Fresh settings: 8 after success, 0 after failure.
  EXPECT_EQ(Settings()->ShutdownSuccess(), 8);
  EXPECT_EQ(Settings()->ShutdownFailed(), 0);
  struct Case {
    int elapsed_ms;
    bool success;
    bool cancelled_before;
    bool cancelled_after;
    const char* calls;
  } cases[] = {
      {61000, true, false, true, "poweroff"},
      {61000, false, false, false, ""},
      {60999, true, false, false, ""},
      {120000, true, true, true, ""},
  };
  for (const Case& c : cases) {
    power_.calls.clear();
    JobStartTime start;
    clock_.clock().Advance(std::chrono::milliseconds(c.elapsed_ms));
    bool cancelled = c.cancelled_before;
    CheckShutdownAction(true, cancelled, start, c.success);
    EXPECT_EQ(cancelled, c.cancelled_after) << c.elapsed_ms << ' ' << c.success;
    EXPECT_EQ(Actions(), QString::fromLatin1(c.calls));
  }
}

}  // namespace
}  // namespace sorvel
