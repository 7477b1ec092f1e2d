// What the daemon runs: a server that serves the enabled drive letters on a
// port. The service, "/standalone" and the configuration code see only this
// interface; CreateDaemonServer decides which server that is.
#pragma once

#include <cstdint>
#include <memory>

namespace sorvel {

class DaemonServer {
 public:
  virtual ~DaemonServer() = default;
  // Letter index 0 = A .. 25 = Z; other indices are ignored.
  virtual void SetDriveEnabled(int index, bool enabled) = 0;
  // Listens on `port` (any address) with at most `max_connection` connections
  // served at once (also the listen backlog). False when it cannot listen.
  virtual bool Start(uint16_t port, uint32_t max_connection) = 0;
  // Stops listening and ends every connection; returns when all has stopped.
  virtual void Stop() = 0;
};

// The server the daemon runs.
std::unique_ptr<DaemonServer> CreateDaemonServer();

}  // namespace sorvel
