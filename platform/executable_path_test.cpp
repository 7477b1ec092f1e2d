#include "platform/executable_path.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace sorvel::platform {
namespace {

// This test program itself: an absolute path to an existing regular file that
// is the running program, and its folder.
TEST(ExecutablePath, NamesTheRunningProgramFile) {
  const std::string path = ExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  EXPECT_TRUE(std::filesystem::equivalent(path, "/proc/self/exe"));
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "platform_tests");
  EXPECT_EQ(ExecutableFolder(), std::filesystem::path(path).parent_path().string());
}

}  // namespace
}  // namespace sorvel::platform
