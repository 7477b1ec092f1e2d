#include "mastering_engine/block_file_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sorvel {

bool BlockFileReader::Open(const std::string& path, uint64_t limit, const platform::SourceIdentity* added) {
  Close();
  // The descriptor itself is compared, by the stat the open's check took: a
  // file put at the path after any earlier look is caught here.
  struct stat status {};
  if (!file_.OpenSource(path, &status)) return false;
  opened_ = platform::StampOfStat(status);
  if (added != nullptr && platform::CompareSource(*added, platform::IdentityOfStat(status)) !=
                              platform::SourceChange::kNone) {
    file_.Close();
    return false;
  }
  left_ = limit;
  return true;
}

void BlockFileReader::Close() {
  file_.Close();
  begin_ = end_ = 0;
  left_ = 0;
}

void BlockFileReader::Release() {
  Close();
  block_.reset();
}

bool BlockFileReader::Fill() {
  if (!file_.IsOpen() || left_ == 0) return false;
  if (!block_) block_.reset(new uint8_t[kBlockSize]);
  const size_t got = file_.Read(block_.get(), static_cast<size_t>(std::min<uint64_t>(left_, kBlockSize)));
  begin_ = 0;
  end_ = got;
  left_ -= got;
  // The last block is handed out only when the file is still as it was
  // opened: the blocks before it then came from the same contents.
  if (left_ == 0 && got > 0 && !platform::SameContents(file_.Descriptor(), opened_)) {
    std::printf("'%s' was written while it was read.\n", file_.Path().c_str());
    Close();
    return false;
  }
  return got > 0;
}

size_t BlockFileReader::Read(uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n && (begin_ < end_ || Fill())) {
    const size_t k = std::min(n - done, end_ - begin_);
    std::memcpy(out + done, block_.get() + begin_, k);
    begin_ += k;
    done += k;
  }
  return done;
}

}  // namespace sorvel
