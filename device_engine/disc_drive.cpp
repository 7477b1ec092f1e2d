#include "device_engine/disc_drive.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "native_common/ecc_encoder.h"
#include "native_common/msf_time.h"

namespace sorvel {

namespace {

// Offsets inside the 96 bytes of channel-separated subchannel.
constexpr size_t kPOffset = 0;
constexpr size_t kQOffset = 12;
constexpr size_t kChannelSize = 12;

bool IsBcdByte(uint8_t b) { return (b >> 4) < 10 && (b & 0x0F) < 10; }

// Frames of a BCD minute-second-frame triple, no 150-frame offset; -1 when not BCD.
int32_t BcdFrames(const uint8_t* msf) {
  if (!IsBcdByte(msf[0]) || !IsBcdByte(msf[1]) || !IsBcdByte(msf[2])) return -1;
  return FromBcd(msf[0]) * kFramesPerMinute + FromBcd(msf[1]) * kFramesPerSecond + FromBcd(msf[2]);
}

void StoreBcdFrames(uint8_t* msf, int32_t frames) {
  frames %= kMsfFrameRange;
  if (frames < 0) frames += kMsfFrameRange;
  msf[0] = ToBcd(static_cast<uint8_t>(frames / kFramesPerMinute));
  msf[1] = ToBcd(static_cast<uint8_t>((frames / kFramesPerSecond) % 60));
  msf[2] = ToBcd(static_cast<uint8_t>(frames % kFramesPerSecond));
}

// LBA of the absolute time in Q bytes 7-9; false when they are not BCD.
bool QAbsoluteLba(const uint8_t* q, int32_t* lba) {
  if (!IsBcdByte(q[7]) || !IsBcdByte(q[8]) || !IsBcdByte(q[9])) return false;
  *lba = MsfToLba(FromBcd(q[7]), FromBcd(q[8]), FromBcd(q[9]));
  return true;
}

bool IsEmptyCode(const char* code, size_t n) {
  return std::all_of(code, code + n, [](char c) { return c == 0; });
}

}  // namespace

DiscDrive::DiscDrive() = default;

DiscDrive::~DiscDrive() = default;

size_t DiscDrive::ReadSectorSize(int32_t family, int32_t read_command) {
  if (family != MFT_CD) return kDvdSectorSize;
  return read_command == CCC_RAW ? kCdMainSize : kCdSectorWithSubSize;
}

bool DiscDrive::CopySessionToc(TocStructure* out) const {
  if (!reading_ || out == nullptr) return false;
  *out = toc_;
  return true;
}

int32_t DiscDrive::GetFirstLBA() const { return reading_ || writing_ ? first_lba_ : 0; }

int32_t DiscDrive::GetLastLBA() const { return reading_ || writing_ ? last_lba_ : 0; }

void DiscDrive::SetBufferingBlockLength(int32_t sectors) {
  if (sectors >= 1 && sectors <= kMaxBufferingBlockLength) buffering_block_length_ = static_cast<int16_t>(sectors);
}

int32_t DiscDrive::ReadStart(int32_t read_command, int32_t flags, TocStructure* toc_out) {
  // The drive belongs to an open write pass until it ends: no command may
  // reach it from here, so the media of that pass stay as they are.
  if (writing_) return CBR_ALREADYRUNNING;
  media_type_ = GetMediaType();
  media_family_ = MediaFamilyOf(media_type_);
  if (reading_) ReadEnd();
  ClearSense();
  int32_t result;
  switch (media_family_) {
    case MFT_CD:
      result = StartCdRead(read_command, flags);
      break;
    case MFT_DVD:
    case MFT_BD:
    case MFT_HDDVD:
      result = StartDvdRead(read_command, flags);
      break;
    default:
      std::printf("Unknown media type %02X\n", static_cast<unsigned>(media_type_));
      return CBR_UNKNOWNMEDIA;
  }
  if (result == CBR_OK && toc_out != nullptr) *toc_out = toc_;
  return result;
}

int32_t DiscDrive::StartCdRead(int32_t read_command, int32_t flags) {
  command_ = read_command;
  flags_ = flags;
  if ((flags & kCdDataAssortmentMask) != 0) return CBR_IGNOREDATAASSORTMENT;

  // The command must read at least one of the first 150 sectors. CCC_DATA is
  // no raw read type, so it never does on a CD.
  bool readable = false;
  if (read_command >= CCC_RAW && read_command <= CCC_RAW96) {
    std::vector<uint8_t> probe(kCdSectorWithSubSize);
    for (int32_t lba = 0; lba < kFirstPregapLength && !readable; ++lba) {
      readable = ReadCd(probe.data(), lba, 1, read_command);
    }
  }
  if (!readable) {
    std::printf("err: 指定された読み込みコマンドは利用できません。\n");
    return CBR_IGNOREREADCOMMAND;
  }

  if (!ReadRawToc(&toc_, (flags & CDD_FIRSTPREGAP) != 0, (flags & CDD_NOPREGAP) == 0,
                  (flags & CDD_FIRSTSESSIONONLY) == 0) ||
      toc_.Count(TST_TOC) == 0) {
    std::printf("err: TOCの読み込みに失敗しました。\n");
    return CBR_TOCREADERROR;
  }
  first_lba_ = 0;
  last_lba_ = toc_.Track(toc_.Count(TST_TOC) - 1).EndLBA;

  if ((flags & CDD_FIRSTPREGAP) != 0) {
    std::vector<uint8_t> sector(kCdSectorWithSubSize);
    int32_t lowest = 0;
    for (int32_t lba = -1; lba >= -kFirstPregapLength; --lba) {
      std::printf("rev search %ld\r", static_cast<long>(lba));
      if (!ReadCd(sector.data(), lba, 1, read_command)) {
        std::printf("from %d.\n", lba + 1);
        break;
      }
      lowest = lba;
    }
    first_lba_ = lowest;
  }

  ResetReadState();
  reading_ = true;
  return CBR_OK;
}

int32_t DiscDrive::StartDvdRead(int32_t read_command, int32_t flags) {
  command_ = read_command;
  flags_ = flags;
  if ((flags & kDvdDataAssortmentMask) != 0) return CBR_IGNOREDATAASSORTMENT;
  if (read_command != CCC_DATA) return CBR_IGNOREREADCOMMAND;

  if (!ReadToc(&toc_) || toc_.Count(TST_TOC) == 0) {
    std::printf("err: TOCの読み込みに失敗しました。\n");
    if (!toc_.MakeSingleTrackToc(SMC_MODE1, GetWritableSize())) return CBR_TOCREADERROR;
    std::printf("TOCが読めなかったが、容量が読めたので、仮想TOCを作って対応します。\n");
  }
  first_lba_ = 0;
  last_lba_ = toc_.Track(toc_.Count(TST_TOC) - 1).EndLBA;
  ResetReadState();
  reading_ = true;
  return CBR_OK;
}

void DiscDrive::ResetReadState() {
  subchannel_offset_ = 0;
  fifo_.Clear();
  fifo_lba_ = 0;
  ahead_at_ = ahead_end_ = 0;
  single_sector_countdown_ = 0;
  current_track_ = 0;
  current_index_ = 0;
}

bool DiscDrive::ReadEnd() {
  ClearSense();
  if (!reading_) return false;
  Rewind();
  reading_ = false;
  return true;
}

bool DiscDrive::ReadLBA(uint8_t* buffer, int32_t lba) {
  ClearSense();
  if (!reading_ || buffer == nullptr) return false;
  switch (media_family_) {
    case MFT_CD:
      return ReadCdSector(buffer, lba);
    case MFT_DVD:
    case MFT_BD:
    case MFT_HDDVD:
      return ReadDvdSector(buffer, lba);
    default:
      return false;
  }
}

bool DiscDrive::ReadCdSector(uint8_t* buffer, int32_t lba) {
  const bool good = lba < first_lba_ ? SynthesizePregapSector(buffer, lba) : ReadThroughBlock(buffer, lba);
  // Only the read commands that return subchannel data have any to examine.
  if (good && HasSubchannel()) ExamineSubchannel(buffer, lba);
  return good;
}

bool DiscDrive::ReadDvdSector(uint8_t* buffer, int32_t lba) {
  if (lba < first_lba_) return false;
  return ReadThroughBlock(buffer, lba);
}

bool DiscDrive::ReadFromDrive(uint8_t* buffer, int32_t lba, int32_t count) {
  if (media_family_ == MFT_CD) return ReadCd(buffer, lba, count, command_);
  return Read10(buffer, lba, count);
}

bool DiscDrive::ReadThroughBlock(uint8_t* buffer, int32_t lba) {
  const size_t size = SectorSize();
  if (ahead_end_ - ahead_at_ >= size && lba == ahead_lba_) {
    std::memcpy(buffer, ahead_.data() + ahead_at_, size);
    ahead_at_ += size;
    ++ahead_lba_;
    return true;
  }
  for (;;) {
    int32_t n;
    if (single_sector_countdown_ > 0) {
      n = 1;
      --single_sector_countdown_;
    } else {
      n = buffering_block_length_;
    }
    n = static_cast<int32_t>(std::min<int64_t>(n, int64_t{last_lba_} - lba + 1));
    if (n <= 0) return false;
    const size_t bytes = size * static_cast<size_t>(n);
    if (ahead_.size() < bytes) ahead_.resize(bytes);
    ahead_at_ = ahead_end_ = 0;
    if (ReadFromDrive(ahead_.data(), lba, n)) {
      std::memcpy(buffer, ahead_.data(), size);
      ahead_at_ = size;
      ahead_end_ = bytes;
      ahead_lba_ = lba + 1;
      return true;
    }
    if (n == 1) return false;
    // One bad sector spoils a whole block: read the next ones one by one.
    single_sector_countdown_ = buffering_block_length_;
    if (media_family_ != MFT_CD) return Read10(buffer, lba, 1);
  }
}

bool DiscDrive::SynthesizePregapSector(uint8_t* buffer, int32_t lba) {
  if (lba < -kFirstPregapLength) return false;
  ahead_at_ = ahead_end_ = 0;
  const bool good = ReadCd(buffer, first_lba_, 1, command_);
  const int32_t distance = first_lba_ - lba;
  switch (toc_.Track(0).SectorMode) {
    case SMC_AUDIO:
      std::memset(buffer, 0, kCdMainSize);
      break;
    case SMC_MODE1:
      EccEncoder().EncodeMode1(buffer, lba);
      break;
    default:
      EccEncoder().EncodeMode2(buffer, lba);
      break;
  }
  if (HasSubchannel()) {
    // Relative time counts down towards the track, absolute time goes back.
    uint8_t* q = buffer + kCdMainSize + kQOffset;
    const int32_t relative = BcdFrames(q + 3);
    int32_t absolute = 0;
    if (relative >= 0) StoreBcdFrames(q + 3, relative + distance);
    if (QAbsoluteLba(q, &absolute)) {
      const MsfTime time = MsfTime::FromLba(int64_t{absolute} - distance);
      q[7] = ToBcd(time.minute);
      q[8] = ToBcd(time.second);
      q[9] = ToBcd(time.frame);
    }
    SetSubQCrc(q);
  }
  return good;
}

void DiscDrive::ExamineSubchannel(uint8_t* sector, int32_t lba) {
  uint8_t* sub = sector + kCdMainSize;
  uint8_t* p = sub + kPOffset;
  uint8_t* q = sub + kQOffset;
  const int adr = q[0] & 0x0F;
  bool valid = IsQCrcValid(q) && adr >= 1 && adr <= 3;
  if (valid && adr == 1) {
    // Only 1..99 are track numbers: the lead-out's AA and the lead-in's 0 are not.
    if (IsBcdByte(q[1]) && IsBcdByte(q[2])) {
      const int track = FromBcd(q[1]);
      if (track >= 1 && track <= 99) {
        current_track_ = track;
        current_index_ = FromBcd(q[2]);
      }
    }
    int32_t absolute = 0;
    if (QAbsoluteLba(q, &absolute)) subchannel_offset_ = absolute - lba;
  } else if (valid && adr == 2) {
    HarvestMcn(q, lba);
  } else if (valid && adr == 3) {
    HarvestIsrc(q, lba);
  }

  if ((flags_ & CDD_COLLECTSUBPQ) == 0) return;
  CueSubcodeBuilder::CorrectP(p, lba, lba + subchannel_offset_);
  if (!valid) {
    std::vector<uint8_t> dummy(kCdSectorWithSubSize);
    if (BuildDummyCdSector(dummy.data(), lba)) {
      std::memcpy(q, dummy.data() + kCdMainSize + kQOffset, kChannelSize);
      std::printf("corrected SUB-Q in %ld (SubLBA=%ld)\n", static_cast<long>(lba),
                  static_cast<long>(lba + subchannel_offset_));
    }
  }
}

void DiscDrive::HarvestMcn(const uint8_t* q, int32_t lba) {
  const McnCode current = toc_.Mcn();
  if (!IsEmptyCode(current.data(), current.size())) return;
  McnCode mcn{};
  for (size_t i = 0; i < mcn.size(); ++i) {
    const uint8_t byte = q[1 + i / 2];
    const int digit = i % 2 == 0 ? byte >> 4 : byte & 0x0F;
    if (digit > 9) return;
    mcn[i] = static_cast<char>('0' + digit);
  }
  if (std::all_of(mcn.begin(), mcn.begin() + 12, [](char c) { return c == '0'; })) return;
  toc_.SetMcn(mcn);
  std::printf("MCN lba %ld='%.13s'\n", static_cast<long>(lba), mcn.data());
}

void DiscDrive::HarvestIsrc(const uint8_t* q, int32_t lba) {
  if (current_track_ < 1 || current_track_ > 99) return;
  const int index = current_track_ - 1;
  const IsrcCode current = toc_.Isrc(index);
  if (!IsEmptyCode(current.data(), current.size())) return;
  IsrcCode isrc{};
  // Five 6-bit codes in the 30 high bits of bytes 1-4, then seven BCD digits.
  const uint32_t codes = uint32_t{q[1]} << 24 | uint32_t{q[2]} << 16 | uint32_t{q[3]} << 8 | q[4];
  for (int i = 0; i < 5; ++i) isrc[i] = static_cast<char>(((codes >> (26 - 6 * i)) & 0x3F) + 0x30);
  for (int i = 0; i < 7; ++i) {
    const uint8_t byte = q[5 + i / 2];
    const int digit = i % 2 == 0 ? byte >> 4 : byte & 0x0F;
    if (digit > 9) return;
    isrc[5 + i] = static_cast<char>('0' + digit);
  }
  if (std::all_of(isrc.begin(), isrc.end(), [](char c) { return c == '0'; })) return;
  toc_.SetIsrc(index, isrc);
  // Reading out of order must not drop the entries of higher tracks.
  toc_.SetCount(TST_ISRC, std::max(toc_.Count(TST_ISRC), current_track_));
  std::printf("ISRC lba %ld='%.12s'\n", static_cast<long>(lba), isrc.data());
}

int32_t DiscDrive::GetMediaFamilyType() {
  return reading_ || writing_ ? media_family_ : MmcDrive::GetMediaFamilyType();
}

bool DiscDrive::ReadLBADummy(uint8_t* buffer, int32_t lba) {
  if (buffer == nullptr) return false;
  // Outside a pass the medium in the drive decides.
  const int32_t family = GetMediaFamilyType();
  if (family == MFT_DVD || family == MFT_BD || family == MFT_HDDVD) {
    std::memset(buffer, 0xAA, kDvdSectorSize);
    return true;
  }
  if (family != MFT_CD || !reading_) return false;
  return BuildDummyCdSector(buffer, lba);
}

bool DiscDrive::BuildDummyCdSector(uint8_t* buffer, int32_t lba) {
  // The first session whose lead-out area reaches the LBA, at most the last
  // session: an LBA past every session belongs to the last one.
  const int last_session = std::max(1, toc_.LastSession());
  int session = 1;
  while (session < last_session && int64_t{toc_.SessionEndLBA(session)} + kSessionGapSectors < lba) ++session;
  std::printf("dummy sector %ld is session #%d.\n", static_cast<long>(lba), session);
  // The session's lead-in starts where the previous session's lead-out area ends.
  const int32_t session_start = session == 1 ? -kFirstPregapLength : toc_.SessionEndLBA(session - 1) + kSessionGapSectors;
  // Dummy sectors follow the layout of raw writing with the 96-byte subchannel.
  if (!builder_.BuildCueSheet(toc_, CueSubcodeBuilder::kModeRaw96, session_start, session)) return false;

  const int type = builder_.SectorType(lba);
  builder_.BuildMainChannel(type, lba, buffer, nullptr, false);
  if (type == SMC_AUDIO) {
    std::memset(buffer, 0, kCdMainSize);
  } else {
    std::memset(buffer + 16, 0xAA, kCdMainSize - 16);
  }
  if (HasSubchannel()) {
    uint8_t* sub = buffer + kCdMainSize;
    builder_.BuildSubchannel(sub, lba + subchannel_offset_);
    // The P-and-Q form carries no R-W channels.
    if (command_ == CCC_RAW16) std::memset(sub + 2 * kChannelSize, 0, kSubchannelSize - 2 * kChannelSize);
  }
  return true;
}

}  // namespace sorvel
