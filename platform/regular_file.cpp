#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sorvel::platform {
namespace {

void Set(FileProblem* problem, FileProblem::Kind kind, int error_number = 0) {
  if (problem) *problem = FileProblem{kind, error_number};
}

int Refuse(FileProblem* problem, FileProblem::Kind kind, int error_number = 0) {
  Set(problem, kind, error_number);
  return -1;
}

// The open of both entries below: the path opened without blocking, then
// refused unless the descriptor is a regular file. `look_first` spares the
// open of a path that names something else already; `blocking` switches the
// descriptor back to blocking I/O.
int OpenAndCheck(const std::string& path, int flags, FileProblem* problem, mode_t create_mode, bool look_first,
                 bool blocking, struct stat* found = nullptr) {
  if (problem) *problem = FileProblem{};
  // A NUL byte ends the name the kernel sees: the path would open another file.
  if (path.empty() || path.find('\0') != std::string::npos) return Refuse(problem, FileProblem::kCannotOpen, ENOENT);
  struct stat st {};
  if (look_first && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    return Refuse(problem, FileProblem::kNotRegular);
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, create_mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    // A FIFO put in place since the check, opened for writing without a reader.
    if (errno == ENXIO) return Refuse(problem, FileProblem::kNotRegular);
    return Refuse(problem, FileProblem::kCannotOpen, errno);
  }
  if (::fstat(fd, &st) != 0) {
    const int error_number = errno;
    ::close(fd);
    return Refuse(problem, FileProblem::kCannotOpen, error_number);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Refuse(problem, FileProblem::kNotRegular);
  }
  if (found != nullptr) *found = st;
  if (!blocking) return fd;
  const int status = ::fcntl(fd, F_GETFL);
  if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    const int error_number = errno;
    ::close(fd);
    return Refuse(problem, FileProblem::kCannotOpen, error_number);
  }
  return fd;
}

}  // namespace

bool FileProblem::Missing() const { return kind == kCannotOpen && error_number == ENOENT; }

std::string DescribeFileProblem(const std::string& path, const FileProblem& problem) {
  switch (problem.kind) {
    case FileProblem::kNone: return {};
    case FileProblem::kCannotOpen: return "cannot open " + path + ": " + std::strerror(problem.error_number);
    case FileProblem::kNotRegular: return path + " is not a regular file";
    case FileProblem::kTooLarge: return path + " is too large";
    case FileProblem::kCannotRead: return "cannot read " + path + ": " + std::strerror(problem.error_number);
  }
  return {};
}

int OpenRegularFile(const std::string& path, int flags, FileProblem* problem, mode_t create_mode) {
  // A path that already names something else is not opened at all: opening a
  // device can act on it (a tape rewinds on close). The check on the
  // descriptor is the one that counts; the look at the path only spares the open.
  return OpenAndCheck(path, flags, problem, create_mode, true, true);
}

int OpenFoundRegularFile(const std::string& path, FileProblem* problem, struct stat* status) {
  return OpenAndCheck(path, O_RDONLY, problem, 0, false, false, status);
}

bool ReadWholeFile(int fd, int64_t max_bytes, std::string* contents, FileProblem* problem) {
  if (problem) *problem = FileProblem{};
  contents->clear();
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > max_bytes) {
    Set(problem, FileProblem::kTooLarge);
    return false;
  }
  if (st.st_size > 0) contents->reserve(static_cast<size_t>(st.st_size));
  char buffer[65536];
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error_number = errno;
      contents->clear();
      Set(problem, FileProblem::kCannotRead, error_number);
      return false;
    }
    if (n == 0) return true;
    if (static_cast<int64_t>(contents->size()) + n > max_bytes) {
      contents->clear();
      Set(problem, FileProblem::kTooLarge);
      return false;
    }
    contents->append(buffer, static_cast<size_t>(n));
    at += n;
  }
}

bool ReadRegularFile(const std::string& path, int64_t max_bytes, std::string* contents, FileProblem* problem) {
  contents->clear();
  const int fd = OpenRegularFile(path, O_RDONLY, problem);
  if (fd < 0) return false;
  const bool read = ReadWholeFile(fd, max_bytes, contents, problem);
  ::close(fd);
  return read;
}

}  // namespace sorvel::platform
