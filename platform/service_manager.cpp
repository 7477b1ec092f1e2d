#include "platform/service_manager.h"

#include <cstdlib>
#include <thread>

#include "platform/clock.h"
#include "platform/file_service_manager.h"
#include "platform/systemd_service_manager.h"

namespace sorvel::platform {
namespace {

constexpr const char* kDefaultServiceDir = "/var/lib/sorvel/services";

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string ServiceDir() {
  std::string dir = Environment("SORVEL_SERVICE_DIR");
  return dir.empty() ? kDefaultServiceDir : dir;
}

bool SystemdRuns() {
  std::error_code ec;
  return std::filesystem::is_directory("/run/systemd/system", ec);
}

class DiscardingSink : public ServiceStatusSink {
 public:
  void Report(const ServiceStatus&) override {}
};

}  // namespace

bool IsValidServiceName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
              c == '-';
    if (!ok) return false;
  }
  return true;
}

std::unique_ptr<ServiceManager> CreateServiceManager() {
  std::string backend = Environment("SORVEL_SERVICE_BACKEND");
  if (backend.empty()) backend = SystemdRuns() ? "systemd" : "file";
  if (backend == "systemd") return std::make_unique<SystemdServiceManager>(RunProgram);
  if (backend == "file") return std::make_unique<FileServiceManager>(ServiceDir());
  return nullptr;
}

std::unique_ptr<ServiceStatusSink> CreateServiceStatusSink(const std::string& name) {
  std::string backend = Environment("SORVEL_SERVICE_BACKEND");
  if (backend == "file") return std::make_unique<FileStatusSink>(ServiceDir(), name);
  std::string notify_socket = Environment("NOTIFY_SOCKET");
  if (!notify_socket.empty()) return std::make_unique<SystemdNotifier>(notify_socket);
  return std::make_unique<DiscardingSink>();
}

bool StartedAsService(const std::string& name) {
  return !name.empty() && Environment("SORVEL_SERVICE_NAME") == name;
}

bool ControlServiceState(ServiceManager& manager, const std::string& name, ServiceControl control,
                         std::chrono::milliseconds limit) {
  const ServiceState target =
      control == ServiceControl::kStart ? ServiceState::kRunning : ServiceState::kStopped;
  ServiceState state = ServiceState::kStopped;
  if (manager.Query(name, &state) != ServiceError::kNone) return false;
  if (control == ServiceControl::kStart && state != ServiceState::kStopped) return true;
  if (control == ServiceControl::kStop && state != ServiceState::kRunning) return true;
  ServiceError error = control == ServiceControl::kStart ? manager.Start(name) : manager.Stop(name);
  if (error != ServiceError::kNone) return false;
  Clock& clock = GetClock();
  const Clock::TimePoint start = clock.Now();
  for (;;) {
    if (manager.Query(name, &state) != ServiceError::kNone) return false;
    if (state == target) return true;
    // A service that stopped while starting will not come up.
    if (control == ServiceControl::kStart && state == ServiceState::kStopped) return false;
    if (ElapsedMs(start) >= limit.count()) return false;
    clock.SleepFor(std::chrono::milliseconds(10));
  }
}

}  // namespace sorvel::platform
