// Opens an emulated MMC drive named by an "emu:" entry of the drive map.
#pragma once

#include <memory>
#include <string>

#include "platform/scsi_device.h"

namespace sorvel::platform {

// `spec` is the text after "emu:": the state file path, optionally followed by
// comma-separated settings (medium=, image=, vendor=, product=; see
// platform/emulated_drive/soft_mmc_drive.h). Returns null (with `error` set) when the drive
// cannot be opened, for example because another process holds it.
std::unique_ptr<ScsiDevice> OpenEmulatedDevice(const std::string& spec, std::string* error);

}  // namespace sorvel::platform
