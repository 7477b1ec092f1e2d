#include "platform/service_state.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/service_manager.h"
#include "testing/manual_clock.h"

namespace sorvel::platform {
namespace {

class RecordingSink : public ServiceStatusSink {
 public:
  void Report(const ServiceStatus& status) override { reports.push_back(status); }
  std::vector<ServiceStatus> reports;
};

ServiceStatus Status(ServiceState state, uint32_t accepted, uint32_t check_point, uint32_t wait_hint,
                     uint32_t win32 = 0, uint32_t specific = 0) {
  ServiceStatus status;
  status.state = state;
  status.controls_accepted = accepted;
  status.check_point = check_point;
  status.wait_hint_ms = wait_hint;
  status.win32_exit_code = win32;
  status.service_exit_code = specific;
  return status;
}

TEST(ServiceStateMachine, StartRunStopSequence) {
  RecordingSink sink;
  ServiceStateMachine machine(&sink);
  ASSERT_TRUE(machine.BeginStart(1000));
  ASSERT_TRUE(machine.Checkpoint(2000));
  ASSERT_TRUE(machine.StartSucceeded());
  machine.Control(kServiceControlStop);
  ASSERT_TRUE(machine.Checkpoint(5000));
  ASSERT_TRUE(machine.Stopped());
  std::vector<ServiceStatus> expected{
      Status(ServiceState::kStartPending, 0, 0, 1000),
      Status(ServiceState::kStartPending, 0, 1, 2000),
      Status(ServiceState::kRunning, kServiceAcceptStop, 0, 0),
      Status(ServiceState::kStopPending, 0, 0, 0),
      Status(ServiceState::kStopPending, 0, 1, 5000),
      Status(ServiceState::kStopped, 0, 0, 0),
  };
  EXPECT_EQ(sink.reports, expected);
  for (const ServiceStatus& status : sink.reports) EXPECT_EQ(status.service_type, kServiceOwnProcess);
}

TEST(ServiceStateMachine, FailedStartNeverReportsRunning) {
  RecordingSink sink;
  ServiceStateMachine machine(&sink);
  machine.BeginStart(1000);
  ASSERT_TRUE(machine.StartFailed(9));
  ASSERT_EQ(sink.reports.size(), 2u);
  EXPECT_EQ(sink.reports[1], Status(ServiceState::kStopped, 0, 0, 0, kServiceSpecificError, 9));
  // Nothing more happens after the failure.
  EXPECT_FALSE(machine.StartSucceeded());
  EXPECT_FALSE(machine.Stopped());
  EXPECT_EQ(machine.state(), ServiceState::kStopped);
}

TEST(ServiceStateMachine, StopDuringStartIsKeptUntilRunning) {
  RecordingSink sink;
  ServiceStateMachine machine(&sink);
  machine.BeginStart(1000);
  machine.Control(kServiceControlStop);
  EXPECT_EQ(machine.state(), ServiceState::kStartPending);
  machine.StartSucceeded();
  EXPECT_EQ(machine.state(), ServiceState::kStopPending);
  ASSERT_EQ(sink.reports.size(), 4u);
  EXPECT_EQ(sink.reports[1].state, ServiceState::kStartPending);  // the control's own report
  EXPECT_EQ(sink.reports[2].state, ServiceState::kRunning);
  EXPECT_EQ(sink.reports[3].state, ServiceState::kStopPending);
}

TEST(ServiceStateMachine, OtherControlsOnlyReport) {
  RecordingSink sink;
  ServiceStateMachine machine(&sink);
  machine.BeginStart(1000);
  machine.StartSucceeded();
  machine.Control(4);  // interrogate
  ASSERT_EQ(sink.reports.size(), 3u);
  EXPECT_EQ(sink.reports[2], sink.reports[1]);
  EXPECT_FALSE(machine.Stopped());  // STOPPED only from STOP_PENDING
  EXPECT_FALSE(machine.Checkpoint(10));
  EXPECT_FALSE(machine.BeginStart(1000));
}

TEST(ServiceStateMachine, ConcurrentStopControlsGiveOneStopPending) {
  RecordingSink sink;
  ServiceStateMachine machine(&sink);
  machine.BeginStart(1000);
  machine.StartSucceeded();
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&] { machine.Control(kServiceControlStop); });
  for (std::thread& thread : threads) thread.join();
  int stop_pending = 0;
  for (const ServiceStatus& status : sink.reports) stop_pending += status.state == ServiceState::kStopPending;
  EXPECT_EQ(stop_pending, 4);  // one change, three plain reports of the same state
  EXPECT_EQ(sink.reports.size(), 6u);
  EXPECT_TRUE(machine.Stopped());
}

