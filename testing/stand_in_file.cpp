#include "testing/stand_in_file.h"

#include "testing/file_bytes.h"

namespace sorvel::testing {

const char* StandInName(StandIn kind) {
  switch (kind) {
    case StandIn::kRegular: return "regular";
    case StandIn::kMissing: return "missing";
    case StandIn::kFifo: return "fifo";
    case StandIn::kZeroDevice: return "dev_zero_link";
    case StandIn::kFolder: return "folder";
    case StandIn::kDanglingLink: return "dangling_link";
    case StandIn::kOversize: return "oversize";
  }
  return "?";
}

StandInFile::StandInFile(const std::filesystem::path& path, StandIn kind, const std::string& contents,
                         int64_t bound) {
  namespace fs = std::filesystem;
  switch (kind) {
    case StandIn::kRegular: WriteFileBytes(path, contents); break;
    case StandIn::kMissing: break;
    case StandIn::kFifo: fifo_ = std::make_unique<FifoWatch>(path); break;
    case StandIn::kZeroDevice: fs::create_symlink("/dev/zero", path); break;
    case StandIn::kFolder: fs::create_directory(path); break;
    case StandIn::kDanglingLink: fs::create_symlink(path.string() + ".nowhere", path); break;
    case StandIn::kOversize:
      WriteFileBytes(path, contents);
      fs::resize_file(path, static_cast<uintmax_t>(bound) + 1);
      break;
  }
}

}  // namespace sorvel::testing
