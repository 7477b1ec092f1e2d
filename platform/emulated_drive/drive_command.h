// One command in flight inside the emulated drive: the CDB, the data buffer,
// the faults in force, and the sense it ends with. Private to the drive.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/emulated_drive/drive_hooks.h"
#include "platform/emulated_drive/soft_mmc_drive.h"

namespace sorvel::platform::emu {

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t Get24(const uint8_t* p) { return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2]; }
inline uint32_t Get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

struct SoftMmcDrive::Command {
  const uint8_t* cdb = nullptr;
  size_t cdb_length = 0;
  uint8_t* data = nullptr;
  size_t data_length = 0;
  bool write = false;
  DriveFaults faults;
  uint8_t sense[18] = {};
  bool has_sense = false;

  // Ends the command with CHECK CONDITION and fixed-format sense; `info`,
  // when given, goes to the information field (the failing LBA).
  int Fail(uint8_t key, uint8_t asc, uint8_t ascq, int64_t info = INT64_MIN) {
    std::memset(sense, 0, sizeof sense);
    sense[0] = 0x70;
    if (info != INT64_MIN) {
      sense[0] |= 0x80;
      Put32(sense + 3, static_cast<uint32_t>(info));
    }
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
    has_sense = true;
    return 2;
  }
  // Sends an answer, cut to the allocation length and to the host's buffer.
  int Reply(const std::vector<uint8_t>& answer, size_t allocation) {
    size_t n = std::min({answer.size(), allocation, data_length});
    if (n && data) std::memcpy(data, answer.data(), n);
    return 0;
  }
};

}  // namespace sorvel::platform::emu
