#include "device_engine/mmc_drive.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "device_engine/aligned_buffer.h"
#include "native_common/msf_time.h"
#include "platform/clock.h"
#include "platform/scsi_sense.h"

namespace sorvel {

namespace {

constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRezeroUnit = 0x01;
constexpr uint8_t kFormatUnit = 0x04;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kStartStopUnit = 0x1B;
constexpr uint8_t kPreventAllowRemoval = 0x1E;
constexpr uint8_t kReadFormatCapacities = 0x23;
constexpr uint8_t kReadCapacity = 0x25;
constexpr uint8_t kRead10 = 0x28;
constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kSynchronizeCache = 0x35;
constexpr uint8_t kReadToc = 0x43;
constexpr uint8_t kGetConfiguration = 0x46;
constexpr uint8_t kReadDiscInformation = 0x51;
constexpr uint8_t kReadTrackInformation = 0x52;
constexpr uint8_t kReserveTrack = 0x53;
constexpr uint8_t kSendOpcInformation = 0x54;
constexpr uint8_t kModeSelect10 = 0x55;
constexpr uint8_t kModeSense10 = 0x5A;
constexpr uint8_t kCloseTrackSession = 0x5B;
constexpr uint8_t kSendCueSheet = 0x5D;
constexpr uint8_t kBlank = 0xA1;
constexpr uint8_t kGetPerformance = 0xAC;
constexpr uint8_t kReadCdMsf = 0xB9;
constexpr uint8_t kSetCdSpeed = 0xBB;
constexpr uint8_t kReadCd = 0xBE;

constexpr int kPageErrorRecovery = 0x01;
constexpr int kPageWriteParameters = 0x05;
constexpr int kPageCapabilities = 0x2A;
constexpr int kCurrentValues = 0;
constexpr int kChangeableValues = 1;
constexpr int kDefaultValues = 2;

constexpr uint32_t kDiscInformationLength = 256;
constexpr uint32_t kTocLength = 1028;
constexpr uint32_t kRawTocLength = 1412;
// The CD-Text answer: a 4-byte header and up to 512 packs.
constexpr uint32_t kCdTextAnswerLength = 4 + kCdTextMaxBytes;
constexpr uint32_t kFormatCapacitiesLength = 2048;
constexpr uint32_t kTrackInformationLength = 2048;
constexpr uint32_t kPerformanceLength = 1024;
constexpr uint32_t kPerformanceDescriptorSize = 16;
// GET PERFORMANCE asks for no more descriptors than its buffer holds.
constexpr uint32_t kMaxPerformanceDescriptors = (kPerformanceLength - 8) / kPerformanceDescriptorSize;
constexpr uint32_t kProfileListLength = 1024;
constexpr size_t kFormattedQSize = 16;
constexpr int kMaxInquiryLength = 255;

// The pregap search gives up once the Q clock disagrees by more than this.
constexpr int32_t kMaxQShift = 75;
constexpr int kMaxPregapWindowMoves = 10;

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void Put24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 16);
  Put16(p + 1, v);
}
void Put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  Put24(p + 1, v);
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

unsigned StatusByte(int32_t status) { return static_cast<unsigned>(status); }

// A speed for SET CD SPEED; out of range means the drive's maximum (0xFFFF).
uint32_t SpeedField(int32_t speed) { return speed < 0 || speed > 0xFFFF ? 0xFFFF : static_cast<uint32_t>(speed); }

