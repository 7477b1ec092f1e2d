#include "testing/emulated_drive_fixture.h"

namespace sorvel::testing {

EmulatedDriveFixture::EmulatedDriveFixture(const ScratchDir& dir, const std::string& settings, const std::string& name)
    : path_((dir / (name + ".state")).string()),
      device_("emu:" + path_ + (settings.empty() ? "" : "," + settings)),
      hooks_(platform::emu::HooksFor(path_)) {}

std::vector<platform::emu::LoggedCommand> EmulatedDriveFixture::Commands(uint8_t opcode) const {
  std::vector<platform::emu::LoggedCommand> out;
  for (const auto& c : hooks_->log()) {
    if (c.opcode() == opcode) out.push_back(c);
  }
  return out;
}

std::vector<uint8_t> EmulatedDriveFixture::LastCdb(uint8_t opcode) const {
  std::vector<platform::emu::LoggedCommand> all = Commands(opcode);
  return all.empty() ? std::vector<uint8_t>{} : all.back().cdb;
}

}  // namespace sorvel::testing
