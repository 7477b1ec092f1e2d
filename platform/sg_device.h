// Real drives through Linux SG_IO. The ioctl is injectable so that the header
// built for a request and the mapping of its outcome can be checked without a
// drive.
#pragma once

#include <scsi/sg.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/scsi_device.h"

namespace sorvel::platform {

using IoctlFunction = std::function<int(int fd, unsigned long request, void* argument)>;

// Sense bytes the kernel may return for one command.
constexpr unsigned kSgSenseLength = 32;

// The SG_IO header for `request`; `sense` receives up to kSgSenseLength bytes.
sg_io_hdr_t BuildSgIoHeader(const ScsiRequest& request, uint8_t* sense);

// The outcome of an SG_IO call: not transferred when the ioctl failed or the
// host adapter or driver reported an error; else the SCSI status and sense.
ScsiResult ComposeSgResult(int ioctl_result, const sg_io_hdr_t& header, const uint8_t* sense);

class SgDevice : public ScsiDevice {
 public:
  // Takes ownership of `fd` (closed by the destructor when >= 0). A null
  // `ioctl` means the system's ioctl.
  explicit SgDevice(int fd, IoctlFunction ioctl = nullptr);
  ~SgDevice() override;
  SgDevice(const SgDevice&) = delete;
  SgDevice& operator=(const SgDevice&) = delete;

  ScsiResult Execute(const ScsiRequest& request) override;

 private:
  int fd_;
  IoctlFunction ioctl_;
};

// The SCSI generic node ("/dev/sgN") that sysfs under `sysfs_root` lists for
// the block device `node` ("/dev/srN"), or "" when there is none.
std::string FindGenericNode(const std::string& node, const std::string& sysfs_root = "/sys");

// Opens the drive `node` (a /dev/sr* or /dev/sg* device) for SG_IO, exclusively:
// the drive's sg node when it opens read-write, else `node` itself.
std::unique_ptr<ScsiDevice> OpenSgDevice(const std::string& node, std::string* error,
                                         const std::string& sysfs_root = "/sys");

}  // namespace sorvel::platform