// Text of `length` bytes of an INQUIRY answer, blanks kept, cut at a zero byte.
std::string InquiryText(const uint8_t* p, size_t length) {
  std::string text(reinterpret_cast<const char*>(p), length);
  size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

size_t SectorSizeFromDrive(int32_t type) {
  switch (type) {
    case kReadMain: return kCdMainSize;
    case kReadMainQ: return kCdMainSize + kFormattedQSize;
    default: return kCdSectorWithSubSize;
  }
}

// Separates 96 interleaved subchannel bytes (bit 7 P ... bit 0 W) into the
// channels P, Q, R, S, T, U, V and W of 12 bytes each.
void DeinterleaveSubchannel(const uint8_t* raw, uint8_t* channels) {
  std::memset(channels, 0, kSubchannelSize);
  for (size_t i = 0; i < kSubchannelSize; ++i) {
    for (int channel = 0; channel < 8; ++channel) {
      if (raw[i] & (0x80 >> channel)) channels[channel * 12 + i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    }
  }
}

// The ATIP answer: a 4-byte header, then one 24-byte descriptor.
constexpr uint32_t kAtipLength = 28;

// A READ TOC/PMA/ATIP block for `format` (0, 1, 2, 4 or 5). Formats 0-2 are also
// put in bits 7-6 of the control byte, where older ATAPI drives (SFF-8020i)
// take the format from; MMC drives ignore those vendor bits. The raw TOC asks
// for MSF addresses: such drives otherwise answer its points in LBA form.
void BuildReadTocCdb(uint8_t* cdb, uint8_t format, uint32_t allocation) {
  std::memset(cdb, 0, 10);
  cdb[0] = kReadToc;
  if (format == 2 || format == 4) cdb[1] = 0x02;
  cdb[2] = format;
  if (format == 0) cdb[6] = 1;
  Put16(cdb + 7, allocation);
  if (format <= 2) cdb[9] = static_cast<uint8_t>(format << 6);
}

// Bytes of a READ TOC answer that the drive declared and the buffer holds,
// header included, cut to whole descriptors; 0 when an answer that fits the
// buffer is not the header and whole `descriptor`-sized descriptors (an
// answer of another format).
size_t TocAnswerBytes(const uint8_t* answer, size_t buffer_length, size_t descriptor) {
  size_t declared = Get16(answer);
  if (declared < 2) return 0;
  if (declared + 2 <= buffer_length) return (declared - 2) % descriptor == 0 ? declared + 2 : 0;
  return buffer_length - (buffer_length - 4) % descriptor;
}

// A raw TOC point address is an MSF time: seconds below 60, frames below 75.
bool IsMsf(uint8_t second, uint8_t frame) { return second < 60 && frame < 75; }

// Fill of the last sector's subchannel area before a READ CD that asks for
// subchannel: a drive that ignores the selection sends 2,352 bytes a sector
// and leaves it in place. No drive returns this pattern (its P changes within
// the sector and its formatted Q fills the reserved bytes 12-14).
uint8_t SubchannelFill(size_t i) { return static_cast<uint8_t>(0xA5 ^ (i * 37)); }

}  // namespace

MmcDrive::MmcDrive() : pass_through_(&local_) { q_crc_.Setup(0, false, 0, true); }

MmcDrive::~MmcDrive() { SetPassThrough(nullptr); }

int32_t MmcDrive::Execute(const uint8_t* cdb, int cdb_length, void* data, uint32_t length, bool write,
                          uint32_t timeout, uint8_t* sense) {
  return pass_through_->ExecCommand(cdb, cdb_length, data, length, sense, write, timeout);
}

bool MmcDrive::Open(const std::string& path) {
  vendor_.clear();
  product_.clear();
  revision_.clear();
  if (!pass_through_->Open(path)) return false;
  uint8_t answer[100];
  if (!Inquiry(answer, sizeof answer) || (answer[0] & 0x1F) != 5) {
    // Not an optical drive: do not keep the device.
    pass_through_->Close();
    return false;
  }
  vendor_ = InquiryText(answer + 8, 8);
  product_ = InquiryText(answer + 16, 16);
  revision_ = InquiryText(answer + 32, 4);
  return true;
}

bool MmcDrive::Close() {
  if (!pass_through_->Close()) return false;
  vendor_.clear();
  product_.clear();
  revision_.clear();
  return true;
}

void MmcDrive::SetPassThrough(ScsiPassThrough* pass_through) {
  pass_through_->Close();
  pass_through_ = pass_through != nullptr ? pass_through : &local_;
  q_crc_.Setup(0, false, 0, true);
  block_length_ = 0;
  vendor_.clear();
  product_.clear();
  revision_.clear();
}

std::string MmcDrive::GetDeviceName(int32_t flags) const {
  std::string name;
  auto append = [&name](const std::string& part) {
    if (!name.empty()) name += ' ';
    name += part;
  };
  if (flags & DNC_VENDOR) append(vendor_);
  if (flags & DNC_PRODUCT) append(product_);
  if (flags & DNC_REVISION) append(revision_);
  return name;
}

bool MmcDrive::LoadTray(bool load) {
  const uint8_t cdb[6] = {kStartStopUnit, 0, 0, 0, static_cast<uint8_t>(load ? 3 : 2), 0};
  return (Execute(cdb, sizeof cdb, nullptr, 0, false) & 0x0F) == 0;
}

bool MmcDrive::IsReady() {
  const uint8_t cdb[6] = {kTestUnitReady};
  int32_t status = Execute(cdb, sizeof cdb, nullptr, 0, false);
  std::printf("IsReady returned %02X\n", StatusByte(status));
  return status == 0;
}

int32_t MmcDrive::GetMediaType() {
  int32_t profile;
  return QueryMediaType(&profile) ? profile : kFallbackMediaType;
}

bool MmcDrive::QueryMediaType(int32_t* profile) {
  uint8_t cdb[10] = {kGetConfiguration, 1};
  Put16(cdb + 7, 8);
  AlignedBuffer answer(8);
  if (Execute(cdb, sizeof cdb, answer.data(), 8, false) != 0) return false;
  *profile = Get16(answer.data() + 6);
  return true;
}

int32_t MmcDrive::MediaFamilyOf(int32_t profile) {
  if (profile >= 0x08 && profile <= 0x0A) return MFT_CD;
  if ((profile >= 0x10 && profile <= 0x18) || profile == 0x1A || profile == 0x1B || profile == 0x2A ||
      profile == 0x2B) {
    return MFT_DVD;
  }
  if (profile >= 0x40 && profile <= 0x43) return MFT_BD;
  if ((profile >= 0x50 && profile <= 0x53) || profile == 0x58 || profile == 0x5A) return MFT_HDDVD;
  return MFT_OTHER;
}

int32_t MmcDrive::GetMediaFamilyType() { return MediaFamilyOf(GetMediaType()); }

bool MmcDrive::LockUnlock(bool lock) {
  const uint8_t cdb[6] = {kPreventAllowRemoval, 0, 0, 0, static_cast<uint8_t>(lock ? 1 : 0), 0};
  return (Execute(cdb, sizeof cdb, nullptr, 0, false) & 0x0F) == 0;
}

bool MmcDrive::Rewind() {
  const uint8_t cdb[6] = {kRezeroUnit};
  int32_t status = Execute(cdb, sizeof cdb, nullptr, 0, false);
  std::printf("Rewind returned %02X\n", StatusByte(status));
  return status == 0;
}

bool MmcDrive::Erase(bool quick) {
  const uint8_t cdb[12] = {kBlank, static_cast<uint8_t>(quick ? 1 : 0)};
  int32_t status = Execute(cdb, sizeof cdb, nullptr, 0, false, quick ? kDefaultScsiTimeout : kLongOperationTimeout);
  std::printf("Erase returned %02X\n", StatusByte(status));
  return status == 0;
}

int32_t MmcDrive::ReadFormatCapacities(bool* formatted) {
  uint8_t cdb[10] = {kReadFormatCapacities};
  Put16(cdb + 7, kFormatCapacitiesLength);
  AlignedBuffer answer(kFormatCapacitiesLength);
  if (Execute(cdb, sizeof cdb, answer.data(), kFormatCapacitiesLength, false) != 0) return 0;
  auto blocks = static_cast<int32_t>(Get32(answer.data() + 4));
  if (formatted != nullptr) *formatted = (answer[8] & 0x03) == 2;
  std::printf("READ FORMAT CAPACITIES %ld\n", static_cast<long>(blocks));
  return blocks;
}

bool MmcDrive::FindFormatDescriptor(int32_t format_type, uint8_t* descriptor) {
  uint8_t cdb[10] = {kReadFormatCapacities};
  Put16(cdb + 7, kFormatCapacitiesLength);
  AlignedBuffer answer(kFormatCapacitiesLength);
  int32_t status = Execute(cdb, sizeof cdb, answer.data(), kFormatCapacitiesLength, false);
  std::printf("READ FORMAT CAPACITIES returned %02X\n", StatusByte(status));
  if (status != 0) return false;
  // Formattable descriptors follow the current/maximum one, within the list and the buffer.
  size_t list_end = std::min<size_t>(4 + answer[3], kFormatCapacitiesLength);
  for (size_t offset = 12; offset + 8 <= list_end; offset += 8) {
    if ((answer[offset + 4] >> 2) == format_type) {
      std::memcpy(descriptor, answer.data() + offset, 8);
      return true;
    }
  }
  return false;
}

int32_t MmcDrive::FormattableCapacity(int32_t format_type) {
  uint8_t descriptor[8];
  if (!FindFormatDescriptor(format_type, descriptor)) return 0;
  return static_cast<int32_t>(std::min<uint32_t>(Get32(descriptor), std::numeric_limits<int32_t>::max()));
}

bool MmcDrive::FormatUnit(int32_t format_type) {
  uint8_t descriptor[8];
  if (!FindFormatDescriptor(format_type, descriptor)) return false;
  const uint8_t format_cdb[6] = {kFormatUnit, 0x11};
  AlignedBuffer list(12);
  list[1] = 0x80;
  list[3] = 0x08;
  std::memcpy(list.data() + 4, descriptor, 8);
  int32_t status = Execute(format_cdb, sizeof format_cdb, list.data(), 12, true, kLongOperationTimeout);
  std::printf("FORMAT UNIT returned %02X\n", StatusByte(status));
  return status == 0;
}

bool MmcDrive::IsSupportMedia(int32_t profile) {
  uint8_t cdb[10] = {kGetConfiguration, 2};
  Put16(cdb + 7, kProfileListLength);
  AlignedBuffer answer(kProfileListLength);
  if (Execute(cdb, sizeof cdb, answer.data(), kProfileListLength, false) != 0) return false;
  // 4-byte words after the data length: the rest of the header, the feature
  // header and the profile descriptors, within what the drive sent and the buffer.
  size_t end = std::min<size_t>(4 + static_cast<size_t>(Get32(answer.data())), kProfileListLength);
  for (size_t offset = 4; offset + 4 <= end; offset += 4) {
    if (Get16(answer.data() + offset) == profile) return true;
  }
  return false;
}

bool MmcDrive::ModeSense10(ModeParameters* mode, int page_control, int page) {
  uint8_t cdb[10] = {kModeSense10, 0, static_cast<uint8_t>(page_control << 6 | (page & 0x3F))};
  Put16(cdb + 7, ModeParameters::kSize);
  AlignedBuffer answer(ModeParameters::kSize);
  mode->bytes.fill(0);
  if (Execute(cdb, sizeof cdb, answer.data(), ModeParameters::kSize, false) != 0) return false;
  std::memcpy(mode->bytes.data(), answer.data(), ModeParameters::kSize);
  // A page whose header lies past the buffer cannot be used.
  return mode->PageRoom() >= 2;
}

bool MmcDrive::ModeSelect10(const ModeParameters& mode) {
  if (mode.PageRoom() < 2) return false;
  size_t length = std::min(mode.PageOffset() + 2 + mode.Page()[1], ModeParameters::kSize);
  AlignedBuffer list(length);
  std::memcpy(list.data(), mode.bytes.data(), length);
  // The mode data length is reserved in MODE SELECT, and so is the page's PS bit.
  list[0] = 0;
  list[1] = 0;
  list[mode.PageOffset()] &= 0x7F;
  uint8_t cdb[10] = {kModeSelect10, 0x10};
  Put16(cdb + 7, static_cast<uint32_t>(length));
  return Execute(cdb, sizeof cdb, list.data(), static_cast<uint32_t>(length), true) == 0;
}

bool MmcDrive::IsReadSupport(int32_t flags) {
  ModeParameters mode;
  if (!ModeSense10(&mode, kCurrentValues, kPageCapabilities) || mode.PageRoom() < 3) return false;
  const uint8_t* page = mode.Page();
  bool ok = true;
  if (flags & kSupportCd) ok = ok && (page[2] & 0x03) != 0;
  if (flags & kSupportDvd) ok = ok && (page[2] & 0x38) != 0;
  return ok;
}

bool MmcDrive::IsWriteSupport(int32_t flags) {
  ModeParameters mode;
  if (!ModeSense10(&mode, kCurrentValues, kPageCapabilities) || mode.PageRoom() < 4) return false;
  const uint8_t* page = mode.Page();
  bool ok = true;
  if (flags & kSupportCd) ok = ok && (page[3] & 0x03) != 0;
  if (flags & kSupportDvd) ok = ok && (page[3] & 0x30) != 0;
  return ok;
}

bool MmcDrive::ReadDiscInformation(uint8_t* answer) {
  uint8_t cdb[10] = {kReadDiscInformation};
  Put16(cdb + 7, kDiscInformationLength);
  AlignedBuffer buffer(kDiscInformationLength);
  bool good = Execute(cdb, sizeof cdb, buffer.data(), kDiscInformationLength, false) == 0;
  std::memcpy(answer, buffer.data(), kDiscInformationLength);
  return good;
}

bool MmcDrive::IsDiscEmpty() {
  uint8_t answer[kDiscInformationLength];
  return ReadDiscInformation(answer) && (answer[2] & 0x03) == 0;
}

bool MmcDrive::ResetSense() {
  ModeParameters mode;
  if (!ModeSense10(&mode, kDefaultValues, kPageWriteParameters)) return false;
  return ModeSelect10(mode);
}

bool MmcDrive::SetECCMode(bool enable, int32_t retries) {
  ModeParameters mode;
  if (!ModeSense10(&mode, kDefaultValues, kPageErrorRecovery) || mode.PageRoom() < 4) return false;
  uint8_t* page = mode.Page();
  if (enable) {
    page[2] = 0;
  } else {
    page[2] = 0x01;  // DCR: no error correction
    page[3] = static_cast<uint8_t>(retries);
  }
  return ModeSelect10(mode);
}

bool MmcDrive::SetReadSpeed(int32_t speed, bool cav) {
  uint8_t cdb[12] = {kSetCdSpeed, static_cast<uint8_t>(cav ? 1 : 0)};
  Put16(cdb + 2, SpeedField(speed));
  Put16(cdb + 4, 0xFFFF);
  int32_t status = Execute(cdb, sizeof cdb, nullptr, 0, false);
  std::printf("set cd speed returned %02X\n", StatusByte(status));
  return status == 0;
}

bool MmcDrive::SetWriteSpeed(int32_t speed, bool cav) {
  uint8_t cdb[12] = {kSetCdSpeed, static_cast<uint8_t>(cav ? 1 : 0)};
  Put16(cdb + 2, 0xFFFF);
  Put16(cdb + 4, SpeedField(speed));
  int32_t status = Execute(cdb, sizeof cdb, nullptr, 0, false);
  std::printf("set cd speed returned %02X\n", StatusByte(status));
  return status == 0;
}

int32_t MmcDrive::GetWriteSpeed(WriteSpeedEntry* entries, int32_t room) {
  if (entries == nullptr || room <= 0) return 0;
  if (IsReady()) {
    uint8_t cdb[12] = {kGetPerformance};
    Put16(cdb + 8, kMaxPerformanceDescriptors);
    cdb[10] = 3;  // write speed descriptors
    AlignedBuffer answer(kPerformanceLength);
    int32_t status = Execute(cdb, sizeof cdb, answer.data(), kPerformanceLength, false);
    int32_t counted = 0;
    if (status == 0) {
      uint32_t descriptors = std::min(Get32(answer.data()) / kPerformanceDescriptorSize, kMaxPerformanceDescriptors);
      for (uint32_t i = 0; i < descriptors && counted < room; ++i) {
        const uint8_t* d = answer.data() + 8 + i * kPerformanceDescriptorSize;
        WriteSpeedEntry& entry = entries[counted];
        entry.rotation = static_cast<uint8_t>((d[0] >> 3) & 0x03);
        entry.speed = Get16(d + 14);
        // An equal speed is overwritten by the next descriptor.
        if (counted == 0 || entry.speed != entries[counted - 1].speed) ++counted;
      }
    }
    std::printf("GET PERFORMANCE returned %02X\n", StatusByte(status));
    if (counted > 0) return counted;
  }
  ModeParameters mode;
  if (!ModeSense10(&mode, kCurrentValues, kPageCapabilities)) return 0;
  const uint8_t* page = mode.Page();
  size_t room_bytes = mode.PageRoom();
  unsigned current = room_bytes >= 30 ? Get16(page + 28) : 0;
  std::printf("CurrentWriteSpeed=%u\n", current);
  if (mode.DataLength() <= 32 || room_bytes < 32) return 0;
  std::memset(entries, 0, sizeof(WriteSpeedEntry) * static_cast<size_t>(room));
  // Descriptors that lie within the page as the drive sent it and within the buffer.
  size_t page_end = std::min<size_t>(2 + page[1], room_bytes);
  size_t sent_end = 2 + static_cast<size_t>(mode.DataLength());
  if (sent_end > mode.PageOffset()) page_end = std::min(page_end, sent_end - mode.PageOffset());
  size_t fit = page_end > 32 ? (page_end - 32) / 4 : 0;
  size_t n = std::min<size_t>({Get16(page + 30), fit, static_cast<size_t>(room)});
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* d = page + 32 + 4 * i;
    entries[i].rotation = d[1];
    entries[i].speed = Get16(d + 2);
  }
  return static_cast<int32_t>(n);
}

