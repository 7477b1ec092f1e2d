#include "testing/emulated_drive.h"

#include "platform/drive_map.h"

namespace sorvel::testing {

EmulatedDriveSetup::EmulatedDriveSetup(const std::string& settings)
    : state_path_((dir_ / "drive.state").string()),
      entry_("E:=emu:" + state_path_ + (settings.empty() ? "" : "," + settings)),
      hooks_(platform::emu::HooksFor(state_path_)),
      pass_through_([this](char letter, std::string* error) {
        return platform::OpenMappedDrive(letter, platform::DriveMap::Parse(entry_, ';'), error);
      }) {}

std::vector<platform::emu::LoggedCommand> EmulatedDriveSetup::Commands(uint8_t opcode) const {
  std::vector<platform::emu::LoggedCommand> out;
  for (const auto& c : hooks_->log()) {
    if (c.opcode() == opcode) out.push_back(c);
  }
  return out;
}

std::vector<uint8_t> EmulatedDriveSetup::LastCdb(uint8_t opcode) const {
  std::vector<platform::emu::LoggedCommand> all = Commands(opcode);
  return all.empty() ? std::vector<uint8_t>{} : all.back().cdb;
}

}  // namespace sorvel::testing
