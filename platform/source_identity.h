// What a mastering source was when it was added to a layout, and what it is
// now. A layout is fixed when a file is added (its size decides the sectors
// it takes, a WAV file's format and samples decide its track), so a burn
// compares each source with what was added before the first sector and
// again when it opens the file: a file that grew, a link pointed at another
// file, a WAV file replaced by another all show, whatever their names say.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

namespace sorvel::platform {

// The format of a RIFF/WAVE file and where its samples lie.
struct WaveLayout {
  uint16_t format_tag = 0;
  uint16_t channels = 0;
  uint32_t sample_rate = 0;
  uint16_t bits_per_sample = 0;
  uint64_t data_offset = 0;  // the first byte of the "data" chunk's samples
  uint64_t data_bytes = 0;   // the chunk's size, cut to the bytes the file holds

  bool operator==(const WaveLayout&) const = default;
};

// Reads the chunks of the RIFF/WAVE file behind `fd`, `file_size` bytes
// long, by positional reads (the descriptor's position stays). False when the
// "RIFF"/"WAVE" marks are missing, a "fmt " chunk of at least 16 bytes does
// not come before the "data" chunk, a chunk reaches past the end, or there
// is no "data" chunk.
bool ReadWaveLayout(int fd, uint64_t file_size, WaveLayout* layout);

// A file time as the kernel keeps it: seconds and nanoseconds apart, so
// any date a file system holds compares without overflow.
struct FileTime {
  int64_t seconds = 0;      // since the epoch
  int64_t nanoseconds = 0;  // 0 .. 999,999,999

  bool operator==(const FileTime&) const = default;
};

struct SourceIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  FileTime modified;    // modification time
  bool wave = false;    // a WAV file: `layout` counts too
  WaveLayout layout;

  bool operator==(const SourceIdentity&) const = default;
};

// What an open file's contents were at one moment: a write to the file moves
// its modification and change times (the change time also when the
// modification time is put back), a cut or growth its size. Compared once
// a file is read to its end, it tells a file rewritten while it was read.
struct ContentStamp {
  int64_t size = 0;
  FileTime modified;
  FileTime changed;

  bool operator==(const ContentStamp&) const = default;
};

// The file part of an identity from a stat of the file.
SourceIdentity IdentityOfStat(const struct stat& status);
ContentStamp StampOfStat(const struct stat& status);

// What the file behind `fd` is now; with `wave`, its WAV layout too, and
// with `stamp`, its contents' stamp from the same stat. False when the
// descriptor cannot be stated, or `wave` and the chunks do not read as a WAV
// file: the identity then has a zero layout, which matches none that was
// added.
bool ReadSourceIdentity(int fd, bool wave, SourceIdentity* identity, ContentStamp* stamp = nullptr);

// True when the file behind `fd` still has the contents' stamp `opened`
// (one stat of the descriptor); false when it differs or cannot be stated.
bool SameContents(int fd, const ContentStamp& opened);

// The same by path: a data file by one stat, a WAV file opened (never
// waiting on a FIFO or device put there) to read its chunks. False when the
// path names no regular file or it cannot be opened.
bool IdentifySource(const std::string& path, bool wave, SourceIdentity* identity);
// The same for a data file (wave false), by the bytes of `path` up to its
// zero byte.
bool IdentifyDataSource(const char* path, SourceIdentity* identity);

enum class SourceChange : uint8_t {
  kNone,
  kShrunk,   // fewer bytes than when it was added
  kChanged,  // another file, another size, time or WAV layout
};

// How the source `now` differs from what was `added`: the one comparison
// every check of a source makes.
SourceChange CompareSource(const SourceIdentity& added, const SourceIdentity& now);

}  // namespace sorvel::platform
