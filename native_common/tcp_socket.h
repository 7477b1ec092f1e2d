// A TCP stream socket: listener, accepted or connected end. Every wait takes a
// time-out in milliseconds (0 or less: no limit) and a time-out is reported as
// a failure; nothing throws. Not thread-safe: callers lock around shared use.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <memory>
#include <string>

namespace sorvel {

class TcpSocket {
 public:
  enum Mode { kNone = 0, kListening = 1, kConnected = 2 };

  TcpSocket() = default;
  ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Listens on every local address at `port` (0: any free port, see LocalPort)
  // with SO_REUSEADDR, so a port can be listened on again right after a close.
  // Only when no socket exists. Result: a listening socket exists.
  bool Listen(uint16_t port, int backlog);

  // Waits up to `ms` for a connection; the new connected socket or nullptr.
  // Connected and accepted sockets send without delay (TCP_NODELAY).
  std::unique_ptr<TcpSocket> Accept(long ms);

  // Connects to host:port. With ms > 0 the connect is non-blocking and bounded
  // by ms; a refused or failed connect is reported at once. Only when no socket
  // exists; on failure the socket is closed. Result: a connected socket exists.
  bool Connect(const std::string& host, uint16_t port, long ms);

  // Sends as much of `data` as the time-out allows, waiting for room in the
  // socket's buffer only when it is full.
  // Returns the bytes sent (the caller compares with `length`), -1 when the
  // wait timed out or failed before any byte went out, 0 for an empty send or
  // an error before any byte. A closed peer never raises SIGPIPE.
  int Send(const void* data, int length, long ms);

  // Receives into `buffer`. Each wait for data lasts up to `ms`; a time-out or
  // wait error gives -1, even after earlier chunks arrived. Without `exact` one
  // receive call is made; with it receiving goes on until the buffer is full.
  // The peer closing (or a receive error) ends the loop with the sum so far.
  // length <= 0 or no socket: -1.
  int Receive(void* buffer, int length, long ms, bool exact);

  // True when a receive would not block (data, end of stream or error pending).
  bool IsReadable() const;
  bool IsWritable() const;

  // Shuts both directions down and closes; false when there was no socket or
  // the close failed.
  bool Close();

  bool IsOpen() const { return fd_ >= 0; }
  int handle() const { return fd_; }
  Mode mode() const { return mode_; }

  // Peer and local address (dotted IPv4), host name (reverse look-up, empty when
  // none) and port in host byte order; recorded after connect, accept and listen.
  std::string PeerAddress() const;
  std::string PeerHostName() const;
  uint16_t PeerPort() const;
  std::string LocalAddress() const;
  std::string LocalHostName() const;
  uint16_t LocalPort() const;

 private:
  void RecordAddresses();

  int fd_ = -1;
  Mode mode_ = kNone;
  sockaddr_in peer_{};
  sockaddr_in local_{};
};

}  // namespace sorvel
