// One file handle with block reads and writes and 64-bit size and position,
// the I/O of disc images, side files and WAV files. Open arguments keep the
// numeric access, disposition and sharing values of the program's callers;
// sharing is enforced between openers with advisory locks: an opener that
// writes or shares nothing holds the file exclusively, readers that share
// reading hold it together.
#pragma once

#include <QString>
#include <cstdint>
#include <span>

#include "gui/foundation/regular_file.h"

namespace sorvel {

// Access rights.
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
// Creation dispositions.
inline constexpr int32_t kCreateNew = 1;
inline constexpr int32_t kCreateAlways = 2;
inline constexpr int32_t kOpenExisting = 3;
inline constexpr int32_t kOpenAlways = 4;
inline constexpr int32_t kTruncateExisting = 5;
// Sharing.
inline constexpr int32_t kFileShareRead = 1;
inline constexpr int32_t kFileShareWrite = 2;

class FileIO {
 public:
  enum Origin : int { kBegin = 0, kCurrent = 1, kEnd = 2 };

  FileIO() = default;
  ~FileIO();
  FileIO(const FileIO&) = delete;
  FileIO& operator=(const FileIO&) = delete;

  // Closes a handle still open, then opens. False when the file cannot be
  // opened as asked, or another opener's sharing forbids it. An open that
  // reads takes regular files only (the program's rule for files it did not
  // write): a FIFO or device is refused at once.
  bool OpenFile(const QString& file_name, uint32_t access, int32_t creation_disposition, int32_t share_mode = 0,
                int32_t flags_and_attributes = 0);
  // False when no handle is open.
  bool CloseFile();
  // Reads up to buffer.size() bytes (fewer only at the end of the file);
  // the number read, 0 at the end or on failure.
  int32_t ReadFile(std::span<uint8_t> buffer);
  // Writes every byte; the number written, 0 on failure.
  int32_t WriteFile(std::span<const uint8_t> data);
  // Moves the position by `offset` from `origin`; false when the result would
  // be negative or the origin is unknown.
  bool SeekFile(int64_t offset, int origin);
  int64_t GetPointer() const;
  int64_t GetSize() const;
  bool IsOpened() const { return fd_ >= 0; }
  // Starts writing the file's pages of [offset, offset + length) to the disk
  // without waiting (a hint: errors show at the final flush), so that a long
  // output's write-back overlaps its job instead of waiting at its end.
  void StartWriteBack(int64_t offset, int64_t length) const;
  // Waits until the pages of [offset, offset + length) are on the disk and
  // drops them from the page cache, so that a long output reuses a few
  // megabytes of cache instead of growing it (and evicting the user's) with
  // every byte. False on a write error, which the final flush would no
  // longer report; a file that cannot be synced this way (a pipe) is not
  // an error.
  bool SettleWritten(int64_t offset, int64_t length) const;
  // Why the last OpenFile failed.
  const FileProblem& OpenProblem() const { return problem_; }

 private:
  int fd_ = -1;
  FileProblem problem_;
};

}  // namespace sorvel
