// The drive map: which Linux device (or emulated drive) each drive letter names.
// Shared by the device engine, the drive daemon and the GUI. A drive name from
// the network or from a file is parsed as a letter and looked up here, never
// opened as a path.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/regular_file.h"
#include "platform/scsi_device.h"

namespace sorvel::platform {

struct DriveMapEntry {
  char letter = 0;     // 'A'..'Z'
  std::string device;  // "/dev/sr0", "/dev/sg1" or "emu:PATH[,settings]"
};

// Where a map comes from, in order of precedence.
struct DriveMapSources {
  std::optional<std::string> drives_variable;  // SORVEL_DRIVES: when set, the whole map
  std::filesystem::path config_file;           // drives.conf: the map when it exists
  std::filesystem::path device_dir = "/dev";   // else its sr0, sr1, ... become D:, E:, ...
};

// SORVEL_DRIVES, and drives.conf in $XDG_CONFIG_HOME/sorvel (default ~/.config/sorvel).
DriveMapSources DefaultDriveMapSources();

class DriveMap {
 public:
  // Entries "X:=DEVICE" separated by `separator`. Surrounding blanks, empty
  // entries and entries starting with '#' are ignored; bad entries (no letter,
  // no device, a relative path, a letter given twice) are skipped and described
  // in errors().
  static DriveMap Parse(std::string_view text, char separator);
  // The optical drives sr0, sr1, ... of `device_dir` in number order as D:, E:, ...
  static DriveMap FromOpticalDrives(const std::filesystem::path& device_dir);
  static DriveMap Load(const DriveMapSources& sources);
  // The map of this process, from DefaultDriveMapSources().
  static DriveMap Load();
  // The device of `letter` (either case), or null.
  const std::string* Find(char letter) const;
  const std::vector<DriveMapEntry>& entries() const { return entries_; }
  const std::vector<std::string>& errors() const { return errors_; }
  // drives.conf exists but was not read (not a regular file, too large,
  // unreadable): the map is then the optical drives', and this tells why.
  const FileProblem& config_problem() const { return config_problem_; }

 private:
  void Add(std::string_view entry);

  std::vector<DriveMapEntry> entries_;
  std::vector<std::string> errors_;
  FileProblem config_problem_;
};

// The upper-case letter of a drive name "X:" or "\\.\X:" (letter in either
// case), or nothing for any other text.
std::optional<char> ParseDriveLetter(std::string_view name);

// Opens the device that `map` gives for `letter`: an SG_IO node, or the
// emulated drive of an "emu:" entry. Null with `error` set on failure.
std::unique_ptr<ScsiDevice> OpenMappedDrive(char letter, const DriveMap& map, std::string* error);

}  // namespace sorvel::platform
