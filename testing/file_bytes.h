// Whole-file reads and writes for tests that check exact file contents.
#pragma once

#include <filesystem>
#include <string>

namespace sorvel::testing {

// The file's bytes ("" when it cannot be read).
std::string ReadFileBytes(const std::filesystem::path& path);

// Replaces the file's contents with `bytes`.
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace sorvel::testing
