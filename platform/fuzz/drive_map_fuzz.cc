// Fuzz target: the drive map's text, as SORVEL_DRIVES (';' between entries)
// or as drives.conf (one entry a line, read from a file); the first byte
// chooses. What Parse keeps is at most one entry per letter A to Z with an
// absolute device or an "emu:" spec, found again by Find in either case, and
// its entries written out and parsed again give the same map.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/drive_map.h"
#include "testing/fuzz_support.h"

namespace {

using sorvel::fuzz::Check;
using sorvel::platform::DriveMap;

std::string ConfigFile() { return sorvel::fuzz::ScratchFolder() + "/drives.conf"; }

std::string Entries(const DriveMap& map, char separator) {
  std::string text;
  for (const auto& entry : map.entries()) text += std::string(1, entry.letter) + ":=" + entry.device + separator;
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const char separator = (data[0] & 1) != 0 ? '\n' : ';';
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  DriveMap map;
  if (separator == '\n') {
    sorvel::fuzz::WriteFile(ConfigFile(), text);
    sorvel::platform::DriveMapSources sources;
    sources.config_file = ConfigFile();
    sources.device_dir = "/nonexistent";
    map = DriveMap::Load(sources);
    Check(!map.config_problem() && Entries(map, '\n') == Entries(DriveMap::Parse(text, '\n'), '\n'));
  } else {
    map = DriveMap::Parse(text, separator);
  }
  Check(map.entries().size() <= 26);
  for (const auto& entry : map.entries()) {
    Check(entry.letter >= 'A' && entry.letter <= 'Z');
    Check(map.Find(entry.letter) == &entry.device);
    Check(map.Find(static_cast<char>(std::tolower(static_cast<unsigned char>(entry.letter)))) == &entry.device);
    Check(entry.device.rfind("/", 0) == 0 || (entry.device.rfind("emu:", 0) == 0 && entry.device.size() > 4));
  }
  const std::string written = Entries(map, separator);
  const DriveMap again = DriveMap::Parse(written, separator);
  Check(Entries(again, separator) == written && again.errors().empty());
  if (const auto letter = sorvel::platform::ParseDriveLetter(text)) Check(*letter >= 'A' && *letter <= 'Z');
  return 0;
}
