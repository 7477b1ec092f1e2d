#include "platform/sg_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>

namespace sorvel::platform {

namespace fs = std::filesystem;

namespace {

// Driver status bits other than DRIVER_SENSE (0x08) mean the command failed in the driver.
constexpr unsigned kDriverErrorMask = 0x07;

unsigned TimeoutMs(uint32_t seconds) {
  constexpr uint64_t kMax = std::numeric_limits<unsigned>::max();
  return static_cast<unsigned>(std::min<uint64_t>(static_cast<uint64_t>(seconds) * 1000, kMax));
}

int SystemIoctl(int fd, unsigned long request, void* argument) {
  int rc;
  do {
    rc = ::ioctl(fd, request, argument);
  } while (rc < 0 && errno == EINTR);
  return rc;
}

int OpenExclusive(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_EXCL | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))) {
    ::close(fd);
    if (error) *error = path + ": not a device node";
    return -1;
  }
  return fd;
}

}  // namespace

sg_io_hdr_t BuildSgIoHeader(const ScsiRequest& request, uint8_t* sense) {
  sg_io_hdr_t header;
  std::memset(&header, 0, sizeof header);
  header.interface_id = 'S';
  if (request.data_length == 0) {
    header.dxfer_direction = SG_DXFER_NONE;
  } else {
    header.dxfer_direction = request.write ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
  }
  header.cmd_len = static_cast<unsigned char>(request.cdb_length);
  header.mx_sb_len = kSgSenseLength;
  header.dxfer_len = static_cast<unsigned>(request.data_length);
  header.dxferp = request.data_length ? request.data : nullptr;
  header.cmdp = const_cast<unsigned char*>(request.cdb);
  header.sbp = sense;
  header.timeout = TimeoutMs(request.timeout_seconds);
  return header;
}

ScsiResult ComposeSgResult(int ioctl_result, const sg_io_hdr_t& header, const uint8_t* sense) {
  ScsiResult result;
  if (ioctl_result < 0 || header.host_status != 0 || (header.driver_status & kDriverErrorMask) != 0) {
    return result;
  }
  result.transferred = true;
  result.status = header.status;
  size_t n = std::min<size_t>(header.sb_len_wr, sizeof result.sense);
  if (sense != nullptr && n > 0) std::memcpy(result.sense, sense, n);
  result.sense_length = sense != nullptr ? n : 0;
  return result;
}

SgDevice::SgDevice(int fd, IoctlFunction ioctl) : fd_(fd), ioctl_(ioctl ? std::move(ioctl) : SystemIoctl) {}

SgDevice::~SgDevice() {
  if (fd_ >= 0) ::close(fd_);
}

ScsiResult SgDevice::Execute(const ScsiRequest& request) {
  if (request.cdb == nullptr || request.cdb_length == 0 || request.cdb_length > 16 ||
      request.data_length > std::numeric_limits<unsigned>::max() ||
      (request.data == nullptr && request.data_length > 0)) {
    return ScsiResult{};
  }
  uint8_t sense[kSgSenseLength] = {};
  sg_io_hdr_t header = BuildSgIoHeader(request, sense);
  int rc = ioctl_(fd_, SG_IO, &header);
  return ComposeSgResult(rc, header, sense);
}

std::string FindGenericNode(const std::string& node, const std::string& sysfs_root) {
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(node, ec);
  if (ec) resolved = node;
  std::string name = resolved.filename().string();
  if (name.empty()) return "";
  fs::path dir = fs::path(sysfs_root) / "class" / "block" / name / "device" / "scsi_generic";
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    std::string sg = entry.path().filename().string();
    if (sg.rfind("sg", 0) == 0) return "/dev/" + sg;
  }
  return "";
}

std::unique_ptr<ScsiDevice> OpenSgDevice(const std::string& node, std::string* error, const std::string& sysfs_root) {
  // The kernel filters some MMC opcodes on /dev/sr* for unprivileged users, so the
  // generic node is preferred when it can be opened read-write.
  std::string generic = FindGenericNode(node, sysfs_root);
  if (!generic.empty() && generic != node) {
    int fd = OpenExclusive(generic, nullptr);
    if (fd >= 0) return std::make_unique<SgDevice>(fd);
  }
  int fd = OpenExclusive(node, error);
  if (fd < 0) return nullptr;
  return std::make_unique<SgDevice>(fd);
}

}  // namespace sorvel::platform
