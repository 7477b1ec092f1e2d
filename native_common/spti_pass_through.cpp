#include "native_common/spti_pass_through.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/drive_map.h"
#include "platform/scsi_sense.h"

namespace sorvel {

namespace {

std::unique_ptr<platform::ScsiDevice> OpenThroughDriveMap(char letter, std::string* error) {
  return platform::OpenMappedDrive(letter, platform::DriveMap::Load(), error);
}

}  // namespace

SptiPassThrough::SptiPassThrough() : opener_(OpenThroughDriveMap) {}

SptiPassThrough::SptiPassThrough(DeviceOpener opener) : opener_(opener ? std::move(opener) : OpenThroughDriveMap) {}

SptiPassThrough::~SptiPassThrough() { SptiPassThrough::Close(); }

bool SptiPassThrough::Open(const std::string& path) {
  Close();
  ClearSense();
  last_error_.clear();
  std::optional<char> letter = platform::ParseDriveLetter(path);
  if (!letter) {
    last_error_ = "not a drive name: \"" + path + "\"";
    return false;
  }
  std::unique_ptr<platform::ScsiDevice> device = opener_(*letter, &last_error_);
  if (!device) {
    if (last_error_.empty()) last_error_ = std::string("cannot open drive ") + *letter + ":";
    return false;
  }
  device_ = std::move(device);
  is_open_ = true;
  return true;
}

bool SptiPassThrough::Close() {
  if (!is_open_) return false;
  const uint8_t sync_cache[10] = {0x35};
  int32_t ret = ExecCommand(sync_cache, sizeof sync_cache, nullptr, 0, nullptr, true, kSyncCacheTimeout);
  std::printf("Syncro cache ret = %02X\n", static_cast<unsigned>(ret));
  const uint8_t allow_removal[6] = {0x1E, 0, 0, 0, 0, 0};
  ExecCommand(allow_removal, sizeof allow_removal, nullptr, 0, nullptr, false, kDefaultScsiTimeout);
  device_.reset();
  is_open_ = false;
  return true;
}

void SptiPassThrough::SetTransferFailed() { key_ = asc_ = ascq_ = 0xFF; }

int32_t SptiPassThrough::ExecCommand(const uint8_t* cdb, int cdb_length, void* data, uint32_t data_length,
                                     uint8_t* sense, bool write, uint32_t timeout_seconds) {
  if (!is_open_) return -1;
  if (cdb == nullptr || cdb_length < 1 || cdb_length > 16 || (data == nullptr && data_length > 0)) {
    SetTransferFailed();
    return -1;
  }
  platform::ScsiRequest request;
  request.cdb = cdb;
  request.cdb_length = static_cast<size_t>(cdb_length);
  request.data = data;
  request.data_length = data_length;
  request.write = write;
  request.timeout_seconds = timeout_seconds;
  platform::ScsiResult result = device_->Execute(request);
  if (!result.transferred) {
    SetTransferFailed();
    return -1;
  }
  size_t sense_length = std::min(result.sense_length, sizeof result.sense);
  platform::SenseCode code = platform::DecodeSense(result.sense, sense_length);
  key_ = code.key;
  asc_ = code.asc;
  ascq_ = code.ascq;
  if (sense != nullptr) {
    std::memset(sense, 0, kSenseBufferSize);
    std::memcpy(sense, result.sense, std::min<size_t>(sense_length, kSenseBufferSize));
  }
  return result.status;
}

}  // namespace sorvel
