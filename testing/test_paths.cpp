#include "testing/test_paths.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace sorvel::testing {

ScratchDir::ScratchDir() : ScratchDir(std::filesystem::temp_directory_path()) {}

ScratchDir::ScratchDir(const std::filesystem::path& parent) {
  std::string tmpl = (parent / "sorvel-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

bool RequireTool(const std::string& tool) {
  std::string cmd = "command -v '" + tool + "' >/dev/null 2>&1";
  bool found = std::system(cmd.c_str()) == 0;
  if (!found) ADD_FAILURE() << "required tool '" << tool << "' is not installed (see README set-up)";
  return found;
}

std::string BuiltLibraryPath(const std::string& file_name) {
  const char* bin = std::getenv("SORVEL_BIN_DIR");
  if (bin != nullptr && *bin != '\0') return std::string(bin) + "/" + file_name;
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return (exe.parent_path().parent_path() / "bin" / file_name).string();
}

std::filesystem::path SourceTree() {
  const char* source = std::getenv("SORVEL_SOURCE_DIR");
  return source != nullptr ? source : ".";
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    if (output) output->append(buffer, n);
  }
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace sorvel::testing
