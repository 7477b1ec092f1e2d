// A TCP relay on 127.0.0.1 in front of a QRNTP server, for tests of what a
// path between client and server may do: it passes the client's bytes on as
// they come and the server's packet by packet, optionally dropping the
// server's keep-alives and holding one of its answers for a while. Each
// accepted connection gets a connection of its own to the server.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace sorvel::testing {

class LoopbackRelay {
 public:
  struct Behaviour {
    bool drop_keep_alives = false;  // the server's keep-alives never reach the client
    int hold_answer = -1;           // the n-th other packet of the server (from 0, over all connections) ...
    long hold_ms = 0;               // ... is passed on this much later
  };

  LoopbackRelay(uint16_t server_port, Behaviour behaviour);
  ~LoopbackRelay();
  LoopbackRelay(const LoopbackRelay&) = delete;
  LoopbackRelay& operator=(const LoopbackRelay&) = delete;

  // The relay's port (0 when it could not listen).
  uint16_t port() const { return port_; }
  // Keep-alives of the server dropped so far.
  int dropped_keep_alives() const { return dropped_.load(); }
  // Packets of the server passed on so far (keep-alives included).
  int passed_packets() const { return passed_.load(); }

 private:
  void AcceptLoop();
  void ClientToServer(int from, int to);
  void ServerToClient(int from, int to);
  // Waits up to `ms` unless the relay stops; false when it stopped.
  bool Pause(long ms);

  const uint16_t server_port_;
  const Behaviour behaviour_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> answers_{0};
  std::atomic<int> dropped_{0};
  std::atomic<int> passed_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<int> fds_;  // every connection's socket, shut down at the end
  std::vector<std::thread> threads_;
  std::thread accept_thread_;
};

}  // namespace sorvel::testing
