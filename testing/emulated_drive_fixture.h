// An emulated drive for tests of any folder: its state file in a scratch
// folder, the drive-map device text that opens it, and its test hooks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/emulated_drive/drive_hooks.h"
#include "platform/emulated_drive/emulated_drive_registry.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

// How the CD recorded in `copy` differs from that in `source`: the number
// of sessions, the tracks, and the main channel of every sector of
// `source`'s tracks. Empty when they are the same.
std::string CdDifferences(platform::emu::SoftMmcDrive& source, platform::emu::SoftMmcDrive& copy);

class EmulatedDriveFixture {
 public:
  // `settings`: the text after the state path, e.g. "medium=cd-r" or
  // "image=/path/disc.cue".
  EmulatedDriveFixture(const ScratchDir& dir, const std::string& settings = "medium=cd-r",
                       const std::string& name = "drive");

  const std::string& path() const { return path_; }
  // "emu:PATH,settings" for the drive map (SORVEL_DRIVES "X:=..." entries).
  const std::string& device() const { return device_; }
  // The spec OpenEmulatedDevice takes (the device text without "emu:").
  std::string spec() const { return device_.substr(4); }
  // Command log and faults, whether or not the drive is open.
  platform::emu::DriveHooks& hooks() const { return *hooks_; }
  // Logged commands of one opcode, oldest first.
  std::vector<platform::emu::LoggedCommand> Commands(uint8_t opcode) const;
  // The CDB of the last logged command with `opcode` (empty when none).
  std::vector<uint8_t> LastCdb(uint8_t opcode) const;
  // The drive while some "emu:" device of this process has it open, else null.
  platform::emu::SoftMmcDrive* drive() const { return platform::emu::FindOpenDrive(path_); }

 private:
  std::string path_;
  std::string device_;
  std::shared_ptr<platform::emu::DriveHooks> hooks_;
};

}  // namespace sorvel::testing
