// The "emu:" devices of the drive map: a SoftMmcDrive behind ScsiDevice, and
// the process-wide registry through which tests reach the drive of a path.
#include "platform/emulated_device.h"

#include <filesystem>
#include <map>
#include <mutex>

#include "platform/emulated_drive/emulated_drive_registry.h"
#include "platform/emulated_drive/soft_mmc_drive.h"

namespace sorvel::platform {

namespace emu {

namespace {

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, std::shared_ptr<DriveHooks>>& HooksMap() {
  static std::map<std::string, std::shared_ptr<DriveHooks>> map;
  return map;
}

std::map<std::string, SoftMmcDrive*>& OpenDrives() {
  static std::map<std::string, SoftMmcDrive*> map;
  return map;
}

std::string Key(const std::string& path) {
  std::error_code ec;
  auto absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

class EmulatedDevice : public ScsiDevice {
 public:
  explicit EmulatedDevice(std::unique_ptr<SoftMmcDrive> drive) : drive_(std::move(drive)), key_(Key(drive_->state_path())) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    OpenDrives()[key_] = drive_.get();
  }
  ~EmulatedDevice() override {
    {
      std::lock_guard<std::mutex> lock(RegistryMutex());
      auto it = OpenDrives().find(key_);
      if (it != OpenDrives().end() && it->second == drive_.get()) OpenDrives().erase(it);
    }
    drive_.reset();
  }

  ScsiResult Execute(const ScsiRequest& request) override {
    ScsiResult result;
    uint8_t sense[32];
    int status = drive_->Exec(request.cdb, request.cdb_length, request.data, request.data_length, request.write,
                              request.timeout_seconds, sense);
    result.transferred = true;
    result.status = static_cast<uint8_t>(status);
    if (status != 0) {
      std::copy(sense, sense + 32, result.sense);
      result.sense_length = 18;
    }
    return result;
  }

 private:
  std::unique_ptr<SoftMmcDrive> drive_;
  std::string key_;
};

}  // namespace

std::shared_ptr<DriveHooks> HooksFor(const std::string& state_path) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto& slot = HooksMap()[Key(state_path)];
  if (!slot) slot = std::make_shared<DriveHooks>();
  return slot;
}

SoftMmcDrive* FindOpenDrive(const std::string& state_path) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto it = OpenDrives().find(Key(state_path));
  return it == OpenDrives().end() ? nullptr : it->second;
}

}  // namespace emu

std::unique_ptr<ScsiDevice> OpenEmulatedDevice(const std::string& spec, std::string* error) {
  emu::DriveSettings settings;
  if (!emu::ParseDriveSpec(spec, &settings, error)) return nullptr;
  auto drive = emu::SoftMmcDrive::Open(settings, error);
  if (!drive) return nullptr;
  return std::make_unique<emu::EmulatedDevice>(std::move(drive));
}

}  // namespace sorvel::platform
