// A UDP datagram socket, bound to a port or unbound. Waits follow the time-out
// rule of the socket classes (0 or less: no limit); nothing throws.
#pragma once

#include <cstdint>
#include <string>

namespace sorvel {

class UdpSocket {
 public:
  enum Mode { kNone = 0, kBound = 2, kUnbound = 3 };

  UdpSocket() = default;
  ~UdpSocket();
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // A datagram socket bound to every local address at `port` (0: any free port).
  // Only when no socket exists.
  bool Bind(uint16_t port);
  // An unbound datagram socket. Only when no socket exists.
  bool Create();

  // Allows sending to broadcast addresses (SO_BROADCAST); used by discovery.
  bool SetBroadcast(bool on);

  // Sends one datagram to host:port (name or dotted address); the bytes sent,
  // or 0 when the host does not resolve, the send failed or there is no socket.
  int SendTo(const std::string& host, uint16_t port, const void* data, int length);

  // Waits up to `ms` for one datagram. Returns its length and the sender's
  // dotted address and port (host byte order), or -1 on time-out, error or no
  // socket. A datagram longer than `length` is discarded and reported as -1,
  // never returned cut.
  int ReceiveFrom(std::string* address, uint16_t* port, void* buffer, int length, long ms);

  bool Close();

  bool IsOpen() const { return fd_ >= 0; }
  int handle() const { return fd_; }
  Mode mode() const { return mode_; }
  // The bound local port (host byte order), 0 when unbound.
  uint16_t LocalPort() const;

 private:
  int fd_ = -1;
  Mode mode_ = kNone;
};

}  // namespace sorvel
