// Helpers shared by the socket classes: the time-out rule, waits with poll()
// and IPv4 name resolution.
#pragma once

#include <netinet/in.h>
#include <poll.h>

#include <cstddef>

#include <string>

namespace sorvel {

// Time-out rule of every network wait: a time-out in milliseconds of 0 or
// less waits without limit. Returns the poll() form (-1 = no limit).
constexpr int PollTimeoutMs(long ms) {
  if (ms <= 0) return -1;
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

// poll() over `count` descriptors with the time-out rule of `ms`, retried on
// EINTR with the remaining time. The poll() result: ready count, 0 on time-out,
// -1 on error.
int PollRetry(pollfd* fds, size_t count, long ms);

// Waits until `fd` reports one of `events` (POLLIN, POLLOUT) within the time-out
// rule of `ms`, retrying on EINTR with the remaining time. Returns the revents
// (non-zero), 0 on time-out, -1 on error.
int PollFd(int fd, short events, long ms);

// Polls `fd` for `events` without waiting: the revents, 0 when not ready, -1 on
// error. Error and hang-up count as ready (a read or write then reports them).
int PollNow(int fd, short events);

// Resolves `host` (name or dotted address) to an IPv4 address with the given
// port (host byte order). False when there is no IPv4 address for it.
bool ResolveIPv4(const std::string& host, uint16_t port, sockaddr_in* out);

// Dotted text of an IPv4 address.
std::string DottedAddress(const sockaddr_in& address);

// Reverse look-up of an address; empty when it has no name.
std::string ReverseLookup(const sockaddr_in& address);

}  // namespace sorvel
