// Fuzz target: the daemon's configuration file read from disk, and the
// configuration taken from it. Every value read is in its bounds whatever the
// file says, reading the same file twice gives the same table, and the table
// written out reads back with the same number of entries or fewer (lines that
// only the writer makes short enough to drop).
#include <cstddef>
#include <cstdint>
#include <string>

#include "drive_daemon/daemon_config.h"
#include "drive_daemon/ini_profile.h"
#include "testing/fuzz_support.h"

using sorvel::fuzz::Check;
using sorvel::fuzz::ScratchFolder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = ScratchFolder() + "/KESTROW.INI";
  sorvel::fuzz::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
  sorvel::IniProfile profile;
  Check(profile.Load(path));
  sorvel::IniProfile again;
  Check(again.Load(path) && again.size() == profile.size());
  for (uint32_t ceiling : {1u, 20u, 1024u}) {
    const sorvel::DaemonConfig config = sorvel::ReadDaemonConfig(profile, ceiling);
    Check(config.listening_port >= 1);
    Check(config.max_connection >= 1 && config.max_connection <= ceiling);
  }
  const std::string saved = ScratchFolder() + "/saved.INI";
  Check(profile.Save(saved));
  sorvel::IniProfile back;
  Check(back.Load(saved) && back.size() <= profile.size());
  return 0;
}
