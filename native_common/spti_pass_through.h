// The local pass-through: drive commands to a drive of this machine, named
// "\\.\X:" and found through the drive map (an SG_IO node or an emulated drive).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "native_common/scsi_pass_through.h"
#include "platform/scsi_device.h"

namespace sorvel {

class SptiPassThrough : public ScsiPassThrough {
 public:
  // Opens the device of an upper-case drive letter; null with `error` set on failure.
  using DeviceOpener = std::function<std::unique_ptr<platform::ScsiDevice>(char letter, std::string* error)>;

  // Opens drives through the process's drive map, read when each drive is opened.
  SptiPassThrough();
  explicit SptiPassThrough(DeviceOpener opener);
  ~SptiPassThrough() override;
  SptiPassThrough(const SptiPassThrough&) = delete;
  SptiPassThrough& operator=(const SptiPassThrough&) = delete;

  // Closes first, clears the sense, then opens the drive of "\\.\X:" (or "X:").
  bool Open(const std::string& path) override;
  // Synchronizes the drive's cache, allows medium removal and closes.
  bool Close() override;
  int32_t ExecCommand(const uint8_t* cdb, int cdb_length, void* data, uint32_t data_length, uint8_t* sense,
                      bool write, uint32_t timeout_seconds) override;

  // Why the last Open failed.
  const std::string& last_error() const { return last_error_; }

 private:
  void SetTransferFailed();

  DeviceOpener opener_;
  std::unique_ptr<platform::ScsiDevice> device_;
  std::string last_error_;
};

}  // namespace sorvel
