#include "platform/volume_label.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/emulated_drive/emulated_drive_registry.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "platform/text_encoding.h"

namespace sorvel::platform {

namespace {

constexpr int32_t kFirstDescriptor = 16;
// A disc has a handful of descriptors; a chain without a terminator ends here.
constexpr int32_t kMaxDescriptors = 64;
constexpr size_t kSectorSize = 2048;
constexpr size_t kVolumeIdOffset = 40;
constexpr size_t kVolumeIdLength = 32;

std::string TrimTrailingBlanks(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

bool IsJolietEscape(const uint8_t* descriptor) {
  const uint8_t* escape = descriptor + 88;
  return escape[0] == '%' && escape[1] == '/' && (escape[2] == '@' || escape[2] == 'C' || escape[2] == 'E');
}

// UCS-2 big-endian (blank padded) to UTF-8, trailing blanks removed.
std::string Ucs2BeLabel(const uint8_t* id) {
  std::u16string units;
  for (size_t i = 0; i + 1 < kVolumeIdLength; i += 2) {
    units.push_back(static_cast<char16_t>((id[i] << 8) | id[i + 1]));
  }
  while (!units.empty() && (units.back() == u' ' || units.back() == u'\0')) units.pop_back();
  std::string out;
  for (char16_t c : units) {
    if (c >= 0xD800 && c <= 0xDFFF) c = u'?';  // UCS-2 has no surrogates
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// Executes READ(10) for one 2,048-byte sector.
bool ReadSector10(ScsiDevice& device, int32_t lba, uint8_t* sector) {
  uint8_t cdb[10] = {0x28, 0,
                     static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 16),
                     static_cast<uint8_t>(lba >> 8),  static_cast<uint8_t>(lba),
                     0, 0, 1, 0};
  ScsiRequest request;
  request.cdb = cdb;
  request.cdb_length = sizeof cdb;
  request.data = sector;
  request.data_length = kSectorSize;
  request.timeout_seconds = 20;
  const ScsiResult result = device.Execute(request);
  return result.transferred && result.status == 0;
}

// The drive of an "emu:" spec that this process already holds open.
class OpenEmulatedDrive final : public ScsiDevice {
 public:
  explicit OpenEmulatedDrive(emu::SoftMmcDrive& drive) : drive_(drive) {}
  ScsiResult Execute(const ScsiRequest& request) override {
    ScsiResult result;
    result.transferred = true;
    result.status = static_cast<uint8_t>(drive_.Exec(request.cdb, request.cdb_length, request.data,
                                                     request.data_length, request.write,
                                                     request.timeout_seconds, result.sense));
    return result;
  }

 private:
  emu::SoftMmcDrive& drive_;
};

bool IsBlockNode(const std::string& device) { return device.rfind("/dev/sr", 0) == 0; }

}  // namespace

std::string IsoVolumeLabel(const SectorReader& read) {
  uint8_t sector[kSectorSize];
  std::string primary;
  bool have_primary = false;
  for (int32_t i = 0; i < kMaxDescriptors; ++i) {
    if (!read(kFirstDescriptor + i, sector)) break;
    if (std::memcmp(sector + 1, "CD001", 5) != 0) break;
    const uint8_t type = sector[0];
    if (type == 255) break;
    if (type == 1 && !have_primary) {
      have_primary = true;
      const std::string raw(reinterpret_cast<const char*>(sector + kVolumeIdOffset), kVolumeIdLength);
      primary = TrimTrailingBlanks(Cp932ToUtf8(TrimTrailingBlanks(raw)));
    } else if (type == 2 && IsJolietEscape(sector)) {
      return Ucs2BeLabel(sector + kVolumeIdOffset);
    }
  }
  return primary;
}

std::string VolumeLabel(char letter, const DriveMap& map) {
  const std::string* device = map.Find(letter);
  if (device == nullptr) return {};
  if (IsBlockNode(*device)) {
    const int fd = ::open(device->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    const std::string label = IsoVolumeLabel([fd](int32_t lba, uint8_t* sector) {
      const off_t offset = static_cast<off_t>(lba) * static_cast<off_t>(kSectorSize);
      size_t done = 0;
      while (done < kSectorSize) {
        const ssize_t n = ::pread(fd, sector + done, kSectorSize - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
      }
      return true;
    });
    ::close(fd);
    return label;
  }
  std::string error;
  std::unique_ptr<ScsiDevice> scsi = OpenMappedDrive(letter, map, &error);
  if (!scsi && device->rfind("emu:", 0) == 0) {
    // The engine of this process may hold the emulated drive open already.
    emu::DriveSettings settings;
    if (emu::ParseDriveSpec(device->substr(4), &settings, &error)) {
      if (emu::SoftMmcDrive* open = emu::FindOpenDrive(settings.state_path)) {
        scsi = std::make_unique<OpenEmulatedDrive>(*open);
      }
    }
  }
  if (!scsi) return {};
  return IsoVolumeLabel([&scsi](int32_t lba, uint8_t* sector) { return ReadSector10(*scsi, lba, sector); });
}

std::string VolumeLabel(char letter) { return VolumeLabel(letter, DriveMap::Load()); }

}  // namespace sorvel::platform
