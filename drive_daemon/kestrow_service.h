// Kestrow as a service: the service's main flow between the service manager
// and the daemon's server.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "drive_daemon/daemon_server.h"
#include "platform/service_manager.h"
#include "platform/service_state.h"

namespace sorvel {

inline constexpr const char* kServiceName = "KESTROWSVC";
inline constexpr const char* kServiceDisplayName = "Quillmarsh Kestrow Daemon";
inline constexpr uint32_t kStartWaitHintMs = 1000;
// Stopping joins every session of the server.
inline constexpr uint32_t kStopWaitHintMs = 5000;

// What "/install" registers: the service kServiceName running this program's
// own file with every link resolved, so that the unit names the installed
// daemon (<prefix>/lib/sorvel/kestrow) whether it was started through the link
// in bin/, through PATH or by a relative path, and never a link that another
// user or package may move. The program path is empty when it is unknown.
platform::ServiceDefinition KestrowServiceDefinition();

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
