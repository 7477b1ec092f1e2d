// One connection of the daemon, from its first packet to its end: packets are
// read off a byte stream, requests of the server's subsystem dispatched and
// answered. A peer keeps its session only by sending whole valid packets:
// each must be complete (header and body) within the silence limit of the
// previous one (or of the session's start), and a header that is not a valid
// header of this server ends the session at once. The limit is judged by what
// has arrived: when it passes by the daemon's clock, a packet that is already
// whole in the stream still counts (a daemon paused longer than the limit finds
// the peer's packets waiting). So a peer that trickles
// bytes, or sends junk, cannot hold a slot.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "drive_daemon/daemon_packet.h"

namespace sorvel {

// A session ends when no whole valid packet arrived for this long.
constexpr long kDaemonSilenceLimitMs = 3000;
// Answers are sent within this time.
constexpr long kDaemonAnswerTimeoutMs = 1000;
// While a request runs (a drive command may take minutes), a keep-alive goes to
// the peer after each this long, so that the client, which gives a command up
// when nothing arrives for 30 s, does not take a busy daemon for a silent one.
// The first one leaves after one to two periods.
constexpr long kDaemonBusyKeepAliveMs = 5000;

// The connection a session reads its packets from and answers on.
class DaemonStream {
 public:
  virtual ~DaemonStream() = default;
  // Reads exactly `length` bytes within `wait_ms` in all; false on a short
  // read, a closed or broken connection, or the time-out. Bytes that are
  // already there are taken even when `wait_ms` is 0 or has passed.
  virtual bool ReceiveExact(uint8_t* buffer, size_t length, long wait_ms) = 0;
  // Sends an answer within `wait_ms`; a failure shows at the next read.
  virtual void Send(const uint8_t* bytes, size_t length, long wait_ms) = 0;
};

// What ended a session.
enum class DaemonSessionEnd {
  kStopped,       // the server stopped
  kClosed,        // the stream broke, closed or fell silent
  kInvalidPacket, // a header that is no valid packet of this server
};

// Serves `stream` until the stop flag is set, the stream ends or falls silent
// (no whole valid packet within the silence limit), or a packet is invalid.
// Valid: magic "QRNTP.", a length of at least the header, and the server's
// subsystem (answered) or a keep-alive form (its body skipped, no answer).
DaemonSessionEnd RunDaemonSession(DaemonStream& stream, std::string_view subsystem, DaemonRequestHandler& handler,
                                  const std::atomic<bool>& stop, long busy_keep_alive_ms = kDaemonBusyKeepAliveMs);

}  // namespace sorvel
