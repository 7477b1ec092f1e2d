#include "testing/emulated_drive.h"

#include "platform/drive_map.h"

namespace sorvel::testing {

EmulatedDriveSetup::EmulatedDriveSetup(const std::string& settings)
    : fixture_(dir_, settings),
      pass_through_([this](char letter, std::string* error) {
        return platform::OpenMappedDrive(letter, platform::DriveMap::Parse("E:=" + fixture_.device(), ';'), error);
      }) {}

}  // namespace sorvel::testing
