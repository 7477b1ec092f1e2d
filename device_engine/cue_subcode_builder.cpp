#include "device_engine/cue_subcode_builder.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "device_engine/subchannel_interleave.h"
#include "native_common/msf_time.h"

namespace sorvel {

namespace {

constexpr uint8_t kLeadInTno = 0x00;
constexpr uint8_t kLeadOutTno = 0xAA;
constexpr uint8_t kAdrPosition = 1;
constexpr uint8_t kAdrCatalogue = 2;
constexpr uint8_t kAdrIsrc = 3;
constexpr uint8_t kDataTrackBit = 0x04;
constexpr uint8_t kFormAudio = 0x00;
constexpr uint8_t kFormAudioGenerated = 0x01;
constexpr uint8_t kFormMode1 = 0x11;
constexpr uint8_t kFormMode2 = 0x21;
constexpr uint8_t kFormMode1Generated = 0x14;
constexpr uint8_t kFormMode2Generated = 0x24;
constexpr uint8_t kFormRawPw = 0x40;
constexpr uint8_t kFormSubchannelBits = 0xC0;
constexpr int32_t kPregapLength = 150;
constexpr int32_t kFirstPregapLba = -150;
constexpr int kCdTextPackSize = 18;
constexpr int kPMajority = 48;  // of the 96 bits of P

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

int64_t FloorMod(int64_t a, int64_t b) {
  const int64_t r = a % b;
  return r < 0 ? r + b : r;
}

// A frame count (0 or more) as BCD minute, second and frame.
void StoreBcdDuration(uint8_t* out, int64_t frames) {
  if (frames < 0) frames = 0;
  frames %= kMsfFrameRange;
  out[0] = ToBcd(static_cast<uint8_t>(frames / kFramesPerMinute));
  out[1] = ToBcd(static_cast<uint8_t>((frames / kFramesPerSecond) % 60));
  out[2] = ToBcd(static_cast<uint8_t>(frames % kFramesPerSecond));
}

void StoreBcdAbsolute(uint8_t* out, int64_t lba) {
  const MsfTime msf = MsfTime::FromLba(lba);
  out[0] = ToBcd(msf.minute);
  out[1] = ToBcd(msf.second);
  out[2] = ToBcd(msf.frame);
}

// A code of digits (or ISRC characters) counts as present unless every byte is
// 0 or the digit '0'.
template <size_t N>
bool CodePresent(const std::array<char, N>& code) {
  return std::any_of(code.begin(), code.end(), [](char c) { return c != 0 && c != '0'; });
}

int32_t WrapLba(int64_t lba) { return static_cast<int32_t>(lba); }

}  // namespace

CueSubcodeBuilder::CueSubcodeBuilder() { crc_.Setup(0, false, 0, true); }

bool CueSubcodeBuilder::AddCueEntry(uint8_t control_adr, uint8_t tno, uint8_t index, uint8_t data_form,
                                    int32_t lba) {
  if (cue_count_ >= kMaxCueEntries) return false;
  const MsfTime msf = MsfTime::FromLba(lba);
  cue_[cue_count_++] = CueEntry{{control_adr, tno, index, data_form, 0, msf.minute, msf.second, msf.frame}, lba};
  return true;
}

bool CueSubcodeBuilder::BuildCueSheet(const TocStructure& toc, int32_t write_mode, int32_t start_lba, int session) {
  write_mode_ = write_mode;
  start_lba_ = start_lba;
  cue_count_ = 0;
  table1_count_ = 0;
  table2_count_ = 0;
  subchannel_offset_ = 0;
  toc_ = toc;
  PrepareDiscCodes();

  // Entries past the limit would be dropped from the disc: such a TOC is refused whole.
  const int entries = toc.Count(TST_TOC);
  bool fits = entries <= kMaxTocEntries;
  bool valid = true;
  bool have_previous = false;
  TOCTrack previous;   // the TOC entry before the current one
  TOCTrack last_added;  // the last entry of the session taken
  for (int i = 0; i < entries && fits && valid; ++i) {
    const TOCTrack e = toc.Track(i);
    if (e.SessionNo > session && cue_count_ > 0) break;
    if (e.SessionNo == session) {
      if (e.TrackNo < 1 || e.TrackNo > 99) {
        valid = false;
        break;
      }
      const bool data = (e.Flags & kDataTrackBit) != 0;
      const auto control_adr = static_cast<uint8_t>((e.Flags & 0x0F) << 4 | kAdrPosition);
      if (cue_count_ == 0) {
        const uint8_t form =
            data ? (e.SectorMode == SMC_MODE2 ? kFormMode2Generated : kFormMode1Generated) : kFormAudioGenerated;
        fits = AddCueEntry(control_adr, kLeadInTno, 0, form, start_lba);
      }
      auto form = static_cast<uint8_t>(data ? (e.SectorMode == SMC_MODE2 ? kFormMode2 : kFormMode1) : kFormAudio);
      if (write_mode == kModeSaoRaw96) form |= kFormRawPw;
      const bool first_track = session == 1 && e.TrackNo == 1;
      if (fits && e.IndexNo == 1) {
        const CueEntry& before = cue_[cue_count_ - 1];
        const bool after_lead_in = before.bytes[1] == kLeadInTno;
        const bool data_changes = have_previous && ((previous.Flags ^ e.Flags) & kDataTrackBit) != 0;
        const bool own_pregap = before.bytes[1] == e.TrackNo && before.bytes[2] == 0;
        const int32_t lba = first_track ? kFirstPregapLba : WrapLba(int64_t{e.StartLBA} - kPregapLength);
        // A pregap may not reach back over the start of the entry before it
        // (a track shorter than the pregap): the sheet's times never decrease
        // and that track keeps its sectors, so such a track gets no pregap.
        const bool room = first_track || (after_lead_in ? lba >= before.lba : lba > before.lba);
        if ((after_lead_in || data_changes) && !own_pregap && room) {
          fits = AddCueEntry(control_adr, e.TrackNo, 0, form, lba);
        }
      }
      if (fits) {
        const int32_t lba = (first_track && e.IndexNo == 0) ? kFirstPregapLba : e.StartLBA;
        fits = AddCueEntry(control_adr, e.TrackNo, e.IndexNo, form, lba);
      }
      last_added = e;
    }
    previous = e;
    have_previous = true;
  }
  if (fits && valid && cue_count_ > 0) {
    fits = AddCueEntry(kAdrPosition, kLeadOutTno, 1, kFormAudioGenerated, WrapLba(int64_t{last_added.EndLBA} + 1));
  }
  if (!fits || !valid || cue_count_ == 0) {
    std::printf("MMC CUE SHEET session %d: %s\n", session,
                !valid ? "bad track number" : !fits ? "too many entries" : "no entries");
    cue_count_ = 0;
    return false;
  }

  std::printf("MMC CUE SHEET session %d\n", session);
  for (int i = 0; i < cue_count_; ++i) {
    const auto& b = cue_[i].bytes;
    std::printf("%02X %02X %02X %02X %02X %02X %02X %02X\n", b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
  }

  BuildLeadInTables(session);
  PrintLeadInTables("raw toc table:\n");
  RebuildLeadInTablesFromRawToc(session);
  return true;
}

void CueSubcodeBuilder::BuildLeadInTables(int session) {
  std::array<bool, 100> present{};
  std::array<uint8_t, 100> control{};
  std::array<const CueEntry*, 100> index1{};
  int first = 0;
  int last = 0;
  for (int i = 0; i < cue_count_; ++i) {
    const CueEntry& e = cue_[i];
    const int t = e.bytes[1];
    if (t < 1 || t > 99) continue;
    if (!present[t]) {
      present[t] = true;
      control[t] = static_cast<uint8_t>(e.bytes[0] >> 4);
      if (first == 0 || t < first) first = t;
      last = std::max(last, t);
    }
    if (e.bytes[2] == 1 && index1[t] == nullptr) index1[t] = &e;
  }
  table1_count_ = 0;
  table2_count_ = 0;
  if (first == 0) return;
  const auto s = static_cast<uint8_t>(session);
  for (int t = first; t <= last; ++t) {
    if (!present[t]) continue;
    TOCRawTrack slot;
    slot.SessionNo = s;
    slot.AdrControl = static_cast<uint8_t>(kAdrPosition << 4 | control[t]);
    slot.Point = ToBcd(static_cast<uint8_t>(t));
    if (index1[t] != nullptr) {
      slot.PMinute = ToBcd(index1[t]->bytes[5]);
      slot.PSecond = ToBcd(index1[t]->bytes[6]);
      slot.PFrame = ToBcd(index1[t]->bytes[7]);
    }
    table1_[table1_count_++] = slot;
  }
  const auto adr_control = static_cast<uint8_t>(kAdrPosition << 4 | control[first]);
  TOCRawTrack a0;
  a0.SessionNo = s;
  a0.AdrControl = adr_control;
  a0.Point = 0xA0;
  a0.PMinute = ToBcd(static_cast<uint8_t>(first));
  a0.PSecond = (cue_[0].bytes[3] & 0x3F) >= 0x20 ? 0x20 : 0x00;
  table1_[table1_count_++] = a0;
  TOCRawTrack a1 = a0;
  a1.Point = 0xA1;
  a1.PMinute = ToBcd(static_cast<uint8_t>(last));
  a1.PSecond = 0;
  table1_[table1_count_++] = a1;
  TOCRawTrack a2 = a1;
  a2.Point = 0xA2;
  const CueEntry& lead_out = cue_[cue_count_ - 1];
  a2.PMinute = ToBcd(lead_out.bytes[5]);
  a2.PSecond = ToBcd(lead_out.bytes[6]);
  a2.PFrame = ToBcd(lead_out.bytes[7]);
  table1_[table1_count_++] = a2;
}

void CueSubcodeBuilder::RebuildLeadInTablesFromRawToc(int session) {
  const int n = toc_.Count(TST_RAWTOC);
  bool any = false;
  for (int i = 0; i < n && !any; ++i) any = toc_.RawTrack(i).SessionNo == session;
  // Without descriptors of this session the tables made from the cue sheet stay.
  if (!any) return;
  table1_count_ = 0;
  table2_count_ = 0;
  for (int i = 0; i < n; ++i) {
    const TOCRawTrack r = toc_.RawTrack(i);
    if (r.SessionNo != session) continue;
    TOCRawTrack slot = r;
    slot.Track = ToBcd(r.Track);
    if (r.Point < 100) slot.Point = ToBcd(r.Point);
    slot.Minute = ToBcd(r.Minute);
    slot.Second = ToBcd(r.Second);
    slot.Frame = ToBcd(r.Frame);
    slot.PMinute = ToBcd(r.PMinute);
    // A0 carries the disc type and A1 nothing in these two bytes.
    if (r.Point != 0xA0 && r.Point != 0xA1) {
      slot.PSecond = ToBcd(r.PSecond);
      slot.PFrame = ToBcd(r.PFrame);
    }
    if ((r.AdrControl >> 4) == kAdrPosition) {
      table1_[table1_count_++] = slot;
    } else {
      table2_[table2_count_++] = slot;
    }
  }
  PrintLeadInTables("raw toc table ex:\n");
}

void CueSubcodeBuilder::PrintLeadInTables(const char* title) const {
  std::fputs(title, stdout);
  auto print = [](const TOCRawTrack& r) {
    std::printf("%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X%02X\n", r.SessionNo, r.AdrControl, r.Track,
                r.Point, r.Minute, r.Second, r.Frame, r.Zero, r.PMinute, r.PSecond, r.PFrame);
  };
  for (int i = 0; i < table1_count_; ++i) print(table1_[i]);
  for (int i = 0; i < table2_count_; ++i) print(table2_[i]);
  std::fputs("=== end ===\n", stdout);
}

void CueSubcodeBuilder::PrepareDiscCodes() {
  const McnCode mcn = toc_.Mcn();
  has_mcn_ = CodePresent(mcn);
  for (size_t i = 0; i < mcn.size(); ++i) mcn_digits_[i] = static_cast<uint8_t>((mcn[i] - '0') & 0x0F);

  has_isrc_.fill(false);
  const int isrcs = std::min(toc_.Count(TST_ISRC), 99);
  for (int i = 0; i < isrcs; ++i) {
    const IsrcCode code = toc_.Isrc(i);
    has_isrc_[i + 1] = CodePresent(code);
    std::memcpy(isrc_[i + 1].data(), code.data(), code.size());
  }

  const int packs = toc_.Count(TST_CDTEXT);
  cd_text_.assign(static_cast<size_t>(packs) * kCdTextPackSize, 0);
  for (int i = 0; i < packs; ++i) {
    uint8_t* pack = cd_text_.data() + static_cast<size_t>(i) * kCdTextPackSize;
    toc_.CdText(i).Store(pack);
    crc_.Start();
    crc_.Update(pack, 16);
    const uint32_t crc = crc_.Result();
    pack[16] = static_cast<uint8_t>(crc >> 8);
    pack[17] = static_cast<uint8_t>(crc);
    toc_.SetCdText(i, TOCCDText::Load(pack));
  }
}

int32_t CueSubcodeBuilder::CopyCueSheet(void* buffer, int32_t room) const {
  const int32_t size = cue_count_ * kCueEntrySize;
  std::array<uint8_t, kMaxCueSheetSize> sheet{};
  for (int i = 0; i < cue_count_; ++i) {
    uint8_t* b = sheet.data() + i * kCueEntrySize;
    std::memcpy(b, cue_[i].bytes.data(), kCueEntrySize);
    // The drive's own main data forms only apply to cooked writing; the
    // subchannel form bits stay so the drive still takes the 96 extra bytes.
    if (write_mode_ != kModeSao && b[1] >= 1 && b[1] <= 99) b[3] &= kFormSubchannelBits;
  }
  if (cue_count_ > 0) sheet[5] = sheet[6] = sheet[7] = 0;
  const int32_t n = std::clamp<int32_t>(room, 0, size);
  if (buffer != nullptr && n > 0) std::memcpy(buffer, sheet.data(), static_cast<size_t>(n));
  return size;
}

int CueSubcodeBuilder::EntryAt(int32_t lba) const {
  for (int i = cue_count_ - 1; i >= 0; --i) {
    if (cue_[i].lba <= lba) return i;
  }
  return cue_count_ > 0 ? 0 : -1;
}

int CueSubcodeBuilder::SectorType(int32_t lba) const {
  int i = EntryAt(lba);
  if (i < 0) return kAudio;
  if (cue_[i].bytes[1] == kLeadOutTno && i > 0) --i;
  switch (cue_[i].bytes[3] & 0x30) {
    case 0x00:
      return kAudio;
    case 0x10:
      return kMode1;
    default:
      return kMode2;
  }
}

int32_t CueSubcodeBuilder::BuildMainChannel(int sector_type, int32_t lba, uint8_t* out, const uint8_t* data,
                                            bool user_data) const {
  if (sector_type == kAudio) {
    if (data != nullptr) {
      std::memcpy(out, data, kSectorSize);
    } else {
      std::memset(out, 0, kSectorSize);
    }
  } else if (data != nullptr && !user_data) {
    std::memcpy(out, data, kSectorSize);
  } else if (sector_type == kMode1) {
    std::memset(out, 0, kSectorSize);
    if (data != nullptr) std::memcpy(out + 16, data, 2048);
    encoder_.EncodeMode1(out, lba);
  } else {
    std::memset(out, 0, kSectorSize);
    if (data != nullptr) {
      std::memcpy(out + 16, data, 2336);
      encoder_.EncodeMode2(out, lba);
    } else {
      encoder_.EncodeMode2Header(out, lba);
    }
  }
  return kSectorSize;
}

bool CueSubcodeBuilder::CorrectP(uint8_t* p, int32_t lba, int32_t sub_lba) {
  const bool all_clear = std::all_of(p, p + 12, [](uint8_t b) { return b == 0x00; });
  const bool all_set = std::all_of(p, p + 12, [](uint8_t b) { return b == 0xFF; });
  if (all_clear || all_set) return false;
  int bits = 0;
  for (int j = 0; j < 12; ++j) bits += std::popcount(p[j]);
  std::memset(p, bits >= kPMajority ? 0xFF : 0x00, 12);
  std::printf("corrected SUB-P in %ld (SubLBA=%ld).\n", static_cast<long>(lba), static_cast<long>(sub_lba));
  return true;
}

bool CueSubcodeBuilder::IsQCrcValid(const uint8_t* q) const {
  crc_.Start();
  crc_.Update(q, 10);
  const uint32_t crc = crc_.Result();
  return q[10] == static_cast<uint8_t>(crc >> 8) && q[11] == static_cast<uint8_t>(crc);
}

void CueSubcodeBuilder::SetQCrc(uint8_t* q) const {
  crc_.Start();
  crc_.Update(q, 10);
  const uint32_t crc = crc_.Result();
  q[10] = static_cast<uint8_t>(crc >> 8);
  q[11] = static_cast<uint8_t>(crc);
}

void CueSubcodeBuilder::FillCdText(int64_t d, uint8_t* rw) const {
  const auto n = static_cast<int64_t>(cd_text_.size() / kCdTextPackSize);
  if (n == 0) return;
  uint8_t packs[4 * kCdTextPackSize];
  for (int j = 0; j < 4; ++j) {
    const int64_t index = FloorMod(4 * d + j, n);
    std::memcpy(packs + j * kCdTextPackSize, cd_text_.data() + index * kCdTextPackSize, kCdTextPackSize);
  }
  // 72 bytes = 96 six-bit symbols, first bit highest; symbol bit 5 goes to R,
  // bit 0 to W, at bit position `symbol` of each channel.
  for (int symbol = 0; symbol < 96; ++symbol) {
    int value = 0;
    for (int b = 0; b < 6; ++b) {
      const int bit = symbol * 6 + b;
      value = value << 1 | ((packs[bit / 8] >> (7 - bit % 8)) & 1);
    }
    for (int channel = 0; channel < 6; ++channel) {
      if (value & (0x20 >> channel)) rw[channel * 12 + symbol / 8] |= static_cast<uint8_t>(0x80 >> (symbol % 8));
    }
  }
}

void CueSubcodeBuilder::GenerateLeadInQ(int32_t lba, uint8_t* q, uint8_t* rw) const {
  const int64_t d = int64_t{lba} - start_lba_;
  const TOCRawTrack* slot = nullptr;
  if (table1_count_ > 0 && table2_count_ > 0) {
    const int64_t group = FloorDiv(d, 6);
    slot = FloorMod(d, 6) < 3 ? &table1_[FloorMod(group, table1_count_)] : &table2_[FloorMod(group, table2_count_)];
  } else if (table1_count_ > 0) {
    slot = &table1_[FloorMod(FloorDiv(d, 3), table1_count_)];
  } else if (table2_count_ > 0) {
    slot = &table2_[FloorMod(FloorDiv(d, 3), table2_count_)];
  }
  if (slot != nullptr) {
    q[0] = static_cast<uint8_t>(slot->AdrControl << 4 | slot->AdrControl >> 4);
    q[1] = slot->Track;
    q[2] = slot->Point;
    // Position descriptors of tracks and A0-AF run the lead-in clock; other
    // descriptors (B0, C0, skip intervals) carry their own times.
    if ((slot->AdrControl >> 4) == kAdrPosition && slot->Point < 0xB0) {
      StoreBcdAbsolute(q + 3, lba);
    } else {
      q[3] = slot->Minute;
      q[4] = slot->Second;
      q[5] = slot->Frame;
    }
    q[6] = slot->Zero;
    q[7] = slot->PMinute;
    q[8] = slot->PSecond;
    q[9] = slot->PFrame;
  }
  if (rw != nullptr) FillCdText(d, rw);
}

void CueSubcodeBuilder::GenerateQ(int32_t lba, uint8_t* p, uint8_t* q, uint8_t* rw) const {
  std::memset(p, 0, 12);
  std::memset(q, 0, 12);
  const int i = EntryAt(lba);
  if (i >= 0) {
    const CueEntry& e = cue_[i];
    const uint8_t tno = e.bytes[1];
    if (tno == kLeadInTno) {
      GenerateLeadInQ(lba, q, rw);
    } else if (tno == kLeadOutTno) {
      q[0] = e.bytes[0];
      q[1] = kLeadOutTno;
      q[2] = 0x01;
      StoreBcdDuration(q + 3, int64_t{lba} - e.lba);
      StoreBcdAbsolute(q + 7, lba);
    } else {
      const uint8_t index = e.bytes[2];
      const CueEntry* next = i + 1 < cue_count_ ? &cue_[i + 1] : nullptr;
      int64_t relative = int64_t{lba} - e.lba;
      if (index == 0) relative = next != nullptr ? int64_t{next->lba} - lba : 0;
      q[0] = e.bytes[0];
      q[1] = ToBcd(tno);
      q[2] = ToBcd(index);
      StoreBcdDuration(q + 3, relative);
      StoreBcdAbsolute(q + 7, lba);
      if (index >= 1 && cue_count_ >= 3) {
        const int64_t k = FloorMod(int64_t{lba} - cue_[2].lba, 100);
        const auto control = static_cast<uint8_t>(e.bytes[0] & 0xF0);
        if (has_mcn_ && k == 24) {
          q[0] = control | kAdrCatalogue;
          for (int j = 0; j < 6; ++j) q[1 + j] = static_cast<uint8_t>(mcn_digits_[2 * j] << 4 | mcn_digits_[2 * j + 1]);
          q[7] = static_cast<uint8_t>(mcn_digits_[12] << 4);
          q[8] = 0;
        } else if (has_isrc_[tno] && k == 74) {
          const auto& isrc = isrc_[tno];
          q[0] = control | kAdrIsrc;
          uint32_t codes = 0;
          for (int j = 0; j < 5; ++j) codes = codes << 6 | ((isrc[j] - 0x30) & 0x3F);
          codes <<= 2;
          q[1] = static_cast<uint8_t>(codes >> 24);
          q[2] = static_cast<uint8_t>(codes >> 16);
          q[3] = static_cast<uint8_t>(codes >> 8);
          q[4] = static_cast<uint8_t>(codes);
          uint8_t digits[8] = {};
          for (int j = 0; j < 7; ++j) digits[j] = static_cast<uint8_t>((isrc[5 + j] - '0') & 0x0F);
          for (int j = 0; j < 4; ++j) q[5 + j] = static_cast<uint8_t>(digits[2 * j] << 4 | digits[2 * j + 1]);
        }
      }
      const bool before_track = next != nullptr && next->bytes[2] == 1 && int64_t{lba} > int64_t{next->lba} - 150;
      const bool track_start = index == 1 && lba == e.lba;
      if (before_track || track_start) std::memset(p, 0xFF, 12);
    }
  }
  SetQCrc(q);
}

int CueSubcodeBuilder::BuildSubchannel(uint8_t* out, int32_t lba) const {
  std::memset(out, 0, kSubchannelSize);
  GenerateQ(lba, out, out + 12, out + 24);
  return SectorType(lba);
}

void CueSubcodeBuilder::BuildPqBlock(uint8_t* out, int32_t lba) const {
  uint8_t p[12];
  GenerateQ(lba, p, out, nullptr);
  out[12] = out[13] = out[14] = 0;
  out[15] = p[0] != 0 ? 0x80 : 0x00;
}

TOCRawTrack CueSubcodeBuilder::LeadInSlot1(int index) const {
  return index >= 0 && index < table1_count_ ? table1_[index] : TOCRawTrack{};
}

TOCRawTrack CueSubcodeBuilder::LeadInSlot2(int index) const {
  return index >= 0 && index < table2_count_ ? table2_[index] : TOCRawTrack{};
}

int32_t CueSubcodeBuilder::BuildSector(uint8_t* out, const uint8_t* data, const uint8_t* subchannel,
                                       int32_t write_mode, int32_t lba, bool user_data, bool correct) {
  if (subchannel != nullptr) {
    const uint8_t* q = subchannel + 12;
    if ((q[0] & 0x0F) == kAdrPosition && IsQCrcValid(q)) {
      const int32_t absolute = MsfToLba(FromBcd(q[7]), FromBcd(q[8]), FromBcd(q[9]));
      subchannel_offset_ = WrapLba(int64_t{absolute} - lba);
    }
  }
  const int32_t sub_lba = WrapLba(int64_t{lba} + subchannel_offset_);
  uint8_t reference[kSubchannelSize];
  BuildSubchannel(reference, sub_lba);

  const uint8_t* given = user_data ? nullptr : subchannel;
  const int type = SectorType(lba);
  BuildMainChannel(type, lba, out, data, user_data);

  uint8_t sub[kSubchannelSize];
  if (given != nullptr) {
    std::memcpy(sub, given, kSubchannelSize);
    if (correct) {
      CorrectP(sub, lba, sub_lba);
      if (!IsQCrcValid(sub + 12)) {
        std::memcpy(sub + 12, reference + 12, 12);
        std::printf("corrected SUB-Q in %ld (SubLBA=%ld).\n", static_cast<long>(lba), static_cast<long>(sub_lba));
      }
    }
  } else {
    std::memcpy(sub, reference, kSubchannelSize);
  }

  const bool before_program = cue_count_ >= 2 && lba < cue_[1].lba;
  if (write_mode != kModeSao && (type != kAudio || before_program)) {
    std::fputs("*\r", stdout);
    scrambler_.Scramble(out);
  }

  uint8_t* tail = out + kSectorSize;
  switch (write_mode) {
    case kModeSaoRaw96:
      std::memcpy(tail, sub, kSubchannelSize);
      return kSectorSize + kSubchannelSize;
    case kModeRaw16:
      std::memcpy(tail, sub + 12, 12);
      tail[12] = tail[13] = tail[14] = 0;
      if (given != nullptr) {
        tail[15] = (sub[0] != 0 && sub[1] != 0) ? 0x80 : 0x00;
      } else {
        tail[15] = sub[0] != 0 ? 0x80 : 0x00;
      }
      return kSectorSize + kPqBlockSize;
    case kModeRaw96:
      SubchannelChannelsToPw(sub, tail);
      return kSectorSize + kSubchannelSize;
    default:
      return kSectorSize;
  }
}

}  // namespace sorvel
