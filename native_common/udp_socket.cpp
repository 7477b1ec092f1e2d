#include "native_common/udp_socket.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "native_common/socket_support.h"

namespace sorvel {

UdpSocket::~UdpSocket() { Close(); }

bool UdpSocket::Bind(uint16_t port) {
  if (fd_ >= 0) return false;
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = htons(port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  mode_ = kBound;
  return true;
}

bool UdpSocket::Create() {
  if (fd_ >= 0) return false;
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  fd_ = fd;
  mode_ = kUnbound;
  return true;
}

bool UdpSocket::SetBroadcast(bool on) {
  if (fd_ < 0) return false;
  int value = on ? 1 : 0;
  return ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == 0;
}

int UdpSocket::SendTo(const std::string& host, uint16_t port, const void* data, int length) {
  if (fd_ < 0 || length < 0) return 0;
  sockaddr_in address;
  if (!ResolveIPv4(host, port, &address)) return 0;
  ssize_t n;
  do {
    n = ::sendto(fd_, data, static_cast<size_t>(length), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&address),
                 sizeof address);
  } while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<int>(n);
}

int UdpSocket::ReceiveFrom(std::string* address, uint16_t* port, void* buffer, int length, long ms) {
  if (fd_ < 0 || length < 0) return -1;
  int ready = PollFd(fd_, POLLIN, ms);
  if (ready <= 0) return -1;
  sockaddr_in sender{};
  socklen_t sender_len = sizeof sender;
  ssize_t n;
  do {
    // MSG_TRUNC makes recvfrom report the datagram's real length.
    n = ::recvfrom(fd_, buffer, static_cast<size_t>(length), MSG_TRUNC | MSG_DONTWAIT,
                   reinterpret_cast<sockaddr*>(&sender), &sender_len);
  } while (n < 0 && errno == EINTR);
  if (n < 0 || n > length) return -1;
  if (address) *address = DottedAddress(sender);
  if (port) *port = ntohs(sender.sin_port);
  return static_cast<int>(n);
}

bool UdpSocket::Close() {
  if (fd_ < 0) return false;
  ::shutdown(fd_, SHUT_RDWR);
  int rc = ::close(fd_);
  fd_ = -1;
  mode_ = kNone;
  return rc == 0 || errno == EINTR;
}

uint16_t UdpSocket::LocalPort() const {
  if (fd_ < 0) return 0;
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &len) != 0) return 0;
  return ntohs(local.sin_port);
}

}  // namespace sorvel
