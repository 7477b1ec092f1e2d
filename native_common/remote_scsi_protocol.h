// The REMOTESCSI calls "Open", "Close" and "ExecCommand": names, sizes and the
// byte layouts of their request and reply blocks (little-endian integers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "native_common/qrntp_packet.h"

namespace sorvel {

constexpr std::string_view kRemoteScsiSubsystem = "REMOTESCSI";
constexpr std::string_view kRemoteScsiOpen = "Open";
constexpr std::string_view kRemoteScsiClose = "Close";
constexpr std::string_view kRemoteScsiExecCommand = "ExecCommand";

// "Open" request: a zero-terminated device path "\\.\X:", zero-padded.
constexpr size_t kOpenRequestSize = 260;
constexpr size_t kExecCommandRequestSize = 48;
constexpr size_t kExecCommandReplySize = 40;
// Room for the CDB in the request block; longer CDBs travel with length 0.
constexpr size_t kCdbFieldSize = 32;
// The longest CDB a drive command has.
constexpr int32_t kMaxCdbLength = 16;
// Data a command may move in one packet: data-in bytes follow the reply block,
// data-out bytes follow the request block.
constexpr int32_t kMaxDataInLength = static_cast<int32_t>(kQrntpMaxBody - kExecCommandReplySize);    // 65,445
constexpr int32_t kMaxDataOutLength = static_cast<int32_t>(kQrntpMaxBody - kExecCommandRequestSize);  // 65,437
// Longest command time-out the server runs (full BLANK and FORMAT UNIT).
constexpr int32_t kMaxRemoteTimeoutSeconds = 3600;

struct ExecCommandRequest {
  int32_t data_in_length = 0;   // bytes the drive is to return; 0 when writing
  int32_t timeout_seconds = 0;
  int32_t cdb_length = 0;       // 0 when the CDB is longer than the field
  uint8_t cdb[kCdbFieldSize] = {};
  int32_t data_out_length = 0;  // bytes that follow the block; 0 when reading

  void Encode(uint8_t out[kExecCommandRequestSize]) const;
  static ExecCommandRequest Decode(const uint8_t in[kExecCommandRequestSize]);
};

struct ExecCommandReply {
  int32_t result = -1;  // SCSI status, or -1 when the command did not reach the drive
  uint8_t sense[32] = {};
  int32_t data_length = 0;  // data-in bytes that follow the block

  void Encode(uint8_t out[kExecCommandReplySize]) const;
  static ExecCommandReply Decode(const uint8_t in[kExecCommandReplySize]);
};

}  // namespace sorvel
