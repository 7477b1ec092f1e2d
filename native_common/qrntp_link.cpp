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
  return socket_->Send(packet.data(), static_cast<int>(packet.size()), ms) == static_cast<int>(packet.size());
}

QRNTPLink::ReadResult QRNTPLink::Read(long ms, Packet* packet) {
  if (!IsOpen()) return ReadResult::kBroken;
  TcpSocket* socket = socket_.get();
  auto receive = [socket, ms](uint8_t* buffer, size_t length) {
    return socket->Receive(buffer, static_cast<int>(length), ms, true) == static_cast<int>(length);
  };
  return ReadFrom(receive, subsystem_, receive_filter_.get(), packet);
}

QRNTPLink::ReadResult QRNTPLink::ReadFrom(const ReceiveExact& receive, const std::string& subsystem,
                                          const PacketFilter* receive_filter, Packet* packet) {
  uint8_t raw[kQrntpHeaderSize];
  packet->body.clear();
  if (!receive(raw, sizeof raw)) return ReadResult::kBroken;
  // Only a header that carries a seed goes through the receive filter.
  std::unique_ptr<PacketFilter> filter;
  if (receive_filter != nullptr && (GetLe32(raw + 38) != 0 || GetLe32(raw + 42) != 0)) {
    filter = receive_filter->Clone();
    filter->SetSeed(raw + 38, 8);
    filter->Transform(raw, raw, sizeof raw);
  }
  packet->header = QRNTPHeader::Decode(raw);
  if (!packet->header.MagicMatches()) return ReadResult::kBadMagic;
  if (!packet->header.LengthValid()) return ReadResult::kBroken;
  const size_t length = packet->header.BodyLength();
  if (length > 0) {
    packet->body.resize(length);
    if (!receive(packet->body.data(), length)) return ReadResult::kBroken;
  }
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
  bool silent = false;
  bool abandoned = false;
  const int fd = socket_->handle();
  // Reads exactly `length` bytes in waits of at most one slice, so that the
  // whole wait is bounded by `ms` (a chatty peer cannot hold a call), a
  // silent peer by the silence limit, and the abandon check runs in between.
  auto receive = [&](uint8_t* buffer, size_t length) {
    size_t got = 0;
    while (got < length) {
      const auto now = platform::GetClock().Now();
      long slice = kWaitSliceMs;
      if (ms > 0) {
        const long long left = ms - platform::ElapsedMs(start);
        if (left <= 0) return false;
        slice = static_cast<long>(std::min<long long>(slice, left));
      }
      if (wait.silence_ms > 0) {
        const long long left = wait.silence_ms - platform::ElapsedMs(last_arrival);
        if (left <= 0) {
          silent = true;
          return false;
        }
        slice = static_cast<long>(std::min<long long>(slice, left));
      }
      if (wait.abandon && MsPassed(last_asked, now, kWaitSliceMs)) {
        last_asked = now;
        if (wait.abandon()) {
          abandoned = true;
          return false;
        }
      }
      const int ready = PollFd(fd, POLLIN, slice);
      if (ready < 0) return false;
      if (ready == 0) continue;
      ssize_t n;
      do {
        n = ::recv(fd, buffer + got, length - got, MSG_DONTWAIT);
      } while (n < 0 && errno == EINTR);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (n <= 0) return false;  // closed by the peer, or broken
      got += static_cast<size_t>(n);
      last_arrival = platform::GetClock().Now();
    }
    return true;
  };
  for (;;) {
    Packet packet;
    const ReadResult read = ReadFrom(receive, subsystem_, receive_filter_.get(), &packet);
    if (abandoned) return CallResult::kAbandoned;
    if (silent) return CallResult::kSilent;
    switch (read) {
      case ReadResult::kBadMagic:
        return CallResult::kBadMagic;
      case ReadResult::kBroken:
        return CallResult::kFailed;
      case ReadResult::kForeign:
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
