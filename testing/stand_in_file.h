// Something other than the expected file put at a path, for table-driven
// tests of readers that must refuse it without waiting or running away: a
// FIFO (watched, see FifoWatch), a link to /dev/zero, a folder, a link to
// nowhere, a sparse file one byte beyond a size bound, or a regular file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "testing/fifo_watch.h"

namespace sorvel::testing {

enum class StandIn { kRegular, kMissing, kFifo, kZeroDevice, kFolder, kDanglingLink, kOversize };

// "regular", "missing", "fifo", ...: for test names.
const char* StandInName(StandIn kind);

class StandInFile {
 public:
  // kRegular writes `contents`; kOversize makes a sparse file of `bound` + 1 bytes.
  StandInFile(const std::filesystem::path& path, StandIn kind, const std::string& contents = {}, int64_t bound = 0);
  // True when a reader waited on the FIFO (only a FIFO can make it so).
  bool Blocked() const { return fifo_ && fifo_->Released(); }

 private:
  std::unique_ptr<FifoWatch> fifo_;
};

}  // namespace sorvel::testing
