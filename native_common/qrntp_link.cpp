#include "native_common/qrntp_link.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "native_common/little_endian.h"
#include "native_common/socket_support.h"
#include "native_common/transport_settings.h"
#include "platform/clock.h"

namespace sorvel {

void QRNTPRequestHandler::OnConnected(TcpSocket&) {}
void QRNTPRequestHandler::OnDisconnected(TcpSocket&) {}

bool QRNTPRequestHandler::HandleRequest(const std::string&, uint32_t, const ParamSet&, ParamSet*, bool*) {
  return false;
}

bool QRNTPRequestHandler::HandleRawRequest(const std::string& function, uint32_t call_id,
                                           const std::vector<uint8_t>& input, std::vector<uint8_t>* output,
                                           bool* close_after) {
  ParamSet in, out;
  in.Deserialize(input);
  bool handled = HandleRequest(function, call_id, in, &out, close_after);
  out.Serialize(output);
  return handled;
}

void QRNTPRequestHandler::OnReplied(const std::string&, uint32_t, bool, bool) {}
void QRNTPRequestHandler::OnCallResult(const std::string&, uint32_t, const ParamSet&) {}

void QRNTPRequestHandler::OnRawCallResult(const std::string& function, uint32_t call_id,
                                          const std::vector<uint8_t>& response) {
  ParamSet result;
  result.Deserialize(response);
  OnCallResult(function, call_id, result);
}

QRNTPRequestHandler& DefaultRequestHandler() {
  static QRNTPRequestHandler handler;
  return handler;
}

void QRNTPLink::SetFilters(const PacketFilter* send, const PacketFilter* receive) {
  send_filter_ = send ? send->Clone() : nullptr;
  receive_filter_ = receive ? receive->Clone() : nullptr;
}

bool QRNTPLink::Send(const QRNTPHeader& header, const uint8_t* body, size_t body_length, long ms) {
  if (!IsOpen()) return false;
  std::unique_ptr<PacketFilter> filter = send_filter_ ? send_filter_->Clone() : nullptr;
  std::vector<uint8_t> packet;
  if (!BuildQrntpPacket(header, body, body_length, filter.get(), &packet)) return false;
  std::unique_lock<std::mutex> lock;
  if (send_lock_ != nullptr) lock = std::unique_lock<std::mutex>(*send_lock_);
  return socket_->Send(packet.data(), static_cast<int>(packet.size()), ms) == static_cast<int>(packet.size());
}

size_t QRNTPLink::Drain() {
  if (!IsOpen()) return 0;
  size_t added = 0;
  uint8_t chunk[16384];
  while (pending_.size() - pending_start_ < kPendingLimit) {
    const size_t room = std::min(sizeof chunk, kPendingLimit - (pending_.size() - pending_start_));
    ssize_t n;
    do {
      n = ::recv(socket_->handle(), chunk, room, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    // A closed or broken connection is left for the reader to find.
    if (n <= 0) break;
    if (pending_start_ > 0 && pending_start_ == pending_.size()) {
      pending_.clear();
      pending_start_ = 0;
    }
    pending_.insert(pending_.end(), chunk, chunk + n);
    added += static_cast<size_t>(n);
  }
  return added;
}

size_t QRNTPLink::TakePending(uint8_t* buffer, size_t length) {
  const size_t n = std::min(length, pending_.size() - pending_start_);
  if (n == 0) return 0;
  std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(pending_start_), n, buffer);
  pending_start_ += n;
  if (pending_start_ == pending_.size()) {
    pending_.clear();
    pending_start_ = 0;
  }
  return n;
}

bool QRNTPLink::HasPending() const {
  return pending_start_ < pending_.size();
}

void QRNTPLink::DropPending() {
  pending_.clear();
  pending_start_ = 0;
}

bool QRNTPLink::ReceiveWithin(uint8_t* buffer, size_t length, long ms) {
  const size_t taken = TakePending(buffer, length);
  if (taken == length) return true;
  const int rest = static_cast<int>(length - taken);
  return socket_->Receive(buffer + taken, rest, ms, true) == rest;
}

QRNTPLink::ReadResult QRNTPLink::Read(long ms, Packet* packet) {
  if (!IsOpen()) return ReadResult::kBroken;
  auto receive = [this, ms](uint8_t* buffer, size_t length) { return ReceiveWithin(buffer, length, ms); };
  return ReadFrom(receive, subsystem_, receive_filter_.get(), packet);
}

QRNTPLink::ReadResult QRNTPLink::ReadFrom(const ReceiveExact& receive, const std::string& subsystem,
                                          const PacketFilter* receive_filter, Packet* packet) {
  uint8_t raw[kQrntpHeaderSize];
  if (!receive(raw, sizeof raw)) {
    packet->body.clear();
    return ReadResult::kBroken;
  }
  // Only a header that carries a seed goes through the receive filter.
  std::unique_ptr<PacketFilter> filter;
  if (receive_filter != nullptr && (GetLe32(raw + 38) != 0 || GetLe32(raw + 42) != 0)) {
    filter = receive_filter->Clone();
    filter->SetSeed(raw + 38, 8);
    filter->Transform(raw, raw, sizeof raw);
  }
  packet->header = QRNTPHeader::Decode(raw);
  if (!packet->header.MagicMatches() || !packet->header.LengthValid()) {
    packet->body.clear();
    return packet->header.MagicMatches() ? ReadResult::kBroken : ReadResult::kBadMagic;
  }
  const size_t length = packet->header.BodyLength();
  // The body's storage is reused: a buffer that held a body before is only
  // cut to size, not cleared and filled again.
  packet->body.resize(length);
  if (length > 0 && !receive(packet->body.data(), length)) return ReadResult::kBroken;
  // The body of another subsystem's packet is consumed too, keeping the stream in step.
  if (!packet->header.SubsystemIs(subsystem)) {
    packet->body.clear();
    return ReadResult::kForeign;
  }
  if (filter && length > 0) filter->Transform(packet->body.data(), packet->body.data(), length);
  return ReadResult::kOwn;
}

QRNTPLink::CallResult QRNTPLink::Call(std::string_view function, uint32_t call_id, const uint8_t* request,
                                      size_t request_length, long ms, std::vector<uint8_t>* response,
                                      const RequestSink& on_request, const CallWait& wait) {
  if (!IsOpen()) return CallResult::kNoSocket;
  QRNTPHeader header = QRNTPHeader::Make(subsystem_, function, kQrntpRequest, call_id);
  if (!Send(header, request, request_length, ms)) return CallResult::kSendFailed;
  const auto start = platform::GetClock().Now();
  auto last_arrival = start;
  auto last_asked = start;
  platform::Clock::TimePoint given_up_at{};
  bool silent = false;
  bool abandoned = false;
  const int fd = socket_->handle();
  bool drained = true;  // nothing is known to wait in the socket
  auto silence_holds = [&] {
    return wait.silence_ms > 0 && (wait.peer_keeps_alive == nullptr || *wait.peer_keeps_alive);
  };
  // Reads exactly `length` bytes in waits of at most one slice, so that the
  // whole wait is bounded by `ms` (a chatty peer cannot hold a call), a
  // silent peer by the silence limit, and the abandon check runs in between.
  // Bytes read ahead (while the abandon check ran) come first, so an answer
  // that arrived meanwhile is taken however long the check took.
  auto receive = [&](uint8_t* buffer, size_t length) {
    size_t got = 0;
    while (got < length) {
      const size_t taken = TakePending(buffer + got, length - got);
      if (taken > 0) {
        got += taken;
        last_arrival = platform::GetClock().Now();
        continue;
      }
      const auto now = platform::GetClock().Now();
      long slice = kWaitSliceMs;
      if (ms > 0) {
        const long long left = ms - platform::ElapsedMs(start);
        if (left <= 0) return false;
        slice = static_cast<long>(std::min<long long>(slice, left));
      }
      if (silence_holds()) {
        const long long left = wait.silence_ms - platform::ElapsedMs(last_arrival);
        if (left <= 0) {
          silent = true;
          return false;
        }
        slice = static_cast<long>(std::min<long long>(slice, left));
      }
      if (abandoned) {
        // Given up: the answer is still taken within the grace, which keeps
        // the link in step.
        const long long left = wait.abandon_grace_ms - platform::ElapsedMs(given_up_at);
        if (left <= 0) return false;
        slice = static_cast<long>(std::min<long long>(slice, left));
      } else if (wait.abandon && MsPassed(last_asked, now, kWaitSliceMs)) {
        if (wait.abandon()) {
          abandoned = true;
          given_up_at = platform::GetClock().Now();
        }
        last_asked = platform::GetClock().Now();
        continue;  // the check may have taken long: look at the pending bytes and the clock again
      }
      // Once bytes flow (the body right behind its header) the receive is
      // tried at once; the wait comes first only when the socket was empty.
      if (drained) {
        const int ready = PollFd(fd, POLLIN, slice);
        if (ready < 0) return false;
        if (ready == 0) continue;
      }
      ssize_t n;
      do {
        n = ::recv(fd, buffer + got, length - got, MSG_DONTWAIT);
      } while (n < 0 && errno == EINTR);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        drained = true;
        continue;
      }
      if (n <= 0) return false;  // closed by the peer, or broken
      got += static_cast<size_t>(n);
      drained = got < length;
      last_arrival = platform::GetClock().Now();
    }
    return true;
  };
  // The answer is read into the storage of `response` (a caller that keeps
  // its response buffer from call to call reads without allocating).
  Packet packet;
  packet.body.swap(*response);
  for (;;) {
    const ReadResult read = ReadFrom(receive, subsystem_, receive_filter_.get(), &packet);
    if (silent) return CallResult::kSilent;
    switch (read) {
      case ReadResult::kBadMagic:
        return CallResult::kBadMagic;
      case ReadResult::kBroken:
        return abandoned ? CallResult::kAbandoned : CallResult::kFailed;
      case ReadResult::kForeign:
        if (wait.peer_keeps_alive != nullptr && packet.header.SubsystemIs(kQrntpOneWaySubsystem) &&
            packet.header.FunctionIs(kQrntpKeepAlive)) {
          *wait.peer_keeps_alive = true;
        }
        continue;
      case ReadResult::kOwn:
        break;
    }
    const QRNTPHeader& h = packet.header;
    if (h.FunctionIs(function) &&
        ((h.kind == kQrntpResponse && h.call_id == call_id) || (h.kind == kQrntpOneWay && h.call_id == 0))) {
      *response = std::move(packet.body);
      return CallResult::kOk;
    }
    if ((h.kind == kQrntpRequest || h.kind == kQrntpOneWay) && on_request && !on_request(packet)) {
      return CallResult::kFailed;
    }
  }
}

QRNTPLink::ServeOutcome QRNTPLink::Serve(QRNTPRequestHandler& handler, const Packet& request, long ms,
                                         bool answer_refused) {
  ServeOutcome outcome;
  const std::string function = request.header.FunctionName();
  std::vector<uint8_t> output;
  outcome.handled = handler.HandleRawRequest(function, request.header.call_id, request.body, &output,
                                             &outcome.close_after);
  if (outcome.handled || answer_refused) {
    // An answer too large for one packet is not sent (Send refuses it).
    QRNTPHeader reply = QRNTPHeader::Make(subsystem_, function, kQrntpResponse, request.header.call_id);
    // Keep the function field byte for byte, even past a zero.
    std::copy(std::begin(request.header.function), std::end(request.header.function), reply.function);
    outcome.sent = Send(reply, output, ms);
    handler.OnReplied(function, request.header.call_id, outcome.handled, outcome.sent);
  }
  return outcome;
}

QRNTPLogEntry QRNTPLink::LogEntry(int level, uint32_t code, std::string message) const {
  QRNTPLogEntry e;
  e.level = level;
  e.code = code;
  e.message = std::move(message);
  if (socket_) {
    e.peer_host = socket_->PeerAddress();
    e.peer_port = socket_->PeerPort();
    e.local_host = socket_->LocalAddress();
    e.local_port = socket_->LocalPort();
  }
  return e;
}

}  // namespace sorvel
