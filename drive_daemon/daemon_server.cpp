#include "drive_daemon/daemon_server.h"

#include "drive_daemon/listen_only_server.h"

namespace sorvel {

// The remote drive server (REMOTESCSI over the daemon's transport) replaces
// the listen-only server here once it exists.
std::unique_ptr<DaemonServer> CreateDaemonServer() { return std::make_unique<ListenOnlyServer>(); }

}  // namespace sorvel
