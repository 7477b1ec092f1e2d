// A TCP relay on 127.0.0.1 in front of a QRNTP server, for tests of what a
// path between client and server may do: it passes the client's bytes on as
// they come and the server's packet by packet, optionally dropping the
// server's keep-alives, holding one of its answers for a while, or, as a slow
// link, passing each WRITE command of the client on late. Each accepted
// connection gets a connection of its own to the server. It may also answer
// host discovery on UDP at its own port number, as the server would.
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
    // Above 0: each "ExecCommand" request of the client carrying WRITE(10) or
    // WRITE(12) is passed on this much later, so its answer comes that late.
    long write_delay_ms = 0;
    bool answer_discovery = false;  // "GetHostName" on UDP at port() gets "LetHostName"
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
  // WRITE commands of the client passed on late so far.
  int delayed_writes() const { return delayed_.load(); }

 private:
  void AcceptLoop();
  void ClientToServer(int from, int to);
  void ServerToClient(int from, int to);
  // The client's bytes packet by packet, the WRITE commands late.
  void ClientToServerSlow(int from, int to);
  void DiscoveryLoop();
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
  std::atomic<int> delayed_{0};
  int udp_fd_ = -1;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<int> fds_;  // every connection's socket, shut down at the end
  std::vector<std::thread> threads_;
  std::thread accept_thread_;
  std::thread discovery_thread_;
};

}  // namespace sorvel::testing
