#include "gui/foundation/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "gui/foundation/regular_file.h"

namespace sorvel {

FileIO::~FileIO() { CloseFile(); }

bool FileIO::OpenFile(const QString& file_name, uint32_t access, int32_t creation_disposition, int32_t share_mode,
                      int32_t /*flags_and_attributes*/) {
  CloseFile();
  problem_ = FileProblem{};
  const bool reads = (access & kGenericRead) != 0;
  const bool writes = (access & kGenericWrite) != 0;
  int flags = reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  switch (creation_disposition) {
    case kCreateNew: flags |= O_CREAT | O_EXCL; break;
    case kCreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case kOpenExisting: break;
    case kOpenAlways: flags |= O_CREAT; break;
    case kTruncateExisting: flags |= O_TRUNC; break;
    default: return false;
  }
  if (file_name.isEmpty() || ((flags & O_TRUNC) && !writes)) return false;
  // The lock is taken before any truncation, so a refused open leaves the file alone.
  // Images, side files and audio are read from regular files only: a FIFO
  // or device in their place would block the open or never end.
  const int fd = reads ? OpenRegularFile(file_name, flags & ~O_TRUNC, &problem_)
                       : OpenOutputFile(file_name, flags & ~O_TRUNC, &problem_);
  if (fd < 0) return false;
  const bool shared = !writes && (share_mode & kFileShareRead) != 0;
  int rc;
  do {
    rc = ::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 || ((flags & O_TRUNC) && ::ftruncate(fd, 0) != 0)) {
    problem_ = FileProblem{FileProblem::kCannotOpen, errno};
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool FileIO::CloseFile() {
  if (fd_ < 0) return false;
  int rc = ::close(fd_);  // also drops the lock
  fd_ = -1;
  return rc == 0;
}

int32_t FileIO::ReadFile(std::span<uint8_t> buffer) {
  if (fd_ < 0 || buffer.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
  size_t done = 0;
  while (done < buffer.size()) {
    ssize_t n = ::read(fd_, buffer.data() + done, buffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 0;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int32_t>(done);
}

int32_t FileIO::WriteFile(std::span<const uint8_t> data) {
  if (fd_ < 0 || data.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    done += static_cast<size_t>(n);
  }
  return static_cast<int32_t>(done);
}

bool FileIO::SeekFile(int64_t offset, int origin) {
  if (fd_ < 0) return false;
  static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < kBegin || origin > kEnd) return false;
  return ::lseek(fd_, static_cast<off_t>(offset), kWhence[origin]) >= 0;
}

int64_t FileIO::GetPointer() const {
  if (fd_ < 0) return 0;
  off_t at = ::lseek(fd_, 0, SEEK_CUR);
  return at < 0 ? 0 : at;
}

void FileIO::StartWriteBack(int64_t offset, int64_t length) const {
  if (fd_ >= 0 && length > 0) ::sync_file_range(fd_, offset, length, SYNC_FILE_RANGE_WRITE);
}

bool FileIO::SettleWritten(int64_t offset, int64_t length) const {
  if (fd_ < 0 || length <= 0) return true;
  constexpr unsigned kWait = SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
  int rc;
  do {
    rc = ::sync_file_range(fd_, offset, length, kWait);
  } while (rc != 0 && errno == EINTR);
  // The wait takes the error over from the file: it is this writer's to report.
  if (rc != 0 && (errno == EIO || errno == ENOSPC || errno == EDQUOT)) return false;
  ::posix_fadvise(fd_, offset, length, POSIX_FADV_DONTNEED);
  return true;
}

int64_t FileIO::GetSize() const {
  if (fd_ < 0) return 0;
  struct stat st {};
  return ::fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

}  // namespace sorvel
