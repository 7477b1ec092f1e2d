#include "drive_daemon/daemon_packet.h"

#include <cstring>

#include "native_common/little_endian.h"

namespace sorvel {

DaemonHeader DaemonHeader::Decode(const uint8_t in[kQrntpHeaderSize]) {
  DaemonHeader h;
  h.total_length = GetLe16(in);
  std::memcpy(h.magic, in + 2, sizeof h.magic);
  std::memcpy(h.subsystem, in + 8, sizeof h.subsystem);
  std::memcpy(h.function, in + 18, sizeof h.function);
  return h;
}

void DaemonHeader::Encode(uint8_t out[kQrntpHeaderSize]) const {
  PutLe16(out, total_length);
  std::memcpy(out + 2, magic, sizeof magic);
  std::memcpy(out + 8, subsystem, sizeof subsystem);
  std::memcpy(out + 18, function, sizeof function);
}

std::string DaemonHeader::FunctionName() const {
  size_t n = 0;
  while (n < sizeof function && function[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(function), n);
}

DaemonPacketClass ClassifyDaemonHeader(const DaemonHeader& header, std::string_view subsystem) {
  if (!QrntpNameIs(header.magic, sizeof header.magic, kQrntpMagic) || header.total_length < kQrntpHeaderSize) {
    return DaemonPacketClass::kBad;
  }
  if (QrntpNameIs(header.subsystem, sizeof header.subsystem, subsystem)) return DaemonPacketClass::kOwn;
  if (QrntpNameIs(header.subsystem, sizeof header.subsystem, kQrntpOneWaySubsystem) ||
      QrntpNameIs(header.subsystem, sizeof header.subsystem, kQrntpKeepAlive)) {
    return DaemonPacketClass::kKeepAlive;
  }
  return DaemonPacketClass::kBad;
}

bool DaemonRequestHandler::Dispatch(std::string_view, const uint8_t*, size_t, std::vector<uint8_t>* response) {
  response->clear();
  return false;
}

bool AnswerDaemonRequest(std::string_view subsystem, DaemonRequestHandler& handler, const DaemonHeader& header,
                         const uint8_t* body, size_t body_length, std::vector<uint8_t>* answer) {
  answer->clear();
  const std::string function = header.FunctionName();
  std::vector<uint8_t> response;
  const bool handled = handler.Dispatch(function, body, body_length, &response);
  if (response.size() > kQrntpMaxBody) return false;
  DaemonHeader reply;
  reply.total_length = static_cast<uint16_t>(kQrntpHeaderSize + response.size());
  SetQrntpName(reply.magic, sizeof reply.magic, kQrntpMagic);
  SetQrntpName(reply.subsystem, sizeof reply.subsystem, subsystem);
  if (handled) SetQrntpName(reply.function, sizeof reply.function, function);
  answer->resize(kQrntpHeaderSize + response.size());
  reply.Encode(answer->data());
  if (!response.empty()) std::memcpy(answer->data() + kQrntpHeaderSize, response.data(), response.size());
  return true;
}

bool AnswerDiscoveryDatagram(std::string_view subsystem, uint8_t* datagram, size_t length) {
  if (length != kQrntpHeaderSize) return false;
  DaemonHeader h = DaemonHeader::Decode(datagram);
  if (!QrntpNameIs(h.magic, sizeof h.magic, kQrntpMagic) || !QrntpNameIs(h.subsystem, sizeof h.subsystem, subsystem) ||
      !QrntpNameIs(h.function, sizeof h.function, kQrntpGetHostName)) {
    return false;
  }
  SetQrntpName(datagram + 18, kDaemonFunctionSize, kQrntpLetHostName);
  return true;
}

}  // namespace sorvel
