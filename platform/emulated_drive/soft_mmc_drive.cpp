#include "platform/emulated_drive/soft_mmc_drive.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/emulated_drive/cd_codec.h"
#include "platform/emulated_drive/drive_command.h"
#include "platform/emulated_drive/image_loader.h"
#include "platform/regular_file.h"

namespace sorvel::platform::emu {

namespace {

void PutAddress(uint8_t* p, int32_t lba, bool msf) {
  if (msf) {
    Msf m = LbaToMsf(lba);
    p[0] = 0;
    p[1] = static_cast<uint8_t>(m.minute);
    p[2] = static_cast<uint8_t>(m.second);
    p[3] = static_cast<uint8_t>(m.frame);
  } else {
    Put32(p, static_cast<uint32_t>(lba));
  }
}

bool InRanges(const std::vector<std::pair<int32_t, int32_t>>& ranges, int32_t lba) {
  for (const auto& [a, b] : ranges) {
    if (lba >= a && lba <= b) return true;
  }
  return false;
}

constexpr uint16_t kAllProfiles[] = {0x43, 0x42, 0x41, 0x40, 0x5A, 0x58, 0x53, 0x52, 0x51, 0x50, 0x2B, 0x2A, 0x1B,
                                     0x1A, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11, 0x10, 0x0A, 0x09, 0x08};

}  // namespace

// Power-on write parameters: track at once, Mode 1 for CDs; incremental
// 2048-byte blocks for the DVD, BD and HD DVD family.
std::array<uint8_t, 56> DefaultPage5(uint16_t profile) {
  std::array<uint8_t, 56> p{};
  p[0] = 0x05;
  p[1] = 0x36;
  bool cd = profile == 0 || MediaFamily(profile) == 1;
  p[2] = cd ? 0x01 : 0x00;
  p[3] = cd ? 0x04 : 0x05;
  p[4] = 0x08;
  p[15] = 150;  // audio pause length
  return p;
}

namespace {

// An LBA as the three binary bytes minute, second, frame of an MMC answer.
void PutMsf(uint8_t* at, int32_t lba) {
  const Msf msf = LbaToMsf(lba);
  at[0] = static_cast<uint8_t>(msf.minute);
  at[1] = static_cast<uint8_t>(msf.second);
  at[2] = static_cast<uint8_t>(msf.frame);
}

void PadCopy(uint8_t* dst, const std::string& s, size_t n) {
  for (size_t i = 0; i < n; ++i) dst[i] = i < s.size() ? static_cast<uint8_t>(s[i]) : ' ';
}

}  // namespace

namespace {

// A whole decimal LBA, as in "-150"; false for anything else or out of range.
bool ParseLba(const std::string& text, int32_t* lba) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != 0 || value < INT32_MIN || value > INT32_MAX) return false;
  *lba = static_cast<int32_t>(value);
  return true;
}

// "FIRST-LAST+FIRST-LAST...", each LBA possibly negative ("-150--1").
bool ParseLbaRanges(const std::string& text, std::vector<std::pair<int32_t, int32_t>>* ranges) {
  for (const std::string& range : SplitFields(text, '+')) {
    const size_t dash = range.find('-', 1);
    int32_t first = 0, last = 0;
    if (dash == std::string::npos || !ParseLba(range.substr(0, dash), &first) ||
        !ParseLba(range.substr(dash + 1), &last) || last < first) {
      return false;
    }
    ranges->push_back({first, last});
  }
  return true;
}

}  // namespace

bool ParseDriveSpec(const std::string& spec, DriveSettings* settings, std::string* error) {
  DriveSettings s;
  std::vector<std::string> parts = SplitFields(spec, ',');
  s.state_path = parts[0];
  if (s.state_path.empty()) {
    if (error) *error = "emulated drive entry without a state file path";
    return false;
  }
  for (size_t i = 1; i < parts.size(); ++i) {
    size_t eq = parts[i].find('=');
    std::string key = parts[i].substr(0, eq);
    std::string value = eq == std::string::npos ? "" : parts[i].substr(eq + 1);
    if (eq == std::string::npos || value.empty()) {
      if (error) *error = "emulated drive setting without a value: " + parts[i];
      return false;
    }
    if (key == "medium") {
      bool ok = false;
      ProfileFromMediumName(value, &ok);
      if (!ok) {
        if (error) *error = "unknown medium " + value;
        return false;
      }
      s.medium = value;
    } else if (key == "image") {
      s.image = value;
    } else if (key == "vendor") {
      s.vendor = value;
    } else if (key == "product") {
      s.product = value;
    } else if (key == "atapi") {
      if (value != "mmc" && value != "sff8020") {
        if (error) *error = "unknown emulated drive command set " + value;
        return false;
      }
      s.sff8020 = value == "sff8020";
    } else if (key == "unreadable") {
      if (!ParseLbaRanges(value, &s.unreadable)) {
        if (error) *error = "emulated drive setting unreadable takes FIRST-LAST ranges joined by +: " + value;
        return false;
      }
    } else if (key == "write_error") {
      int32_t lba = 0;
      if (!ParseLba(value, &lba)) {
        if (error) *error = "emulated drive setting write_error takes an LBA: " + value;
        return false;
      }
      s.write_error_lba = lba;
    } else {
      if (error) *error = "unknown emulated drive setting " + key;
      return false;
    }
  }
  *settings = s;
  return true;
}

SoftMmcDrive::SoftMmcDrive(DriveSettings settings) : settings_(std::move(settings)) {}

SoftMmcDrive::~SoftMmcDrive() {
  std::lock_guard<std::mutex> lock(mutex_);
  // A drive that never opened has no state of its own to write.
  if (opened_) Keep(true);
  for (auto& [path, fd] : files_) ::close(fd);
  if (data_fd_ >= 0) ::close(data_fd_);
}

static bool BuildNewMedia(const std::string& medium_name, const std::string& image, MediaState* media,
                          std::string* error) {
  std::string medium = medium_name;
  if (medium.empty()) {
    if (image.empty()) {
      medium = "cd-r";
    } else {
      std::string lower = image;
      std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
      bool iso = lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".iso") == 0;
      medium = iso ? "dvd-rom" : "cd-rom";
    }
  }
  bool ok = false;
  uint16_t profile = ProfileFromMediumName(medium, &ok);
  if (!ok) {
    if (error) *error = "unknown medium " + medium;
    return false;
  }
  media->profile = profile;
  media->capacity = DefaultCapacity(profile);
  media->status = DiscStatus::kBlank;
  media->layout = CdLayout{};
  media->extents.clear();
  media->next_writable = 0;
  media->reserved_size = 0;
  media->pressed = false;
  media->formatted = false;
  media->open_pass = false;
  media->pass_start = media->pass_end = 0;
  if (!image.empty()) {
    if (profile == 0) {
      if (error) *error = "an image needs a medium";
      return false;
    }
    if (!LoadDiscImage(image, profile, media, error)) return false;
  } else if (IsRomProfile(profile)) {
    if (error) *error = "a pressed medium needs an image";
    return false;
  }
  return true;
}

