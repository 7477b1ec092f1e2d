#include "mastering_engine/host_file.h"

#include "native_common/crc_calculator.h"
#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace sorvel {

namespace {

constexpr size_t kCopyBuffer = 32 * 1024;

std::string_view BaseNameOf(std::string_view path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string_view::npos) return {};
  size_t start = path.find_last_of('/', end);
  return path.substr(start == std::string_view::npos ? 0 : start + 1,
                     end + 1 - (start == std::string_view::npos ? 0 : start + 1));
}

ssize_t RetryRead(int fd, void* buffer, size_t n) {
  ssize_t r;
  do {
    r = ::read(fd, buffer, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

ssize_t RetryWrite(int fd, const void* buffer, size_t n) {
  ssize_t r;
  do {
    r = ::write(fd, buffer, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

HostFile::~HostFile() { Close(); }

HostFile::HostFile(HostFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), writable_(other.writable_) {
  other.fd_ = -1;
  other.path_.clear();
  other.writable_ = false;
}

HostFile& HostFile::operator=(HostFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    writable_ = other.writable_;
    other.fd_ = -1;
    other.path_.clear();
    other.writable_ = false;
  }
  return *this;
}

bool HostFile::Open(const std::string& path, int mode) {
  Close();
  int flags;
  if (mode >= kCreate) {
    flags = O_RDWR | O_CREAT | O_TRUNC;
  } else if (mode >= kReadWrite) {
    flags = O_RDWR;
  } else if (mode == kWrite) {
    flags = O_WRONLY | O_CREAT;
  } else {
    flags = O_RDONLY;
  }
  // Never a FIFO or device put in place of the file: neither the open nor a
  // read or write may block on one.
  const int fd = platform::OpenRegularFile(path, flags, nullptr, 0644);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = path;
  writable_ = mode >= 1;
  return true;
}

bool HostFile::OpenSource(const std::string& path, struct stat* status) {
  Close();
  const int fd = platform::OpenFoundRegularFile(path, nullptr, status);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = path;
  return true;
}

bool HostFile::Close() {
  if (fd_ < 0) return false;
  ::close(fd_);
  fd_ = -1;
  path_.clear();
  writable_ = false;
  return true;
}

size_t HostFile::Read(void* buffer, size_t n) {
  if (fd_ < 0 || buffer == nullptr) return 0;
  size_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < n) {
    ssize_t r = RetryRead(fd_, out + done, n - done);
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

size_t HostFile::Write(const void* buffer, size_t n) {
  if (fd_ < 0 || !writable_ || buffer == nullptr) return 0;
  size_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < n) {
    ssize_t r = RetryWrite(fd_, in + done, n - done);
    if (r <= 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

uint32_t HostFile::ReadByte() {
  uint8_t b;
  return Read(&b, 1) == 1 ? b : 0xFFFF;
}

bool HostFile::WriteByte(uint8_t value) { return Write(&value, 1) == 1; }

bool HostFile::WriteText(const std::string& text) {
  if (text.empty()) return IsOpen() && writable_;
  return Write(text.data(), text.size()) == text.size();
}

bool HostFile::Flush() { return fd_ >= 0 && ::fsync(fd_) == 0; }

bool HostFile::Seek(int64_t offset, int origin) {
  if (fd_ < 0) return false;
  int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
  return ::lseek(fd_, static_cast<off_t>(offset), whence) >= 0;
}

int64_t HostFile::Position() const {
  if (fd_ < 0) return 0;
  off_t pos = ::lseek(fd_, 0, SEEK_CUR);
  return pos < 0 ? 0 : static_cast<int64_t>(pos);
}

int64_t HostFile::Size() const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
  return static_cast<int64_t>(st.st_size);
}

bool HostFile::Truncate(int64_t size) {
  return fd_ >= 0 && writable_ && size >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

int64_t HostFile::CopyFrom(HostFile& other, int64_t count) {
  if (fd_ < 0 || !writable_ || !other.IsOpen() || count <= 0) return 0;
  int64_t saved = other.Position();
  std::vector<char> buffer(kCopyBuffer);
  int64_t copied = 0;
  while (copied < count) {
    size_t want = static_cast<size_t>(std::min<int64_t>(count - copied, kCopyBuffer));
    size_t got = other.Read(buffer.data(), want);
    if (got == 0) break;
    size_t put = Write(buffer.data(), got);
    copied += static_cast<int64_t>(put);
    if (put != got) break;
  }
  other.Seek(saved, 0);
  return copied;
}

bool HostFile::CopyBlock(int64_t from, int64_t to, int64_t count) {
  if (fd_ < 0 || !writable_ || from < 0 || to < 0 || count < 0) return false;
  int64_t saved = Position();
  std::vector<char> buffer(kCopyBuffer);
  bool ok = true;
  // Copy backwards when the target lies after the source so overlapping runs survive.
  bool backwards = to > from;
  int64_t done = 0;
  while (ok && done < count) {
    int64_t chunk = std::min<int64_t>(count - done, kCopyBuffer);
    int64_t offset = backwards ? count - done - chunk : done;
    ok = Seek(from + offset, 0) && Read(buffer.data(), static_cast<size_t>(chunk)) == static_cast<size_t>(chunk) &&
         Seek(to + offset, 0) && Write(buffer.data(), static_cast<size_t>(chunk)) == static_cast<size_t>(chunk);
    done += chunk;
  }
  Seek(saved, 0);
  return ok;
}

bool HostFile::FileCrc(int kind, uint32_t* crc) { return RangeCrc(kind, 0, Size(), crc); }

bool HostFile::RangeCrc(int kind, int64_t offset, int64_t count, uint32_t* crc) {
  CrcCalculator calc;
  if (fd_ < 0 || crc == nullptr || offset < 0 || count < 0 || !calc.SetupStandard(kind)) return false;
  int64_t saved = Position();
  std::vector<char> buffer(kCopyBuffer);
  bool ok = Seek(offset, 0);
  int64_t done = 0;
  while (ok && done < count) {
    size_t want = static_cast<size_t>(std::min<int64_t>(count - done, kCopyBuffer));
    size_t got = Read(buffer.data(), want);
    calc.Update(buffer.data(), got);
    done += static_cast<int64_t>(got);
    ok = got == want;
  }
  Seek(saved, 0);
  if (ok) *crc = calc.Result();
  return ok;
}

bool HostFile::Query(const std::string& path, PathInfo* info) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  info->regular = S_ISREG(st.st_mode);
  info->size = static_cast<int64_t>(st.st_size);
  info->modification_time = static_cast<int64_t>(st.st_mtime);
  info->identity = platform::IdentityOfStat(st);
  uint32_t attributes = 0;
  if ((st.st_mode & S_IWUSR) == 0) attributes |= kReadOnly;
  const std::string_view base = BaseNameOf(path);
  if (base.size() > 1 && base[0] == '.' && base != "..") attributes |= kHidden;
  attributes |= S_ISDIR(st.st_mode) ? kDirectory : kArchive;
  info->attributes = attributes;
  return true;
}

bool HostFile::Exists(const std::string& path) {
  PathInfo info;
  return Query(path, &info);
}

int64_t HostFile::SizeOf(const std::string& path) {
  PathInfo info;
  return Query(path, &info) ? info.size : -1;
}

int64_t HostFile::SizeOf64(const std::string& path) { return SizeOf(path); }

bool HostFile::IsRegularFile(const std::string& path) {
  PathInfo info;
  return Query(path, &info) && info.regular;
}

uint32_t HostFile::AttributesOf(const std::string& path) {
  PathInfo info;
  return Query(path, &info) ? info.attributes : 0;
}

bool HostFile::SetAttributes(const std::string& path, uint32_t attributes) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kReadOnly) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  return ::chmod(path.c_str(), mode) == 0;
}

int64_t HostFile::ModificationTimeOf(const std::string& path) {
  PathInfo info;
  return Query(path, &info) ? info.modification_time : 0;
}

bool HostFile::SetModificationTime(const std::string& path, int64_t time) {
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(time);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool HostFile::Rename(const std::string& old_path, const std::string& new_path) {
  return std::rename(old_path.c_str(), new_path.c_str()) == 0;
}

bool HostFile::Remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace sorvel
