#include "gui/foundation/file.h"

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QList>
#include <QRandomGenerator>
#include <QStringList>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "gui/foundation/regular_file.h"
#include "platform/text_encoding.h"

namespace sorvel {

QByteArray EncodeTextLines(const QStringList& lines) {
  QByteArray out;
  for (const QString& line : lines) {
    out.append(line.toUtf8());
    out.append("\r\n", 2);
  }
  return out;
}

namespace {

// The files jobs hold while they write them, by device and inode.
struct HeldFiles {
  std::mutex mutex;
  std::set<std::pair<dev_t, ino_t>> files;
};

HeldFiles& Held() {
  static HeldFiles held;
  return held;
}

bool IsHeld(const struct stat& st) {
  HeldFiles& held = Held();
  const std::lock_guard<std::mutex> lock(held.mutex);
  return held.files.count({st.st_dev, st.st_ino}) > 0;
}

bool WriteAll(int fd, const QByteArray& bytes) {
  const char* data = bytes.constData();
  qsizetype left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    left -= n;
  }
  return true;
}

}  // namespace

void HoldWrittenFile(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return;
  HeldFiles& held = Held();
  const std::lock_guard<std::mutex> lock(held.mutex);
  held.files.insert({st.st_dev, st.st_ino});
}

void ReleaseWrittenFile(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return;
  HeldFiles& held = Held();
  const std::lock_guard<std::mutex> lock(held.mutex);
  held.files.erase({st.st_dev, st.st_ino});
}

mode_t ReplacementMode(const struct stat* old) {
  if (old != nullptr && old->st_uid == ::geteuid()) return old->st_mode & 0777;
  // The process's umask as the kernel reports it: setting and restoring it
  // would let a file another thread makes meanwhile escape it.
  mode_t mask = 022;
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned value = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = static_cast<mode_t>(value);
        break;
      }
    }
    std::fclose(status);
  }
  return 0666 & ~mask;
}

namespace {

constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kRandomLetters = 8;

// This host's name as marked names carry it: letters, digits and '-' of its
// first label, so that any file system takes it.
const QByteArray& HostMark() {
  static const QByteArray mark = [] {
    char name[256] = {};
    QByteArray host = ::gethostname(name, sizeof name - 1) == 0 ? QByteArray(name) : QByteArray();
    if (host.contains('.')) host.truncate(host.indexOf('.'));
    QByteArray kept;
    for (char c : host) {
      if (std::isalnum(static_cast<unsigned char>(c)) || c == '-') kept += c;
    }
    return kept.isEmpty() ? QByteArrayLiteral("localhost") : kept.left(32);
  }();
  return mark;
}

}  // namespace

QByteArray MarkedNamePrefix(const QByteArray& target, const char* kind) {
  return '.' + target.mid(target.lastIndexOf('/') + 1).left(180) + ".sorvel~" + kind + '~';
}

QByteArray TakeMarkedName(const QByteArray& target, const char* kind, int* error_number,
                          const std::function<bool(const char*)>& make) {
  const QByteArray prefix = target.left(target.lastIndexOf('/') + 1) + MarkedNamePrefix(target, kind) +
                            HostMark() + '~' + QByteArray::number(::getpid()) + '~';
  for (int attempt = 0; attempt < 100; ++attempt) {
    QByteArray name = prefix;
    for (int i = 0; i < kRandomLetters; ++i) {
      name += kLetters[QRandomGenerator::global()->bounded(int{sizeof kLetters} - 1)];
    }
    if (make(name.constData())) return name;
    if (errno != EEXIST) break;
  }
  *error_number = errno;
  return {};
}

pid_t MarkedNameMaker(const QByteArray& entry, const QByteArray& prefix) {
  if (!entry.startsWith(prefix)) return 0;
  const QList<QByteArray> fields = entry.mid(prefix.size()).split('~');
  if (fields.size() != 3 || fields[0] != HostMark() || fields[2].size() != kRandomLetters) return 0;
  bool number = false;
  const int pid = fields[1].toInt(&number);
  return number && pid > 0 && fields[1] == QByteArray::number(pid) ? pid : 0;
}

uid_t FileSystemUser() {
  // setfsuid of an id that cannot be set only reports the current one.
  return static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1)));
}

