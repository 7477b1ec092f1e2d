// Fuzz target: the emulated drive's state file. What ParseState accepts must
// serialise to a fixed point (parse, serialise, parse and serialise again
// gives the same text), and a drive opened over that state answers the probe
// without reading outside its buffers.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/emulated_drive/media_state.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/emulated_drive_probe.h"
#include "testing/fuzz_support.h"

using namespace sorvel::platform::emu;
using sorvel::fuzz::Check;
using sorvel::fuzz::ScratchFolder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  MediaState state;
  std::string error;
  if (!ParseState(text, &state, &error)) return 0;
  const std::string once = SerializeState(state);
  MediaState again;
  Check(ParseState(once, &again, &error) && SerializeState(again) == once);

  // Extents name image files; they are read only inside the folder.
  for (auto& extent : state.extents) {
    if (!extent.path.empty()) extent.path = ScratchFolder() + "/image";
    if (!extent.sub_path.empty()) extent.sub_path = ScratchFolder() + "/image";
  }
  const std::string path = ScratchFolder() + "/drive";
  sorvel::fuzz::WriteFile(path, SerializeState(state));
  sorvel::fuzz::WriteFile(ScratchFolder() + "/image", std::string(2448 * 4, '\x5A'));
  DriveSettings settings;
  settings.state_path = path;
  if (auto drive = SoftMmcDrive::Open(settings, &error)) Check(sorvel::testing::ProbeDrive(*drive) == 0);
  ::unlink(path.c_str());
  ::unlink((path + ".data").c_str());
  return 0;
}
