#include "testing/emulated_drive.h"

#include "platform/drive_map.h"

namespace sorvel::testing {

EmulatedDriveSetup::EmulatedDriveSetup(const std::string& settings)
    : fixture_(dir_, settings),
      pass_through_([this](char letter, std::string* error) {
        return platform::OpenMappedDrive(letter, platform::DriveMap::Parse("E:=" + fixture_.device(), ';'), error);
      }) {}

std::vector<platform::emu::LoggedCommand> EmulatedDriveSetup::Commands(uint8_t opcode) const {
  std::vector<platform::emu::LoggedCommand> out;
  for (const auto& c : fixture_.hooks().log()) {
    if (c.opcode() == opcode) out.push_back(c);
  }
  return out;
}

std::vector<uint8_t> EmulatedDriveSetup::LastCdb(uint8_t opcode) const {
  std::vector<platform::emu::LoggedCommand> all = Commands(opcode);
  return all.empty() ? std::vector<uint8_t>{} : all.back().cdb;
}

}  // namespace sorvel::testing
