#include "mastering_engine/wave_reader.h"

#include <cstring>

namespace sorvel {

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

constexpr uint64_t kRiffHeaderSize = 12;  // "RIFF", size, "WAVE"
constexpr uint64_t kChunkHeaderSize = 8;  // identifier, little-endian size
constexpr uint32_t kFmtSize = 16;         // the PCM part of "fmt "

}  // namespace

WaveReader::~WaveReader() { Close(); }

void WaveReader::Close() {
  file_.Close();
  format_ = WaveFormat{};
  data_bytes_ = 0;
  bytes_left_ = 0;
}

bool WaveReader::Open(const std::string& path) {
  Close();
  // HostFile opens regular files only: a FIFO would wait for a writer.
  if (!file_.Open(path, HostFile::kRead)) return false;
  int64_t size = file_.Size();
  if (size <= 0 || !ParseChunks(static_cast<uint64_t>(size))) {
    Close();
    return false;
  }
  return true;
}

bool WaveReader::ParseChunks(uint64_t file_size) {
  uint8_t riff[kRiffHeaderSize];
  if (!ReadExact(riff, sizeof riff)) return false;
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return false;

  bool have_format = false;
  uint64_t position = kRiffHeaderSize;
  // Every chunk moves the position on by at least its 8-byte header, so the walk
  // ends at the end of the file.
  while (position + kChunkHeaderSize <= file_size) {
    uint8_t header[kChunkHeaderSize];
    if (!ReadExact(header, sizeof header)) return false;
    position += kChunkHeaderSize;
    uint32_t size = Le32(header + 4);
    if (std::memcmp(header, "data", 4) == 0) {
      if (!have_format) return false;
      uint64_t present = file_size - position;
      data_bytes_ = size < present ? size : present;
      bytes_left_ = data_bytes_;
      return true;
    }
    uint64_t skip = static_cast<uint64_t>(size) + (size & 1);  // chunks are padded to even sizes
    if (std::memcmp(header, "fmt ", 4) == 0) {
      if (size < kFmtSize) return false;
      uint8_t fmt[kFmtSize];
      if (!ReadExact(fmt, sizeof fmt)) return false;
      format_.format_tag = Le16(fmt);
      format_.channels = Le16(fmt + 2);
      format_.sample_rate = Le32(fmt + 4);
      format_.bits_per_sample = Le16(fmt + 14);
      have_format = true;
      position += kFmtSize;
      skip -= kFmtSize;
    }
    position += skip;
    if (position > file_size) return false;
    if (!file_.Seek(static_cast<int64_t>(position), 0)) return false;
  }
  return false;  // no "data" chunk
}

bool WaveReader::ReadExact(void* buffer, size_t size) { return file_.Read(buffer, size) == size; }

int64_t WaveReader::Read(uint8_t* buffer, size_t size) {
  if (!file_.IsOpen()) return -1;
  if (size > bytes_left_) size = static_cast<size_t>(bytes_left_);
  size_t done = file_.Read(buffer, size);
  // A short read before the end of the file is an error; at the end of the file
  // it means the file shrank.
  if (done < size && file_.Position() < file_.Size()) return -1;
  bytes_left_ -= done;
  return static_cast<int64_t>(done);
}

}  // namespace sorvel
