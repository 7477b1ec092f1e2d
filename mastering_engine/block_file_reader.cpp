#include "mastering_engine/block_file_reader.h"

#include <algorithm>
#include <cstring>

namespace sorvel {

bool BlockFileReader::Open(const std::string& path, uint64_t limit, const platform::SourceIdentity* added) {
  Close();
  if (!file_.OpenSource(path)) return false;
  // The descriptor itself is compared: a file put at the path after any
  // earlier look is caught here.
  platform::SourceIdentity now;
  if (added != nullptr && (!platform::ReadSourceIdentity(file_.Descriptor(), false, &now) ||
                           platform::CompareSource(*added, now) != platform::SourceChange::kNone)) {
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
