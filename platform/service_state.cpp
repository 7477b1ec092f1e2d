#include "platform/service_state.h"

namespace sorvel::platform {

void ServiceStateMachine::SetLocked(ServiceState state, uint32_t wait_hint_ms) {
  status_.state = state;
  status_.controls_accepted = state == ServiceState::kRunning ? kServiceAcceptStop : 0;
  status_.check_point = 0;
  status_.wait_hint_ms = wait_hint_ms;
  ReportLocked();
}

void ServiceStateMachine::ReportLocked() {
  if (sink_ != nullptr) sink_->Report(status_);
}

bool ServiceStateMachine::BeginStart(uint32_t wait_hint_ms) {
  std::lock_guard lock(mutex_);
  if (status_.state != ServiceState::kStopped) return false;
  status_.win32_exit_code = 0;
  status_.service_exit_code = 0;
  stop_requested_ = false;
  SetLocked(ServiceState::kStartPending, wait_hint_ms);
  return true;
}

bool ServiceStateMachine::Checkpoint(uint32_t wait_hint_ms) {
  std::lock_guard lock(mutex_);
  if (status_.state != ServiceState::kStartPending && status_.state != ServiceState::kStopPending) {
    return false;
  }
  ++status_.check_point;
  status_.wait_hint_ms = wait_hint_ms;
  ReportLocked();
  return true;
}

bool ServiceStateMachine::StartSucceeded() {
  std::lock_guard lock(mutex_);
  if (status_.state != ServiceState::kStartPending) return false;
  SetLocked(ServiceState::kRunning, 0);
  if (stop_requested_) SetLocked(ServiceState::kStopPending, 0);
  return true;
}

bool ServiceStateMachine::StartFailed(uint32_t service_exit_code) {
  std::lock_guard lock(mutex_);
  if (status_.state != ServiceState::kStartPending) return false;
  status_.win32_exit_code = kServiceSpecificError;
  status_.service_exit_code = service_exit_code;
  SetLocked(ServiceState::kStopped, 0);
  return true;
}

void ServiceStateMachine::Control(uint32_t control) {
  std::lock_guard lock(mutex_);
  if (control == kServiceControlStop) {
    if (status_.state == ServiceState::kRunning) {
      SetLocked(ServiceState::kStopPending, 0);
      return;
    }
    if (status_.state == ServiceState::kStartPending) stop_requested_ = true;
  }
  ReportLocked();
}

bool ServiceStateMachine::Stopped() {
  std::lock_guard lock(mutex_);
  if (status_.state != ServiceState::kStopPending) return false;
  SetLocked(ServiceState::kStopped, 0);
  return true;
}

ServiceStatus ServiceStateMachine::status() const {
  std::lock_guard lock(mutex_);
  return status_;
}

}  // namespace sorvel::platform
