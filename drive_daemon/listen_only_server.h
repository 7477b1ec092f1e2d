// A server that only listens on its port and serves nothing; the daemon runs
// it until the remote drive server takes its place in CreateDaemonServer.
#pragma once

#include <array>

#include "drive_daemon/daemon_server.h"

namespace sorvel {

class ListenOnlyServer : public DaemonServer {
 public:
  ~ListenOnlyServer() override { Stop(); }
  void SetDriveEnabled(int index, bool enabled) override;
  bool Start(uint16_t port, uint32_t max_connection) override;
  void Stop() override;

  bool drive_enabled(int index) const { return index >= 0 && index < 26 && enabled_[index]; }
  bool listening() const { return fd_ >= 0; }

 private:
  std::array<bool, 26> enabled_{true, true, true, true, true, true, true, true, true,
                                true, true, true, true, true, true, true, true, true,
                                true, true, true, true, true, true, true, true};
  int fd_ = -1;
};

}  // namespace sorvel
