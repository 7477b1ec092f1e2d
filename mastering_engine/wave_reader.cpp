#include "mastering_engine/wave_reader.h"

#include <cstring>

namespace sorvel {

WaveReader::~WaveReader() { Close(); }

void WaveReader::Close() {
  file_.Close();
  format_ = WaveFormat{};
  identity_ = platform::SourceIdentity{};
  data_bytes_ = 0;
  bytes_left_ = 0;
}

bool WaveReader::Open(const std::string& path) {
  Close();
  // HostFile opens regular files only: a FIFO would wait for a writer.
  if (!file_.Open(path, HostFile::kRead)) return false;
  if (!platform::ReadSourceIdentity(file_.Descriptor(), true, &identity_, &opened_) ||
      !file_.Seek(static_cast<int64_t>(identity_.layout.data_offset), 0)) {
    Close();
    return false;
  }
  const platform::WaveLayout& layout = identity_.layout;
  format_ = WaveFormat{layout.format_tag, layout.channels, layout.sample_rate, layout.bits_per_sample};
  data_bytes_ = layout.data_bytes;
  bytes_left_ = data_bytes_;
  return true;
}

int64_t WaveReader::Read(uint8_t* buffer, size_t size) {
  if (!file_.IsOpen()) return -1;
  if (size > bytes_left_) size = static_cast<size_t>(bytes_left_);
  size_t done = file_.Read(buffer, size);
  // A short read before the end of the file is an error; at the end of the file
  // it means the file shrank.
  if (done < size && file_.Position() < file_.Size()) return -1;
  bytes_left_ -= done;
  if (done > 0 && bytes_left_ == 0 && !platform::SameContents(file_.Descriptor(), opened_)) return -1;
  return static_cast<int64_t>(done);
}

}  // namespace sorvel
