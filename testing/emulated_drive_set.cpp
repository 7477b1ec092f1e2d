#include "testing/emulated_drive_set.h"

namespace sorvel::testing {

EmulatedDriveSet::EmulatedDriveSet(const ScratchDir& dir, const std::vector<std::string>& settings) {
  std::string map;
  for (size_t i = 0; i < settings.size(); ++i) {
    drives_.push_back(std::make_unique<EmulatedDriveFixture>(dir, settings[i], "drive" + std::to_string(i)));
    map += std::string(map.empty() ? "" : ";") + static_cast<char>('D' + i) + ":=" + drives_.back()->device();
  }
  map_ = std::make_unique<ScopedDriveMap>(map);
}

}  // namespace sorvel::testing
