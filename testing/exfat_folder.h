// A folder on an exFAT file system mounted through FUSE, for tests of files
// written where there are no hard links, no RENAME_NOREPLACE and no owners:
// an image file made with mkfs.exfat, attached to a loop device and mounted
// with mount.exfat-fuse for the rig's life, then always unmounted and
// detached. It needs root, /dev/fuse, a free loop device and the tools
// (exfat-fuse, exfatprogs); without any of them the rig fails the test.
#pragma once

#include <filesystem>
#include <string>

#include "testing/test_paths.h"

namespace sorvel::testing {

class ExfatFolder {
 public:
  // `megabytes`: the file system's size.
  explicit ExfatFolder(int megabytes = 64);
  ~ExfatFolder();
  ExfatFolder(const ExfatFolder&) = delete;
  ExfatFolder& operator=(const ExfatFolder&) = delete;

  // Whether the folder is mounted; when not, the test has failed already.
  bool mounted() const { return mounted_; }
  const std::filesystem::path& path() const { return mount_point_; }
  std::filesystem::path operator/(const std::string& name) const { return mount_point_ / name; }

 private:
  ScratchDir dir_;
  std::filesystem::path mount_point_;
  std::string loop_device_;
  bool mounted_ = false;
};

}  // namespace sorvel::testing
