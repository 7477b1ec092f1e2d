// Kestrow as a service: the service's main flow between the service manager
// and the daemon's server.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "drive_daemon/daemon_server.h"
#include "platform/service_state.h"

namespace sorvel {

inline constexpr const char* kServiceName = "KESTROWSVC";
inline constexpr const char* kServiceDisplayName = "Quillmarsh Kestrow Daemon";
inline constexpr uint32_t kStartWaitHintMs = 1000;
// Stopping joins every session of the server.
inline constexpr uint32_t kStopWaitHintMs = 5000;

// START_PENDING, configure and start the server; RUNNING only when it
// listens (else STOPPED with kExitListenFailed). Then waits for the stop
// control (`wait_for_stop`), reports STOP_PENDING, stops the server and only
// then reports STOPPED. Returns the process exit code.
int RunService(platform::ServiceStateMachine& machine, DaemonServer& server, const std::string& program_path,
               std::ostream& out, const std::function<void()>& wait_for_stop);

// The service entry: status to the service manager of the environment, the
// stop control from SIGTERM (or SIGINT), the server from CreateDaemonServer.
int ServiceMain();

}  // namespace sorvel
