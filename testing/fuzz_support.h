// Helpers of the libFuzzer targets (header only: the targets link their own
// folder's library and nothing of the test programs): a trap for a broken
// invariant, a scratch folder of the run, whole-file writes, and a file in
// memory that a reader opens by path.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace sorvel::fuzz {

inline void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// A fresh folder of this run, memory-backed when possible (saves are
// flushed), removed when the run ends normally.
inline const std::string& ScratchFolder() {
  static const std::string folder = [] {
    for (const char* base : {"/dev/shm", "/tmp"}) {
      std::string pattern = std::string(base) + "/sorvel-fuzz-XXXXXX";
      if (mkdtemp(pattern.data()) != nullptr) return pattern;
    }
    std::abort();
  }();
  static const bool cleanup = [] {
    return std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    }) == 0;
  }();
  (void)cleanup;
  return folder;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The input as an anonymous regular file; its path is /proc/self/fd/N. The
// descriptor stays open until the object goes.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) : fd_(memfd_create("fuzz", MFD_CLOEXEC)) {
    for (size_t done = 0; fd_ >= 0 && done < size;) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  ~MemoryFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  bool ok() const { return fd_ >= 0; }
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

}  // namespace sorvel::fuzz
