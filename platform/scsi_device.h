// A device that executes SCSI command blocks: a Linux SG_IO node or an
// emulated MMC drive. The local pass-through opens one through the drive map.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sorvel::platform {

struct ScsiRequest {
  const uint8_t* cdb = nullptr;
  size_t cdb_length = 0;
  void* data = nullptr;        // may be null when data_length is 0
  size_t data_length = 0;
  bool write = false;          // data out (host to drive) when true
  uint32_t timeout_seconds = 180;
};

struct ScsiResult {
  bool transferred = false;    // false: the command never reached the drive
  uint8_t status = 0;          // SCSI status byte (0 good, 2 check condition)
  uint8_t sense[32] = {};      // sense data as the drive returned it (fixed or descriptor format)
  size_t sense_length = 0;     // valid bytes of `sense`; 0 when the drive returned none
};

class ScsiDevice {
 public:
  virtual ~ScsiDevice() = default;
  virtual ScsiResult Execute(const ScsiRequest& request) = 0;
};

}  // namespace sorvel::platform
