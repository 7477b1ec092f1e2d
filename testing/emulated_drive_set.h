// Emulated drives mapped as D:, E:, ... in order: the drive map
// (SORVEL_DRIVES) of this process, and of the programs it starts, for one scope.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "testing/emulated_drive_fixture.h"
#include "testing/scoped_env.h"

namespace sorvel::testing {

class EmulatedDriveSet {
 public:
  // `settings` per drive, e.g. "image=/x/disc.cue" or "medium=cd-r".
  EmulatedDriveSet(const ScratchDir& dir, const std::vector<std::string>& settings);
  const EmulatedDriveFixture& drive(size_t i = 0) const { return *drives_[i]; }
  size_t size() const { return drives_.size(); }

 private:
  std::vector<std::unique_ptr<EmulatedDriveFixture>> drives_;
  std::unique_ptr<ScopedDriveMap> map_;
};

}  // namespace sorvel::testing
