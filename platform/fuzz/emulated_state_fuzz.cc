// Fuzz target: the emulated drive's state file. What ParseState accepts must
// serialise to a fixed point (parse, serialise, parse and serialise again
// gives the same text), and a drive opened over that state answers the probe
// without reading outside its buffers.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/emulated_drive/media_state.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "platform/fuzz/drive_probe.h"

namespace {

using namespace sorvel::platform::emu;

const std::string& Folder() {
  static const std::string folder = [] {
    char pattern[] = "/tmp/emulated-state-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    return std::string(made);
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  MediaState state;
  std::string error;
  if (!ParseState(text, &state, &error)) return 0;
  const std::string once = SerializeState(state);
  MediaState again;
  if (!ParseState(once, &again, &error) || SerializeState(again) != once) __builtin_trap();

  // Extents name image files; they are read only inside the folder.
  for (auto& extent : state.extents) {
    if (!extent.path.empty()) extent.path = Folder() + "/image";
    if (!extent.sub_path.empty()) extent.sub_path = Folder() + "/image";
  }
  const std::string path = Folder() + "/drive";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << SerializeState(state);
  std::ofstream(Folder() + "/image", std::ios::binary | std::ios::trunc) << std::string(2448 * 4, '\x5A');
  DriveSettings settings;
  settings.state_path = path;
  if (auto drive = SoftMmcDrive::Open(settings, &error)) sorvel::platform::emu::fuzz::Probe(*drive);
  ::unlink(path.c_str());
  ::unlink((path + ".data").c_str());
  return 0;
}
