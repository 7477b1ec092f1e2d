#include "platform/drive_map.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/emulated_device.h"
#include "platform/regular_file.h"
#include "platform/sg_device.h"

namespace sorvel::platform {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kEmulatedPrefix = "emu:";

std::string_view Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return text.substr(b, e - b);
}

std::optional<char> LetterOf(std::string_view text) {
  if (text.size() != 2 || text[1] != ':') return std::nullopt;
  unsigned char c = static_cast<unsigned char>(text[0]);
  if (!std::isalpha(c) || c > 0x7F) return std::nullopt;
  return static_cast<char>(std::toupper(c));
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return home;
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "";
}

}  // namespace

DriveMapSources DefaultDriveMapSources() {
  DriveMapSources sources;
  if (const char* drives = std::getenv("SORVEL_DRIVES"); drives != nullptr) sources.drives_variable = drives;
  fs::path config;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg == '/') {
    config = xdg;  // XDG base directories must be absolute; a relative value is ignored
  } else {
    std::string home = HomeDirectory();
    if (!home.empty()) config = fs::path(home) / ".config";
  }
  if (!config.empty()) sources.config_file = config / "sorvel" / "drives.conf";
  return sources;
}

void DriveMap::Add(std::string_view raw) {
  std::string_view entry = Trim(raw);
  if (entry.empty() || entry.front() == '#') return;
  size_t eq = entry.find('=');
  if (eq == std::string_view::npos) {
    errors_.push_back("drive map entry without '=': \"" + std::string(entry) + "\"");
    return;
  }
  std::optional<char> letter = LetterOf(Trim(entry.substr(0, eq)));
  std::string device(Trim(entry.substr(eq + 1)));
  if (!letter) {
    errors_.push_back("drive map entry without a drive letter: \"" + std::string(entry) + "\"");
    return;
  }
  bool emulated = device.rfind(kEmulatedPrefix, 0) == 0;
  if ((emulated && device.size() == kEmulatedPrefix.size()) || (!emulated && device.rfind('/', 0) != 0)) {
    errors_.push_back("drive map entry without a device path: \"" + std::string(entry) + "\"");
    return;
  }
  if (Find(*letter) != nullptr) {
    errors_.push_back(std::string("drive ") + *letter + ": is mapped twice; the first entry is kept");
    return;
  }
  entries_.push_back({*letter, std::move(device)});
}

DriveMap DriveMap::Parse(std::string_view text, char separator) {
  DriveMap map;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(separator, pos);
    if (end == std::string_view::npos) end = text.size();
    map.Add(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return map;
}

DriveMap DriveMap::FromOpticalDrives(const fs::path& device_dir) {
  std::vector<unsigned long> numbers;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(device_dir, ec)) {
    std::string name = entry.path().filename().string();
    if (name.size() < 3 || name.size() > 6 || name.compare(0, 2, "sr") != 0) continue;
    if (!std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    numbers.push_back(std::stoul(name.substr(2)));
  }
  std::sort(numbers.begin(), numbers.end());
  DriveMap map;
  char letter = 'D';
  for (unsigned long n : numbers) {
    if (letter > 'Z') break;
    map.entries_.push_back({letter++, (device_dir / ("sr" + std::to_string(n))).string()});
  }
  return map;
}

DriveMap DriveMap::Load(const DriveMapSources& sources) {
  if (sources.drives_variable) return Parse(*sources.drives_variable, ';');
  if (!sources.config_file.empty()) {
    std::string text;
    FileProblem problem;
    if (ReadRegularFile(sources.config_file.string(), kMaxSettingsFileBytes, &text, &problem)) {
      return Parse(text, '\n');
    }
    if (!problem.Missing()) {
      DriveMap map = FromOpticalDrives(sources.device_dir);
      map.errors_.push_back(DescribeFileProblem(sources.config_file.string(), problem));
      map.config_problem_ = problem;
      return map;
    }
  }
  return FromOpticalDrives(sources.device_dir);
}

DriveMap DriveMap::Load() { return Load(DefaultDriveMapSources()); }

const std::string* DriveMap::Find(char letter) const {
  char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  for (const DriveMapEntry& entry : entries_) {
    if (entry.letter == upper) return &entry.device;
  }
  return nullptr;
}

std::optional<char> ParseDriveLetter(std::string_view name) {
  constexpr std::string_view kDevicePrefix = "\\\\.\\";
  if (name.size() == kDevicePrefix.size() + 2 && name.substr(0, kDevicePrefix.size()) == kDevicePrefix) {
    name.remove_prefix(kDevicePrefix.size());
  }
  return LetterOf(name);
}

std::unique_ptr<ScsiDevice> OpenMappedDrive(char letter, const DriveMap& map, std::string* error) {
  const std::string* device = map.Find(letter);
  if (device == nullptr) {
    if (error) {
      *error = std::string("drive ") + static_cast<char>(std::toupper(static_cast<unsigned char>(letter))) +
               ": is not in the drive map";
      for (const std::string& e : map.errors()) *error += "; " + e;
    }
    return nullptr;
  }
  if (device->rfind(kEmulatedPrefix, 0) == 0) {
    return OpenEmulatedDevice(device->substr(kEmulatedPrefix.size()), error);
  }
  return OpenSgDevice(*device, error);
}

}  // namespace sorvel::platform
