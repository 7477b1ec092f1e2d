// Fuzz target: the emulated drive's image loader over an arbitrary CUE sheet
// or CCD descriptor (the first byte chooses) beside small .bin, .img, .sub
// and .cdt files. A sheet either loads into a disc the drive answers the
// probe for, or is refused with a reason.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/emulated_drive/image_loader.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/emulated_drive_probe.h"
#include "testing/fuzz_support.h"

namespace {

using namespace sorvel::platform::emu;
using sorvel::fuzz::Check;
using sorvel::fuzz::WriteFile;

constexpr int kSectors = 40;

const std::string& Folder() {
  static const std::string folder = [] {
    const std::string dir = sorvel::fuzz::ScratchFolder();
    std::string sectors;
    for (int i = 0; i < kSectors * 2352; ++i) sectors.push_back(static_cast<char>(i * 7));
    WriteFile(dir + "/a.bin", sectors);
    WriteFile(dir + "/a.img", sectors);
    WriteFile(dir + "/a.sub", std::string(kSectors * 96, '\0'));
    std::string pack(18, '\0');
    pack[0] = static_cast<char>(0x80);
    WriteFile(dir + "/a.cdt", pack + pack);
    return dir;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool ccd = (data[0] & 1) != 0;
  const std::string sheet = Folder() + (ccd ? "/a.ccd" : "/a.cue");
  WriteFile(sheet, std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  MediaState state;
  std::string error;
  const bool loaded = LoadDiscImage(sheet, 0x08, &state, &error);
  Check(loaded || !error.empty());  // a refusal always says why
  if (!loaded) return 0;
  DriveSettings settings;
  settings.state_path = Folder() + "/drive";
  settings.image = sheet;
  ::unlink(settings.state_path.c_str());
  if (auto drive = SoftMmcDrive::Open(settings, &error)) Check(sorvel::testing::ProbeDrive(*drive) == 0);
  ::unlink(settings.state_path.c_str());
  ::unlink((settings.state_path + ".data").c_str());
  return 0;
}
