#include "native_common/tcp_socket.h"

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "native_common/socket_support.h"
#include "platform/clock.h"

namespace sorvel {
namespace {

bool SetNonBlocking(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return ::fcntl(fd, F_SETFL, flags) == 0;
}

// Every packet goes out in one send and is answered before the next one:
// small packets must not wait for the peer's acknowledgement of the last one.
void SetNoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

void CloseFd(int fd) {
  // close() is not retried on EINTR: on Linux the descriptor is gone either way.
  ::close(fd);
}

}  // namespace

TcpSocket::~TcpSocket() { Close(); }

bool TcpSocket::Listen(uint16_t port, int backlog) {
  if (fd_ >= 0) return false;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0) {
    CloseFd(fd);
    return false;
  }
  fd_ = fd;
  mode_ = kListening;
  RecordAddresses();
  return true;
}

std::unique_ptr<TcpSocket> TcpSocket::Accept(long ms) {
  if (fd_ < 0 || mode_ != kListening) return nullptr;
  int ready = PollFd(fd_, POLLIN, ms);
  if (ready <= 0 || !(ready & POLLIN)) return nullptr;
  int fd;
  do {
    // Non-blocking accept: a connection that vanished between poll and accept
    // must not block the caller.
    fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  if (!SetNonBlocking(fd, false)) {
    CloseFd(fd);
    return nullptr;
  }
  SetNoDelay(fd);
  auto socket = std::make_unique<TcpSocket>();
  socket->fd_ = fd;
  socket->mode_ = kConnected;
  socket->RecordAddresses();
  return socket;
}

bool TcpSocket::Connect(const std::string& host, uint16_t port, long ms) {
  if (fd_ >= 0) return false;
  sockaddr_in address;
  if (!ResolveIPv4(host, port, &address)) return false;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const auto* sa = reinterpret_cast<const sockaddr*>(&address);
  bool ok = false;
  if (ms > 0 && SetNonBlocking(fd, true)) {
    int rc = ::connect(fd, sa, sizeof address);
    if (rc == 0) {
      ok = true;
    } else if (errno == EINPROGRESS || errno == EINTR) {
      // Writable means the connect finished; SO_ERROR tells whether it worked,
      // so a refusal is reported at once rather than after the time-out.
      if (PollFd(fd, POLLOUT, ms) > 0) {
        int error = 0;
        socklen_t len = sizeof error;
        ok = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
      }
    }
    if (ok && !SetNonBlocking(fd, false)) ok = false;
  } else {
    int rc;
    do {
      rc = ::connect(fd, sa, sizeof address);
    } while (rc != 0 && errno == EINTR);
    // After EINTR the connect goes on in the background; EISCONN then means done.
    ok = rc == 0 || errno == EISCONN;
  }
  if (!ok) {
    CloseFd(fd);
    return false;
  }
  SetNoDelay(fd);
  fd_ = fd;
  mode_ = kConnected;
  RecordAddresses();
  return true;
}

int TcpSocket::Send(const void* data, int length, long ms) {
  if (fd_ < 0) return -1;
  if (length <= 0) return 0;
  const auto* bytes = static_cast<const uint8_t*>(data);
  const int limit = PollTimeoutMs(ms);
  const auto start = platform::GetClock().Now();
  int sent = 0;
  // The send is tried first: a socket with room in its buffer (the usual
  // case) needs no wait, so the poll is only made when the buffer is full.
  bool wait_first = false;
  while (sent < length) {
    if (wait_first) {
      long wait = ms;
      if (limit >= 0) {
        long long left = limit - platform::ElapsedMs(start);
        if (left <= 0) break;
        wait = static_cast<long>(left);
      }
      int ready = PollFd(fd_, POLLOUT, wait);
      if (ready <= 0) {
        if (sent == 0) return -1;
        break;
      }
    }
    ssize_t n = ::send(fd_, bytes + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        wait_first = true;
        continue;
      }
      break;
    }
    if (n == 0) break;
    sent += static_cast<int>(n);
    wait_first = true;  // what is left did not fit: wait for room
  }
  return sent;
}

int TcpSocket::Receive(void* buffer, int length, long ms, bool exact) {
  if (fd_ < 0 || length <= 0) return -1;
  auto* bytes = static_cast<uint8_t*>(buffer);
  int total = 0;
  while (total < length) {
    int ready = PollFd(fd_, POLLIN, ms);
    if (ready <= 0) return -1;
    ssize_t n;
    do {
      n = ::recv(fd_, bytes + total, static_cast<size_t>(length - total), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) break;
    total += static_cast<int>(n);
    if (!exact) break;
  }
  return total;
}

bool TcpSocket::IsReadable() const { return PollNow(fd_, POLLIN) > 0; }

bool TcpSocket::IsWritable() const { return PollNow(fd_, POLLOUT) > 0; }

bool TcpSocket::Close() {
  if (fd_ < 0) return false;
  if (mode_ == kConnected) ::shutdown(fd_, SHUT_RDWR);
  int rc = ::close(fd_);
  fd_ = -1;
  mode_ = kNone;
  return rc == 0 || errno == EINTR;
}

void TcpSocket::RecordAddresses() {
  socklen_t len = sizeof local_;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local_), &len) != 0) local_ = sockaddr_in{};
  len = sizeof peer_;
  if (mode_ != kConnected || ::getpeername(fd_, reinterpret_cast<sockaddr*>(&peer_), &len) != 0) peer_ = sockaddr_in{};
}

std::string TcpSocket::PeerAddress() const { return DottedAddress(peer_); }
std::string TcpSocket::PeerHostName() const { return peer_.sin_family == AF_INET ? ReverseLookup(peer_) : std::string(); }
uint16_t TcpSocket::PeerPort() const { return ntohs(peer_.sin_port); }
std::string TcpSocket::LocalAddress() const { return DottedAddress(local_); }
std::string TcpSocket::LocalHostName() const {
  return local_.sin_family == AF_INET ? ReverseLookup(local_) : std::string();
}
uint16_t TcpSocket::LocalPort() const { return ntohs(local_.sin_port); }

}  // namespace sorvel
