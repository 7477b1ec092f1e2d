#include "testing/emulated_drive_fixture.h"

namespace sorvel::testing {

EmulatedDriveFixture::EmulatedDriveFixture(const ScratchDir& dir, const std::string& settings, const std::string& name)
    : path_((dir / (name + ".state")).string()),
      device_("emu:" + path_ + (settings.empty() ? "" : "," + settings)),
      hooks_(platform::emu::HooksFor(path_)) {}

}  // namespace sorvel::testing