// A manager whose queries answer from a script.
class ScriptedManager : public ServiceManager {
 public:
  ServiceError Install(const ServiceDefinition&) override { return ServiceError::kNone; }
  ServiceError Remove(const std::string&) override { return ServiceError::kNone; }
  ServiceError Start(const std::string&) override {
    ++starts;
    return start_result;
  }
  ServiceError Stop(const std::string&) override {
    ++stops;
    return ServiceError::kNone;
  }
  ServiceError Query(const std::string&, ServiceState* state) override {
    ++queries;
    if (queries > static_cast<int>(states.size())) {
      if (states.empty()) return ServiceError::kFailed;
      *state = states.back();
    } else {
      *state = states[queries - 1];
    }
    return ServiceError::kNone;
  }
  std::vector<ServiceState> states;
  ServiceError start_result = ServiceError::kNone;
  int starts = 0, stops = 0, queries = 0;
};

using S = ServiceState;

TEST(ControlServiceState, StartPollsUntilRunning) {
  testing::ScopedManualClock clock;
  ScriptedManager manager;
  manager.states = {S::kStopped, S::kStartPending, S::kStartPending, S::kRunning};
  EXPECT_TRUE(ControlServiceState(manager, "X", ServiceControl::kStart));
  EXPECT_EQ(manager.starts, 1);
  EXPECT_EQ(manager.queries, 4);
}

TEST(ControlServiceState, StartOfAServiceNotStoppedSucceedsAtOnce) {
  ScriptedManager manager;
  manager.states = {S::kStopPending};
  EXPECT_TRUE(ControlServiceState(manager, "X", ServiceControl::kStart));
  EXPECT_EQ(manager.starts, 0);
}

TEST(ControlServiceState, StartFailsWhenTheServiceStopsOrTimeRunsOut) {
  testing::ScopedManualClock clock;
  ScriptedManager stopping;
  stopping.states = {S::kStopped, S::kStartPending, S::kStopped};
  EXPECT_FALSE(ControlServiceState(stopping, "X", ServiceControl::kStart));

  ScriptedManager hanging;
  hanging.states = {S::kStopped, S::kStartPending};
  EXPECT_FALSE(ControlServiceState(hanging, "X", ServiceControl::kStart, std::chrono::milliseconds(500)));
  EXPECT_LE(hanging.queries, 60);

  ScriptedManager refused;
  refused.states = {S::kStopped};
  refused.start_result = ServiceError::kAccessDenied;
  EXPECT_FALSE(ControlServiceState(refused, "X", ServiceControl::kStart));
}

TEST(ControlServiceState, StopPollsUntilStopped) {
  testing::ScopedManualClock clock;
  ScriptedManager manager;
  manager.states = {S::kRunning, S::kStopPending, S::kStopped};
  EXPECT_TRUE(ControlServiceState(manager, "X", ServiceControl::kStop));
  EXPECT_EQ(manager.stops, 1);

  ScriptedManager idle;
  idle.states = {S::kStartPending};
  EXPECT_TRUE(ControlServiceState(idle, "X", ServiceControl::kStop));
  EXPECT_EQ(idle.stops, 0);

  ScriptedManager broken;  // every query fails
  EXPECT_FALSE(ControlServiceState(broken, "X", ServiceControl::kStop));
}

}  // namespace
}  // namespace sorvel::platform
