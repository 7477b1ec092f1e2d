// Writing commands of the emulated drive: cue sheets, SAO and raw CD writes,
// DVD/BD/HD DVD writes, closing, blanking and formatting.
#include <algorithm>
#include <cstring>

#include "platform/emulated_drive/cd_codec.h"
#include "platform/emulated_drive/drive_command.h"
#include "platform/emulated_drive/soft_mmc_drive.h"

namespace sorvel::platform::emu {

namespace {

constexpr uint32_t kCdStride = 2352 + 96;  // written CD sectors: main channel + separate subchannel

bool ValidDataForm(uint8_t form) {
  static const uint8_t forms[] = {0x00, 0x01, 0x10, 0x11, 0x12, 0x13, 0x14, 0x20, 0x21, 0x22, 0x23, 0x24};
  uint8_t sub = form & 0xC0;
  if (sub == 0x80) return false;
  return std::find(std::begin(forms), std::end(forms), static_cast<uint8_t>(form & 0x3F)) != std::end(forms);
}

}  // namespace


int32_t SoftMmcDrive::CueEntry::lba() const { return MsfToLba(min, sec, frame); }

int32_t SoftMmcDrive::ProgramStart() const {
  if (media_.layout.sessions.empty()) return -150;
  return NextSessionTrackStart(media_.layout.LastLeadout(), media_.layout.sessions.size() == 1) - 150;
}

const SoftMmcDrive::CueEntry* SoftMmcDrive::CueEntryAt(int32_t lba) const {
  const CueEntry* found = nullptr;
  for (const auto& e : cue_sheet_) {
    if ((e.ctl_adr & 0x0F) != 1) continue;
    if (found == nullptr || e.lba() <= lba) found = &e;
  }
  return found;
}

uint8_t SoftMmcDrive::DataFormAt(int32_t lba) const {
  const CueEntry* e = CueEntryAt(lba);
  return e ? e->data_form : 0;
}

int SoftMmcDrive::SendCueSheet(Command& c) {
  if (int s = CheckMedium(c)) return s;
  if (media_.profile != 0x09 && media_.profile != 0x0A) return c.Fail(5, 0x30, 0x05);
  if ((page5_[2] & 0x0F) != 2) return c.Fail(5, 0x2C, 0x00);
  // A pass that took sectors and never closed its session holds the disc.
  if (media_.status == DiscStatus::kComplete || media_.pressed || media_.open_pass) return c.Fail(5, 0x2C, 0x00);
  size_t length = Get24(c.cdb + 6);
  if (length == 0 || length > c.data_length) return c.Fail(5, 0x24, 0x00);
  if (length % 8 != 0) return c.Fail(5, 0x26, 0x00);
  std::vector<CueEntry> entries;
  for (size_t i = 0; i < length; i += 8) {
    const uint8_t* d = c.data + i;
    entries.push_back({d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]});
  }
  auto invalid = [&]() { return c.Fail(5, 0x26, 0x00); };
  CdLayout layout = media_.layout;
  CdSession session;
  session.number = static_cast<int>(layout.sessions.size()) + 1;
  int32_t program_start = ProgramStart();
  int first_track = layout.tracks.empty() ? 1 : layout.tracks.back().number + 1;
  std::string mcn;
  std::vector<CdTrack> tracks;
  bool seen_leadin = false, seen_leadout = false;
  int32_t last_time = program_start;
  int last_tno = 0;
  int last_index = -1;
  std::vector<int> with_index1;
  for (size_t i = 0; i < entries.size(); ++i) {
    const CueEntry& e = entries[i];
    int adr = e.ctl_adr & 0x0F;
    uint8_t control = e.ctl_adr >> 4;
    if (seen_leadout) return invalid();  // the lead-out entry comes last
    if (adr == 2) {
      // Media catalogue number: 13 digits over two entries of 7 bytes.
      if (i + 1 >= entries.size() || (entries[i + 1].ctl_adr & 0x0F) != 2) return invalid();
      const uint8_t* a = c.data + i * 8 + 1;
      const uint8_t* b = c.data + (i + 1) * 8 + 1;
      mcn.assign(a, a + 7);
      mcn.append(b, b + 6);
      if (!std::all_of(mcn.begin(), mcn.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) return invalid();
      ++i;
      continue;
    }
    if (adr == 3) {
      // ISRC of the following track: 12 characters over two entries.
      if (i + 1 >= entries.size() || (entries[i + 1].ctl_adr & 0x0F) != 3) return invalid();
      std::string isrc(reinterpret_cast<const char*>(c.data + i * 8 + 2), 6);
      isrc.append(reinterpret_cast<const char*>(c.data + (i + 1) * 8 + 2), 6);
      uint8_t check[8];
      if (!EncodeIsrcQ(isrc, check)) return invalid();
      CdTrack pending;
      pending.number = e.tno;
      pending.isrc = isrc;
      pending.start = INT32_MIN;  // marks an ISRC holder until the track's entries arrive
      tracks.push_back(pending);
      ++i;
      continue;
    }
    if (adr != 1) return invalid();
    if (!ValidDataForm(e.data_form)) return invalid();
    if (e.sec > 59 || e.frame > 74) return invalid();
    int32_t time = e.lba();
    if (time < last_time) return invalid();
    last_time = time;
    if (!seen_leadin) {
      if (e.tno != 0 || e.index != 0 || time != program_start) return invalid();
      seen_leadin = true;
      continue;
    }
    if (e.tno == 0xAA) {
      if (e.index != 1 || tracks.empty()) return invalid();
      session.leadout = time;
      seen_leadout = true;
      continue;
    }
    if (e.tno < 1 || e.tno > 99 || e.index > 99) return invalid();
    if (e.tno < last_tno) return invalid();
    if (e.tno != last_tno) {
      // A new track: the next number, starting with index 0 or 1.
      int expected = last_tno == 0 ? first_track : last_tno + 1;
      if (e.tno != expected || e.index > 1) return invalid();
      if (last_tno == 0 && (e.index != 0 || time != program_start)) return invalid();
      CdTrack t;
      if (!tracks.empty() && tracks.back().start == INT32_MIN && tracks.back().number == e.tno) {
        t = tracks.back();
        tracks.pop_back();
      }
      t.number = e.tno;
      t.session = session.number;
      t.control = control;
      uint8_t form = e.data_form & 0x3F;
      t.mode = form < 0x10 ? 0 : (form < 0x20 ? 1 : 2);
      // A data track may come as CD-DA frames (forms 0x00/0x01) that the host
      // scrambled itself.
      if (t.mode == 0 && (control & 0x4)) t.mode = 1;
      t.pregap_start = time;
      t.start = time;
      if (t.mode == 2) session.disc_type = 0x20;
      if ((t.mode != 0) != ((control & 0x4) != 0)) return invalid();
      tracks.push_back(t);
      last_tno = e.tno;
      last_index = e.index;
      if (e.index == 1) with_index1.push_back(e.tno);
      continue;
    }
    CdTrack& t = tracks.back();
    if (control != t.control || e.index != last_index + 1) return invalid();
    if (e.index == 1) {
      t.start = time;
      with_index1.push_back(e.tno);
      if (t.number == first_track && time < program_start + 150) return invalid();
    } else {
      t.index_starts.push_back(time);
    }
    last_index = e.index;
  }
  if (!seen_leadin || !seen_leadout || tracks.empty()) return invalid();
  if (session.leadout > media_.capacity) return c.Fail(5, 0x26, 0x00);
  for (const auto& t : tracks) {
    if (t.start == INT32_MIN) return invalid();
    if (std::find(with_index1.begin(), with_index1.end(), t.number) == with_index1.end()) return invalid();
  }
  for (size_t i = 0; i < tracks.size(); ++i) {
    int32_t next = i + 1 < tracks.size() ? tracks[i + 1].pregap_start : session.leadout;
    if (tracks[i].start >= next) return invalid();
  }
  session.first_track = tracks.front().number;
  session.last_track = tracks.back().number;
  if (!mcn.empty()) layout.mcn = mcn;
  layout.tracks.insert(layout.tracks.end(), tracks.begin(), tracks.end());
  layout.sessions.push_back(session);
  layout.FixTrackEnds();
  // Page 5 may carry the catalogue number instead.
  if (mcn.empty() && (page5_[16] & 0x80)) {
    std::string page_mcn(reinterpret_cast<const char*>(&page5_[17]), 13);
    if (std::all_of(page_mcn.begin(), page_mcn.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) layout.mcn = page_mcn;
  }
  ResetWriteSession();
  cue_sheet_ = entries;
  pending_layout_ = layout;
  writing_ = true;
  test_write_ = (page5_[2] & 0x10) != 0;
  next_write_lba_ = INT32_MIN;
  write_start_lba_ = program_start;
  return 0;
}

int SoftMmcDrive::Write10(Command& c) {
  if (int s = CheckMedium(c)) return s;
  int32_t lba = static_cast<int32_t>(Get32(c.cdb + 2));
  uint32_t count = Get16(c.cdb + 7);
  if (c.faults.long_write_in_progress > 0) {
    hooks_->UpdateFaults([](DriveFaults& f) { --f.long_write_in_progress; });
    return c.Fail(2, 0x04, 0x08);
  }
  if (c.faults.write_error_lba && *c.faults.write_error_lba >= lba &&
      *c.faults.write_error_lba < lba + static_cast<int32_t>(count)) {
    return c.Fail(3, 0x0C, 0x00, *c.faults.write_error_lba);
  }
  if (media_.pressed || IsRomProfile(media_.profile)) return c.Fail(7, 0x27, 0x00);
  if (count == 0) return 0;
  if (!c.write || c.data == nullptr) return c.Fail(5, 0x24, 0x00);
  if (!IsCd()) return WriteBlocks(c, lba, count);
  if (media_.status == DiscStatus::kComplete) return c.Fail(5, 0x21, 0x02);
  uint8_t write_type = page5_[2] & 0x0F;
  if (write_type == 2) {
    // A pass begun in another write type has no cue sheet to write against.
    if (!writing_ || pending_layout_.sessions.empty()) return c.Fail(5, 0x2C, 0x00);
    int status = WriteCdSao(c, lba, count);
    if (status == 0 && !MarkCdWritten()) return c.Fail(3, 0x0C, 0x00, lba);
    return status;
  }
  if (write_type == 3) {
    if (!writing_) {
      if (media_.open_pass) return c.Fail(5, 0x2C, 0x00);
      ResetWriteSession();
      writing_ = true;
      test_write_ = (page5_[2] & 0x10) != 0;
      next_write_lba_ = INT32_MIN;
      write_start_lba_ = ProgramStart();
    }
    int status = WriteCdRaw(c, lba, count);
    if (status == 0 && !MarkCdWritten()) return c.Fail(3, 0x0C, 0x00, lba);
    return status;
  }
  // Track-at-once and packet writing of CDs are not emulated.
  return c.Fail(5, 0x2C, 0x00);
}

bool SoftMmcDrive::Keep(bool sync) { return state_file_.Save(media_, nullptr, sync); }

bool SoftMmcDrive::IsCutPass() const {
  if (writing_ || media_.pressed) return false;
  if (IsCd()) return media_.open_pass;
  if (IsRandomWritableProfile(media_.profile) || media_.status == DiscStatus::kComplete) return false;
  return media_.reserved_size > 0 && media_.next_writable > 0 && media_.next_writable < media_.reserved_size;
}

int SoftMmcDrive::ReadOfCutPass(Command& c, int64_t lba) {
  int64_t first = 0, written_end = 0, end = 0;
  if (IsCd()) {
    // Also while the pass runs: its sectors belong to no session yet.
    if (!media_.open_pass) return 0;
    first = media_.pass_start;
    written_end = media_.pass_end;
    end = media_.capacity;
  } else {
    if (!IsCutPass()) return 0;
    written_end = media_.next_writable;
    end = media_.reserved_size;
  }
  if (lba < first || lba >= end) return 0;
  if (lba < written_end) return c.Fail(3, 0x11, 0x00, lba);
  return c.Fail(8, 0x00, 0x00, lba);  // blank check
}

bool SoftMmcDrive::MarkCdWritten() {
  // A disc-at-once pass writes the disc from its lead-in on: once the medium
  // took sectors of it, the disc is no longer blank, even when the host dies
  // before the pass ends; what it took is known to the next process too.
  if (test_write_) return true;
  const bool structural = !media_.open_pass || media_.status == DiscStatus::kBlank;
  if (!media_.open_pass) {
    media_.open_pass = true;
    media_.pass_start = write_start_lba_;
    media_.pass_end = write_start_lba_;
  }
  const int32_t pass_end = std::max(media_.pass_end, next_write_lba_);
  if (!structural && pass_end == media_.pass_end) return true;
  media_.pass_end = pass_end;
  if (media_.status == DiscStatus::kBlank) media_.status = DiscStatus::kAppendable;
  // Only the end moved: its field is rewritten in place.
  if (!structural && state_file_.SaveWrittenExtent(media_)) return true;
  return Keep();
}

int SoftMmcDrive::WriteCdSao(Command& c, int32_t lba, uint32_t count) {
  bool leadin_sub = !cue_sheet_.empty() && (DataFormAt(INT32_MIN) & 0x40) != 0;
  if (next_write_lba_ == INT32_MIN) {
    bool at_start = lba == write_start_lba_ || (leadin_sub && lba == LeadInStart());
    if (!at_start) return c.Fail(5, 0x21, 0x02);
  } else if (lba != next_write_lba_) {
    return c.Fail(5, 0x21, 0x02);
  }
  int32_t leadout = pending_layout_.sessions.back().leadout;
  if (lba + static_cast<int64_t>(count) > leadout) return c.Fail(5, 0x21, 0x00);
  size_t total = 0;
  for (uint32_t i = 0; i < count; ++i) total += (DataFormAt(lba + static_cast<int32_t>(i)) & 0x40) ? 2448 : 2352;
  if (total != c.data_length) return c.Fail(5, 0x64, 0x00);
  const uint8_t* p = c.data;
  for (uint32_t i = 0; i < count; ++i) {
    int32_t at = lba + static_cast<int32_t>(i);
    bool with_sub = (DataFormAt(at) & 0x40) != 0;
    const uint8_t* main = p;
    const uint8_t* sub = with_sub ? p + 2352 : nullptr;
    p += with_sub ? 2448 : 2352;
    if (at < write_start_lba_) {
      if (sub) {
        uint8_t symbols[96];
        ExtractRwSymbols(sub, symbols);
        leadin_rw_.insert(leadin_rw_.end(), symbols, symbols + 96);
      }
      continue;
    }
    if (test_write_) continue;
    uint8_t record[kCdStride];
    std::memcpy(record, main, 2352);
    // Data sectors sent as CD-DA frames arrive scrambled; the drive keeps the
    // logical sector, as it does for raw writes.
    const CueEntry* entry = CueEntryAt(at);
    if (entry && ((entry->ctl_adr >> 4) & 0x4) && (entry->data_form & 0x3F) <= 0x01 && HasSync(record)) {
      ScrambleSector(record);
    }
    if (sub) {
      DeinterleaveSubchannel(sub, record + 2352);
    } else {
      GenerateSubchannel(pending_layout_, at, record + 2352);
    }
    if (!WriteDataFile(static_cast<uint64_t>(at + 150) * kCdStride, record, kCdStride)) return c.Fail(3, 0x0C, 0x00, at);
  }
  next_write_lba_ = lba + static_cast<int32_t>(count);
  return 0;
}

int SoftMmcDrive::WriteCdRaw(Command& c, int32_t lba, uint32_t count) {
  uint8_t block_type = page5_[4] & 0x0F;
  size_t size = block_type == 1 ? 2368 : 2448;
  if (next_write_lba_ == INT32_MIN) {
    if (lba != LeadInStart()) return c.Fail(5, 0x21, 0x02);
  } else if (lba != next_write_lba_) {
    return c.Fail(5, 0x21, 0x02);
  }
  if (c.data_length != size * count) return c.Fail(5, 0x64, 0x00);
  if (lba + static_cast<int64_t>(count) > media_.capacity + 6750) return c.Fail(5, 0x21, 0x00);
  for (uint32_t i = 0; i < count; ++i) {
    int32_t at = lba + static_cast<int32_t>(i);
    const uint8_t* main = c.data + i * size;
    const uint8_t* extra = main + 2352;
    uint8_t sub[96];
    if (size == 2368) {
      std::memset(sub, 0, sizeof sub);
      if (extra[15] & 0x80) std::memset(sub, 0xFF, 12);
      std::memcpy(sub + 12, extra, 12);
    } else {
      DeinterleaveSubchannel(extra, sub);
    }
    if (at < write_start_lba_) {
      KeepLeadInQ(at, sub + 12);
      if (size == 2448) {
        uint8_t symbols[96];
        ExtractRwSymbols(extra, symbols);
        leadin_rw_.insert(leadin_rw_.end(), symbols, symbols + 96);
      }
      continue;
    }
    // A later session's lead-in: Q frames of track 00 after a lead-out. A
    // frame with a bad CRC inside such a run belongs to it too.
    const uint8_t* q = sub + 12;
    bool valid = QCrcValid(q);
    bool in_leadin = valid && ((q[0] & 0x0F) == 1 || (q[0] & 0x0F) == 5) && q[1] == 0;
    bool continues = leadins_.size() > 1 && leadins_.back().end_lba == at && !valid;
    if (in_leadin || continues) {
      KeepLeadInQ(at, q);
      continue;
    }
    uint8_t record[kCdStride];
    std::memcpy(record, main, 2352);
    std::memcpy(record + 2352, sub, 96);
    // Data sectors arrive scrambled; the drive keeps the logical sector.
    // Lead-out frames (TNO AA) may carry anything in the main channel.
    bool leadout = (sub[12] & 0x0F) == 1 && sub[13] == 0xAA;
    if ((sub[12] >> 4) & 0x4) {
      if (HasSync(record)) {
        ScrambleSector(record);
      } else if (!leadout) {
        return c.Fail(5, 0x64, 0x00, at);
      }
    }
    if (test_write_) continue;
    if (!WriteDataFile(static_cast<uint64_t>(at + 150) * kCdStride, record, kCdStride)) return c.Fail(3, 0x0C, 0x00, at);
  }
  next_write_lba_ = lba + static_cast<int32_t>(count);
  return 0;
}

int SoftMmcDrive::WriteBlocks(Command& c, int32_t lba, uint32_t count) {
  if (c.data_length != static_cast<size_t>(count) * 2048) return c.Fail(5, 0x24, 0x00);
  bool test = (page5_[2] & 0x10) != 0;
  if (!test) test_next_writable_ = -1;
  int64_t end = static_cast<int64_t>(lba) + count;
  if (IsRandomWritableProfile(media_.profile)) {
    if (lba < 0 || end > media_.capacity) return c.Fail(5, 0x21, 0x00);
  } else {
    if (media_.status == DiscStatus::kComplete) return c.Fail(5, 0x21, 0x02);
    if (IsCutPass()) return c.Fail(5, 0x2C, 0x00);
    int64_t next_writable = test && test_next_writable_ >= 0 ? test_next_writable_ : media_.next_writable;
    if (lba != next_writable) return c.Fail(5, 0x21, 0x02);
    bool minus = media_.profile == 0x11 || media_.profile == 0x14 || media_.profile == 0x15 || media_.profile == 0x16;
    if (minus && (page5_[2] & 0x0F) == 2 && media_.reserved_size == 0) return c.Fail(5, 0x2C, 0x00);
    int64_t limit = media_.reserved_size > 0 ? media_.reserved_size : media_.capacity;
    if (end > limit) return c.Fail(5, 0x21, 0x00);
  }
  if (test) {
    if (!IsRandomWritableProfile(media_.profile)) test_next_writable_ = end;
    return 0;
  }
  if (!WriteDataFile(static_cast<uint64_t>(lba) * 2048, c.data, c.data_length)) return c.Fail(3, 0x0C, 0x00, lba);
  if (!IsRandomWritableProfile(media_.profile)) writing_ = true;
  const int64_t next_writable = std::max<int64_t>(media_.next_writable, end);
  const DiscStatus status = IsRandomWritableProfile(media_.profile) ? DiscStatus::kComplete : DiscStatus::kAppendable;
  if (next_writable != media_.next_writable || status != media_.status) {
    const bool only_extent = status == media_.status;
    media_.next_writable = next_writable;
    media_.status = status;
    // What the medium took is recorded at once, as on a recorder: a host
    // that dies mid-burn leaves a disc that holds a cut pass. The state
    // outlives the process without a sync; the pass's end syncs it. A
    // write that only moves the next writable address rewrites that field
    // in place.
    if (!(only_extent && state_file_.SaveWrittenExtent(media_)) && !Keep()) return c.Fail(3, 0x0C, 0x00, lba);
  }
  return 0;
}

bool SoftMmcDrive::FinishCdSao(std::string* error) {
  (void)error;
  // The session closes only when the pass wrote every sector up to its
  // lead-out; a shorter pass, or one without a cue sheet, stays open and the
  // disc holds it cut.
  if (pending_layout_.sessions.empty() || next_write_lba_ < pending_layout_.sessions.back().leadout) return true;
  CdLayout layout = pending_layout_;
  if (layout.sessions.size() == 1 && !leadin_rw_.empty()) layout.cdtext = CollectCdTextPacks(leadin_rw_);
  int32_t first = write_start_lba_;
  int32_t written = next_write_lba_ == INT32_MIN ? 0 : next_write_lba_ - first;
  media_.layout = layout;
  AddWrittenExtent(first, std::max(written, 0), kCdStride, 2352, true);
  bool multi = (page5_[3] >> 6) == 3;
  media_.status = multi ? DiscStatus::kAppendable : DiscStatus::kComplete;
  media_.open_pass = false;
  return true;
}

void SoftMmcDrive::KeepLeadInQ(int32_t lba, const uint8_t* q) {
  if (leadins_.empty() || leadins_.back().end_lba != lba) leadins_.push_back({lba, lba, {}});
  std::array<uint8_t, 12> frame;
  std::memcpy(frame.data(), q, 12);
  leadins_.back().q.push_back(frame);
  leadins_.back().end_lba = lba + 1;
}

bool SoftMmcDrive::AddRawSession(const std::vector<std::array<uint8_t, 12>>& frames, int32_t program_start,
                                 int64_t limit, CdLayout* layout, std::string* error) {
  auto decoded = DecodeLeadIn(frames, error);
  if (!decoded) return false;
  int session_number = static_cast<int>(layout->sessions.size()) + 1;
  // The session's tracks follow those already on the disc, in its program area.
  int expected_first = layout->tracks.empty() ? decoded->tracks.front().number : layout->tracks.back().number + 1;
  if (decoded->tracks.front().number != expected_first || decoded->tracks.front().start < program_start ||
      decoded->sessions.front().leadout > limit) {
    if (error) *error = "the lead-in TOC does not fit the disc";
    return false;
  }
  auto stored_q = [&](int32_t lba, uint8_t* q) {
    return ReadFileAt(state_file_.DataPath(), static_cast<uint64_t>(lba + 150) * kCdStride + 2352 + 12, q, 12) &&
           QCrcValid(q);
  };
  for (auto& t : decoded->tracks) {
    t.session = session_number;
    // Index 0 where the stored Q of the frames before index 1 says so.
    int32_t pregap = t.start;
    for (int32_t lba = t.start - 1; lba >= program_start; --lba) {
      uint8_t q[12];
      if (!stored_q(lba, q) || (q[0] & 0x0F) != 1 || q[1] != ToBcd(t.number) || q[2] != 0) break;
      pregap = lba;
    }
    t.pregap_start = pregap;
    if (t.number == decoded->tracks.front().number && session_number == 1) t.pregap_start = -150;
    if (t.IsData()) {
      uint8_t header[16];
      ReadFileAt(state_file_.DataPath(), static_cast<uint64_t>(t.start + 150) * kCdStride, header, 16);
      t.mode = header[15] == 2 ? 2 : 1;
    }
  }
  decoded->sessions.front().number = session_number;
  decoded->FixTrackEnds();
  // Catalogue number and ISRCs from the program area's Q.
  for (auto& t : decoded->tracks) {
    for (int32_t lba = t.start; lba < std::min(t.end, t.start + 300); ++lba) {
      uint8_t q[12];
      if (!stored_q(lba, q)) continue;
      int adr = q[0] & 0x0F;
      if (adr == 3 && t.isrc.empty()) t.isrc = DecodeIsrcQ(q + 1);
      if (adr == 2 && decoded->mcn.empty()) {
        std::string mcn;
        for (int i = 0; i < 13; ++i) mcn += static_cast<char>('0' + ((i % 2 == 0) ? q[1 + i / 2] >> 4 : q[1 + i / 2] & 0x0F) % 10);
        decoded->mcn = mcn;
      }
    }
  }
  for (const auto& t : decoded->tracks) layout->tracks.push_back(t);
  layout->sessions.push_back(decoded->sessions.front());
  if (layout->mcn.empty()) layout->mcn = decoded->mcn;
  layout->FixTrackEnds();
  return true;
}

bool SoftMmcDrive::FinishCdRaw(std::string* error) {
  if (leadins_.empty()) {
    if (error) *error = "the pass wrote no lead-in";
    return false;
  }
  // Every lead-in of the pass opens a session, as a recorder takes them.
  size_t count = leadins_.size();
  int limit = hooks_->faults().raw_pass_session_limit;
  if (limit > 0) count = std::min(count, static_cast<size_t>(limit));
  CdLayout layout = media_.layout;
  bool first_on_disc = layout.sessions.empty();
  const int32_t written_end = next_write_lba_ == INT32_MIN ? write_start_lba_ : next_write_lba_;
  // A session closes only when the pass wrote every sector up to its
  // lead-out: those of a cut pass past what was written stay open.
  size_t closed = 0;
  for (size_t i = 0; i < count; ++i) {
    int32_t program_start = i == 0 ? write_start_lba_ : leadins_[i].end_lba;
    int64_t end = i + 1 < leadins_.size() ? int64_t{leadins_[i + 1].first_lba} : media_.capacity;
    CdLayout next = layout;
    if (!AddRawSession(leadins_[i].q, program_start, end, &next, error)) return false;
    if (next.sessions.back().leadout > written_end) break;
    layout = std::move(next);
    ++closed;
  }
  if (closed == 0) return true;
  if (first_on_disc && !leadin_rw_.empty()) layout.cdtext = CollectCdTextPacks(leadin_rw_);
  media_.layout = layout;
  int32_t program_start = write_start_lba_;
  int32_t leadout = layout.sessions.back().leadout;
  int32_t last = std::min(written_end, leadout);
  AddWrittenExtent(program_start, last - program_start, kCdStride, 2352, true);
  if (closed < count) {
    // The sectors after the last closed session stay those of the cut pass.
    media_.pass_start = leadout;
    return true;
  }
  bool multi = (page5_[3] >> 6) == 3;
  media_.status = multi ? DiscStatus::kAppendable : DiscStatus::kComplete;
  media_.open_pass = false;
  return true;
}

int SoftMmcDrive::SynchronizeCache(Command& c) {
  if (int s = CheckMedium(c)) return s;
  if (writing_ && IsCd()) {
    uint8_t write_type = page5_[2] & 0x0F;
    bool wrote = next_write_lba_ != INT32_MIN;
    std::string error;
    bool ok = true;
    if (!test_write_ && wrote) ok = write_type == 3 ? FinishCdRaw(&error) : FinishCdSao(&error);
    ResetWriteSession();
    if (!Keep(true) || !ok) return c.Fail(3, 0x0C, 0x00);
  } else if (!IsCd()) {
    // The host's pass ends here: a reserved track it left short stays cut.
    writing_ = false;
    if (!Keep(true)) return c.Fail(3, 0x0C, 0x00);
  }
  test_next_writable_ = -1;
  not_ready_polls_ = c.faults.not_ready_after_sync;
  return 0;
}

int SoftMmcDrive::CloseTrackSession(Command& c) {
  if (int s = CheckMedium(c)) return s;
  uint8_t function = c.cdb[2] & 0x07;
  if (function == 0 || function > 6) return c.Fail(5, 0x24, 0x00);
  if (IsCd()) {
    if (writing_) return c.Fail(5, 0x2C, 0x00);
    return 0;
  }
  if (media_.pressed || IsRomProfile(media_.profile)) return c.Fail(5, 0x30, 0x05);
  if (function >= 2 && !IsRandomWritableProfile(media_.profile)) {
    if (media_.next_writable == 0) return c.Fail(5, 0x2C, 0x00);
    writing_ = false;
    // A reserved track written short is no session to close.
    if (media_.reserved_size > 0 && media_.next_writable < media_.reserved_size) return c.Fail(5, 0x2C, 0x00);
    media_.status = DiscStatus::kComplete;
    media_.reserved_size = 0;
    if (!Keep(true)) return c.Fail(3, 0x0C, 0x00);
  }
  return 0;
}

void SoftMmcDrive::ResetMedium(uint16_t profile) {
  media_.profile = profile;
  media_.status = DiscStatus::kBlank;
  media_.layout = CdLayout{};
  media_.extents.clear();
  media_.next_writable = 0;
  media_.reserved_size = 0;
  media_.open_pass = false;
  media_.pass_start = media_.pass_end = 0;
  ResetWriteSession();
  DropReadAhead();
  if (data_fd_ >= 0) {
    if (::ftruncate(data_fd_, 0) != 0) {
      // The sectors stay unreachable through the state either way.
    }
  } else {
    ::truncate(state_file_.DataPath().c_str(), 0);
  }
}

int SoftMmcDrive::Blank(Command& c) {
  if (int s = CheckMedium(c)) return s;
  uint8_t type = c.cdb[1] & 0x07;
  if (type > 1) return c.Fail(5, 0x24, 0x00);
  if (!IsRewritableProfile(media_.profile) || media_.pressed) return c.Fail(5, 0x30, 0x05);
  uint16_t profile = media_.profile == 0x13 ? 0x14 : media_.profile;
  ResetMedium(profile);
  media_.formatted = false;
  media_.capacity = DefaultCapacity(profile);
  if (!Keep(true)) return c.Fail(3, 0x0C, 0x00);
  return 0;
}

namespace {

struct FormatDescriptor {
  uint32_t blocks;
  uint8_t type;
  uint32_t parameter;
};

std::vector<FormatDescriptor> FormattableDescriptors(uint16_t profile) {
  uint32_t capacity = static_cast<uint32_t>(DefaultCapacity(profile));
  switch (profile) {
    case 0x1A:
    case 0x2A: return {{capacity, 0x26, 0}};
    case 0x12:
    case 0x52: return {{capacity, 0x00, 2048}};
    case 0x13:
    case 0x14: return {{capacity, 0x00, 16}, {capacity, 0x10, 16}};
    case 0x43: return {{11826176, 0x00, 0x3000}, {11826176, 0x30, 0x3000}, {11564032, 0x30, 0x5000}, {12088320, 0x30, 0x1000}, {12219392, 0x31, 0}};
    case 0x41: return {{12088320, 0x32, 0x1000}};
    default: return {};
  }
}

// Blocks a CD-RW of `capacity` sectors holds written in fixed packets of 32
// user blocks, each costing 7 more for its link, run-in and run-out.
uint32_t PacketCapacity(int64_t capacity) { return static_cast<uint32_t>(capacity / (32 + 7) * 32); }

}  // namespace

int SoftMmcDrive::ReadFormatCapacities(Command& c) {
  if (int s = CheckMedium(c)) return s;
  std::vector<uint8_t> a(4, 0);
  uint8_t current[8] = {};
  // A CD-RW's figure is what it holds formatted for packet writing, well
  // below what a disc-at-once pass can record on it.
  uint32_t blocks = media_.profile == 0x0A ? PacketCapacity(media_.capacity) : static_cast<uint32_t>(media_.capacity);
  Put32(current, c.faults.format_capacity_blocks.value_or(blocks));
  current[4] = (NeedsFormatting(media_.profile) && !media_.formatted && !media_.pressed) ? 1 : 2;
  current[6] = 0x08;  // 2048-byte blocks
  a.insert(a.end(), current, current + 8);
  if (!media_.pressed) {
    for (const auto& d : FormattableDescriptors(media_.profile)) {
      uint8_t b[8] = {};
      Put32(b, d.blocks);
      b[4] = static_cast<uint8_t>(d.type << 2);
      b[5] = static_cast<uint8_t>(d.parameter >> 16);
      b[6] = static_cast<uint8_t>(d.parameter >> 8);
      b[7] = static_cast<uint8_t>(d.parameter);
      a.insert(a.end(), b, b + 8);
    }
  }
  a[3] = static_cast<uint8_t>(a.size() - 4);
  return c.Reply(a, Get16(c.cdb + 7));
}

int SoftMmcDrive::FormatUnit(Command& c) {
  if (int s = CheckMedium(c)) return s;
  if (c.cdb[1] != 0x11) return c.Fail(5, 0x24, 0x00);
  if (!c.write || c.data_length < 12) return c.Fail(5, 0x1A, 0x00);
  const uint8_t* d = c.data;
  if (Get16(d + 2) != 8) return c.Fail(5, 0x26, 0x00);
  uint32_t blocks = Get32(d + 4);
  uint8_t type = d[8] >> 2;
  if (media_.pressed) return c.Fail(5, 0x26, 0x00);
  bool offered = false;
  for (const auto& f : FormattableDescriptors(media_.profile)) {
    if (f.type == type && f.blocks == blocks) offered = true;
  }
  if (!offered) return c.Fail(5, 0x26, 0x00);
  uint16_t profile = media_.profile;
  if (profile == 0x14 && type == 0x00) profile = 0x13;  // DVD-RW full format: restricted overwrite
  ResetMedium(profile);
  media_.formatted = true;
  media_.capacity = blocks;
  if (!Keep(true)) return c.Fail(3, 0x31, 0x00);
  return 0;
}

}  // namespace sorvel::platform::emu
