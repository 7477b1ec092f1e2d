// The one interface every drive command goes through: open a device by path,
// execute one SCSI command with an optional data phase, keep the sense of the
// last command, close. Implemented locally (SG_IO or an emulated drive) and
// remotely (REMOTESCSI over QRNTP).
#pragma once

#include <cstdint>
#include <string>

namespace sorvel {

// Sense key << 16 | ASC << 8 | ASCQ.
using SenseStatus = int32_t;

// No device open, or the command never reached the drive (key, ASC and ASCQ all 0xFF).
constexpr SenseStatus kSenseNoDevice = 0xFFFFFF;

constexpr SenseStatus MakeSenseStatus(uint8_t key, uint8_t asc, uint8_t ascq) {
  return static_cast<SenseStatus>((static_cast<uint32_t>(key) << 16) | (static_cast<uint32_t>(asc) << 8) | ascq);
}
constexpr uint8_t SenseKeyOf(SenseStatus s) { return static_cast<uint8_t>((s >> 16) & 0xFF); }
constexpr uint8_t SenseAscOf(SenseStatus s) { return static_cast<uint8_t>((s >> 8) & 0xFF); }
constexpr uint8_t SenseAscqOf(SenseStatus s) { return static_cast<uint8_t>(s & 0xFF); }

// Size of the sense buffer a caller may hand to ExecCommand.
constexpr int kSenseBufferSize = 32;

// Default command timeouts in seconds.
constexpr uint32_t kDefaultScsiTimeout = 180;
constexpr uint32_t kSyncCacheTimeout = 1800;
constexpr uint32_t kLongOperationTimeout = 3600;

class ScsiPassThrough {
 public:
  virtual ~ScsiPassThrough() = default;

  virtual bool Open(const std::string& path) = 0;
  virtual bool Close() = 0;

  // Executes one command. `data` may be null when `data_length` is 0; `sense`
  // receives kSenseBufferSize bytes when not null. `write` selects data out.
  // Result: -1 when no device is open or the transfer failed, else the SCSI
  // status byte (0 good, 2 check condition).
  virtual int32_t ExecCommand(const uint8_t* cdb, int cdb_length, void* data, uint32_t data_length,
                              uint8_t* sense, bool write, uint32_t timeout_seconds) = 0;

  // kSenseNoDevice when closed, else the sense of the last command.
  virtual SenseStatus GetSense() const { return is_open_ ? MakeSenseStatus(key_, asc_, ascq_) : kSenseNoDevice; }
  // Replaces the stored sense; does nothing when closed.
  virtual void SetSense(SenseStatus value) {
    if (!is_open_) return;
    key_ = SenseKeyOf(value);
    asc_ = SenseAscOf(value);
    ascq_ = SenseAscqOf(value);
  }
  // Clears the stored sense, open or not; returns false.
  virtual bool ClearSense() {
    key_ = asc_ = ascq_ = 0;
    return false;
  }

  bool IsOpen() const { return is_open_; }

 protected:
  bool is_open_ = false;
  uint8_t key_ = 0;
  uint8_t asc_ = 0;
  uint8_t ascq_ = 0;
};

}  // namespace sorvel
