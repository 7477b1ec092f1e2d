// The daemon's QRNTP server: accepts TCP connections on its port, serves each
// in a session thread of its own (slots are made as connections need them, up
// to the connection limit; a connection beyond it is closed at once), hands
// every request to the session's handler and answers host discovery on UDP at
// the same port number. A session ends after 3,000 ms without a whole valid
// packet, and at once on an invalid one (daemon_session.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drive_daemon/daemon_packet.h"
#include "drive_daemon/daemon_session.h"
#include "native_common/tcp_socket.h"
#include "native_common/udp_socket.h"

namespace sorvel {

class DaemonTransport {
 public:
  // A session ends when no whole valid packet arrived for this long.
  static constexpr long kSilenceLimitMs = kDaemonSilenceLimitMs;
  // Answers are sent within this time.
  static constexpr long kAnswerTimeoutMs = kDaemonAnswerTimeoutMs;

  explicit DaemonTransport(std::string subsystem);
  virtual ~DaemonTransport();
  DaemonTransport(const DaemonTransport&) = delete;
  DaemonTransport& operator=(const DaemonTransport&) = delete;

  // Listens on `port` (0: any free port) with the backlog = the connection
  // limit and starts the server thread; false, with nothing started, when it
  // cannot listen or already runs.
  bool Start(uint16_t port, uint32_t connection_limit);
  // Ends every session and the server thread; returns when all have ended.
  void Stop();
  bool IsRunning() const { return thread_.joinable(); }
  uint16_t port() const { return port_; }
  // Sessions running now.
  size_t ActiveSessions() const { return active_.load(); }
  // Slots made so far (at most the connection limit).
  size_t SlotCount() const;

 protected:
  // A handler for a new connection; the default handles nothing.
  virtual std::unique_ptr<DaemonRequestHandler> CreateHandler();

 private:
  struct Slot {
    std::thread thread;
    std::atomic<bool> running{false};
    std::mutex socket_mutex;  // guards `socket` against a stop from the server thread
    std::unique_ptr<TcpSocket> socket;
  };

  void ServerLoop();
  void AcceptOne(long wait_ms);
  void AnswerDiscovery();
  void SessionLoop(Slot* slot, int index);
  // Joins the session thread of slot `index` when it has ended (slots_mutex_ held).
  void JoinEndedLocked(size_t index);
  // Ends a session: closes (wakes) its socket.
  void StopSlot(Slot& slot);

  const std::string subsystem_;
  uint16_t port_ = 0;
  uint32_t limit_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> active_{0};
  TcpSocket listener_;
  UdpSocket discovery_;
  mutable std::mutex slots_mutex_;  // guards the slot list; only the server thread changes it
  std::vector<std::unique_ptr<Slot>> slots_;
  std::thread thread_;
};

}  // namespace sorvel