SenseStatus MmcDrive::GetSCSIErrorStatus() { return pass_through_->GetSense(); }

bool MmcDrive::ClearSense() { return pass_through_->ClearSense(); }

uint16_t MmcDrive::SetSubQCrc(uint8_t* q) {
  q_crc_.Start();
  q_crc_.Update(q, 10);
  auto crc = static_cast<uint16_t>(q_crc_.Result());
  q[10] = static_cast<uint8_t>(crc >> 8);
  q[11] = static_cast<uint8_t>(crc);
  return crc;
}

bool MmcDrive::IsQCrcValid(const uint8_t* q) {
  q_crc_.Start();
  q_crc_.Update(q, 10);
  return q_crc_.Result() == Get16(q + 10);
}

bool MmcDrive::Inquiry(uint8_t* buffer, int32_t length) {
  if (buffer == nullptr || length <= 0) return false;
  std::memset(buffer, 0, static_cast<size_t>(length));
  int asked = std::min(length, kMaxInquiryLength);
  const uint8_t cdb[6] = {kInquiry, 0, 0, 0, static_cast<uint8_t>(asked), 0};
  AlignedBuffer answer(static_cast<size_t>(asked));
  bool good = Execute(cdb, sizeof cdb, answer.data(), static_cast<uint32_t>(asked), false) == 0;
  std::memcpy(buffer, answer.data(), static_cast<size_t>(asked));
  return good;
}

