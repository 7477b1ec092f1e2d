// Makes a folder the process's current folder for one scope and goes back to
// the previous one afterwards.
#pragma once

#include <filesystem>

namespace sorvel::testing {

class ScopedCurrentDir {
 public:
  explicit ScopedCurrentDir(const std::filesystem::path& dir) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCurrentDir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }
  ScopedCurrentDir(const ScopedCurrentDir&) = delete;
  ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace sorvel::testing
