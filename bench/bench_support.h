// What the benchmark programs share: the median of alternated runs,
// standard output sent to /dev/null while an engine reports on it, and disc
// images of real sectors.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace sorvel::bench {

// An image `name` in `dir` of `sectors` real (not sparse) 2,048-byte
// sectors, each stamped with its LBA.
inline std::filesystem::path MakeStampedImage(const std::filesystem::path& dir, const std::string& name,
                                              int32_t sectors) {
  const std::filesystem::path iso = dir / name;
  std::ofstream out(iso, std::ios::binary);
  std::vector<char> block(2048 * 512);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 131 + (i >> 7));
  for (int32_t lba = 0; lba < sectors; lba += 512) {
    const int32_t n = std::min(512, sectors - lba);
    for (int32_t k = 0; k < n; ++k) std::memcpy(&block[static_cast<size_t>(k) * 2048], &lba, sizeof lba);
    out.write(block.data(), static_cast<std::streamsize>(n) * 2048);
  }
  return iso;
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The engines report every block on standard output; the benchmark's own
// lines stay readable while that goes to /dev/null.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      close(null);
    }
  }
  ~QuietStdout() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
    }
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace sorvel::bench
