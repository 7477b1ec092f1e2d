// The file backend of the service manager, for machines without systemd and
// for CI. In its folder, per service NAME:
//   NAME.service  the record: name, display name, program path
//   NAME.status   the status: state, pid and start time of the service process,
//                 check point, wait hint and exit codes (written by the starter,
//                 then by the service itself through FileStatusSink)
//   NAME.log      standard output and error of the service process
// Start forks and execs the program in a new session (detached, so that no
// caller has to reap it); stop sends SIGTERM. A status whose process is gone
// (or whose pid now belongs to another process) reads as STOPPED.
#pragma once

#include <filesystem>
#include <string>

#include "platform/service_manager.h"

namespace sorvel::platform {

class FileServiceManager : public ServiceManager {
 public:
  explicit FileServiceManager(std::filesystem::path dir);

  ServiceError Install(const ServiceDefinition& definition) override;
  ServiceError Remove(const std::string& name) override;
  ServiceError Start(const std::string& name) override;
  ServiceError Stop(const std::string& name) override;
  ServiceError Query(const std::string& name, ServiceState* state) override;

  // The pid of the service's process while it runs, else 0.
  int RunningPid(const std::string& name);

 private:
  ServiceError QueryLocked(const std::string& name, ServiceState* state);
  ServiceError Launch(const std::string& name, const std::string& program);

  std::filesystem::path dir_;
};

// The service process's side: writes NAME.status with its own pid.
class FileStatusSink : public ServiceStatusSink {
 public:
  FileStatusSink(std::filesystem::path dir, std::string name)
      : dir_(std::move(dir)), name_(std::move(name)) {}
  void Report(const ServiceStatus& status) override;

 private:
  std::filesystem::path dir_;
  std::string name_;
};

}  // namespace sorvel::platform
