#include "drive_daemon/daemon_session.h"

#include <vector>

#include "platform/clock.h"

namespace sorvel {

namespace {

// Milliseconds left of the silence limit counted from `since`; 0 when it passed.
long Left(const platform::Clock::TimePoint& since) {
  const long long left = kDaemonSilenceLimitMs - platform::ElapsedMs(since);
  return left > 0 ? static_cast<long>(left) : 0;
}

}  // namespace

DaemonSessionEnd RunDaemonSession(DaemonStream& stream, std::string_view subsystem, DaemonRequestHandler& handler,
                                  const std::atomic<bool>& stop) {
  platform::Clock& clock = platform::GetClock();
  std::vector<uint8_t> body;
  std::vector<uint8_t> answer;
  // Only a whole valid packet (or a sent answer) restarts the silence limit.
  platform::Clock::TimePoint since = clock.Now();
  while (!stop) {
    uint8_t raw[kQrntpHeaderSize];
    long left = Left(since);
    if (left == 0 || !stream.ReceiveExact(raw, sizeof raw, left)) return DaemonSessionEnd::kClosed;
    const DaemonHeader header = DaemonHeader::Decode(raw);
    const DaemonPacketClass kind = ClassifyDaemonHeader(header, subsystem);
    if (kind == DaemonPacketClass::kBad) return DaemonSessionEnd::kInvalidPacket;
    const size_t body_length = header.total_length - kQrntpHeaderSize;
    body.resize(body_length);
    // A body that does not arrive whole in time leaves the stream out of step: end.
    left = Left(since);
    if (body_length > 0 && (left == 0 || !stream.ReceiveExact(body.data(), body_length, left))) {
      return DaemonSessionEnd::kClosed;
    }
    since = clock.Now();
    if (kind == DaemonPacketClass::kKeepAlive) continue;
    if (!AnswerDaemonRequest(subsystem, handler, header, body.data(), body.size(), &answer)) continue;
    stream.Send(answer.data(), answer.size(), kDaemonAnswerTimeoutMs);
    // A request that took long to handle does not count against the peer.
    since = clock.Now();
  }
  return DaemonSessionEnd::kStopped;
}

}  // namespace sorvel