std::unique_ptr<SoftMmcDrive> SoftMmcDrive::Open(const DriveSettings& given, std::string* error) {
  DriveSettings settings = given;
  std::error_code ec;
  auto absolute = std::filesystem::absolute(settings.state_path, ec);
  if (!ec) settings.state_path = absolute.lexically_normal().string();
  std::unique_ptr<SoftMmcDrive> drive(new SoftMmcDrive(settings));
  bool existed = false;
  if (!drive->state_file_.Open(settings.state_path, &existed, error)) return nullptr;
  if (existed) {
    if (!drive->state_file_.Load(&drive->media_, error)) return nullptr;
  } else {
    if (!BuildNewMedia(settings.medium, settings.image, &drive->media_, error)) {
      ::unlink(settings.state_path.c_str());
      return nullptr;
    }
    if (!settings.vendor.empty()) drive->media_.vendor = settings.vendor;
    if (!settings.product.empty()) drive->media_.product = settings.product;
    if (!drive->state_file_.Save(drive->media_, error)) return nullptr;
  }
  drive->hooks_ = HooksFor(settings.state_path);
  if (!settings.unreadable.empty() || settings.write_error_lba) {
    drive->hooks_->UpdateFaults([&](DriveFaults& f) {
      if (!settings.unreadable.empty()) f.unreadable = settings.unreadable;
      if (settings.write_error_lba) f.write_error_lba = settings.write_error_lba;
    });
  }
  drive->ResetWriteSession();
  // Page 1 and page 5 power-on values.
  drive->page1_ = {0x01, 0x0A, 0x00, 0x10, 0, 0, 0, 0, 0x10, 0, 0, 0};
  drive->page5_ = DefaultPage5(drive->media_.profile);
  drive->opened_ = true;
  return drive;
}

MediaState SoftMmcDrive::media() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return media_;
}

bool SoftMmcDrive::Persist(std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_file_.Save(media_, error);
}

bool SoftMmcDrive::InsertDisc(const std::string& medium, const std::string& image, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  MediaState next = media_;
  if (!BuildNewMedia(medium, image, &next, error)) return false;
  next.tray_open = false;
  media_ = next;
  if (data_fd_ >= 0) {
    ::close(data_fd_);
    data_fd_ = -1;
  }
  ::truncate(state_file_.DataPath().c_str(), 0);
  ResetWriteSession();
  return state_file_.Save(media_, error);
}

void SoftMmcDrive::RemoveDisc() {
  std::lock_guard<std::mutex> lock(mutex_);
  media_.profile = 0;
  media_.layout = CdLayout{};
  media_.extents.clear();
  media_.status = DiscStatus::kBlank;
  media_.capacity = 0;
  media_.open_pass = false;
  ResetWriteSession();
  Keep(true);
}

void SoftMmcDrive::ResetWriteSession() {
  test_next_writable_ = -1;
  cue_sheet_.clear();
  writing_ = false;
  test_write_ = false;
  next_write_lba_ = 0;
  write_start_lba_ = 0;
  leadins_.clear();
  leadin_rw_.clear();
  wrote_program_area_ = false;
}

bool SoftMmcDrive::IsCd() const { return MediaFamily(media_.profile) == 1; }

int SoftMmcDrive::Exec(const uint8_t* cdb, size_t cdb_length, void* data, size_t data_length, bool write,
                       uint32_t timeout_seconds, uint8_t* sense) {
  std::lock_guard<std::mutex> lock(mutex_);
  Command c;
  c.cdb = cdb;
  c.cdb_length = cdb_length;
  c.data = static_cast<uint8_t*>(data);
  c.data_length = data ? data_length : 0;
  c.write = write;
  c.faults = hooks_->faults();
  LoggedCommand entry;
  constexpr size_t kMaxCdbLength = 16;
  if (cdb != nullptr) entry.cdb.assign(cdb, cdb + std::min(cdb_length, kMaxCdbLength));
  entry.direction = data_length == 0 ? DataDirection::kNone : (write ? DataDirection::kOut : DataDirection::kIn);
  entry.length = static_cast<uint32_t>(data_length);
  entry.timeout_seconds = timeout_seconds;

  int status;
  if (cdb == nullptr || cdb_length == 0) {
    status = c.Fail(5, 0x20, 0x00);
  } else {
    uint8_t op = cdb[0];
    size_t need = op < 0x20 ? 6 : (op < 0x60 ? 10 : (op >= 0xA0 && op < 0xC0 ? 12 : 16));
    static const uint8_t kKnown[] = {0x00, 0x01, 0x03, 0x04, 0x12, 0x1B, 0x1E, 0x23, 0x25, 0x28, 0x2A, 0x35, 0x43, 0x46,
                                     0x51, 0x52, 0x53, 0x54, 0x55, 0x5A, 0x5B, 0x5D, 0xA1, 0xAC, 0xB9, 0xBB, 0xBE};
    if (c.faults.refused_opcodes.count(op) || std::find(std::begin(kKnown), std::end(kKnown), op) == std::end(kKnown)) {
      status = c.Fail(5, 0x20, 0x00);
    } else if (cdb_length < need || cdb_length > kMaxCdbLength) {
      status = c.Fail(5, 0x24, 0x00);
    } else {
      // Only a command that reads data in reads the disc's files ahead.
      ahead_limit_ = write ? 0 : c.data_length;
      status = Dispatch(c);
      ahead_limit_ = 0;
      DropReadAhead();
    }
  }
  if (sense) std::memset(sense, 0, 32);
  if (status != 0 && c.has_sense) {
    if (sense) std::memcpy(sense, c.sense, sizeof c.sense);
    std::memcpy(last_sense_.data(), c.sense, sizeof c.sense);
    entry.sense_key = c.sense[2] & 0x0F;
    entry.asc = c.sense[12];
    entry.ascq = c.sense[13];
  } else if (cdb && cdb_length && cdb[0] != 0x03) {
    last_sense_.fill(0);
  }
  entry.status = static_cast<uint8_t>(status);
  hooks_->Append(std::move(entry));
  return status;
}

int SoftMmcDrive::Dispatch(Command& c) {
  switch (c.cdb[0]) {
    case 0x00: return TestUnitReady(c);
    case 0x01: return 0;  // REZERO UNIT
    case 0x03: return RequestSense(c);
    case 0x04: return FormatUnit(c);
    case 0x12: return Inquiry(c);
    case 0x1B: return StartStopUnit(c);
    case 0x1E: return PreventAllow(c);
    case 0x23: return ReadFormatCapacities(c);
    case 0x25: return ReadCapacity(c);
    case 0x28: return Read10(c);
    case 0x2A: return Write10(c);
    case 0x35: return SynchronizeCache(c);
    case 0x43: return ReadToc(c);
    case 0x46: return GetConfiguration(c);
    case 0x51: return ReadDiscInformation(c);
    case 0x52: return ReadTrackInformation(c);
    case 0x53: return ReserveTrack(c);
    case 0x54: return SendOpc(c);
    case 0x55: return ModeSelect10(c);
    case 0x5A: return ModeSense10(c);
    case 0x5B: return CloseTrackSession(c);
    case 0x5D: return SendCueSheet(c);
    case 0xA1: return Blank(c);
    case 0xAC: return GetPerformance(c);
    case 0xB9: return ReadCd(c, true);
    case 0xBB: return SetCdSpeed(c);
    case 0xBE: return ReadCd(c, false);
    default: return c.Fail(5, 0x20, 0x00);
  }
}

int SoftMmcDrive::CheckMedium(Command& c) {
  if (media_.tray_open) return c.Fail(2, 0x3A, 0x02);
  if (media_.profile == 0) return c.Fail(2, 0x3A, 0x00);
  return 0;
}

int SoftMmcDrive::TestUnitReady(Command& c) {
  if (int s = CheckMedium(c)) return s;
  if (becoming_ready_ > 0) {
    --becoming_ready_;
    return c.Fail(2, 0x04, 0x01);
  }
  if (not_ready_polls_ > 0) {
    --not_ready_polls_;
    return c.Fail(2, 0x04, c.faults.not_ready_after_sync_ascq);
  }
  return 0;
}

int SoftMmcDrive::RequestSense(Command& c) {
  std::vector<uint8_t> answer(last_sense_.begin(), last_sense_.end());
  if (answer[0] == 0) {
    answer[0] = 0x70;
    answer[7] = 10;
  }
  last_sense_.fill(0);
  return c.Reply(answer, c.cdb[4]);
}

