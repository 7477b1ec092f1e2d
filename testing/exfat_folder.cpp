#include "testing/exfat_folder.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>

namespace sorvel::testing {
namespace {

// Runs `command` by the shell; its exit status and, in `out`, what it printed.
int Run(const std::string& command, std::string* out = nullptr) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  std::array<char, 256> buffer{};
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) text += buffer.data();
  const int status = ::pclose(pipe);
  if (out != nullptr) *out = text;
  return status;
}

}  // namespace

ExfatFolder::ExfatFolder(int megabytes) : mount_point_(dir_ / "exfat") {
  if (::geteuid() != 0) {
    ADD_FAILURE() << "an exFAT folder needs root, to attach a loop device and mount it";
    return;
  }
  if (::access("/dev/fuse", R_OK | W_OK) != 0) {
    ADD_FAILURE() << "an exFAT folder needs /dev/fuse";
    return;
  }
  const std::filesystem::path image = dir_ / "exfat.img";
  std::filesystem::create_directory(mount_point_);
  {
    std::ofstream(image, std::ios::binary).close();
  }
  std::filesystem::resize_file(image, static_cast<uintmax_t>(megabytes) << 20);
  std::string out;
  if (Run("mkfs.exfat '" + image.string() + "'", &out) != 0) {
    ADD_FAILURE() << "mkfs.exfat (exfatprogs) failed: " << out;
    return;
  }
  if (Run("losetup -f --show '" + image.string() + "'", &out) != 0 || !out.starts_with("/dev/loop")) {
    ADD_FAILURE() << "no loop device: " << out;
    return;
  }
  loop_device_ = out.substr(0, out.find('\n'));
  if (Run("mount.exfat-fuse '" + loop_device_ + "' '" + mount_point_.string() + "'", &out) != 0) {
    ADD_FAILURE() << "mount.exfat-fuse (exfat-fuse) failed: " << out;
    return;
  }
  mounted_ = true;
}

ExfatFolder::~ExfatFolder() {
  if (mounted_) {
    // A FUSE mount still in use unmounts lazily: the loop device goes once it is released.
    if (::umount(mount_point_.c_str()) != 0) ::umount2(mount_point_.c_str(), MNT_DETACH);
  }
  if (!loop_device_.empty()) Run("losetup -d '" + loop_device_ + "'");
}

}  // namespace sorvel::testing