namespace {

// Whether the kernel's protected-link rule lets this user follow the link
// `link` (its lstat in `st`): always outside a sticky folder that others may
// write, else only a link of this user's or of the folder's owner.
bool MayFollowLink(const QByteArray& link, const struct stat& st) {
  const qsizetype slash = link.lastIndexOf('/');
  const QByteArray folder = slash < 0 ? QByteArrayLiteral(".") : slash == 0 ? QByteArrayLiteral("/") : link.left(slash);
  struct stat dir {};
  if (::stat(folder.constData(), &dir) != 0) return false;
  if ((dir.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH)) return true;
  return st.st_uid == FileSystemUser() || st.st_uid == dir.st_uid;
}

}  // namespace

bool ResolveOutputName(QByteArray* path, int* error_number) {
  // Each link of the chain is checked as the kernel would check it.
  QByteArray link = *path;
  struct stat st {};
  int links = 0;
  for (; links < 40 && ::lstat(link.constData(), &st) == 0 && S_ISLNK(st.st_mode); ++links) {
    if (!MayFollowLink(link, st)) {
      *error_number = EACCES;
      return false;
    }
    char named[PATH_MAX];
    const ssize_t n = ::readlink(link.constData(), named, sizeof named);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof named)) {
      *error_number = n < 0 ? errno : ENAMETOOLONG;
      return false;
    }
    const QByteArray next(named, n);
    link = next.startsWith('/') ? next : link.left(link.lastIndexOf('/') + 1) + next;
  }
  if (links == 0) return true;
  char* resolved = ::realpath(path->constData(), nullptr);
  if (resolved == nullptr) {
    *error_number = errno;
    return false;
  }
  *path = resolved;
  ::free(resolved);
  return true;
}

bool ReplaceFileContents(const QString& path, const QByteArray& bytes, FileFlush flush) {
  if (path.isEmpty()) return false;
  QByteArray target = QFile::encodeName(path);
  int error_number = 0;
  if (!ResolveOutputName(&target, &error_number)) return false;
  struct stat old {};
  const bool existed = ::stat(target.constData(), &old) == 0;
  if (existed && !S_ISREG(old.st_mode)) return false;
  if (existed && IsHeld(old)) {
    const int fd = ::open(target.constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes);
    if (flush == FileFlush::kToDisk) ok = ok && ::fdatasync(fd) == 0;
    return ::close(fd) == 0 && ok;
  }
  int fd = -1;
  const QByteArray temporary = TakeMarkedName(target, kNewFileMark, &error_number, [&fd](const char* name) {
    fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    return fd >= 0;
  });
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, ReplacementMode(existed ? &old : nullptr)) == 0 && WriteAll(fd, bytes);
  if (flush == FileFlush::kToDisk) ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(temporary.constData(), target.constData()) != 0) {
    ::unlink(temporary.constData());
    return false;
  }
  return true;
}

File::~File() { CloseFile(); }

bool File::OpenFile(const QString& file_name, int mode, int64_t max_input_bytes) {
  CloseFile();
  problem_ = FileProblem{};
  int flags;
  switch (mode) {
    case kInput: flags = O_RDONLY; break;
    case kOutput: flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    case kAppend: flags = O_WRONLY | O_CREAT | O_APPEND; break;
    case kBinary: flags = O_RDWR | O_CREAT; break;
    default: return false;
  }
  if (file_name.isEmpty()) return false;
  int fd;
  if (mode == kInput || mode == kBinary) {
    // Files read are taken only as regular files: a FIFO would block the open.
    fd = OpenRegularFile(file_name, flags, &problem_);
    // Binary mode reads a file it may not write (read-only folder or medium).
    if (fd < 0 && mode == kBinary && problem_.kind == FileProblem::kCannotOpen &&
        (problem_.error_number == EACCES || problem_.error_number == EROFS)) {
      fd = OpenRegularFile(file_name, O_RDONLY, &problem_);
    }
  } else {
    fd = OpenOutputFile(file_name, flags, &problem_);
  }
  if (fd < 0) return false;
  if (mode == kInput) {
    // The whole file is read at once, so that its encoding is decided over all
    // of it; one larger than the caller's bound is refused rather than held.
    std::string bytes;
    if (!platform::ReadWholeFile(fd, std::min(max_input_bytes, kMaxTextFileSize), &bytes, &problem_)) {
      ::close(fd);
      return false;
    }
    input_ = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
    input_position_ = 0;
    const std::string_view all(input_.constData(), static_cast<size_t>(input_.size()));
    input_is_utf8_ = platform::IsValidUtf8(all);
    if (input_is_utf8_ && all.starts_with("\xEF\xBB\xBF")) input_position_ = 3;
  }
  fd_ = fd;
  mode_ = mode;
  name_ = file_name;
  is_binary_ = mode == kBinary;
  byte_position_ = is_binary_ ? 1 : 0;
  return true;
}

