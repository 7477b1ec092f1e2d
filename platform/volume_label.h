// The volume label of the disc in a mapped drive: the label of its ISO 9660
// volume, Joliet's when the disc has a Joliet descriptor, else the primary
// volume identifier, trailing blanks removed. Read from the device node, or
// through the emulated drive of an "emu:" entry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/drive_map.h"

namespace sorvel::platform {

// Reads the 2,048 bytes of logical sector `lba` into `sector`; false when the
// sector cannot be read.
using SectorReader = std::function<bool(int32_t lba, uint8_t* sector)>;

// The label (UTF-8) of the ISO 9660 volume whose descriptors `read` yields
// from sector 16 on; "" when there is no such volume or no label.
std::string IsoVolumeLabel(const SectorReader& read);

// The label of the disc in drive `letter` of `map`; "" when the letter is not
// mapped, the drive cannot be opened, holds no disc or no ISO 9660 volume.
std::string VolumeLabel(char letter, const DriveMap& map);
// The same with the drive map of this process.
std::string VolumeLabel(char letter);

}  // namespace sorvel::platform
