#include "mastering_engine/iso_image_stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace sorvel {

IsoImageStream::~IsoImageStream() { EndDataTrack(); }

uint32_t IsoImageStream::BuildDataTrack(std::string_view label) {
  EndDataTrack();
  if (!LayOutDataTrack(*this, label, static_cast<int64_t>(std::time(nullptr)), &layout_)) {
    layout_ = DataTrackLayout();
    return 0;
  }
  head_pos_ = 0;
  next_file_ = 0;
  file_sectors_left_ = 0;
  file_bytes_left_ = 0;
  ready_ = true;
  return layout_.volume_size;
}

void IsoImageStream::EndDataTrack() {
  ready_ = false;
  file_.Release();
  layout_.head.clear();
  layout_.head.shrink_to_fit();
  layout_.files.clear();
  layout_.files.shrink_to_fit();
  head_pos_ = 0;
  next_file_ = 0;
  file_sectors_left_ = 0;
  file_bytes_left_ = 0;
}

bool IsoImageStream::ReadDataBlock(uint8_t* block) {
  if (!ready_ || block == nullptr) return false;
  if (head_pos_ < layout_.head.size()) {
    std::memcpy(block, layout_.head.data() + head_pos_, kIsoSectorSize);
    head_pos_ += kIsoSectorSize;
    return true;
  }
  if (file_sectors_left_ == 0) {
    if (next_file_ >= layout_.files.size()) {  // run-out
      std::memset(block, 0, kIsoSectorSize);
      return true;
    }
    const IsoFileExtent& entry = layout_.files[next_file_++];
    file_sectors_left_ = entry.sectors;
    file_bytes_left_ = entry.size;
    file_failed_ = false;
    file_.Close();
    std::printf("Open '%s'\n\n", entry.source.c_str());
    // HostFile opens regular files only: a FIFO put in the source's place would block.
    if (!file_.Open(entry.source, entry.size, &entry.identity)) file_failed_ = true;
  }
  // A file that is not what was added (grown, rewritten, another file at
  // its path) fails at its open; one that shrinks while it is read fails at
  // the first block it cannot fill, its last partial block included, and
  // one written while it is read (rewritten in place, grown) fails at its
  // last block: the disc never gets zeros or other bytes in place of the
  // file's.
  size_t want = static_cast<size_t>(std::min<uint64_t>(file_bytes_left_, kIsoSectorSize));
  size_t got = file_failed_ ? 0 : file_.Read(block, want);
  std::memset(block + got, 0, kIsoSectorSize - got);
  file_bytes_left_ -= want;
  --file_sectors_left_;
  bool ok = got == want;
  if (!ok) {
    const std::string& path = file_.IsOpen() ? file_.Path() : layout_.files[next_file_ - 1].source;
    std::printf("Read error on '%s'.", path.c_str());
    std::fflush(stdout);
  }
  if (file_sectors_left_ == 0) file_.Close();
  return ok;
}

uint32_t IsoImageStream::DataTrackLength() const {
  if (length_generation_ != Generation()) {
    length_ = EstimateDataTrackSectors(*this);
    length_generation_ = Generation();
  }
  return length_;
}

}  // namespace sorvel
