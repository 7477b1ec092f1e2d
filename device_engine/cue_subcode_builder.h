// CD layout knowledge of the write and read passes: the MMC cue sheet of one
// session, the lead-in Q tables and CD-Text, and for every sector position its
// type, main channel and generated P/Q subchannel, with correction, scrambling
// and the subchannel form each write mode appends. One builder serves one
// pass at a time: it is not for concurrent use.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "device_engine/cd_scrambler.h"
#include "native_common/crc_calculator.h"
#include "native_common/ecc_encoder.h"
#include "native_common/toc_structure.h"

namespace sorvel {

class CueSubcodeBuilder {
 public:
  static constexpr int32_t kSectorSize = 2352;
  static constexpr int32_t kSubchannelSize = 96;
  static constexpr int32_t kPqBlockSize = 16;
  static constexpr int32_t kCueEntrySize = 8;
  static constexpr int kMaxCueEntries = 255;
  static constexpr int32_t kMaxCueSheetSize = kMaxCueEntries * kCueEntrySize;  // 2,040
  static constexpr int kMaxTocEntries = 200;
  static constexpr int kLeadInTableCapacity = 128;

  // Sector types.
  static constexpr int kAudio = 0;
  static constexpr int kMode1 = 1;
  static constexpr int kMode2 = 2;

  // Write modes (sector sent to the drive): 0 2,352 cooked, 1 2,352 raw,
  // 2 raw + 96 channel-separated, 3 raw + 16-byte P-Q, 4 raw + 96 interleaved P-W.
  static constexpr int32_t kModeSao = 0;
  static constexpr int32_t kModeSaoRaw = 1;
  static constexpr int32_t kModeSaoRaw96 = 2;
  static constexpr int32_t kModeRaw16 = 3;
  static constexpr int32_t kModeRaw96 = 4;

  CueSubcodeBuilder();

  // Builds the cue sheet, the lead-in tables and the TOC copy of `session`
  // (`start_lba`: the lead-in start in raw modes). False, with an empty cue
  // sheet, when the TOC holds no entry of the session, holds more than
  // kMaxTocEntries entries or the session needs more cue entries than a cue
  // sheet holds.
  bool BuildCueSheet(const TocStructure& toc, int32_t write_mode, int32_t start_lba, int session);

  // Copies min(size of the sheet, room) bytes of the cue sheet as the drive
  // takes it (first entry at 00:00:00; in write modes other than 0 the tracks
  // carry main data form 0x00) and returns the whole sheet's size.
  int32_t CopyCueSheet(void* buffer, int32_t room) const;
  int CueEntryCount() const { return cue_count_; }

  // 0 audio, 1 Mode 1, 2 Mode 2, from the cue entry in force at `lba`.
  int SectorType(int32_t lba) const;

  // 2,352 bytes of main channel into `out`. Audio: `data` copied, or zeros
  // without data. Mode 1 / Mode 2 with data and not `user_data`: the 2,352
  // bytes copied. With `user_data`: 2,048 (Mode 1) or 2,336 (Mode 2, form by
  // its subheader) bytes from `data` placed at offset 16 and encoded for `lba`.
  // Without data: an encoded empty Mode 1 sector, or a Mode 2 sync and header.
  // Returns 2,352.
  int32_t BuildMainChannel(int sector_type, int32_t lba, uint8_t* out, const uint8_t* data, bool user_data) const;

  // 96 channel-separated bytes (P 0-11, Q 12-23, R-W 24-95) generated for
  // `lba`; returns the sector type of `lba`.
  int BuildSubchannel(uint8_t* out, int32_t lba) const;

  // The generated Q (12 bytes), three zero bytes and byte 15 = 0x80 when the
  // generated P is set.
  void BuildPqBlock(uint8_t* out, int32_t lba) const;

  // The sector of `lba` as write mode `write_mode` sends it: main channel from
  // `data` (may be null), subchannel from `subchannel` (96 channel-separated
  // bytes, may be null) or generated. Learns the subchannel offset from a valid
  // ADR-1 Q handed over; `correct` repairs P and Q of the handed-over
  // subchannel. `out` needs 2,448 bytes; returns the bytes written to it.
  int32_t BuildSector(uint8_t* out, const uint8_t* data, const uint8_t* subchannel, int32_t write_mode, int32_t lba,
                      bool user_data, bool correct);

  // Majority vote of a 12-byte P channel that is neither all clear nor all
  // set: all set when 48 or more of its 96 bits are, else all clear. Prints
  // the correction of `lba` (subchannel position `sub_lba`); true when P changed.
  static bool CorrectP(uint8_t* p, int32_t lba, int32_t sub_lba);

  // True when Q bytes 10-11 hold the CRC of bytes 0-9.
  bool IsQCrcValid(const uint8_t* q) const;
  // Stores the CRC of Q bytes 0-9 into bytes 10-11.
  void SetQCrc(uint8_t* q) const;

  int32_t write_mode() const { return write_mode_; }
  int32_t start_lba() const { return start_lba_; }
  int32_t subchannel_offset() const { return subchannel_offset_; }
  const TocStructure& toc() const { return toc_; }
  int lead_in_count1() const { return table1_count_; }
  int lead_in_count2() const { return table2_count_; }
  // Slots of the lead-in tables, times in BCD; index outside the count: an empty slot.
  TOCRawTrack LeadInSlot1(int index) const;
  TOCRawTrack LeadInSlot2(int index) const;

 private:
  struct CueEntry {
    std::array<uint8_t, kCueEntrySize> bytes;
    int32_t lba;  // start of the entry
  };

  bool AddCueEntry(uint8_t control_adr, uint8_t tno, uint8_t index, uint8_t data_form, int32_t lba);
  void BuildLeadInTables(int session);
  void RebuildLeadInTablesFromRawToc(int session);
  void PrintLeadInTables(const char* title) const;
  void PrepareDiscCodes();
  // Index of the cue entry in force at `lba` (the last one starting at or
  // before it; the first entry before all of them); -1 without entries.
  int EntryAt(int32_t lba) const;
  // Fills Q (12 bytes), P (twelve 0x00 or 0xFF into p) and, in the lead-in,
  // R-W (72 bytes into rw, may be null).
  void GenerateQ(int32_t lba, uint8_t* p, uint8_t* q, uint8_t* rw) const;
  void GenerateLeadInQ(int32_t lba, uint8_t* q, uint8_t* rw) const;
  void FillCdText(int64_t d, uint8_t* rw) const;

  std::array<CueEntry, kMaxCueEntries> cue_{};
  int cue_count_ = 0;
  int32_t write_mode_ = 0;
  int32_t start_lba_ = 0;
  TocStructure toc_;
  std::array<TOCRawTrack, kLeadInTableCapacity> table1_{};
  std::array<TOCRawTrack, kLeadInTableCapacity> table2_{};
  int table1_count_ = 0;
  int table2_count_ = 0;
  mutable CrcCalculator crc_;  // Q and CD-Text CRC: 0x1021, initial 0, inverted
  CdScrambler scrambler_;
  EccEncoder encoder_;
  int32_t subchannel_offset_ = 0;

  // Taken from the TOC copy at build time.
  bool has_mcn_ = false;
  std::array<uint8_t, 13> mcn_digits_{};
  std::array<bool, 100> has_isrc_{};                    // by track number
  std::array<std::array<uint8_t, 12>, 100> isrc_{};     // by track number
  std::vector<uint8_t> cd_text_;                        // packs, 18 bytes each, CRC set
};

}  // namespace sorvel
