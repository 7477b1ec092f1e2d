// An emulated drive for engine tests, reached the way the engine reaches a
// drive: the local pass-through opens "\\.\E:" through a drive map entry
// "E:=emu:PATH,settings". The drive's command log and faults are at hand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "native_common/spti_pass_through.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

class EmulatedDriveSetup {
 public:
  // `settings`: the comma-separated settings after the state path, e.g. "medium=cd-r".
  explicit EmulatedDriveSetup(const std::string& settings = "");

  // The local pass-through that opens "\\.\E:" through the drive map entry.
  SptiPassThrough& pass_through() { return pass_through_; }
  const ScratchDir& dir() const { return dir_; }
  platform::emu::DriveHooks& hooks() { return fixture_.hooks(); }

  // Logged commands, all or those of one opcode.
  std::vector<platform::emu::LoggedCommand> Commands() const { return fixture_.hooks().log(); }
  std::vector<platform::emu::LoggedCommand> Commands(uint8_t opcode) const { return fixture_.Commands(opcode); }
  // The CDB of the last logged command with `opcode` (empty when none).
  std::vector<uint8_t> LastCdb(uint8_t opcode) const { return fixture_.LastCdb(opcode); }

 private:
  ScratchDir dir_;
  EmulatedDriveFixture fixture_;
  SptiPassThrough pass_through_;
};

}  // namespace sorvel::testing
