// Locations the test programs share: a fresh scratch folder per test.
#pragma once

#include <filesystem>
#include <string>

namespace sorvel::testing {

// A new empty folder under the system's temporary folder (or under `parent`),
// removed by the destructor.
class ScratchDir {
 public:
  ScratchDir();
  explicit ScratchDir(const std::filesystem::path& parent);
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Fails the current test when `tool` is not on PATH; returns whether it is.
bool RequireTool(const std::string& tool);

// A shared library of the build: in the folder SORVEL_BIN_DIR names, else in the
// bin folder beside the folder of the running test program.
std::string BuiltLibraryPath(const std::string& file_name);

// The source tree: the folder SORVEL_SOURCE_DIR names (CTest sets it), else
// the current folder.
std::filesystem::path SourceTree();

// Runs a shell command, returns its exit status and captures standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace sorvel::testing