int32_t MmcDrive::ReadCapacity() {
  const uint8_t cdb[10] = {kReadCapacity};
  AlignedBuffer answer(8);
  if (Execute(cdb, sizeof cdb, answer.data(), 8, false) != 0) return -1;
  return static_cast<int32_t>(Get32(answer.data()) + 1);
}

int32_t MmcDrive::GetLeadInStart() {
  uint8_t answer[kDiscInformationLength];
  if (!ReadDiscInformation(answer) || (answer[2] & 0x03) != 0) return 0;
  std::printf("leadin=%02d:%02d:%02d\n", answer[17], answer[18], answer[19]);
  return MsfToLba(answer[17], answer[18], answer[19]);
}

int32_t MmcDrive::GetLastLeadOut() {
  uint8_t answer[kDiscInformationLength];
  if (!ReadDiscInformation(answer) || (answer[2] & 0x03) != 0) return 0;
  std::printf("leadout=%02d:%02d:%02d\n", answer[21], answer[22], answer[23]);
  return MsfToLba(answer[21], answer[22], answer[23]);
}

int32_t MmcDrive::GetWritableSize() {
  uint8_t cdb[10] = {kReadTrackInformation, 0};
  Put32(cdb + 2, 1);
  Put16(cdb + 7, kTrackInformationLength);
  AlignedBuffer answer(kTrackInformationLength);
  int32_t status = Execute(cdb, sizeof cdb, answer.data(), kTrackInformationLength, false);
  if (status != 0) {
    std::printf("READ_TRACK_INFORMATION Returned %02X\n", StatusByte(status));
    return 0;
  }
  auto free_blocks = static_cast<int32_t>(Get32(answer.data() + 16));
  std::printf("freeblocks=%ld\n", static_cast<long>(free_blocks));
  if (free_blocks > 0) return free_blocks;
  auto track_size = static_cast<int32_t>(Get32(answer.data() + 24));
  std::printf("tracksize=%ld\n", static_cast<long>(track_size));
  return track_size;
}

