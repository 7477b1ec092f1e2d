// The fake drive of the daemon's fuzz targets: data-in is a known pattern
// (0xA5 ^ index), every data-out byte is read, odd opcodes fail with sense
// and one opcode (0xFE) never reaches the drive.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/scsi_device.h"

namespace sorvel::fuzz {

class PatternDevice : public platform::ScsiDevice {
 public:
  platform::ScsiResult Execute(const platform::ScsiRequest& request) override {
    platform::ScsiResult result;
    result.transferred = request.cdb[0] != 0xFE;  // one opcode is "lost"
    auto* bytes = static_cast<uint8_t*>(request.data);
    uint8_t sum = 0;
    for (size_t i = 0; i < request.data_length; ++i) {
      if (request.write) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
      } else {
        bytes[i] = static_cast<uint8_t>(0xA5 ^ i);
      }
    }
    if (request.cdb[0] & 1) {
      result.status = 2;
      result.sense[0] = 0x70;
      result.sense[2] = static_cast<uint8_t>(5 + (sum & 1));
      result.sense[12] = 0x24;
      result.sense_length = 18;
    }
    return result;
  }
};

inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace sorvel::fuzz
