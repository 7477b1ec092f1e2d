#include "platform/executable_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string_view>
#include <vector>

namespace sorvel::platform {
namespace {

constexpr std::string_view kDeletedMark = " (deleted)";

std::string ReadLink(const char* link) {
  std::vector<char> buffer(256);
  // Bounded: a path longer than 64 KiB is no path the program can use.
  while (buffer.size() <= 65536) {
    const ssize_t n = ::readlink(link, buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
  return std::string();
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string ExecutablePath() {
  std::string path = ReadLink("/proc/self/exe");
  if (path.empty() || path.front() != '/') return std::string();
  // A file that really carries the mark in its name exists under that name.
  if (path.size() > kDeletedMark.size() && std::string_view(path).ends_with(kDeletedMark) && !Exists(path)) {
    path.resize(path.size() - kDeletedMark.size());
  }
  return path;
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const size_t cut = path.rfind('/');
  if (cut == std::string::npos) return std::string();
  return cut == 0 ? std::string("/") : path.substr(0, cut);
}

}  // namespace sorvel::platform
