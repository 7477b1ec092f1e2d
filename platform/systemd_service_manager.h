// The systemd backend of the service manager: one unit file per service in
// the system unit folder, systemctl through an injectable runner, and the
// service's readiness and stopping reported over $NOTIFY_SOCKET.
#pragma once

#include <filesystem>
#include <string>

#include "platform/command_runner.h"
#include "platform/service_manager.h"

namespace sorvel::platform {

// "KESTROWSVC" -> "kestrowsvc.service".
std::string SystemdUnitName(const std::string& service_name);

// The unit file of a Type=notify service that runs the program without
// arguments and is enabled for the multi-user target.
std::string SystemdUnitText(const ServiceDefinition& definition);

class SystemdServiceManager : public ServiceManager {
 public:
  explicit SystemdServiceManager(CommandRunner runner,
                                 std::filesystem::path unit_dir = "/etc/systemd/system");

  ServiceError Install(const ServiceDefinition& definition) override;
  ServiceError Remove(const std::string& name) override;
  ServiceError Start(const std::string& name) override;
  ServiceError Stop(const std::string& name) override;
  ServiceError Query(const std::string& name, ServiceState* state) override;

 private:
  std::filesystem::path UnitPath(const std::string& name) const;
  int Systemctl(const std::vector<std::string>& args, std::string* output = nullptr);

  CommandRunner runner_;
  std::filesystem::path unit_dir_;
};

// Sends sd_notify datagrams. `socket_address` is the value of $NOTIFY_SOCKET:
// a socket path, or "@name" for the abstract namespace; empty sends nothing.
class SystemdNotifier : public ServiceStatusSink {
 public:
  explicit SystemdNotifier(std::string socket_address) : address_(std::move(socket_address)) {}
  bool Notify(const std::string& message);
  // RUNNING -> "READY=1", STOP_PENDING -> "STOPPING=1"; other states send nothing.
  void Report(const ServiceStatus& status) override;

 private:
  std::string address_;
};

}  // namespace sorvel::platform
