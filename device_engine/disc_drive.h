// Disc-level passes over an MMC drive: a read pass identifies the medium,
// reads its TOC and then hands out one sector at a time while the drive is
// read in blocks; a write pass (the same object) puts a whole image on a
// medium. The CD family reads raw sectors with subchannel, the DVD, BD and
// HD DVD families 2,048-byte user data.
#pragma once

#include <cstdint>

#include "device_engine/cue_subcode_builder.h"
#include "device_engine/mmc_drive.h"
#include "native_common/chunk_fifo.h"
#include "native_common/toc_structure.h"

namespace sorvel {

// Read command of a read pass (the ReadCd read type on CD).
enum CDReadCommandConstants : int32_t {
  CCC_DATA = 0,   // 2,048 bytes of user data (DVD family only)
  CCC_RAW = 1,    // 2,352 bytes of main channel
  CCC_RAW16 = 2,  // 2,352 + 96 bytes, P and Q filled
  CCC_RAW96 = 3,  // 2,352 + 96 bytes, P to W
};

// Flags of ReadStart and WriteStart.
enum CDDiscDataConstants : int32_t {
  CDD_MAINDATA = 0,
  CDD_FIRSTPREGAP = 0x4,           // CD read: search the first pregap backwards from LBA -1
  CDD_NOPREGAP = 0x4000,           // CD read: no pregap search for later tracks
  CDD_FIRSTSESSIONONLY = 0x8000,   // CD read: only session 1 gives TOC entries
  CDD_OPCOFF = 0x40000,            // write: no optimum power calibration
  CDD_OVERBURN = 0x80000,          // write, CD raw modes: no capacity check
  CDD_COLLECTSUBPQ = 0x800000,     // correct P and regenerate bad Q of every sector
};

// Bits of the flags that select a data assortment; a read pass takes none.
constexpr int32_t kCdDataAssortmentMask = 0x3;
constexpr int32_t kDvdDataAssortmentMask = 0x7;

// Results of ReadStart and WriteStart.
enum CDBIOSReturnConstants : int32_t {
  CBR_OK = 0,
  CBR_ALREADYRUNNING = 1,
  CBR_UNKNOWNMEDIA = 2,
  CBR_IGNOREDATAASSORTMENT = 3,
  CBR_IGNOREREADCOMMAND = 4,
  CBR_IGNOREWRITECOMMAND = 5,
  CBR_TOCREADERROR = 6,
  CBR_NOTEMPTY = 7,
  CBR_RWFORMATERROR = 8,
  CBR_OVERCAPACITY = 9,
};

class DiscDrive : public MmcDrive {
 public:
  // Sectors a drive read (or WRITE(10)) covers: 1..26.
  static constexpr int16_t kMaxBufferingBlockLength = 26;
  // Sectors before LBA 0 that the first pregap spans.
  static constexpr int32_t kFirstPregapLength = 150;
  // Sectors from a session's last LBA to the end of its lead-out area.
  static constexpr int32_t kSessionGapSectors = 6751;
  // Bytes of one sector in the caller's buffer.
  static constexpr size_t kDvdSectorSize = kUserDataSize;  // 2,048

  DiscDrive();
  ~DiscDrive() override;

  // While a read pass is open: the whole pass TOC (with the MCN and ISRCs
  // collected so far) copied to `out`; otherwise false.
  virtual bool CopySessionToc(TocStructure* out) const;
  // First and last LBA (inclusive) of the open read or write pass, else 0.
  virtual int32_t GetFirstLBA() const;
  virtual int32_t GetLastLBA() const;
  // Sectors per drive read; taken when 1..26, ignored otherwise.
  virtual void SetBufferingBlockLength(int32_t sectors);

  // Opens a read pass: CDReadCommandConstants, CDDiscDataConstants; returns a
  // CDBIOSReturnConstants code. CBR_ALREADYRUNNING when a write pass is open
  // (an open read pass is ended first). On success the disc's TOC goes to
  // `toc_out` (when given).
  virtual int32_t ReadStart(int32_t read_command, int32_t flags, TocStructure* toc_out);
  virtual bool ReadEnd();
  // One sector of the open pass. `buffer` takes 2,352 bytes (CCC_RAW), 2,448
  // bytes (CCC_RAW16, CCC_RAW96: main channel and 96 bytes of subchannel in
  // channel-separated form) or 2,048 bytes (DVD family).
  virtual bool ReadLBA(uint8_t* buffer, int32_t lba);
  // A replacement for a sector that cannot be read, the same size as ReadLBA's.
  virtual bool ReadLBADummy(uint8_t* buffer, int32_t lba);

  bool IsReading() const { return reading_; }
  bool IsWriting() const { return writing_; }
  int16_t buffering_block_length() const { return buffering_block_length_; }
  // Absolute time of the last valid Q minus the LBA that was asked for.
  int32_t subchannel_offset() const { return subchannel_offset_; }
  // Track and index of the last valid position Q read (0 before any).
  int current_track() const { return current_track_; }
  int current_index() const { return current_index_; }

  // Bytes one sector of `read_command` takes in a caller's buffer on `family`.
  static size_t ReadSectorSize(int32_t family, int32_t read_command);

 protected:
  // Media of the pass, taken when a pass starts.
  int32_t media_type_ = 0;
  int32_t media_family_ = 0;
  // Command and flags of the pass (read or write).
  int32_t command_ = 0;
  int32_t flags_ = 0;
  // At most one pass is open. A write pass sets `writing_` for its whole
  // length; a read pass never starts while it is set.
  bool reading_ = false;
  bool writing_ = false;
  int32_t first_lba_ = 0;
  int32_t last_lba_ = 0;  // inclusive
  TocStructure toc_;
  int16_t buffering_block_length_ = kMaxBufferingBlockLength;
  // Sectors read ahead (or, writing, not yet sent) and the LBA of the first.
  ChunkFifo fifo_;
  int32_t fifo_lba_ = 0;
  CueSubcodeBuilder builder_;

 private:
  int32_t StartCdRead(int32_t read_command, int32_t flags);
  int32_t StartDvdRead(int32_t read_command, int32_t flags);
  void ResetReadState();
  bool HasSubchannel() const { return command_ == CCC_RAW16 || command_ == CCC_RAW96; }
  size_t SectorSize() const { return ReadSectorSize(media_family_, command_); }

  bool ReadCdSector(uint8_t* buffer, int32_t lba);
  bool ReadDvdSector(uint8_t* buffer, int32_t lba);
  // Block reading with read-ahead and the single-sector fall-back.
  bool ReadThroughFifo(uint8_t* buffer, int32_t lba);
  bool ReadFromDrive(uint8_t* buffer, int32_t lba, int32_t count);
  // A first-pregap sector the drive cannot read, made from the first readable one.
  bool SynthesizePregapSector(uint8_t* buffer, int32_t lba);
  // Current track, MCN and ISRC from Q; P and Q correction with CDD_COLLECTSUBPQ.
  void ExamineSubchannel(uint8_t* sector, int32_t lba);
  void HarvestMcn(const uint8_t* q, int32_t lba);
  void HarvestIsrc(const uint8_t* q, int32_t lba);
  // The generated CD sector of `lba` with the subchannel of lba + offset.
  bool BuildDummyCdSector(uint8_t* buffer, int32_t lba);

  int32_t single_sector_countdown_ = 0;
  int32_t subchannel_offset_ = 0;
  int current_track_ = 0;
  int current_index_ = 0;
};

}  // namespace sorvel
