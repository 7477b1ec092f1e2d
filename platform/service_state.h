// The status a service reports to its manager and the state machine that
// produces it: start pending -> running -> stop pending -> stopped, with a
// failed start going straight from start pending to stopped.
#pragma once

#include <cstdint>
#include <mutex>

namespace sorvel::platform {

// Numbers as the service status record has always carried them.
enum class ServiceState : uint32_t {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
};

inline constexpr uint32_t kServiceOwnProcess = 16;
inline constexpr uint32_t kServiceAcceptStop = 1;
inline constexpr uint32_t kServiceControlStop = 1;
// Win32 exit code meaning "see the service-specific exit code".
inline constexpr uint32_t kServiceSpecificError = 1066;

struct ServiceStatus {
  uint32_t service_type = kServiceOwnProcess;
  ServiceState state = ServiceState::kStopped;
  uint32_t controls_accepted = 0;
  uint32_t win32_exit_code = 0;
  uint32_t service_exit_code = 0;
  uint32_t check_point = 0;
  uint32_t wait_hint_ms = 0;

  bool operator==(const ServiceStatus&) const = default;
};

// Where a running service reports its status (systemd notification, status file).
class ServiceStatusSink {
 public:
  virtual ~ServiceStatusSink() = default;
  virtual void Report(const ServiceStatus& status) = 0;
};

// Thread-safe: the control handler may run on another thread than the
// service's main flow. Every change is reported to the sink at once; calls
// that do not fit the current state change nothing and return false.
class ServiceStateMachine {
 public:
  explicit ServiceStateMachine(ServiceStatusSink* sink) : sink_(sink) {}

  // STOPPED -> START_PENDING, check point 0.
  bool BeginStart(uint32_t wait_hint_ms);
  // In a pending state: the next check point with a new wait hint.
  bool Checkpoint(uint32_t wait_hint_ms);
  // START_PENDING -> RUNNING (stop accepted); a stop asked for during the
  // start then moves on to STOP_PENDING at once.
  bool StartSucceeded();
  // START_PENDING -> STOPPED with a service-specific exit code.
  bool StartFailed(uint32_t service_exit_code);
  // The control handler: STOP moves RUNNING to STOP_PENDING (or is kept for
  // later during START_PENDING). Every control ends by reporting the status.
  void Control(uint32_t control);
  // STOP_PENDING -> STOPPED; call only once the served work has stopped.
  bool Stopped();

  ServiceStatus status() const;
  ServiceState state() const { return status().state; }

 private:
  void SetLocked(ServiceState state, uint32_t wait_hint_ms);
  void ReportLocked();

  ServiceStatusSink* sink_;
  mutable std::mutex mutex_;
  ServiceStatus status_;
  bool stop_requested_ = false;
};

}  // namespace sorvel::platform