bool MmcDrive::ReadAtip(AtipTimes* times) {
  uint8_t cdb[10];
  BuildReadTocCdb(cdb, 4, kAtipLength);
  AlignedBuffer answer(kAtipLength);
  std::memset(answer.data(), 0, kAtipLength);
  if (Execute(cdb, sizeof cdb, answer.data(), kAtipLength, false) != 0) return false;
  // The answer must reach the lead-out time (byte 14), and carry the bits
  // the descriptor always has set (byte 4 bit 7, byte 6 bit 7): a drive that
  // reads the format from elsewhere answers a TOC instead.
  const uint8_t* a = answer.data();
  if (Get16(a) + 2u < 15u || (a[4] & 0x80) == 0 || (a[6] & 0x80) == 0) return false;
  // Times in binary MSF: a lead-in's minute is 90-99 (before LBA -150), a
  // lead-out's below 90.
  if (!IsMsf(a[9], a[10]) || !IsMsf(a[13], a[14])) return false;
  if (a[8] < kMsfNegativeMinute || a[8] > 99 || a[12] >= kMsfNegativeMinute) return false;
  const int32_t lead_in = MsfToLba(a[8], a[9], a[10]);
  const int32_t lead_out = MsfToLba(a[12], a[13], a[14]);
  if (lead_out <= 0) return false;
  std::printf("ATIP leadin=%02d:%02d:%02d leadout=%02d:%02d:%02d\n", a[8], a[9], a[10], a[12], a[13], a[14]);
  times->lead_in_start = lead_in;
  times->last_lead_out_start = lead_out;
  return true;
}

bool MmcDrive::ReadToc(TocStructure* toc) {
  uint8_t cdb[10];
  BuildReadTocCdb(cdb, 0, kTocLength);
  AlignedBuffer answer(kTocLength);
  if (Execute(cdb, sizeof cdb, answer.data(), kTocLength, false) != 0) return false;
  int first = answer[2];
  int last = answer[3];
  // Descriptors the drive sent that fit the buffer; the first track need not
  // be 1. An answer of another format (11-byte raw descriptors, descriptors
  // not numbered first..last) is a failed read.
  size_t end = TocAnswerBytes(answer.data(), kTocLength, 8);
  if (end == 0 || first < 1 || first > 99 || last < first || last > 99) return false;
  for (int t = first; t <= last; ++t) {
    size_t offset = 4 + 8 * static_cast<size_t>(t - first);
    if (offset + 8 <= end && answer[offset + 2] != t) return false;
  }
  toc->Clear();
  std::vector<TOCTrack> tracks;
  for (int t = first; t <= last; ++t) {
    size_t offset = 4 + 8 * static_cast<size_t>(t - first);
    if (offset + 8 > end) break;
    const uint8_t* d = answer.data() + offset;
    TOCTrack track;
    track.SessionNo = 1;
    track.TrackNo = d[2];
    track.IndexNo = 1;
    track.Flags = d[1] & 0x0F;
    track.SectorMode = SMC_MODE1;
    track.StartLBA = static_cast<int32_t>(Get32(d + 4));
    tracks.push_back(track);
  }
  for (size_t i = 0; i + 1 < tracks.size(); ++i) tracks[i].EndLBA = tracks[i + 1].StartLBA - 1;
  if (!tracks.empty()) tracks.back().EndLBA = ReadCapacity() - 1;
  for (const TOCTrack& track : tracks) {
    if (!toc->AddTrack(track)) break;
  }
  return true;
}

int32_t MmcDrive::FindPregapLength(int32_t track, int32_t start) {
  AlignedBuffer sector(kCdSectorWithSubSize);
  const uint8_t* q = sector.data() + kCdMainSize + 12;
  if (!ReadCd(sector.data(), start, 1, kReadMainQ)) return -1;
  int32_t window = start - 151;
  int32_t offset = window;
  // Shift of the drive's Q clock: the Q read at LBA x describes x + phase, so
  // the sector describing `offset` is read at offset - phase.
  int32_t phase = 0;
  int moves = 0;
  int reads_left = 2 * (151 + 150 * kMaxPregapWindowMoves);
  while (offset <= start) {
    if (--reads_left < 0) return -1;
    bool good = ReadCd(sector.data(), offset - phase, 1, kReadMainQ);
    if (good) {
      bool adr1 = (q[0] & 0x0F) == 1;
      if (adr1 && IsQCrcValid(q)) {
        int32_t shift = MsfToLba(FromBcd(q[7]), FromBcd(q[8]), FromBcd(q[9])) - (offset - phase);
        if (shift != phase && std::abs(shift) <= kMaxQShift) {
          phase = shift;
          std::printf("phase = %ld\n", static_cast<long>(phase));
          continue;  // read this position again with the drive's clock
        }
      }
      if (adr1 && FromBcd(q[1]) == track) {
        if (offset == window && moves < kMaxPregapWindowMoves) {
          // The pregap began before the window: look 150 sectors earlier.
          offset = window = offset - 150;
          ++moves;
          continue;
        }
        break;
      }
      if (offset == start) break;
      std::printf("search %d pregap %6ld\r", static_cast<int>(track), static_cast<long>(offset + 1));
    }
    ++offset;
  }
  return start - offset;
}

