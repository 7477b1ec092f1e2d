// An emulated drive for engine tests: a drive map entry "E:=emu:PATH,settings"
// in a scratch folder, opened through the local pass-through, with the drive's
// command log and faults at hand.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "native_common/spti_pass_through.h"
#include "platform/emulated_drive/drive_hooks.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

class EmulatedDriveSetup {
 public:
  // `settings`: the comma-separated settings after the state path, e.g. "medium=cd-r".
  explicit EmulatedDriveSetup(const std::string& settings = "");

  // The local pass-through that opens "\\.\E:" through the drive map entry.
  SptiPassThrough& pass_through() { return pass_through_; }
  const std::string& state_path() const { return state_path_; }
  const ScratchDir& dir() const { return dir_; }
  platform::emu::DriveHooks& hooks() { return *hooks_; }

  // Logged commands, all or those of one opcode.
  std::vector<platform::emu::LoggedCommand> Commands() const { return hooks_->log(); }
  std::vector<platform::emu::LoggedCommand> Commands(uint8_t opcode) const;
  // The CDB of the last logged command with `opcode` (empty when none).
  std::vector<uint8_t> LastCdb(uint8_t opcode) const;

 private:
  ScratchDir dir_;
  std::string state_path_;
  std::string entry_;
  std::shared_ptr<platform::emu::DriveHooks> hooks_;
  SptiPassThrough pass_through_;
};

}  // namespace sorvel::testing