int SoftMmcDrive::Inquiry(Command& c) {
  if (c.cdb[1] & 0x01) return c.Fail(5, 0x24, 0x00);  // no vital product data pages
  std::vector<uint8_t> a(96, 0);
  a[0] = 0x05;  // CD/DVD device
  a[1] = 0x80;  // removable
  a[2] = 0x00;
  a[3] = 0x02;  // response data format
  a[4] = static_cast<uint8_t>(a.size() - 5);
  PadCopy(&a[8], media_.vendor, 8);
  PadCopy(&a[16], media_.product, 16);
  PadCopy(&a[32], media_.revision, 4);
  return c.Reply(a, Get16(c.cdb + 3));
}

int SoftMmcDrive::StartStopUnit(Command& c) {
  uint8_t action = c.cdb[4] & 0x03;
  if (action == 0x02) {
    if (media_.locked) return c.Fail(5, 0x53, 0x02);
    media_.tray_open = true;
    // A pass still running ends here, cut.
    ResetWriteSession();
    if (!Keep()) return c.Fail(4, 0x53, 0x00);
  } else if (action == 0x03) {
    bool was_open = media_.tray_open;
    media_.tray_open = false;
    if (was_open && media_.profile != 0) becoming_ready_ = c.faults.becoming_ready_polls;
    if (!Keep()) return c.Fail(4, 0x53, 0x00);
  }
  return 0;
}

int SoftMmcDrive::PreventAllow(Command& c) {
  const bool locked = (c.cdb[4] & 0x01) != 0;
  if (locked == media_.locked) return 0;
  media_.locked = locked;
  if (!Keep()) return c.Fail(4, 0x53, 0x00);
  return 0;
}

int32_t SoftMmcDrive::LeadInStart() const {
  if (media_.layout.sessions.empty()) return kFirstLeadInStart;
  int32_t leadout = media_.layout.LastLeadout();
  return leadout + (media_.layout.sessions.size() == 1 ? 6750 : 2250);
}

int32_t SoftMmcDrive::ReadableEnd() const {
  if (IsCd()) return media_.layout.LastLeadout();
  if (media_.pressed) return static_cast<int32_t>(media_.capacity);
  if (IsRandomWritableProfile(media_.profile) && media_.formatted) return static_cast<int32_t>(media_.capacity);
  // A reserved track left short still spans its reservation.
  if (IsCutPass()) return static_cast<int32_t>(media_.reserved_size);
  return static_cast<int32_t>(media_.next_writable);
}

int SoftMmcDrive::ReadCapacity(Command& c) {
  if (int s = CheckMedium(c)) return s;
  std::vector<uint8_t> a(8, 0);
  int32_t end = ReadableEnd();
  Put32(&a[0], static_cast<uint32_t>(end > 0 ? end - 1 : 0));
  Put32(&a[4], 2048);
  return c.Reply(a, 8);
}

int SoftMmcDrive::FileFor(const std::string& path, bool writable) {
  if (path.empty() || path == state_file_.DataPath()) {
    std::string data_path = state_file_.DataPath();
    if (data_fd_ < 0) data_fd_ = OpenRegularFile(data_path, O_RDWR | O_CREAT, nullptr, 0644);
    return data_fd_;
  }
  (void)writable;
  auto it = files_.find(path);
  if (it != files_.end()) return it->second;
  // An image file named by the state: a FIFO or device in its place is no disc.
  int fd = OpenRegularFile(path, O_RDONLY);
  if (fd >= 0) files_[path] = fd;
  return fd;
}

bool SoftMmcDrive::ReadFileAt(const std::string& path, uint64_t offset, uint8_t* data, size_t length) {
  auto fail = [&] {
    std::memset(data, 0, length);
    image_read_failed_ = true;
    return false;
  };
  int fd = FileFor(path, false);
  if (fd < 0) return fail();
  // A block that cannot be read whole leaves the read to this sector alone,
  // so that a failure is told at the sector it is in.
  if (const AheadBlock* block = ahead_limit_ > length ? AheadFor(fd, offset, length) : nullptr) {
    const size_t from = static_cast<size_t>(offset - block->start);
    const size_t held = block->length > from ? std::min(length, block->length - from) : 0;
    std::memcpy(data, block->bytes.data() + from, held);
    // Beyond the end of a sparse data file lies unwritten (zero) space.
    if (held < length) std::memset(data + held, 0, length - held);
    return true;
  }
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail();
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  // Beyond the end of a sparse data file lies unwritten (zero) space.
  if (done < length) std::memset(data + done, 0, length - done);
  return true;
}

