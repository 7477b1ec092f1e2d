// A host path split into drive, directory, base name and extension. Paths are
// UTF-8; "/" and "\" both separate directories, and a drive is only the
// letter-colon form at the very start ("C:"). The directory is rebuilt with the
// separator the path used first ("/" when it has none).
#pragma once

#include <string>
#include <string_view>

namespace sorvel {

class PathName {
 public:
  PathName() = default;
  explicit PathName(std::string_view path) { Set(path); }

  void Set(std::string_view path);

  const std::string& Drive() const { return drive_; }
  const std::string& Directory() const { return directory_; }
  const std::string& BaseName() const { return base_; }
  const std::string& Extension() const { return extension_; }
  std::string FullPath() const { return drive_ + directory_ + base_ + extension_; }

  // A letter followed by ":"; the first two characters become the drive.
  bool SetDrive(std::string_view text);
  // Empty, or ending in a separator.
  bool SetDirectory(std::string_view text);
  void SetBaseName(std::string_view text) { base_ = text; }
  // Empty, or beginning with ".".
  bool SetExtension(std::string_view text);

  // True when the path matches one of the "|"-separated wildcard patterns
  // ("*" any run, "?" one character; case-sensitive).
  bool Matches(std::string_view patterns) const;

  // Splits a bare name at its last dot: base and extension (dot included).
  static void SplitName(std::string_view name, std::string* base, std::string* extension);

 private:
  std::string drive_;
  std::string directory_;
  std::string base_;
  std::string extension_;
};

}  // namespace sorvel
