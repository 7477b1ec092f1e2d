#include "platform/source_identity.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/regular_file.h"

namespace sorvel::platform {
namespace {

constexpr uint64_t kRiffHeaderSize = 12;  // "RIFF", size, "WAVE"
constexpr uint64_t kChunkHeaderSize = 8;  // identifier, little-endian size
constexpr uint32_t kFmtSize = 16;         // the PCM part of "fmt "

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool ReadAt(int fd, uint64_t offset, void* buffer, size_t size) {
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

FileTime TimeOf(const struct timespec& time) {
  return FileTime{static_cast<int64_t>(time.tv_sec), static_cast<int64_t>(time.tv_nsec)};
}

}  // namespace

bool ReadWaveLayout(int fd, uint64_t file_size, WaveLayout* layout) {
  uint8_t riff[kRiffHeaderSize];
  if (file_size < kRiffHeaderSize || !ReadAt(fd, 0, riff, sizeof riff)) return false;
  if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) return false;
  WaveLayout found;
  bool have_format = false;
  uint64_t position = kRiffHeaderSize;
  // Every chunk moves the position on by at least its 8-byte header, so the
  // walk ends at the end of the file.
  while (position + kChunkHeaderSize <= file_size) {
    uint8_t header[kChunkHeaderSize];
    if (!ReadAt(fd, position, header, sizeof header)) return false;
    position += kChunkHeaderSize;
    const uint32_t size = Le32(header + 4);
    if (std::memcmp(header, "data", 4) == 0) {
      if (!have_format) return false;
      const uint64_t present = file_size - position;
      found.data_offset = position;
      found.data_bytes = size < present ? size : present;
      *layout = found;
      return true;
    }
    if (std::memcmp(header, "fmt ", 4) == 0) {
      uint8_t fmt[kFmtSize];
      if (size < kFmtSize || !ReadAt(fd, position, fmt, sizeof fmt)) return false;
      found.format_tag = Le16(fmt);
      found.channels = Le16(fmt + 2);
      found.sample_rate = Le32(fmt + 4);
      found.bits_per_sample = Le16(fmt + 14);
      have_format = true;
    }
    position += static_cast<uint64_t>(size) + (size & 1);  // chunks are padded to even sizes
    if (position > file_size) return false;
  }
  return false;  // no "data" chunk
}

SourceIdentity IdentityOfStat(const struct stat& status) {
  SourceIdentity identity;
  identity.device = static_cast<uint64_t>(status.st_dev);
  identity.inode = static_cast<uint64_t>(status.st_ino);
  identity.size = static_cast<int64_t>(status.st_size);
  identity.modified = TimeOf(status.st_mtim);
  return identity;
}

ContentStamp StampOfStat(const struct stat& status) {
  return ContentStamp{static_cast<int64_t>(status.st_size), TimeOf(status.st_mtim), TimeOf(status.st_ctim)};
}

bool ReadSourceIdentity(int fd, bool wave, SourceIdentity* identity, ContentStamp* stamp) {
  *identity = SourceIdentity{};
  identity->wave = wave;
  if (stamp != nullptr) *stamp = ContentStamp{};
  struct stat status {};
  if (::fstat(fd, &status) != 0) return false;
  *identity = IdentityOfStat(status);
  identity->wave = wave;
  if (stamp != nullptr) *stamp = StampOfStat(status);
  return !wave || (identity->size > 0 && ReadWaveLayout(fd, static_cast<uint64_t>(identity->size), &identity->layout));
}

bool SameContents(int fd, const ContentStamp& opened) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && StampOfStat(status) == opened;
}

bool IdentifyDataSource(const char* path, SourceIdentity* identity) {
  // Only the metadata: opening a FIFO would wait for a writer.
  struct stat status {};
  if (::stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  *identity = IdentityOfStat(status);
  return true;
}

bool IdentifySource(const std::string& path, bool wave, SourceIdentity* identity) {
  if (!wave) return IdentifyDataSource(path.c_str(), identity);
  const int fd = OpenRegularFile(path, O_RDONLY);
  if (fd < 0) return false;
  ReadSourceIdentity(fd, true, identity);
  ::close(fd);
  return true;
}

SourceChange CompareSource(const SourceIdentity& added, const SourceIdentity& now) {
  if (now.size < added.size) return SourceChange::kShrunk;
  return added == now ? SourceChange::kNone : SourceChange::kChanged;
}

}  // namespace sorvel::platform
