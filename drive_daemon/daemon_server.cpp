#include "drive_daemon/daemon_server.h"

#include "drive_daemon/remote_scsi_handler.h"

namespace sorvel {

std::unique_ptr<DaemonServer> CreateDaemonServer() { return std::make_unique<DaemonRemoteScsiServer>(); }

}  // namespace sorvel