bool MmcDrive::ReadRawToc(TocStructure* toc, bool first_pregap, bool search_pregaps, bool all_sessions) {
  uint8_t cdb[10];
  BuildReadTocCdb(cdb, 2, kRawTocLength);
  AlignedBuffer answer(kRawTocLength);
  if (Execute(cdb, sizeof cdb, answer.data(), kRawTocLength, false) != 0) return false;
  // Only an answer in raw form is parsed: 11-byte descriptors of the sessions
  // the header names, every point address an MSF time, tracks and lead-outs
  // not before 00:02:00. A format-0 TOC or LBA addresses fail the read.
  size_t end = TocAnswerBytes(answer.data(), kRawTocLength, TOCRawTrack::kSize);
  uint8_t first_session = answer[2];
  uint8_t last_session = answer[3];
  if (end == 0 || first_session < 1 || last_session < first_session) return false;
  size_t count = std::min<size_t>((end - 4) / TOCRawTrack::kSize, TocStructure::kRawTrackCapacity);
  std::vector<TOCRawTrack> raw;
  for (size_t i = 0; i < count; ++i) {
    TOCRawTrack d = TOCRawTrack::Load(answer.data() + 4 + i * TOCRawTrack::kSize);
    if (d.SessionNo < first_session || d.SessionNo > last_session) return false;
    bool addressed = (d.Point >= 1 && d.Point <= 99) || d.Point == 0xA2;
    if (addressed && (d.AdrControl & 0xF0) == 0x10 &&
        (!IsMsf(d.PSecond, d.PFrame) || MsfToLba(d.PMinute, d.PSecond, d.PFrame) < 0)) {
      return false;
    }
    raw.push_back(d);
  }
  toc->Clear();
  for (const TOCRawTrack& d : raw) toc->AddRawTrack(d);

  // Last track and lead-out of each session, wherever their points appear.
  struct SessionInfo {
    int last_track = -1;
    int32_t lead_out = 0;
    bool has_lead_out = false;
  };
  std::array<SessionInfo, 256> sessions{};
  std::vector<TOCRawTrack> track_points;
  for (const TOCRawTrack& d : raw) {
    if (!all_sessions && d.SessionNo > 1) continue;
    SessionInfo& s = sessions[d.SessionNo];
    if (d.Point == 0xA1) {
      s.last_track = d.PMinute;
    } else if (d.Point == 0xA2) {
      s.lead_out = MsfToLba(d.PMinute, d.PSecond, d.PFrame);
      s.has_lead_out = true;
    } else if (d.Point >= 1 && d.Point <= 99 && (d.AdrControl & 0xF0) == 0x10) {
      track_points.push_back(d);
    }
  }
  std::stable_sort(track_points.begin(), track_points.end(), [](const TOCRawTrack& a, const TOCRawTrack& b) {
    return a.SessionNo != b.SessionNo ? a.SessionNo < b.SessionNo : a.Point < b.Point;
  });

  std::vector<TOCTrack> entries;
  std::vector<bool> open;
  for (const TOCRawTrack& d : track_points) {
    const SessionInfo& s = sessions[d.SessionNo];
    int32_t start = MsfToLba(d.PMinute, d.PSecond, d.PFrame);
    uint8_t control = d.AdrControl & 0x0F;
    int32_t pregap = 0;
    if (entries.empty()) {
      pregap = start;
    } else if (search_pregaps && (d.SessionNo == entries.back().SessionNo || first_pregap)) {
      pregap = FindPregapLength(d.Point, start);
      if (pregap < 0) pregap = ((control ^ entries.back().Flags) & TCF_DATATRACK) ? 150 : 0;
    }
    if (pregap > 0) {
      TOCTrack gap;
      gap.SessionNo = d.SessionNo;
      gap.TrackNo = d.Point;
      gap.IndexNo = 0;
      gap.Flags = control;
      gap.StartLBA = start - pregap;
      gap.EndLBA = start - 1;
      entries.push_back(gap);
      open.push_back(false);
    }
    TOCTrack entry;
    entry.SessionNo = d.SessionNo;
    entry.TrackNo = d.Point;
    entry.IndexNo = 1;
    entry.Flags = control;
    entry.StartLBA = start;
    bool last_of_session = d.Point == s.last_track && s.has_lead_out;
    entry.EndLBA = last_of_session ? s.lead_out - 1 : start;
    entries.push_back(entry);
    open.push_back(!last_of_session);
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!open[i]) continue;
    if (i + 1 < entries.size()) {
      entries[i].EndLBA = entries[i + 1].StartLBA - 1;
    } else if (sessions[entries[i].SessionNo].has_lead_out) {
      entries[i].EndLBA = sessions[entries[i].SessionNo].lead_out - 1;
    }
  }

  AlignedBuffer sector(kCdMainSize);
  for (TOCTrack& entry : entries) {
    if (!(entry.Flags & TCF_DATATRACK)) {
      entry.SectorMode = SMC_AUDIO;
      continue;
    }
    entry.SectorMode = SMC_MODE1;
    if (!ReadCd(sector.data(), entry.StartLBA, 1, kReadMain)) {
      std::printf("読めないぞ。\n");
      continue;
    }
    static const uint8_t kSync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
    if (std::memcmp(sector.data(), kSync, sizeof kSync) != 0) {
      std::printf("不正なデータセクタSync - ");
      for (int i = 0; i < 12; ++i) std::printf("%02X ", sector[i]);
      std::printf("\n");
    } else if (sector[15] == 1 || sector[15] == 2) {
      entry.SectorMode = sector[15];
    } else {
      std::printf("不正なデータセクタ%02X\n", sector[15]);
    }
  }
  for (const TOCTrack& entry : entries) {
    if (!toc->AddTrack(entry)) break;
  }

  std::vector<uint8_t> packs(kCdTextMaxBytes);
  int32_t bytes = ReadCdText(packs.data(), kCdTextMaxBytes);
  for (int32_t i = 0; i + static_cast<int32_t>(TOCCDText::kSize) <= bytes; i += TOCCDText::kSize) {
    if (!toc->AddCdText(TOCCDText::Load(packs.data() + i))) break;
  }

  std::printf("listing of row level toc\n");
  for (const TOCRawTrack& d : raw) {
    std::printf("%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X\n", d.SessionNo, d.AdrControl, d.Track, d.Point,
                d.Minute, d.Second, d.Frame, d.Zero, d.PMinute, d.PSecond, d.PFrame);
  }
  std::printf("=== end of row level toc\n");
  return true;
}

