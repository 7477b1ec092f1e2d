// The write passes of DiscDrive: start (medium checks, blanking or
// formatting, capacity, write parameters, calibration, cue sheet or track
// reservation), sector conversion per write mode with gap filling and session
// changes, block writing through the FIFO, and the end of the pass.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "device_engine/disc_drive.h"
#include "device_engine/subchannel_interleave.h"
#include "platform/clock.h"

namespace sorvel {

namespace {

// Sectors from the last LBA of a session to the end of its lead-out.
constexpr int32_t kLeadOutSectors = 6750;

bool IsRawMode(int32_t mode) { return mode == CCC_DAO_RAW16 || mode == CCC_DAO_RAW96; }

// Whether the TOC's entries belong to more than one session.
bool SpansSessions(const TocStructure& toc) {
  const int n = toc.Count(TST_TOC);
  for (int i = 1; i < n; ++i) {
    if (toc.Track(i).SessionNo != toc.Track(0).SessionNo) return true;
  }
  return false;
}

// DVD-family media by their treatment before writing.
bool IsWriteOnceDvd(int32_t type) {
  switch (type) {
    case 0x11: case 0x15: case 0x16: case 0x1B: case 0x2B: case 0x41: case 0x51: case 0x58:
      return true;
    default:
      return false;
  }
}
bool IsRamDvd(int32_t type) { return type == 0x12 || type == 0x52; }
bool IsRewritableDvd(int32_t type) {
  return type == 0x13 || type == 0x14 || type == 0x17 || type == 0x53 || type == 0x5A;
}
bool IsPlusRw(int32_t type) { return type == 0x1A || type == 0x2A; }
constexpr int32_t kBdRe = 0x43;
constexpr int32_t kFormatPlusRw = 0x26;
constexpr int32_t kFormatBdRe = 0x30;
constexpr int32_t kFormatFull = 0x00;
constexpr int32_t kFormatDvdRwSequential = 0x10;

}  // namespace

int32_t DiscDrive::WriteDataSize(int32_t family, int32_t type) {
  switch (type) {
    case CSD_SECTORONLY: return family == MFT_CD ? static_cast<int32_t>(kCdMainSize) : static_cast<int32_t>(kUserDataSize);
    case CSD_MAINCHANNEL: return static_cast<int32_t>(kCdMainSize);
    case CSD_MAINSUBCHANNEL: return static_cast<int32_t>(kCdSectorWithSubSize);
    case CSD_GENERATED:
    case CSD_ERRORDATA: return 0;
    default: return -1;
  }
}

int32_t DiscDrive::WriteStart(int32_t write_mode, int32_t flags, TocStructure toc) {
  // The drive belongs to the open pass: nothing may reach it from here.
  if (writing_) return CBR_ALREADYRUNNING;
  // One answer decides the medium, and with it the block length of the whole
  // pass: a drive (or anything in the path) that answers differently later
  // changes nothing.
  write_block_length_ = 0;
  int32_t profile = 0;
  if (!QueryMediaType(&profile)) {
    std::printf("error: GET CONFIGURATION failed\n");
    return CBR_UNKNOWNMEDIA;
  }
  media_type_ = profile;
  media_family_ = MediaFamilyOf(profile);
  // The block FIFO serves one pass at a time.
  if (reading_) ReadEnd();
  ClearSense();
  command_ = write_mode;
  flags_ = flags;
  toc_ = toc;
  session_ = 1;
  switch (media_family_) {
    case MFT_CD:
      return StartCdWrite(write_mode, flags);
    case MFT_DVD:
    case MFT_BD:
    case MFT_HDDVD:
      return StartDvdWrite(write_mode, flags);
    default:
      std::printf("Unknown media type %02X\n", static_cast<unsigned>(media_type_));
      return CBR_UNKNOWNMEDIA;
  }
}

int32_t DiscDrive::StartCdWrite(int32_t write_mode, int32_t flags) {
  // Every refusal comes before the medium is touched: a recorded CD-RW is
  // blanked only once the image is known to fit it, when the drive reads
  // the disc's ATIP.
  bool erase = false;
  if (media_type_ == 0x09) {
    if (!IsDiscEmpty()) {
      std::printf("error: 既に書き込まれたメディア。\n");
      return CBR_NOTEMPTY;
    }
  } else if (media_type_ == 0x0A) {
    erase = !IsDiscEmpty();
  } else {
    std::printf("error: 非対応のメディア\n");
    return CBR_UNKNOWNMEDIA;
  }
  if (write_mode < CCC_SAO || write_mode > CCC_DAO_RAW96) return CBR_IGNOREWRITECOMMAND;
  const bool raw = IsRawMode(write_mode);
  // A session-at-once pass sends one cue sheet and closes one session: the
  // drive takes nothing past that session's lead-out, so a later session
  // would fail mid-pass with the medium already spent. Only a raw pass
  // writes the lead-ins of further sessions itself.
  if (!raw && SpansSessions(toc_)) {
    std::printf("error: 複数セッションはこの書き込みコマンドでは書き込めません。\n");
    return CBR_IGNOREWRITECOMMAND;
  }

  const int32_t image_end = toc_.SessionEndLBA(toc_.LastSession());
  if (raw) {
    // The lead-out is written too: an image ending near the top of the
    // 32-bit range leaves no address for it, whatever the medium holds.
    const int64_t lead_out_end = int64_t{image_end} + kLeadOutSectors;
    if (lead_out_end > std::numeric_limits<int32_t>::max()) {
      std::printf("error: イメージサイズがメディアより大きい。 (%ld)\n", static_cast<long>(image_end));
      return CBR_OVERCAPACITY;
    }
    last_lba_ = static_cast<int32_t>(lead_out_end);
  } else {
    last_lba_ = image_end;
  }
  // The last written LBA must lie before the last possible lead-out start.
  // A recorded disc's disc information tells it only once blank; its ATIP
  // tells it before. The formatted capacity a drive reports for a CD-RW is
  // that of packet writing, well below this: it must not refuse an image.
  // Without an ATIP, the check after blanking is the only one.
  const bool check_size = !(raw && (flags & CDD_OVERBURN) != 0);
  if (check_size && erase) {
    AtipTimes atip;
    if (ReadAtip(&atip) && !ImageFits(atip.last_lead_out_start, last_lba_)) return CBR_OVERCAPACITY;
  }
  if (erase) {
    std::printf("CD-RW erasing\n");
    if (!Erase(true)) {
      std::printf("error: CD-RWの初期化に失敗。\n");
      return CBR_RWFORMATERROR;
    }
  }
  // A blank disc's lead-in starts before LBA 0; without it neither the raw
  // pass nor the cue sheet has a place to start.
  const int32_t lead_in = GetLeadInStart();
  if (lead_in >= 0) {
    std::printf("error: no lead-in start\n");
    return CBR_IGNOREWRITECOMMAND;
  }
  first_lba_ = raw ? lead_in : -kFirstPregapLength;
  current_lba_ = first_lba_;
  fifo_.Clear();
  fifo_lba_ = first_lba_;
  if (check_size && !ImageFits(GetLastLeadOut(), last_lba_)) return CBR_OVERCAPACITY;

  if (!SetWriteParameters(write_mode, true, false, MFT_CD)) return CBR_IGNOREWRITECOMMAND;
  write_block_length_ = WriteBlockLength(write_mode, MFT_CD);
  if ((flags & CDD_OPCOFF) == 0) PerformOpc();
  Rewind();

  session_start_lba_ = lead_in;
  if (!builder_.BuildCueSheet(toc_, write_mode, session_start_lba_, session_)) return CBR_IGNOREWRITECOMMAND;
  if (raw) {
    writing_ = true;
  } else {
    std::vector<uint8_t> sheet(CueSubcodeBuilder::kMaxCueSheetSize);
    const int32_t size = std::min(builder_.CopyCueSheet(sheet.data(), CueSubcodeBuilder::kMaxCueSheetSize),
                                  CueSubcodeBuilder::kMaxCueSheetSize);
    writing_ = SendCueSheet(sheet.data(), size);
  }
  return writing_ ? CBR_OK : CBR_IGNOREWRITECOMMAND;
}

int32_t DiscDrive::StartDvdWrite(int32_t write_mode, int32_t flags) {
  fifo_.Clear();
  // What the medium needs before writing. Nothing is done to it until the
  // image is known to fit what it will hold afterwards: a refused start
  // leaves the disc as it was.
  enum class Preparation { kNone, kErase, kFormat };
  Preparation preparation = Preparation::kNone;
  int32_t format_type = 0;
  const char* failure = "";
  if (IsWriteOnceDvd(media_type_)) {
    if (!IsDiscEmpty()) {
      std::printf("error: 既に書き込まれたメディア。\n");
      return CBR_NOTEMPTY;
    }
  } else if (IsRamDvd(media_type_)) {
    // Written in place: nothing to prepare.
  } else if (IsRewritableDvd(media_type_)) {
    if (!IsDiscEmpty()) preparation = Preparation::kErase;
    failure = "error: DVD-RWの初期化に失敗。\n";
  } else if (IsPlusRw(media_type_)) {
    preparation = Preparation::kFormat;
    format_type = kFormatPlusRw;
    failure = "error: DVD+RWの初期化に失敗。\n";
  } else if (media_type_ == kBdRe) {
    preparation = Preparation::kFormat;
    format_type = kFormatBdRe;
    failure = "error: BD-REの初期化に失敗。\n";
  } else {
    std::printf("error: 非対応のメディア\n");
    return CBR_UNKNOWNMEDIA;
  }
  if (write_mode != CCC_SAO) return CBR_IGNOREWRITECOMMAND;

  first_lba_ = 0;
  last_lba_ = toc_.SessionEndLBA(toc_.LastSession());
  current_lba_ = first_lba_;
  fifo_lba_ = first_lba_;
  // An image without sectors has nothing to write.
  if (toc_.Count(TST_TOC) == 0 || last_lba_ < first_lba_) return CBR_IGNOREWRITECOMMAND;

  // The capacity the medium will have once prepared, asked without changing
  // it: the blocks of the format that will be applied, or those a recorded
  // rewritable disc offers once erased.
  int32_t capacity = 0;
  switch (preparation) {
    case Preparation::kFormat:
      capacity = FormattableCapacity(format_type);
      if (capacity <= 0) {
        // The drive offers no such format: formatting could not be done.
        std::printf("%s", failure);
        return CBR_RWFORMATERROR;
      }
      break;
    case Preparation::kErase:
      capacity = ErasedDvdCapacity();
      break;
    case Preparation::kNone:
      capacity = GetWritableSize();
      break;
  }
  // Capacity counts sectors: the last LBA must lie below it.
  if (!ImageFits(capacity, last_lba_)) return CBR_OVERCAPACITY;
  if (preparation == Preparation::kErase) {
    std::printf("DVD-RW erasing\n");
    if (!Erase(true)) {
      std::printf("%s", failure);
      return CBR_RWFORMATERROR;
    }
  } else if (preparation == Preparation::kFormat && !FormatUnit(format_type)) {
    std::printf("%s", failure);
    return CBR_RWFORMATERROR;
  }

  if (!SetWriteParameters(CCC_SAO, true, false, media_family_)) return CBR_IGNOREWRITECOMMAND;
  write_block_length_ = WriteBlockLength(CCC_SAO, media_family_);
  if ((flags & CDD_OPCOFF) == 0) PerformOpc();
  Rewind();
  session_start_lba_ = 0;
  if (!builder_.BuildCueSheet(toc_, CCC_SAO, 0, session_)) return CBR_IGNOREWRITECOMMAND;

  if (IsRamDvd(media_type_) || preparation == Preparation::kFormat) {
    writing_ = true;
  } else {
    const int32_t size = last_lba_ - first_lba_ + 1;
    writing_ = ReserveTrack(static_cast<uint32_t>(size));
    std::printf("reservetrack = %ld\n", static_cast<long>(size));
  }
  return writing_ ? CBR_OK : CBR_IGNOREWRITECOMMAND;
}

int32_t DiscDrive::ErasedDvdCapacity() {
  // A full format for sequential recording, or a full format, covers the
  // whole medium an erase gives back; without either, the drive's current or
  // maximum capacity.
  for (int32_t type : {kFormatDvdRwSequential, kFormatFull}) {
    const int32_t blocks = FormattableCapacity(type);
    if (blocks > 0) return blocks;
  }
  return ReadFormatCapacities(nullptr);
}

bool DiscDrive::ImageFits(int32_t limit, int32_t last_lba) {
  if (limit > last_lba) return true;
  // Both ends as the first LBA past them: the medium's lead-out (or its
  // capacity), and the sector after the image's last.
  std::printf("error: イメージサイズがメディアより大きい。 (%ld < %lld)\n", static_cast<long>(limit),
              static_cast<long long>(last_lba) + 1);
  return false;
}

bool DiscDrive::WriteLBA(int32_t type, const uint8_t* data, int32_t lba) {
  if (!writing_) return false;
  if (WriteDataSize(media_family_, type) < 0) return false;
  if (data == nullptr && type != CSD_ERRORDATA) type = CSD_GENERATED;

  if (media_family_ == MFT_CD) {
    // Past the end of the pass there is nothing the drive would take; a gap
    // up to such an LBA would only be filled in vain.
    if (lba > last_lba_) return false;
    if (lba < current_lba_) {
      if (!IsRawMode(command_) || !MoveWritePositionBack(lba)) return false;
    }
    if (lba > current_lba_ && !FillGap(lba)) return false;
    CheckSessionChange();
    if (!WriteCdSector(type, data)) {
      std::printf("write failed in %ld.\n", static_cast<long>(lba));
      return false;
    }
    return true;
  }

  // DVD family: sectors 0..last, in order.
  if (lba > last_lba_ || lba < current_lba_) return false;
  if (type == CSD_ERRORDATA) return false;
  if (lba > current_lba_ && !FillGap(lba)) return false;
  if (!WriteDvdSector(type, data)) {
    std::printf("write failed in %ld.\n", static_cast<long>(lba));
    return false;
  }
  return true;
}

bool DiscDrive::MoveWritePositionBack(int32_t lba) {
  // Sectors already sent to the drive cannot be taken back, and the tables
  // of an earlier session are gone.
  if (lba < fifo_lba_ || lba < session_start_lba_) return false;
  const int32_t block = write_block_length_;
  if (block <= 0) return false;
  const int32_t keep = (lba - fifo_lba_) * block;
  std::vector<uint8_t> kept(static_cast<size_t>(keep));
  if (keep > 0) fifo_.Read(kept.data(), keep);
  fifo_.Clear();
  if (keep > 0) fifo_.Append(kept.data(), keep);
  current_lba_ = lba;
  return true;
}

bool DiscDrive::FillGap(int32_t lba) {
  std::printf("appending data %6ld to %6ld.\n", static_cast<long>(current_lba_), static_cast<long>(lba - 1));
  while (current_lba_ < lba) {
    bool good;
    if (media_family_ == MFT_CD) {
      CheckSessionChange();
      good = WriteCdSector(CSD_GENERATED, nullptr);
    } else {
      good = WriteDvdSector(CSD_GENERATED, nullptr);
    }
    if (!good) {
      std::printf("write failed in %ld.\n", static_cast<long>(current_lba_));
      return false;
    }
  }
  std::printf("appending data done.\n");
  return true;
}

void DiscDrive::CheckSessionChange() {
  if (int64_t{toc_.SessionEndLBA(session_)} + kSessionGapSectors >= current_lba_) return;
  if (session_ >= toc_.LastSession()) return;
  ++session_;
  std::printf("**** session #%d from %ld.\n", session_, static_cast<long>(current_lba_));
  session_start_lba_ = current_lba_;
  builder_.BuildCueSheet(toc_, command_, current_lba_, session_);
}

bool DiscDrive::WriteCdSector(int32_t type, const uint8_t* data) {
  uint8_t sector[kCdSectorWithSubSize];
  const int32_t lba = current_lba_;
  switch (type) {
    case CSD_SECTORONLY:
      builder_.BuildSector(sector, data, nullptr, command_, lba, true, false);
      break;
    case CSD_MAINCHANNEL:
      builder_.BuildSector(sector, data, nullptr, command_, lba, false, false);
      break;
    case CSD_MAINSUBCHANNEL:
      builder_.BuildSector(sector, data, data + kCdMainSize, command_, lba, false, (flags_ & CDD_COLLECTSUBPQ) != 0);
      break;
    case CSD_GENERATED:
      builder_.BuildSector(sector, nullptr, nullptr, command_, lba, false, false);
      break;
    case CSD_ERRORDATA: {
      // A sector a reader finds unreadable: data positions lose their
      // content (0xAA past the header), audio positions become silence.
      uint8_t main[kCdMainSize];
      const int sector_type = builder_.SectorType(lba);
      builder_.BuildMainChannel(sector_type, lba, main, nullptr, false);
      if (sector_type == CueSubcodeBuilder::kAudio) {
        std::memset(main, 0, kCdMainSize);
      } else {
        std::memset(main + 16, 0xAA, kCdMainSize - 16);
      }
      builder_.BuildSector(sector, main, nullptr, command_, lba, false, false);
      break;
    }
    default:
      return false;
  }
  if (command_ == CCC_SAO_RAW96) {
    // A cue sheet data form with 0x40 makes the drive take raw P-W: the
    // subchannel goes out interleaved, not channel by channel.
    uint8_t channels[kSubchannelSize];
    std::memcpy(channels, sector + kCdMainSize, kSubchannelSize);
    SubchannelChannelsToPw(channels, sector + kCdMainSize);
  }
  if (!QueueSector(sector, sizeof sector)) return false;
  ++current_lba_;
  return true;
}

bool DiscDrive::WriteDvdSector(int32_t type, const uint8_t* data) {
  uint8_t sector[kUserDataSize] = {};
  switch (type) {
    case CSD_SECTORONLY:
      std::memcpy(sector, data, kUserDataSize);
      break;
    case CSD_MAINCHANNEL:
    case CSD_MAINSUBCHANNEL: {
      // The user data of the main channel, at its place for the sector type.
      const int sector_type = builder_.SectorType(current_lba_);
      const size_t offset = sector_type == CueSubcodeBuilder::kMode1 ? 16 : sector_type == CueSubcodeBuilder::kMode2 ? 24 : 0;
      std::memcpy(sector, data + offset, kUserDataSize);
      break;
    }
    case CSD_GENERATED:
      break;
    default:
      return false;
  }
  if (!QueueSector(sector, sizeof sector)) return false;
  ++current_lba_;
  return true;
}

bool DiscDrive::QueueSector(const uint8_t* sector, size_t size) {
  const int32_t block = write_block_length_;
  if (block <= 0 || static_cast<size_t>(block) > size) return false;
  fifo_.Append(sector, block);
  const int32_t count = buffering_block_length_;
  const int32_t bytes = block * count;
  if (fifo_.Size() < bytes) return true;
  std::vector<uint8_t> buffer(static_cast<size_t>(bytes));
  while (fifo_.Size() >= bytes) {
    fifo_.Read(buffer.data(), bytes);
    std::printf("wrote sector %6ld to %6ld ... ", static_cast<long>(fifo_lba_), static_cast<long>(fifo_lba_ + count - 1));
    if (!WriteBlocks(buffer.data(), buffer.size(), fifo_lba_, count, block)) {
      std::printf("failed\n");
      return false;
    }
    std::printf("done\r");
    fifo_lba_ += count;
  }
  return true;
}

bool DiscDrive::FlushSectors() {
  if (fifo_.Size() == 0) return true;
  const int32_t block = write_block_length_;
  if (block <= 0) return false;
  const int32_t count = (fifo_.Size() + block - 1) / block;
  std::vector<uint8_t> buffer(static_cast<size_t>(count) * static_cast<size_t>(block), 0);
  fifo_.Read(buffer.data(), fifo_.Size());
  std::printf("wrote last sector %6ld to %6ld ... ", static_cast<long>(fifo_lba_), static_cast<long>(fifo_lba_ + count - 1));
  const bool good = WriteBlocks(buffer.data(), buffer.size(), fifo_lba_, count, block);
  std::printf(good ? "done\n" : "failed\n");
  fifo_lba_ += count;
  return good;
}

bool DiscDrive::PadToLastLba() {
  if (current_lba_ > last_lba_) return true;
  std::printf("appending data %6ld to %6ld.\n", static_cast<long>(current_lba_), static_cast<long>(last_lba_));
  bool good = true;
  while (good && current_lba_ <= last_lba_) {
    if (media_family_ == MFT_CD) {
      CheckSessionChange();
      good = WriteCdSector(CSD_GENERATED, nullptr);
    } else {
      good = WriteDvdSector(CSD_GENERATED, nullptr);
    }
  }
  std::printf("appending data %s.\n", good ? "done" : "failed");
  return good;
}

bool DiscDrive::WriteEnd(bool abort) {
  if (!writing_) return false;
  return media_family_ == MFT_CD ? EndCdWrite(abort) : EndDvdWrite(abort);
}

bool DiscDrive::EndCdWrite(bool abort) {
  bool result = true;
  if (!abort) {
    // A failed pad leaves a hole: the flush still sends what was queued, but
    // the pass does not end as good.
    const bool padded = PadToLastLba();
    result = FlushSectors() && padded;
  }
  const bool synchronized = SynchronizeCache();
  if (!IsRawMode(command_)) CloseSession();
  Rewind();
  writing_ = false;
  return result && synchronized;
}

bool DiscDrive::EndDvdWrite(bool abort) {
  bool result = true;
  if (!abort) {
    const bool padded = PadToLastLba();
    result = FlushSectors() && padded;
  }
  const bool synchronized = SynchronizeCache();
  if (synchronized) WaitUntilReady();
  if (!abort) CloseSession();
  Rewind();
  writing_ = false;
  return result && synchronized;
}

bool DiscDrive::WaitUntilReady() {
  platform::Clock& clock = platform::GetClock();
  const platform::Clock::TimePoint started = clock.Now();
  for (;;) {
    if (IsReady()) return true;
    // Only a drive that is still busy becoming ready (LOGICAL UNIT NOT READY
    // with a cause in progress) is worth waiting for; any other condition ends the wait.
    const SenseStatus sense = GetSCSIErrorStatus();
    const bool in_progress = SenseKeyOf(sense) == 0x02 && SenseAscOf(sense) == 0x04 &&
                             (SenseAscqOf(sense) == 0x01 || SenseAscqOf(sense) == 0x04 ||
                              SenseAscqOf(sense) == 0x07 || SenseAscqOf(sense) == 0x08);
    if (!in_progress) return false;
    if (platform::ElapsedMs(started) >= kReadyWaitMs) {
      std::printf("drive not ready after %d ms.\n", kReadyWaitMs);
      return false;
    }
    clock.SleepFor(std::chrono::milliseconds(kReadyPollMs));
  }
}

void DiscDrive::AbandonWritePass() {
  writing_ = false;
  fifo_.Clear();
}

}  // namespace sorvel
