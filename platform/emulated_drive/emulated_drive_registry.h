// Test access to emulated drives by state path: the hooks (command log and
// faults) of a path, and the drive behind an open "emu:" device.
#pragma once

#include <memory>
#include <string>

#include "platform/emulated_drive/drive_hooks.h"

namespace sorvel::platform::emu {

class SoftMmcDrive;

// The drive an open "emu:PATH" device of this process runs, or null. Valid
// until that device is destroyed.
SoftMmcDrive* FindOpenDrive(const std::string& state_path);

}  // namespace sorvel::platform::emu
