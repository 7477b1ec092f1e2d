#include "native_common/socket_support.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/clock.h"

namespace sorvel {

int PollRetry(pollfd* fds, size_t count, long ms) {
  const int limit = PollTimeoutMs(ms);
  const auto start = platform::GetClock().Now();
  int wait = limit;
  for (;;) {
    int rc = ::poll(fds, count, wait);
    if (rc >= 0) return rc;
    if (errno != EINTR) return -1;
    if (limit >= 0) {
      long long left = limit - platform::ElapsedMs(start);
      if (left <= 0) return 0;
      wait = static_cast<int>(left);
    }
  }
}

int PollFd(int fd, short events, long ms) {
  if (fd < 0) return -1;
  pollfd p{};
  p.fd = fd;
  p.events = events;
  int rc = PollRetry(&p, 1, ms);
  if (rc <= 0) return rc;
  return p.revents != 0 ? p.revents : -1;
}

int PollNow(int fd, short events) {
  if (fd < 0) return -1;
  pollfd p{};
  p.fd = fd;
  p.events = events;
  int rc;
  do {
    rc = ::poll(&p, 1, 0);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0) return -1;
  return rc == 0 ? 0 : p.revents;
}

bool ResolveIPv4(const std::string& host, uint16_t port, sockaddr_in* out) {
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  if (host.empty()) return false;
  if (::inet_pton(AF_INET, host.c_str(), &out->sin_addr) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return false;
  bool found = false;
  for (addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
    if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
      out->sin_addr = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr;
      found = true;
      break;
    }
  }
  ::freeaddrinfo(result);
  return found;
}

std::string DottedAddress(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  if (::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) == nullptr) return std::string();
  return text;
}

std::string ReverseLookup(const sockaddr_in& address) {
  char name[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, name, sizeof name, nullptr, 0,
                    NI_NAMEREQD) != 0) {
    return std::string();
  }
  return name;
}

}  // namespace sorvel