// The block read ahead of `fd` that holds [offset, offset + length), read now
// (up to the command's data length from `offset`) when none does; null when
// the file cannot be read.
SoftMmcDrive::AheadBlock* SoftMmcDrive::AheadFor(int fd, uint64_t offset, size_t length) {
  for (size_t i = 0; i < ahead_.size(); ++i) {
    AheadBlock& b = ahead_[i];
    if (b.fd != fd || offset < b.start) continue;
    const uint64_t end = b.start + b.length;
    if (offset + length <= end || b.at_end) {
      ahead_last_ = i;
      return &b;
    }
  }
  // A block of the same file is refilled; else the one that did not serve last.
  size_t pick = ahead_last_ ^ 1;
  for (size_t i = 0; i < ahead_.size(); ++i) {
    if (ahead_[i].fd == fd) pick = i;
  }
  constexpr size_t kMaxAhead = size_t{1} << 20;
  AheadBlock& b = ahead_[pick];
  b.fd = -1;
  const size_t want = std::max(length, std::min(ahead_limit_, kMaxAhead));
  if (b.bytes.size() < want) b.bytes.resize(want);
  size_t done = 0;
  while (done < want) {
    ssize_t n = ::pread(fd, b.bytes.data() + done, want - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return nullptr;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  b.fd = fd;
  b.start = offset;
  b.length = done;
  b.at_end = done < want;
  ahead_last_ = pick;
  return &b;
}

void SoftMmcDrive::DropReadAhead() {
  for (AheadBlock& b : ahead_) b.fd = -1;
}

bool SoftMmcDrive::WriteDataFile(uint64_t offset, const uint8_t* data, size_t length) {
  DropReadAhead();
  int fd = FileFor(state_file_.DataPath(), true);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd, data + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void SoftMmcDrive::AddWrittenExtent(int32_t first, int32_t count, uint32_t stride, uint32_t main_size, bool sub_inline) {
  if (count <= 0) return;
  SectorExtent e;
  e.first_lba = first;
  e.count = count;
  e.path.clear();  // the drive's own data file, wherever the state file moves
  e.offset = static_cast<uint64_t>(first + 150) * stride;
  e.stride = stride;
  e.main_size = main_size;
  e.sub_inline = sub_inline;
  media_.extents.push_back(e);
}

// False when the address is outside the recorded disc.
bool SoftMmcDrive::ReadMainRaw(int32_t lba, uint8_t* main, uint8_t* sub, bool* has_sub, bool codes) {
  *has_sub = false;
  const CdLayout& layout = media_.layout;
  if (layout.sessions.empty()) return false;
  const CdTrack* track = layout.TrackAt(lba);
  bool in_leadout = false;
  if (!track) {
    for (size_t i = 0; i < layout.sessions.size(); ++i) {
      const auto& s = layout.sessions[i];
      int32_t length = i + 1 < layout.sessions.size() ? (i == 0 ? 6750 : 2250) : 0;
      if (lba >= s.leadout && lba < s.leadout + length) in_leadout = true;
    }
    bool in_first_leadin = lba >= kFirstLeadInStart && lba < -150;
    if (!in_leadout && !in_first_leadin) return false;
  }
  for (const auto& e : media_.extents) {
    if (!e.Contains(lba)) continue;
    uint64_t index = static_cast<uint64_t>(lba - e.first_lba);
    if (e.main_size == 2048) {
      // The user data goes straight to its place in the sector.
      ReadFileAt(e.path, e.offset + index * e.stride, main + 16, 2048);
      WriteSectorHeader(lba, 1, main);
      if (codes) FinishMode1Sector(main);
    } else if (e.sub_inline && sub != nullptr) {
      uint8_t record[2352 + 96];
      ReadFileAt(e.path, e.offset + index * e.stride, record, 2448);
      std::memcpy(main, record, 2352);
      std::memcpy(sub, record + 2352, 96);
      *has_sub = true;
    } else {
      ReadFileAt(e.path, e.offset + index * e.stride, main, 2352);
    }
    if (!e.sub_path.empty() && sub != nullptr) {
      ReadFileAt(e.sub_path, e.sub_offset + index * 96, sub, 96);
      *has_sub = true;
    }
    return true;
  }
  // Not in any image: generated pregap, lead-in or lead-out.
  if (track && track->IsData()) {
    if (track->mode == 2) {
      BuildMode2EmptySector(lba, main);
    } else if (codes) {
      BuildMode1Sector(lba, nullptr, main);
    } else {
      BuildMode1SectorWithoutCodes(lba, nullptr, main);
    }
  } else {
    std::memset(main, 0, 2352);
  }
  if (lba < -150 && sub != nullptr) {
    GenerateLeadInSubchannel(layout, 1, lba - kFirstLeadInStart, sub);
    *has_sub = true;
  }
  return true;
}

bool SoftMmcDrive::ReadCdSector(int32_t lba, uint8_t* main2352, uint8_t* sub96, std::string* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  bool has_sub = false;
  uint8_t sub[96] = {};
  image_read_failed_ = false;
  if (!ReadMainRaw(lba, main2352, sub, &has_sub)) {
    if (error) *error = "LBA " + std::to_string(lba) + " is not on the disc";
    return false;
  }
  if (image_read_failed_) {
    if (error) *error = "LBA " + std::to_string(lba) + " cannot be read from its image file";
    return false;
  }
  if (!has_sub) GenerateSubchannel(media_.layout, lba, sub);
  if (sub96) std::memcpy(sub96, sub, 96);
  return true;
}

bool SoftMmcDrive::ReadUserBlock(int32_t lba, uint8_t* out, Command& c, int* status) {
  if (InRanges(c.faults.unreadable, lba)) {
    *status = c.Fail(3, 0x11, 0x00, lba);
    return false;
  }
  if (int cut = ReadOfCutPass(c, lba)) {
    *status = cut;
    return false;
  }
  if (IsCd()) {
    const CdTrack* track = media_.layout.TrackAt(lba);
    if (!track || lba >= media_.layout.LastLeadout()) {
      *status = c.Fail(5, 0x21, 0x00);
      return false;
    }
    if (!track->IsData()) {
      *status = c.Fail(5, 0x64, 0x00);
      return false;
    }
    // User data only: the sector's codes would be computed just to be dropped.
    uint8_t main[2352];
    bool has_sub = false;
    image_read_failed_ = false;
    ReadMainRaw(lba, main, nullptr, &has_sub, false);
    if (image_read_failed_) {
      *status = c.Fail(3, 0x11, 0x00, lba);
      return false;
    }
    size_t offset = main[15] == 2 ? 24 : 16;
    std::memcpy(out, main + offset, 2048);
    return true;
  }
  for (const auto& e : media_.extents) {
    if (!e.Contains(lba)) continue;
    uint64_t index = static_cast<uint64_t>(lba - e.first_lba);
    if (!ReadFileAt(e.path, e.offset + index * e.stride, out, 2048)) {
      *status = c.Fail(3, 0x11, 0x00, lba);
      return false;
    }
    return true;
  }
  if (!ReadFileAt(state_file_.DataPath(), static_cast<uint64_t>(lba) * 2048, out, 2048)) {
    *status = c.Fail(3, 0x11, 0x00, lba);
    return false;
  }
  return true;
}

int SoftMmcDrive::Read10(Command& c) {
  if (int s = CheckMedium(c)) return s;
  uint32_t lba = Get32(c.cdb + 2);
  uint32_t count = Get16(c.cdb + 7);
  if (media_.status == DiscStatus::kBlank && !(IsRandomWritableProfile(media_.profile) && media_.formatted)) {
    return c.Fail(5, 0x21, 0x00);
  }
  int64_t end = IsCd() && media_.open_pass ? std::max<int64_t>(ReadableEnd(), media_.capacity) : ReadableEnd();
  if (static_cast<int64_t>(lba) + count > end) return c.Fail(5, 0x21, 0x00);
  if (c.data_length < static_cast<size_t>(count) * 2048) return c.Fail(5, 0x24, 0x00);
  for (uint32_t i = 0; i < count; ++i) {
    int status = 0;
    if (!ReadUserBlock(static_cast<int32_t>(lba + i), c.data + static_cast<size_t>(i) * 2048, c, &status)) return status;
  }
  return 0;
}

int SoftMmcDrive::ReadCd(Command& c, bool msf) {
  if (int s = CheckMedium(c)) return s;
  if (!IsCd()) return c.Fail(5, 0x64, 0x00);
  int32_t lba;
  int32_t count;
  if (msf) {
    lba = MsfToLba(c.cdb[3], c.cdb[4], c.cdb[5]);
    int32_t end = MsfToLba(c.cdb[6], c.cdb[7], c.cdb[8]);
    if (c.cdb[4] > 59 || c.cdb[5] > 74 || c.cdb[7] > 59 || c.cdb[8] > 74 || end < lba) return c.Fail(5, 0x24, 0x00);
    count = end - lba;
  } else {
    lba = static_cast<int32_t>(Get32(c.cdb + 2));
    count = static_cast<int32_t>(Get24(c.cdb + 6));
  }
  uint8_t expected = (c.cdb[1] >> 2) & 0x07;
  uint8_t fields = c.cdb[9];
  uint8_t subsel = c.cdb[10] & 0x07;
  if (settings_.sff8020) {
    // Nothing, user data or the whole sector; no sector type check, no subchannel.
    fields &= 0xF8;
    if (fields != 0 && fields != 0x10 && fields != 0xF8) return c.Fail(5, 0x24, 0x00);
    expected = 0;
    subsel = 0;
  }
  if (subsel == 3 || subsel > 4 || expected > 5 || (fields & 0x06) == 0x06) return c.Fail(5, 0x24, 0x00);
  if (count == 0) return 0;
  if (media_.layout.sessions.empty()) {
    if (int cut = ReadOfCutPass(c, lba)) return cut;
    return c.Fail(5, 0x21, 0x00);
  }
  size_t out_offset = 0;
  std::vector<uint8_t> out;
  out.reserve(2352 + 296 + 96);
  for (int32_t i = 0; i < count; ++i) {
    int32_t at = lba + i;
    uint8_t main[2352], sub[96];
    bool has_sub = false;
    image_read_failed_ = false;
    const CdTrack* track = media_.layout.TrackAt(at);
    // A data sector's EDC/ECC are computed only when the answer holds them.
    const bool codes = (fields & 0x08) != 0 || !track || !track->IsData();
    if (!ReadMainRaw(at, main, subsel != 0 ? sub : nullptr, &has_sub, codes)) {
      if (int cut = ReadOfCutPass(c, at)) return cut;
      return c.Fail(5, 0x21, 0x00);
    }
    if (InRanges(c.faults.unreadable, at) || image_read_failed_) return c.Fail(3, 0x11, 0x00, at);
    bool audio = !track || !track->IsData() || !HasSync(main);
    int sector_mode = audio ? 0 : main[15];
    bool form2 = sector_mode == 2 && (main[18] & 0x20);
    bool xa = sector_mode == 2 && media_.layout.sessions.front().disc_type == 0x20;
    // Expected sector type: 1 CD-DA, 2 Mode 1, 3 Mode 2 formless, 4 Mode 2 form 1, 5 form 2.
    if (expected != 0) {
      bool match = (expected == 1 && audio) || (expected == 2 && sector_mode == 1) ||
                   (expected == 3 && sector_mode == 2 && !xa) || (expected == 4 && xa && !form2) ||
                   (expected == 5 && xa && form2);
      if (!match) return c.Fail(5, 0x64, 0x00, at);
    }
    out.clear();
    if (audio) {
      if (fields & 0xF8) out.assign(main, main + 2352);
    } else {
      if (fields & 0x80) out.insert(out.end(), main, main + 12);
      uint8_t headers = (fields >> 5) & 0x03;
      if (headers & 0x01) out.insert(out.end(), main + 12, main + 16);
      if (xa && (headers & 0x02)) out.insert(out.end(), main + 16, main + 24);
      size_t user_begin = xa ? 24 : 16;
      size_t user_end = sector_mode == 1 ? 2064 : (xa ? (form2 ? 2348 : 2072) : 2352);
      if (fields & 0x10) out.insert(out.end(), main + user_begin, main + user_end);
      if (fields & 0x08) out.insert(out.end(), main + user_end, main + 2352);
    }
    uint8_t c2 = (fields >> 1) & 0x03;
    if (c2 == 1) out.resize(out.size() + 294, 0);
    if (c2 == 2) out.resize(out.size() + 296, 0);
    if (subsel != 0) {
      int32_t sub_lba = at + c.faults.q_shift;
      if (c.faults.q_shift != 0) {
        uint8_t dummy[2352];
        if (!ReadMainRaw(sub_lba, dummy, sub, &has_sub, false)) has_sub = false, std::memset(sub, 0, 96);
      }
      if (!has_sub) GenerateSubchannel(media_.layout, sub_lba, sub);
      if (InRanges(c.faults.q_crc_errors, at)) {
        sub[12 + 10] ^= 0x5A;
        sub[12 + 11] ^= 0xA5;
      }
      if (c.faults.p_noise_period > 0 && ((at % c.faults.p_noise_period) + c.faults.p_noise_period) % c.faults.p_noise_period == 0) {
        for (int k = 0; k < 12; ++k) sub[k] ^= 0xFF;
      }
      if (subsel == 1 || subsel == 4) {
        uint8_t raw[96];
        InterleaveSubchannel(sub, raw);
        if (subsel == 4) {
          for (auto& b : raw) b &= 0x3F;
        }
        out.insert(out.end(), raw, raw + 96);
      } else {
        uint8_t q[16] = {};
        std::memcpy(q, sub + 12, 12);
        if (c.faults.q_crc_zeroed) q[10] = q[11] = 0;
        int p_bits = 0;
        for (int k = 0; k < 12; ++k) p_bits += __builtin_popcount(sub[k]);
        if (p_bits > 48) q[15] = 0x80;
        out.insert(out.end(), q, q + 16);
      }
    }
    if (out_offset + out.size() > c.data_length) return c.Fail(5, 0x24, 0x00);
    // No field selected: the sector gives no bytes (and there may be no buffer).
    if (out.empty()) continue;
    std::memcpy(c.data + out_offset, out.data(), out.size());
    out_offset += out.size();
  }
  return 0;
}

int SoftMmcDrive::ReadToc(Command& c) {
  if (int s = CheckMedium(c)) return s;
  bool msf = (c.cdb[1] & 0x02) != 0;
  uint8_t format = c.cdb[2] & 0x0F;
  if (settings_.sff8020 || (format == 0 && (c.cdb[9] >> 6) != 0)) format = c.cdb[9] >> 6;
  uint8_t number = c.cdb[6];
  size_t allocation = Get16(c.cdb + 7);
  std::vector<uint8_t> a(4, 0);
  const CdLayout& layout = media_.layout;
  bool dvd = !IsCd();
  if (format == 0 || format == 1) {
    struct Entry {
      uint8_t control;
      int number;
      int32_t start;
    };
    std::vector<Entry> tracks;
    int32_t leadout = 0;
    if (dvd) {
      int32_t end = ReadableEnd();
      // A cut pass closed no session: there is no TOC to give.
      if (end <= 0 || IsCutPass()) return c.Fail(5, 0x24, 0x00);
      tracks.push_back({0x04, 1, 0});
      leadout = end;
    } else {
      if (layout.tracks.empty()) return c.Fail(5, 0x24, 0x00);
      for (const auto& t : layout.tracks) tracks.push_back({t.control, t.number, t.start});
      leadout = layout.LastLeadout();
    }
    if (format == 1) {
      int sessions = dvd ? 1 : static_cast<int>(layout.sessions.size());
      a[2] = 1;
      a[3] = static_cast<uint8_t>(sessions);
      int first_in_last = dvd ? 1 : layout.sessions.back().first_track;
      for (const auto& t : tracks) {
        if (t.number != first_in_last) continue;
        uint8_t d[8] = {0, static_cast<uint8_t>(0x10 | t.control), static_cast<uint8_t>(t.number), 0};
        PutAddress(d + 4, t.start, msf);
        a.insert(a.end(), d, d + 8);
      }
    } else {
      a[2] = static_cast<uint8_t>(tracks.front().number);
      a[3] = static_cast<uint8_t>(tracks.back().number);
      if (number != 0 && number != 0xAA && number > tracks.back().number) return c.Fail(5, 0x24, 0x00);
      for (const auto& t : tracks) {
        if (number == 0xAA || t.number < number) continue;
        uint8_t d[8] = {0, static_cast<uint8_t>(0x10 | t.control), static_cast<uint8_t>(t.number), 0};
        PutAddress(d + 4, t.start, msf);
        a.insert(a.end(), d, d + 8);
      }
      uint8_t d[8] = {0, static_cast<uint8_t>(0x10 | tracks.back().control), 0xAA, 0};
      PutAddress(d + 4, leadout, msf);
      a.insert(a.end(), d, d + 8);
    }
  } else if (format == 2) {
    if (dvd || layout.tracks.empty()) return c.Fail(5, 0x24, 0x00);
    auto entries = BuildRawToc(layout, media_.status == DiscStatus::kComplete);
    if (c.faults.reverse_raw_toc) std::reverse(entries.begin(), entries.end());
    a[2] = 1;
    a[3] = static_cast<uint8_t>(layout.sessions.size());
    for (const auto& e : entries) {
      if (number != 0 && e.session < number) continue;
      uint8_t d[11] = {e.session, static_cast<uint8_t>((e.adr << 4) | e.control), 0, e.point, e.min, e.sec,
                       e.frame, e.zero, e.pmin, e.psec, e.pframe};
      bool addressed = (e.point >= 1 && e.point <= 99) || e.point == 0xA2;
      if (settings_.sff8020 && !msf && addressed && e.adr == 1) {
        // Older ATAPI drives give the addresses of raw TOC points as LBAs.
        int32_t lba = MsfToLba(e.pmin, e.psec, e.pframe);
        d[7] = static_cast<uint8_t>(static_cast<uint32_t>(lba) >> 24);
        d[8] = static_cast<uint8_t>(static_cast<uint32_t>(lba) >> 16);
        d[9] = static_cast<uint8_t>(static_cast<uint32_t>(lba) >> 8);
        d[10] = static_cast<uint8_t>(lba);
      }
      a.insert(a.end(), d, d + 11);
    }
  } else if (format == 4) {
    // The ATIP of a recordable CD, pre-grooved on the medium whatever is
    // recorded on it: a 24-byte descriptor with the times in binary MSF.
    bool recordable = media_.profile == 0x09 || media_.profile == 0x0A;
    if (!recordable || c.faults.atip_missing) return c.Fail(5, 0x24, 0x00);
    a.resize(28, 0);
    a[4] = 0x80;  // bit 7 always set; writing power and reference speed not given
    a[5] = 0x40;  // unrestricted use
    a[6] = static_cast<uint8_t>(0x80 | (media_.profile == 0x0A ? 0x40 : 0x00));  // bit 6: rewritable; A1-A3 not valid
    PutMsf(&a[8], kFirstLeadInStart);
    PutMsf(&a[12], static_cast<int32_t>(media_.capacity));
  } else if (format == 5) {
    if (dvd || layout.cdtext.empty()) return c.Fail(5, 0x24, 0x00);
    for (const auto& p : layout.cdtext) a.insert(a.end(), p.begin(), p.end());
  } else {
    return c.Fail(5, 0x24, 0x00);
  }
  Put16(&a[0], static_cast<uint32_t>(a.size() - 2));
  return c.Reply(a, allocation);
}

int SoftMmcDrive::GetConfiguration(Command& c) {
  if (c.faults.get_configuration_missing) return c.Fail(5, 0x20, 0x00);
  uint8_t rt = c.cdb[1] & 0x03;
  uint16_t start = Get16(c.cdb + 2);
  if (rt == 3) return c.Fail(5, 0x24, 0x00);
  uint16_t profile = media_.tray_open ? 0 : media_.profile;
  if (c.faults.changed_profile != 0) {
    if (c.faults.answers_before_profile_change > 0) {
      hooks_->UpdateFaults([](DriveFaults& f) { --f.answers_before_profile_change; });
    } else {
      profile = c.faults.changed_profile;
    }
  }
  int family = MediaFamily(profile);
  bool cd_writable = profile == 0x09 || profile == 0x0A;
  bool dvd_minus = profile == 0x11 || profile == 0x13 || profile == 0x14 || profile == 0x15 || profile == 0x16;
  struct Feature {
    uint16_t code;
    bool current;
    uint8_t version;
    std::vector<uint8_t> body;
  };
  std::vector<Feature> features;
  std::vector<uint8_t> profiles;
  for (uint16_t p : kAllProfiles) {
    profiles.push_back(static_cast<uint8_t>(p >> 8));
    profiles.push_back(static_cast<uint8_t>(p));
    profiles.push_back(p == profile ? 1 : 0);
    profiles.push_back(0);
  }
  features.push_back({0x0000, true, 0, profiles});
  features.push_back({0x0001, true, 2, {0, 0, 0, 2, 1, 0, 0, 0}});
  features.push_back({0x0002, true, 1, {0x02, 0, 0, 0}});
  features.push_back({0x0003, true, 2, {0x29, 0, 0, 0}});
  features.push_back({0x0010, profile != 0, 0, {0, 0, 0x08, 0, 0, 1, 0, 0}});
  features.push_back({0x001D, family == 1, 0, {}});
  features.push_back({0x001E, family == 1, 2, {0x83, 0, 0, 0}});
  features.push_back({0x001F, family == 2, 1, {0x01, 0, 0x01, 0}});
  {
    std::vector<uint8_t> b(12, 0);
    Put32(&b[0], static_cast<uint32_t>(std::max<int64_t>(media_.capacity - 1, 0)));
    Put32(&b[4], 2048);
    b[9] = 0x10;
    features.push_back({0x0020, IsRandomWritableProfile(profile), 1, b});
  }
  features.push_back({0x0021, cd_writable || dvd_minus, 1, {0x01, 0x3F, 0x00, 0x00}});
  features.push_back({0x0023, NeedsFormatting(profile), 0, {0, 0, 0, 0}});
  features.push_back({0x002A, profile == 0x1A || profile == 0x2A, 0, {0x01, 0, 0, 0}});
  features.push_back({0x002B, profile == 0x1B || profile == 0x2B, 0, {0x01, 0, 0, 0}});
  features.push_back({0x002D, cd_writable, 2, {0x46, 0, 0x3F, 0xFF}});
  features.push_back({0x002E, cd_writable, 1, {0x7E, 0x00, 0x07, 0xF8}});
  features.push_back({0x002F, dvd_minus, 1, {0x46, 0, 0, 0}});
  features.push_back({0x0040, family == 3, 1, std::vector<uint8_t>(28, 0)});
  features.push_back({0x0041, profile == 0x41 || profile == 0x42 || profile == 0x43, 1, std::vector<uint8_t>(28, 0)});
  features.push_back({0x0050, family == 4, 0, {0x01, 0, 0x01, 0}});
  features.push_back({0x0051, profile == 0x51 || profile == 0x52 || profile == 0x53 || profile == 0x58 || profile == 0x5A, 2, {0x01, 0, 0x01, 0}});
  features.push_back({0x0107, true, 3, {0x1F, 0, 0, 0}});
  std::vector<uint8_t> a(8, 0);
  Put16(&a[6], profile);
  for (const auto& f : features) {
    if (f.code < start) continue;
    if (rt == 1 && !f.current) continue;
    if (rt == 2 && f.code != start) continue;
    bool persistent = f.code <= 0x0003;
    a.push_back(static_cast<uint8_t>(f.code >> 8));
    a.push_back(static_cast<uint8_t>(f.code));
    a.push_back(static_cast<uint8_t>((f.version << 2) | (persistent ? 0x02 : 0) | (f.current ? 0x01 : 0)));
    a.push_back(static_cast<uint8_t>(f.body.size()));
    a.insert(a.end(), f.body.begin(), f.body.end());
  }
  Put32(&a[0], static_cast<uint32_t>(a.size() - 4));
  return c.Reply(a, Get16(c.cdb + 7));
}

int SoftMmcDrive::ReadDiscInformation(Command& c) {
  if (int s = CheckMedium(c)) return s;
  if ((c.cdb[1] & 0x07) != 0) return c.Fail(5, 0x24, 0x00);
  std::vector<uint8_t> a(34, 0);
  Put16(&a[0], 32);
  bool erasable = IsRewritableProfile(media_.profile) || IsRandomWritableProfile(media_.profile);
  uint8_t status = static_cast<uint8_t>(media_.status);
  uint8_t session_state = media_.status == DiscStatus::kComplete ? 3 : 0;
  if ((!IsCd() && media_.status == DiscStatus::kAppendable) || IsCutPass()) session_state = 1;
  a[2] = static_cast<uint8_t>((erasable ? 0x10 : 0) | (session_state << 2) | status);
  a[3] = 1;
  const CdLayout& layout = media_.layout;
  int sessions = 1, first_in_last = 1, last_in_last = 1;
  if (IsCd() && !layout.sessions.empty()) {
    sessions = static_cast<int>(layout.sessions.size());
    first_in_last = layout.sessions.back().first_track;
    last_in_last = layout.sessions.back().last_track;
    if (media_.status == DiscStatus::kAppendable) {
      ++sessions;
      first_in_last = last_in_last = layout.tracks.back().number + 1;
    }
  }
  a[4] = static_cast<uint8_t>(sessions);
  a[5] = static_cast<uint8_t>(first_in_last);
  a[6] = static_cast<uint8_t>(last_in_last);
  a[7] = 0x20;  // unrestricted use
  a[8] = IsCd() ? (layout.sessions.empty() ? 0x00 : layout.sessions.front().disc_type) : 0x00;
  if (IsCd()) {
    if (media_.status == DiscStatus::kComplete) {
      std::memset(&a[16], 0xFF, 8);
    } else {
      PutMsf(&a[17], LeadInStart());
      PutMsf(&a[21], static_cast<int32_t>(media_.capacity));
    }
  }
  return c.Reply(a, Get16(c.cdb + 7));
}

int SoftMmcDrive::ReadTrackInformation(Command& c) {
  if (int s = CheckMedium(c)) return s;
  uint8_t type = c.cdb[1] & 0x03;
  uint32_t value = Get32(c.cdb + 2);
  struct Info {
    int number = 1, session = 1;
    uint8_t control = 0x4, data_mode = 1;
    bool blank = false, nwa_valid = false;
    int64_t start = 0, nwa = 0, free = 0, size = 0, last_recorded = 0;
    int64_t first_lba = 0;  // pregap start for CD tracks
  };
  std::vector<Info> tracks;
  if (IsCd()) {
    for (const auto& t : media_.layout.tracks) {
      Info i;
      i.number = t.number;
      i.session = t.session;
      i.control = t.control;
      i.data_mode = t.IsData() ? static_cast<uint8_t>(t.mode) : 0x0F;
      i.start = t.start;
      i.first_lba = t.pregap_start;
      i.size = t.end - t.start;
      i.last_recorded = t.end - 1;
      tracks.push_back(i);
    }
    if (media_.status != DiscStatus::kComplete && !media_.pressed) {
      Info i;
      i.number = media_.layout.tracks.empty() ? 1 : media_.layout.tracks.back().number + 1;
      i.session = static_cast<int>(media_.layout.sessions.size()) + 1;
      i.blank = true;
      i.nwa_valid = true;
      i.start = media_.layout.sessions.empty() ? 0 : NextSessionTrackStart(media_.layout.LastLeadout(), media_.layout.sessions.size() == 1);
      i.nwa = i.start;
      i.first_lba = i.start;
      i.size = i.free = std::max<int64_t>(media_.capacity - i.start, 0);
      i.last_recorded = 0;
      if (media_.open_pass) {
        // The track of the pass: what it took, and no more room.
        i.blank = false;
        i.nwa_valid = false;
        i.free = 0;
        i.size = std::max<int64_t>(media_.pass_end - i.start, 0);
        i.last_recorded = std::max<int64_t>(media_.pass_end - 1, 0);
      }
      tracks.push_back(i);
    }
  } else {
    Info i;
    int64_t limit = media_.reserved_size > 0 ? media_.reserved_size : media_.capacity;
    if (IsRandomWritableProfile(media_.profile) && !media_.pressed) {
      // The track is the whole formatted medium, all of it writable.
      i.size = media_.capacity;
      i.free = media_.capacity;
      i.last_recorded = std::max<int64_t>(media_.next_writable - 1, 0);
      i.nwa_valid = true;
    } else if (media_.pressed || media_.status == DiscStatus::kComplete) {
      i.size = ReadableEnd();
      i.last_recorded = i.size - 1;
    } else if (IsCutPass()) {
      i.size = media_.reserved_size;
      i.last_recorded = std::max<int64_t>(media_.next_writable - 1, 0);
    } else {
      i.size = limit;
      i.nwa = media_.next_writable;
      i.free = std::max<int64_t>(limit - media_.next_writable, 0);
      i.blank = media_.next_writable == 0;
      i.nwa_valid = true;
      i.last_recorded = std::max<int64_t>(media_.next_writable - 1, 0);
    }
    tracks.push_back(i);
  }
  const Info* found = nullptr;
  for (const auto& t : tracks) {
    if (type == 0) {
      int64_t lba = static_cast<int32_t>(value);
      if (lba >= std::min(t.first_lba, t.start) && lba < t.start + t.size) found = &t;
    } else if (type == 1) {
      if (static_cast<uint32_t>(t.number) == value || (value == 0xFF && t.blank)) found = &t;
    } else if (type == 2) {
      if (static_cast<uint32_t>(t.session) == value && !found) found = &t;
    }
  }
  if (type == 3 || !found) return c.Fail(5, 0x24, 0x00);
  std::vector<uint8_t> a(48, 0);
  Put16(&a[0], 46);
  a[2] = static_cast<uint8_t>(found->number);
  a[3] = static_cast<uint8_t>(found->session);
  a[5] = found->control & 0x0F;
  a[6] = static_cast<uint8_t>((found->blank ? 0x40 : 0) | (found->data_mode & 0x0F));
  a[7] = found->nwa_valid ? 0x01 : 0x00;
  Put32(&a[8], static_cast<uint32_t>(found->start));
  Put32(&a[12], static_cast<uint32_t>(found->nwa_valid ? found->nwa : 0));
  Put32(&a[16], static_cast<uint32_t>(found->free));
  Put32(&a[24], static_cast<uint32_t>(found->size));
  Put32(&a[28], static_cast<uint32_t>(found->last_recorded));
  return c.Reply(a, Get16(c.cdb + 7));
}

int SoftMmcDrive::ReserveTrack(Command& c) {
  if (int s = CheckMedium(c)) return s;
  uint32_t size = Get32(c.cdb + 5);
  if (media_.pressed || IsRomProfile(media_.profile) || IsRandomWritableProfile(media_.profile)) {
    return c.Fail(5, 0x30, 0x05);
  }
  if (media_.status != DiscStatus::kBlank || media_.reserved_size > 0 || media_.next_writable > 0) {
    return c.Fail(5, 0x2C, 0x00);
  }
  if (size == 0 || size > media_.capacity) return c.Fail(5, 0x21, 0x00);
  if (!IsCd()) {
    media_.reserved_size = size;
    writing_ = true;
    if (!Keep()) return c.Fail(3, 0x0C, 0x00);
  }
  return 0;
}

int SoftMmcDrive::SendOpc(Command& c) {
  if (int s = CheckMedium(c)) return s;
  return 0;
}

uint16_t SoftMmcDrive::MaxReadSpeed() const {
  switch (MediaFamily(media_.profile)) {
    case 2: return 22160;
    case 3: return 36000;
    case 4: return 13500;
    default: return 7056;
  }
}

std::vector<uint16_t> SoftMmcDrive::WriteSpeeds() const {
  if (media_.profile == 0 || IsRomProfile(media_.profile) || media_.pressed) {
    if (media_.profile != 0) return {};
  }
  switch (MediaFamily(media_.profile)) {
    case 2: return {22160, 16620, 11080, 5540, 2770};
    case 3: return {36000, 27000, 18000, 9000};
    case 4: return {9000, 4500};
    default: return {7056, 5645, 4234, 2822, 1411, 706};
  }
}

std::vector<uint8_t> SoftMmcDrive::ModePage(uint8_t page, int control) const {
  std::vector<uint8_t> p;
  if (page == 0x01) {
    p.assign(page1_.begin(), page1_.end());
    if (control == 1) {
      std::fill(p.begin() + 2, p.end(), 0);
      p[2] = 0xFF;
      p[3] = 0xFF;
      p[8] = 0xFF;
    } else if (control == 2) {
      p = {0x01, 0x0A, 0x00, 0x10, 0, 0, 0, 0, 0x10, 0, 0, 0};
    }
  } else if (page == 0x05) {
    p.assign(page5_.begin(), page5_.end());
    if (control == 1) {
      std::fill(p.begin() + 2, p.end(), 0);
      p[2] = c_missing_bufe_ ? 0x1F : 0x5F;
      p[3] = 0xFF;
      p[4] = 0x0F;
      p[5] = 0xFF;
      p[7] = 0x3F;
      p[8] = 0xFF;
      for (int i = 10; i < 52; ++i) p[i] = 0xFF;
    } else if (control == 2) {
      auto d = DefaultPage5(media_.profile);
      p.assign(d.begin(), d.end());
    }
  } else if (page == 0x2A) {
    std::vector<uint16_t> speeds = page_2a_speeds_.empty() ? WriteSpeeds() : page_2a_speeds_;
    if (speeds.size() > 56) speeds.resize(56);
    p.assign(32 + 4 * speeds.size(), 0);
    p[0] = 0x2A;
    p[1] = static_cast<uint8_t>(p.size() - 2);
    p[2] = 0x3B;  // reads CD-R, CD-RW, DVD-ROM, DVD-R, DVD-RAM
    p[3] = 0x37;  // writes CD-R, CD-RW, DVD-R, DVD-RAM; test write
    p[4] = 0x71;  // audio play, multi-session, mode 2 form 1/2
    p[5] = 0xFF;  // CD-DA, accurate, R-W, deinterleaved, C2, ISRC, UPC, bar code
    p[6] = static_cast<uint8_t>(0x29 | (media_.locked ? 0x02 : 0));  // tray, eject, lock
    p[7] = 0x03;
    Put16(&p[8], MaxReadSpeed());
    Put16(&p[10], 256);
    Put16(&p[12], 2048);
    Put16(&p[14], read_speed_ == 0xFFFF ? MaxReadSpeed() : read_speed_);
    uint16_t current_write = speeds.empty() ? 0 : speeds.front();
    if (write_speed_ != 0xFFFF) {
      for (uint16_t s : speeds) {
        if (s <= write_speed_) {
          current_write = s;
          break;
        }
        current_write = s;
      }
    }
    Put16(&p[18], speeds.empty() ? 0 : speeds.front());
    Put16(&p[20], current_write);
    Put16(&p[28], current_write);
    Put16(&p[30], static_cast<uint32_t>(speeds.size()));
    for (size_t i = 0; i < speeds.size(); ++i) {
      p[32 + 4 * i + 1] = 0x00;  // CLV
      Put16(&p[32 + 4 * i + 2], speeds[i]);
    }
    if (control == 1) std::fill(p.begin() + 2, p.end(), 0);
  }
  return p;
}

int SoftMmcDrive::ModeSense10(Command& c) {
  uint8_t page = c.cdb[2] & 0x3F;
  int control = c.cdb[2] >> 6;
  if (control == 3) return c.Fail(5, 0x39, 0x00);
  c_missing_bufe_ = c.faults.missing_bufe;
  page_2a_speeds_ = c.faults.page_2a_write_speeds.value_or(std::vector<uint16_t>{});
  std::vector<uint8_t> a(8, 0);
  std::vector<uint8_t> pages;
  if (page == 0x3F) {
    for (uint8_t p : {0x01, 0x05, 0x2A}) {
      auto b = ModePage(p, control);
      pages.insert(pages.end(), b.begin(), b.end());
    }
  } else {
    pages = ModePage(page, control);
    if (pages.empty()) return c.Fail(5, 0x24, 0x00);
  }
  a.insert(a.end(), pages.begin(), pages.end());
  Put16(&a[0], static_cast<uint32_t>(a.size() - 2));
  return c.Reply(a, Get16(c.cdb + 7));
}

int SoftMmcDrive::ModeSelect10(Command& c) {
  size_t length = Get16(c.cdb + 7);
  if (length > c.data_length) return c.Fail(5, 0x24, 0x00);
  if (length < 8) return length == 0 ? 0 : c.Fail(5, 0x1A, 0x00);
  const uint8_t* d = c.data;
  if (c.faults.strict_mode_select && Get16(d) != 0) return c.Fail(5, 0x26, 0x00);
  size_t pos = 8 + Get16(d + 6);
  while (pos + 2 <= length) {
    const uint8_t* p = d + pos;
    uint8_t code = p[0] & 0x3F;
    size_t page_length = p[1];
    if (pos + 2 + page_length > length) return c.Fail(5, 0x1A, 0x00);
    if (c.faults.strict_mode_select && (p[0] & 0x80)) return c.Fail(5, 0x26, 0x00);
    if (code == 0x01) {
      if (page_length != 0x0A) return c.Fail(5, 0x26, 0x00);
      page1_[2] = p[2];
      page1_[3] = p[3];
      page1_[8] = p[8];
    } else if (code == 0x05) {
      if (page_length != 0x32 && page_length != 0x36) return c.Fail(5, 0x26, 0x00);
      uint8_t write_type = p[2] & 0x0F;
      uint8_t block_type = p[4] & 0x0F;
      bool test = (p[2] & 0x10) != 0;
      if ((p[2] & 0x40) && c.faults.missing_bufe) return c.Fail(5, 0x26, 0x00);
      for (const auto& [wt, bt] : c.faults.unsupported_write_modes) {
        if (wt == write_type && (bt == 0xFF || bt == block_type)) return c.Fail(5, 0x26, 0x00);
      }
      uint16_t profile = media_.tray_open ? 0 : media_.profile;
      int family = MediaFamily(profile);
      // Selecting the write parameters in force is always accepted.
      bool ok = write_type == (page5_[2] & 0x0F) && block_type == (page5_[4] & 0x0F) && test == ((page5_[2] & 0x10) != 0);
      if (ok) {
      } else if (profile == 0 || profile == 0x09 || profile == 0x0A) {
        static const uint8_t tao[] = {0, 8, 9, 10, 11, 12, 13};
        if (write_type == 0) ok = block_type == 8 || block_type == 10;
        if (write_type == 1) ok = std::find(std::begin(tao), std::end(tao), block_type) != std::end(tao);
        if (write_type == 2) ok = block_type <= 3 || (block_type >= 8 && block_type <= 13);
        if (write_type == 3) ok = block_type == 1 || block_type == 2 || block_type == 3;
      } else if (family >= 2 && !IsRomProfile(profile) && !media_.pressed) {
        ok = (write_type == 0 || write_type == 2) && block_type == 8;
        bool minus = profile == 0x11 || profile == 0x13 || profile == 0x14 || profile == 0x15 || profile == 0x16;
        if (test && !minus) ok = false;
      }
      if (!ok) return c.Fail(5, 0x26, 0x00);
      std::memcpy(page5_.data() + 2, p + 2, std::min<size_t>(page_length, 0x36));
      page5_[0] = 0x05;
      page5_[1] = 0x36;
    } else {
      return c.Fail(5, 0x26, 0x00);
    }
    pos += 2 + page_length;
  }
  return 0;
}

int SoftMmcDrive::SetCdSpeed(Command& c) {
  read_speed_ = Get16(c.cdb + 2);
  write_speed_ = Get16(c.cdb + 4);
  return 0;
}

int SoftMmcDrive::GetPerformance(Command& c) {
  uint8_t type = c.cdb[10];
  uint16_t max_descriptors = Get16(c.cdb + 8);
  std::vector<uint8_t> a(8, 0);
  if (type == 0x00) {
    if (int s = CheckMedium(c)) return s;
    bool write = (c.cdb[1] & 0x04) != 0;
    a[4] = write ? 0x02 : 0x00;
    if (max_descriptors > 0) {
      uint8_t d[16] = {};
      uint16_t speed = write ? (WriteSpeeds().empty() ? 0 : WriteSpeeds().front()) : MaxReadSpeed();
      Put32(d + 4, speed);
      Put32(d + 8, static_cast<uint32_t>(std::max<int64_t>(media_.capacity - 1, 0)));
      Put32(d + 12, speed);
      a.insert(a.end(), d, d + 16);
    }
  } else if (type == 0x03) {
    std::vector<PerformanceEntry> entries;
    if (c.faults.performance) {
      entries = *c.faults.performance;
    } else if (media_.profile != 0 && !media_.tray_open) {
      for (uint16_t s : WriteSpeeds()) {
        entries.push_back({0, static_cast<uint32_t>(std::max<int64_t>(media_.capacity - 1, 0)), MaxReadSpeed(), s});
      }
    }
    if (entries.size() > max_descriptors) entries.resize(max_descriptors);
    for (const auto& e : entries) {
      uint8_t d[16] = {};
      d[0] = static_cast<uint8_t>((e.wrc & 0x03) << 3);
      Put32(d + 4, e.end_lba);
      Put32(d + 8, e.read_speed);
      Put32(d + 12, e.write_speed);
      a.insert(a.end(), d, d + 16);
    }
  } else {
    return c.Fail(5, 0x24, 0x00);
  }
  Put32(&a[0], static_cast<uint32_t>(a.size() - 4));
  return c.Reply(a, Get16(c.cdb + 8) * 16u + 8u);
}

}  // namespace sorvel::platform::emu