bool MmcDrive::ReadTrackInformation(uint8_t* buffer, int32_t track, int32_t length) {
  if (buffer == nullptr || length <= 0 || length > 0xFFFF) return false;
  uint8_t cdb[10] = {kReadTrackInformation, 1};
  Put32(cdb + 2, static_cast<uint32_t>(track));
  Put16(cdb + 7, static_cast<uint32_t>(length));
  AlignedBuffer answer(static_cast<size_t>(length));
  int32_t status = Execute(cdb, sizeof cdb, answer.data(), static_cast<uint32_t>(length), false);
  std::printf("ReadTrackInformation returned %02X\n", StatusByte(status));
  if (status != 0) return false;
  std::memcpy(buffer, answer.data(), static_cast<size_t>(length));
  return true;
}

bool MmcDrive::ReadCd(uint8_t* buffer, int32_t lba, int32_t count, int32_t type) {
  if (type != kReadMain && type != kReadMainQ && type != kReadMainPW) return false;
  if (buffer == nullptr || count <= 0 || count > 0xFFFFFF) return false;
  size_t from_drive = SectorSizeFromDrive(type);
  size_t stride = type == kReadMain ? kCdMainSize : kCdSectorWithSubSize;
  size_t length = from_drive * static_cast<size_t>(count);
  if (length > 0xFFFFFFFFu) return false;
  uint8_t cdb[12] = {};
  if (lba >= 0) {
    cdb[0] = kReadCd;
    Put32(cdb + 2, static_cast<uint32_t>(lba));
    Put24(cdb + 6, static_cast<uint32_t>(count));
  } else {
    cdb[0] = kReadCdMsf;
    MsfTime from = MsfTime::FromLba(lba);
    MsfTime to = MsfTime::FromLba(int64_t{lba} + count);
    cdb[3] = from.minute;
    cdb[4] = from.second;
    cdb[5] = from.frame;
    cdb[6] = to.minute;
    cdb[7] = to.second;
    cdb[8] = to.frame;
  }
  cdb[9] = 0xF8;  // sync, all headers, user data, EDC and ECC
  cdb[10] = type == kReadMain ? 0 : (type == kReadMainQ ? 2 : 1);
  AlignedBuffer answer(length);
  size_t sub_from_drive = from_drive - kCdMainSize;
  uint8_t* last_sub = answer.data() + length - sub_from_drive;
  for (size_t i = 0; i < sub_from_drive; ++i) last_sub[i] = SubchannelFill(i);
  bool good = Execute(cdb, sizeof cdb, answer.data(), static_cast<uint32_t>(length), false) == 0;
  if (good && sub_from_drive > 0) {
    bool untouched = true;
    for (size_t i = 0; i < sub_from_drive && untouched; ++i) untouched = last_sub[i] == SubchannelFill(i);
    if (untouched) good = false;  // the drive sent no subchannel
  }
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* in = answer.data() + from_drive * static_cast<size_t>(i);
    uint8_t* out = buffer + stride * static_cast<size_t>(i);
    std::memcpy(out, in, kCdMainSize);
    if (type == kReadMainQ) {
      uint8_t* sub = out + kCdMainSize;
      const uint8_t* formatted = in + kCdMainSize;
      std::memset(sub, 0, kSubchannelSize);
      std::memcpy(sub + 12, formatted, 12);
      if (formatted[15] == 0x80 || (formatted[15] != 0 && formatted[2] == 0)) std::memset(sub, 0xFF, 12);
    } else if (type == kReadMainPW) {
      DeinterleaveSubchannel(in + kCdMainSize, out + kCdMainSize);
    }
  }
  return good;
}

bool MmcDrive::Read10(uint8_t* buffer, int32_t lba, int32_t count) {
  if (buffer == nullptr || count <= 0 || count > 0xFFFF) return false;
  size_t length = kUserDataSize * static_cast<size_t>(count);
  uint8_t cdb[10] = {kRead10};
  Put32(cdb + 2, static_cast<uint32_t>(lba));
  Put16(cdb + 7, static_cast<uint32_t>(count));
  AlignedBuffer answer(length);
  bool good = Execute(cdb, sizeof cdb, answer.data(), static_cast<uint32_t>(length), false) == 0;
  if (good) {
    std::memcpy(buffer, answer.data(), length);
  } else {
    std::memset(buffer, 0, length);
  }
  return good;
}

int32_t MmcDrive::ReadCdText(uint8_t* buffer, int32_t length) {
  uint8_t cdb[10];
  BuildReadTocCdb(cdb, 5, kCdTextAnswerLength);
  AlignedBuffer answer(kCdTextAnswerLength);
  if (Execute(cdb, sizeof cdb, answer.data(), kCdTextAnswerLength, false) != 0) return 0;
  int32_t n = static_cast<int32_t>(Get16(answer.data())) - 2;
  if (n < 1 || n > kCdTextMaxBytes || buffer == nullptr || length <= 0) return 0;
  // Whole 18-byte packs with pack types 0x80-0x8F, else the drive answered
  // another format (drives that take the format from byte 9 send a TOC).
  if (n % static_cast<int32_t>(TOCCDText::kSize) != 0) return 0;
  for (int32_t i = 0; i < n; i += TOCCDText::kSize) {
    if ((answer[4 + static_cast<size_t>(i)] & 0xF0) != 0x80) return 0;
  }
  int32_t copied = std::min(length, n);
  std::memcpy(buffer, answer.data() + 4, static_cast<size_t>(copied));
  return copied;
}

int32_t MmcDrive::GetBlockLength() const { return block_length_; }