bool File::CloseFile() {
  if (fd_ < 0) return false;
  int rc = ::close(fd_);
  fd_ = -1;
  byte_position_ = 0;
  binary_io_end_ = 0;
  is_binary_ = false;
  name_.clear();
  input_.clear();
  input_position_ = 0;
  return rc == 0;
}

int64_t File::Tell() const {
  if (fd_ < 0) return 0;
  if (mode_ == kInput) return input_position_;
  // Binary reads and writes are positioned (pread/pwrite) and move no file
  // offset: the position after the last of them is kept here.
  if (is_binary_) return binary_io_end_;
  off_t at = ::lseek(fd_, 0, SEEK_CUR);
  return at < 0 ? 0 : at;
}

bool File::WriteAll(const char* data, int64_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_, data, static_cast<size_t>(size));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= n;
  }
  return true;
}

bool File::Puts(const QString& line) {
  if (fd_ < 0 || mode_ == kInput || is_binary_) return false;
  QByteArray bytes = line.toUtf8();
  bytes.append("\r\n", 2);
  return WriteAll(bytes.constData(), bytes.size());
}

QString File::Gets() {
  if (fd_ < 0 || mode_ != kInput || input_position_ >= input_.size()) return QString();
  const char* data = input_.constData();
  const int64_t size = input_.size();
  int64_t end = input_position_;
  while (end < size && data[end] != '\r' && data[end] != '\n') ++end;
  std::string_view raw(data + input_position_, static_cast<size_t>(end - input_position_));
  if (end < size) {
    end += (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n') ? 2 : 1;
  }
  input_position_ = end;
  if (input_is_utf8_) return QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()));
  return QString::fromStdString(platform::Cp932ToUtf8(raw));
}

bool File::SeekFile(int64_t position, int seek_mode) {
  if (fd_ < 0) return false;
  if (seek_mode != kFromStart && seek_mode != kFromCurrent && seek_mode != kFromEnd) return true;
  if (is_binary_) {
    int64_t length = Length();
    int64_t origin = seek_mode == kFromStart ? 0 : seek_mode == kFromCurrent ? byte_position_ - 1 : length;
    int64_t target = origin + position + 1;
    if (target < 1 || target > length + 1) return false;
    byte_position_ = target;
    return true;
  }
  if (mode_ == kInput) {
    int64_t origin = seek_mode == kFromStart ? 0 : seek_mode == kFromCurrent ? input_position_ : input_.size();
    int64_t target = origin + position;
    if (target < 0) return false;
    input_position_ = target;
    return true;
  }
  static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  return ::lseek(fd_, static_cast<off_t>(position), kWhence[seek_mode]) >= 0;
}

QByteArray File::ReadData(int64_t size) {
  if (fd_ < 0 || !is_binary_ || size <= 0 || size > (int64_t{1} << 31)) return QByteArray();
  QByteArray out(static_cast<qsizetype>(size), '\0');
  int64_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd_, out.data() + done, static_cast<size_t>(size - done), byte_position_ - 1 + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return QByteArray();
    if (n == 0) break;  // past the end: the rest stays 0
    done += n;
  }
  byte_position_ += size;
  binary_io_end_ = byte_position_ - 1;
  return out;
}

bool File::WriteData(const QByteArray& data) {
  if (fd_ < 0 || !is_binary_) return false;
  int64_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(fd_, data.constData() + done, static_cast<size_t>(data.size() - done),
                         byte_position_ - 1 + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  byte_position_ += data.size();
  binary_io_end_ = byte_position_ - 1;
  return true;
}

uint8_t File::Getc() {
  QByteArray b = ReadData(1);
  return b.isEmpty() ? 0 : static_cast<uint8_t>(b[0]);
}

bool File::Putc(uint8_t byte) { return WriteData(QByteArray(1, static_cast<char>(byte))); }

bool File::Eof() const {
  if (fd_ < 0) return true;
  if (is_binary_) return byte_position_ > Length();
  if (mode_ == kInput) return input_position_ >= input_.size();
  off_t at = ::lseek(fd_, 0, SEEK_CUR);
  return at < 0 || at >= Length();
}

int64_t File::Length() const {
  if (fd_ < 0) return 0;
  struct stat st {};
  return ::fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

}  // namespace sorvel
