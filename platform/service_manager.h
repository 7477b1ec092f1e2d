// Installing, removing, starting, stopping and querying a system service.
// Two backends: systemd (unit files, systemctl) and a file backend (service
// records in a folder, start by fork/exec, stop by SIGTERM) for machines
// without systemd and for CI.
//
// Backend choice (CreateServiceManager): SORVEL_SERVICE_BACKEND=file|systemd,
// else systemd when it runs (/run/systemd/system exists), else file. The file
// backend keeps its records in SORVEL_SERVICE_DIR, default /var/lib/sorvel/services.
//
// A started service finds in its environment SORVEL_SERVICE_NAME (its name),
// SORVEL_SERVICE_BACKEND and, for the file backend, SORVEL_SERVICE_DIR.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/service_state.h"

namespace sorvel::platform {

enum class ServiceError {
  kNone,
  kAccessDenied,         // no permission on the records, unit files or systemctl
  kExists,               // install: the service is already installed
  kNotFound,             // the service is not installed
  kRunning,              // remove: the service must be stopped first
  kAlreadyRunning,       // start: the service is not stopped
  kNotActive,            // stop: the service is not running
  kManagerUnavailable,   // no usable backend (bad SORVEL_SERVICE_BACKEND, systemctl missing)
  kFailed,               // any other failure (I/O, systemctl refused, program not started)
};

struct ServiceDefinition {
  std::string name;          // e.g. "KESTROWSVC"; letters, digits, "_" and "-"
  std::string display_name;  // shown by the service manager
  std::string program_path;  // absolute path of the program, started without arguments
};

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // Registers the service for automatic start; does not start it.
  virtual ServiceError Install(const ServiceDefinition& definition) = 0;
  virtual ServiceError Remove(const std::string& name) = 0;
  virtual ServiceError Start(const std::string& name) = 0;
  virtual ServiceError Stop(const std::string& name) = 0;
  virtual ServiceError Query(const std::string& name, ServiceState* state) = 0;
};

// True for a name that is safe as a file and unit name.
bool IsValidServiceName(const std::string& name);

// The backend as the environment selects it; nullptr for an unknown
// SORVEL_SERVICE_BACKEND value.
std::unique_ptr<ServiceManager> CreateServiceManager();

// Where the service process reports its status, as the environment of a
// started service says; a sink that drops everything when none applies.
std::unique_ptr<ServiceStatusSink> CreateServiceStatusSink(const std::string& name);

// Whether this process was started by a service manager as service `name`.
bool StartedAsService(const std::string& name);

enum class ServiceControl { kStart, kStop };

// Brings the service to RUNNING (kStart) or STOPPED (kStop). Succeeds at once
// when the service is not STOPPED (start) or not RUNNING (stop); otherwise asks
// for the change and polls every 10 ms until the state is reached. Fails on a
// refused request or a failed query, when a starting service stops, and when
// `limit` passes.
bool ControlServiceState(ServiceManager& manager, const std::string& name, ServiceControl control,
                         std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace sorvel::platform