bool MmcDrive::PerformOpc() {
  const uint8_t cdb[10] = {kSendOpcInformation, 1};
  int32_t status = Execute(cdb, sizeof cdb, nullptr, 0, false);
  std::printf("opc returned %02X\n", StatusByte(status));
  return status == 0;
}

int32_t MmcDrive::WriteBlockLength(int32_t mode, int32_t family) {
  switch (mode) {
    case 0:
      if (family == MFT_CD) return 2352;
      if (family >= MFT_DVD && family <= MFT_HDDVD) return 2048;
      return 0;
    case 1: return 2352;
    case 2: return 2448;
    case 3: return 2368;
    case 4: return 2448;
    default: return 0;
  }
}

bool MmcDrive::SetWriteParameters(int32_t mode, bool underrun_protection, bool test_write, int32_t family) {
  uint8_t write_type = 2;  // session at once
  uint8_t byte3 = 0;
  uint8_t data_block_type = 0;
  switch (mode) {
    case 0:
      if (family == 0) family = GetMediaFamilyType();
      data_block_type = 8;  // Mode 1 user data
      if (family >= MFT_DVD && family <= MFT_HDDVD) byte3 = 0x24;
      break;
    case 2:
      data_block_type = 3;  // raw with P-W
      break;
    case 3:
      write_type = 3;  // raw
      data_block_type = 1;  // raw with P-Q 16
      break;
    case 4:
      write_type = 3;
      data_block_type = 3;
      break;
    default:
      break;  // 1: raw 2,352
  }
  const int32_t block_length = WriteBlockLength(mode, family);
  if (block_length == 0) return false;
  ModeParameters changeable;
  if (!ModeSense10(&changeable, kChangeableValues, kPageWriteParameters) || changeable.PageRoom() < 3) return false;
  bool bufe = underrun_protection && (changeable.Page()[2] & 0x40) != 0;
  ModeParameters page_values;
  if (!ModeSense10(&page_values, kDefaultValues, kPageWriteParameters) || page_values.PageRoom() < 5) return false;
  uint8_t* page = page_values.Page();
  std::memset(page + 2, 0, std::min<size_t>(54, page_values.PageRoom() - 2));
  page[2] = static_cast<uint8_t>((test_write ? 0x10 : 0) | (bufe ? 0x40 : 0) | write_type);
  page[3] = byte3;
  page[4] = data_block_type;
  block_length_ = static_cast<int16_t>(block_length);
  if (!ModeSelect10(page_values)) {
    std::printf("mode select error\n");
    return false;
  }
  return true;
}

bool MmcDrive::SendCueSheet(const uint8_t* sheet, int32_t length) {
  if (sheet == nullptr || length <= 0 || length > kCueSheetMaxBytes) return false;
  uint8_t cdb[10] = {kSendCueSheet};
  Put24(cdb + 6, static_cast<uint32_t>(length));
  AlignedBuffer data(static_cast<size_t>(length));
  std::memcpy(data.data(), sheet, static_cast<size_t>(length));
  return Execute(cdb, sizeof cdb, data.data(), static_cast<uint32_t>(length), true) == 0;
}

bool MmcDrive::ReserveTrack(uint32_t sectors) {
  uint8_t cdb[10] = {kReserveTrack};
  Put32(cdb + 5, sectors);
  int32_t status = Execute(cdb, sizeof cdb, nullptr, 0, true);
  std::printf("reservetrack returned %lu\n", static_cast<unsigned long>(static_cast<uint32_t>(status)));
  return status == 0;
}

bool MmcDrive::CloseSession() {
  const uint8_t cdb[10] = {kCloseTrackSession, 0, 2};
  int32_t status = Execute(cdb, sizeof cdb, nullptr, 0, true);
  std::printf("close session returned %02X\n", StatusByte(status));
  return status == 0;
}

bool MmcDrive::Write10(const uint8_t* buffer, int32_t lba, int32_t count) {
  if (block_length_ <= 0 || count <= 0) return false;
  return WriteBlocks(buffer, static_cast<size_t>(block_length_) * static_cast<size_t>(count), lba, count,
                     block_length_);
}

bool MmcDrive::WriteBlocks(const uint8_t* buffer, size_t size, int32_t lba, int32_t count, int32_t block_length) {
  if (block_length <= 0) return false;
  if (buffer == nullptr || count <= 0 || count > 0xFFFF) return false;
  size_t length = static_cast<size_t>(block_length) * static_cast<size_t>(count);
  if (length > size) return false;
  uint8_t cdb[10] = {kWrite10};
  Put32(cdb + 2, static_cast<uint32_t>(lba));
  Put16(cdb + 7, static_cast<uint32_t>(count));
  AlignedBuffer data(length);
  std::memcpy(data.data(), buffer, length);
  platform::Clock& clock = platform::GetClock();
  const platform::Clock::TimePoint started = clock.Now();
  uint8_t sense[kSenseBufferSize];
  for (;;) {
    std::memset(sense, 0, sizeof sense);
    int32_t status = Execute(cdb, sizeof cdb, data.data(), static_cast<uint32_t>(length), true,
                             kDefaultScsiTimeout, sense);
    if (status != 2) return status == 0;
    platform::SenseCode code = platform::DecodeSense(sense, sizeof sense);
    if (code.key != 2 || code.asc != 0x04 || code.ascq != 0x08) {
      std::printf("sense status = %x %02x %02x\n", code.key, code.asc, code.ascq);
      return false;
    }
    // Long write in progress: the drive is still busy with earlier data.
    if (platform::ElapsedMs(started) >= kLongWriteRetryMs) {
      std::printf("long write still in progress after %d ms.\n", kLongWriteRetryMs);
      return false;
    }
    std::printf("\rLong write in progress.\r");
    clock.SleepFor(std::chrono::milliseconds(kLongWriteRetryDelayMs));
  }
}

bool MmcDrive::SynchronizeCache() {
  const uint8_t cdb[10] = {kSynchronizeCache};
  int32_t status = Execute(cdb, sizeof cdb, nullptr, 0, true, kSyncCacheTimeout);
  std::printf("Syncro cache ret = %02X\n", StatusByte(status));
  return status == 0;
}

}  // namespace sorvel
