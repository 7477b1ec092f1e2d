// Disc-level passes over an MMC drive: a read pass identifies the medium,
// reads its TOC and then hands out one sector at a time while the drive is
// read in blocks; a write pass (the same object) puts a whole image on a
// medium. The CD family reads raw sectors with subchannel, the DVD, BD and
// HD DVD families 2,048-byte user data.
#pragma once

#include <cstdint>
#include <vector>

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

// Write mode of a write pass (the sector form sent to the drive).
enum CDWriteCommandConstants : int32_t {
  CCC_SAO = 0,         // session at once: CD 2,352 bytes, DVD family 2,048
  CCC_SAO_RAW = 1,     // session at once, 2,352 bytes of raw main channel
  CCC_SAO_RAW96 = 2,   // session at once, raw + 96 bytes of P-W subchannel
  CCC_DAO_RAW16 = 3,   // raw from the lead-in, + 16 bytes of P-Q
  CCC_DAO_RAW96 = 4,   // raw from the lead-in, + 96 bytes of interleaved P-W
};

// Data type of WriteLBA.
enum CDSectorDataConstants : int32_t {
  CSD_SECTORONLY = 0,      // CD: audio 2,352 / Mode 1 2,048 / Mode 2 2,336 bytes to encode; DVD family 2,048
  CSD_MAINCHANNEL = 1,     // 2,352 bytes of main channel
  CSD_MAINSUBCHANNEL = 2,  // 2,352 bytes of main channel + 96 bytes of channel-separated subchannel
  CSD_GENERATED = 4,       // no data: an empty sector is generated
  CSD_ERRORDATA = 0x8000,  // no data: CD writes a sector marked unreadable
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

  // While a read or write pass is open: the family of the medium the pass
  // started on, whatever the drive answers now (callers size their sector
  // buffers by it); otherwise the drive is asked.
  int32_t GetMediaFamilyType() override;

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

  // Opens a write pass of `write_mode` (CDWriteCommandConstants) with
  // CDDiscDataConstants `flags` for the image that `toc` describes; returns a
  // CDBIOSReturnConstants code.
  virtual int32_t WriteStart(int32_t write_mode, int32_t flags, TocStructure toc);
  // Hands over the sector of `lba` (CDSectorDataConstants `type`, null data:
  // generated). Sectors go out in LBA order; a gap is filled with generated
  // sectors.
  virtual bool WriteLBA(int32_t type, const uint8_t* data, int32_t lba);
  // Ends the write pass: without `abort` the image is padded to its last LBA
  // and every queued sector sent; then the drive cache is synchronised and the
  // session closed.
  virtual bool WriteEnd(bool abort);

  // Bytes of the caller's data for a WriteLBA of `type` on `family` (0 for the
  // types that carry none, -1 for an unknown type).
  static int32_t WriteDataSize(int32_t family, int32_t type);

  // Longest wait for the drive to become ready after synchronising a DVD-family disc.
  static constexpr int kReadyWaitMs = 30 * 60 * 1000;
  static constexpr int kReadyPollMs = 100;

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
  // Writing: sectors not yet sent and the LBA of the first.
  ChunkFifo fifo_;
  int32_t fifo_lba_ = 0;
  // Reading: the last block read, whose bytes [ahead_at_, ahead_end_) are
  // the sectors from ahead_lba_ on. The buffer is kept from block to block.
  std::vector<uint8_t> ahead_;
  size_t ahead_at_ = 0;
  size_t ahead_end_ = 0;
  int32_t ahead_lba_ = 0;
  CueSubcodeBuilder builder_;

  // Write pass: the next LBA to be written, the session being written and the
  // LBA its tables were built from.
  int32_t current_lba_ = 0;
  int session_ = 1;
  int32_t session_start_lba_ = 0;

  // Bytes of one block of the open write pass, fixed when the pass started.
  int32_t write_block_length_ = 0;

  // Appends one sector (block-length bytes of the `size` bytes at `sector`;
  // false when they are fewer) to the block FIFO and sends every full block
  // with WRITE(10).
  bool QueueSector(const uint8_t* sector, size_t size);
  // Sends what is left in the block FIFO, zero-padded to whole blocks.
  bool FlushSectors();
  // Ends an open write pass without any drive command (the drive is gone).
  void AbandonWritePass();

 private:
  int32_t StartCdWrite(int32_t write_mode, int32_t flags);
  int32_t StartDvdWrite(int32_t write_mode, int32_t flags);
  // Blocks a recorded rewritable DVD-family disc will hold once erased.
  int32_t ErasedDvdCapacity();
  // Whether an image whose last LBA is `last_lba` lies below `limit`; says
  // why not when it does not.
  static bool ImageFits(int32_t limit, int32_t last_lba);
  bool WriteCdSector(int32_t type, const uint8_t* data);
  bool WriteDvdSector(int32_t type, const uint8_t* data);
  bool FillGap(int32_t lba);
  // Moves the write position of a raw pass back to `lba`, dropping queued
  // sectors at and after it; false when they were sent already.
  bool MoveWritePositionBack(int32_t lba);
  void CheckSessionChange();
  bool EndCdWrite(bool abort);
  bool EndDvdWrite(bool abort);
  bool PadToLastLba();
  bool WaitUntilReady();

  int32_t StartCdRead(int32_t read_command, int32_t flags);
  int32_t StartDvdRead(int32_t read_command, int32_t flags);
  void ResetReadState();
  bool HasSubchannel() const { return command_ == CCC_RAW16 || command_ == CCC_RAW96; }
  size_t SectorSize() const { return ReadSectorSize(media_family_, command_); }

  bool ReadCdSector(uint8_t* buffer, int32_t lba);
  bool ReadDvdSector(uint8_t* buffer, int32_t lba);
  // Block reading with read-ahead and the single-sector fall-back.
  bool ReadThroughBlock(uint8_t* buffer, int32_t lba);
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
