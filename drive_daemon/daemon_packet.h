// The daemon's form of the QRNTP packet: the same 50-byte header with length,
// magic and subsystem, but a 32-byte function field in place of kind, call id
// and seeds; and what a session does with one packet it has read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "native_common/qrntp_packet.h"

namespace sorvel {

constexpr size_t kDaemonFunctionSize = 32;

struct DaemonHeader {
  uint16_t total_length = kQrntpHeaderSize;
  uint8_t magic[6] = {};
  uint8_t subsystem[kQrntpSubsystemSize] = {};
  uint8_t function[kDaemonFunctionSize] = {};

  static DaemonHeader Decode(const uint8_t in[kQrntpHeaderSize]);
  void Encode(uint8_t out[kQrntpHeaderSize]) const;
  // The function field up to its first zero (at most 32 bytes).
  std::string FunctionName() const;
};

enum class DaemonPacketClass {
  kOwn,        // a request of the server's subsystem: read its body and dispatch it
  kKeepAlive,  // right magic, a keep-alive subsystem ("SUBSYSTEM.", "KEEPALIVE"): body skipped, no answer
  kBad,        // wrong magic, a length below the header or another subsystem: no packet of this server
};

DaemonPacketClass ClassifyDaemonHeader(const DaemonHeader& header, std::string_view subsystem);

// Handles the requests of one connection; the default handles nothing.
class DaemonRequestHandler {
 public:
  virtual ~DaemonRequestHandler() = default;
  virtual bool Dispatch(std::string_view function, const uint8_t* request, size_t length,
                        std::vector<uint8_t>* response);
};

// Dispatches one request of the own subsystem and builds the answer: magic,
// the subsystem, the request's function name only when it was handled, and
// the response as body. False (no answer) when the response exceeds the body
// limit.
bool AnswerDaemonRequest(std::string_view subsystem, DaemonRequestHandler& handler, const DaemonHeader& header,
                         const uint8_t* body, size_t body_length, std::vector<uint8_t>* answer);

// The discovery answer: true, with `datagram` rewritten to "LetHostName", when
// it is a "GetHostName" query of `subsystem` (exactly 50 bytes).
bool AnswerDiscoveryDatagram(std::string_view subsystem, uint8_t* datagram, size_t length);

}  // namespace sorvel
