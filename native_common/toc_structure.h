// The disc's table of contents as five fixed-capacity parts with fixed byte
// layouts (little-endian), exchanged part by part between the engines.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sorvel {

enum TOCStructureTypeConstants : int32_t {
  TST_TOC = 0,
  TST_RAWTOC = 1,
  TST_MCN = 2,
  TST_ISRC = 3,
  TST_CDTEXT = 4,
};

enum SectorModeConstants : uint8_t {
  SMC_AUDIO = 0,
  SMC_MODE1 = 1,
  SMC_MODE2 = 2,
};

enum TrackControlFieldConstants : uint8_t {
  TCF_PREEMPHASIS = 1,
  TCF_COPYPERMITTED = 2,
  TCF_DATATRACK = 4,
};

// One track index: a track with a pregap has an index 0 entry before its index 1 entry.
struct TOCTrack {
  static constexpr size_t kSize = 13;

  uint8_t SessionNo = 0;   // from 1
  uint8_t TrackNo = 0;     // 1..99
  uint8_t IndexNo = 0;     // 0 pregap, 1 the track proper
  uint8_t Flags = 0;       // TrackControlFieldConstants
  uint8_t SectorMode = 0;  // SectorModeConstants
  int32_t StartLBA = 0;
  int32_t EndLBA = 0;  // inclusive

  void Store(uint8_t* out) const;  // writes kSize bytes
  static TOCTrack Load(const uint8_t* in);
  bool operator==(const TOCTrack&) const = default;
};

// One raw TOC descriptor in READ TOC format 2 order, binary values (not BCD).
struct TOCRawTrack {
  static constexpr size_t kSize = 11;

  uint8_t SessionNo = 0;
  uint8_t AdrControl = 0;  // ADR in the high nibble, control in the low nibble
  uint8_t Track = 0;
  uint8_t Point = 0;
  uint8_t Minute = 0;
  uint8_t Second = 0;
  uint8_t Frame = 0;
  uint8_t Zero = 0;
  uint8_t PMinute = 0;
  uint8_t PSecond = 0;
  uint8_t PFrame = 0;

  void Store(uint8_t* out) const;
  static TOCRawTrack Load(const uint8_t* in);
  bool operator==(const TOCRawTrack&) const = default;
};

// One 18-byte CD-Text pack.
struct TOCCDText {
  static constexpr size_t kSize = 18;

  uint8_t PacketType = 0;
  uint8_t TrackNo = 0;
  uint8_t PacketNo = 0;
  uint8_t Flags = 0;  // bit 7 double-byte, bits 4-6 block, bits 0-3 character position
  std::array<uint8_t, 12> Data{};
  std::array<uint8_t, 2> Crc{};  // CRC of bytes 0-15, high byte first

  void Store(uint8_t* out) const;
  static TOCCDText Load(const uint8_t* in);
  bool operator==(const TOCCDText&) const = default;
};

// The byte-only entries have no padding, so their in-memory form is their layout.
static_assert(sizeof(TOCRawTrack) == TOCRawTrack::kSize);
static_assert(sizeof(TOCCDText) == TOCCDText::kSize);

using McnCode = std::array<char, 13>;   // 13 ASCII digits; all zero bytes: none
using IsrcCode = std::array<char, 12>;  // 12 ASCII characters; all zero bytes: none

class TocStructure {
 public:
  static constexpr int kTrackCapacity = 256;
  static constexpr int kRawTrackCapacity = 128;
  static constexpr int kIsrcCapacity = 100;
  static constexpr int kCdTextCapacity = 512;
  static constexpr size_t kIsrcSize = 12;
  static constexpr size_t kMcnSize = 13;

  // Largest exchange buffer of each counted part: the 16-bit count and every entry.
  static constexpr int32_t kTrackPartSize = 2 + kTrackCapacity * TOCTrack::kSize;         // 3,330
  static constexpr int32_t kRawTrackPartSize = 2 + kRawTrackCapacity * TOCRawTrack::kSize;  // 1,410
  static constexpr int32_t kIsrcPartSize = 2 + kIsrcCapacity * kIsrcSize;                  // 1,202
  static constexpr int32_t kCdTextPartSize = 2 + kCdTextCapacity * TOCCDText::kSize;       // 9,218

  TocStructure() = default;

  // Every count and every byte of every part to 0.
  void Clear();

  // Copies a part out: the 16-bit count and then the entries, at most `size`
  // bytes and no more than the count covers; the MCN part gives up to 13 bytes.
  // Returns the bytes copied, 0 for an unknown part or a size too small to copy
  // (a counted part below 3 bytes, so an empty counted part gives 0).
  int32_t GetPart(int32_t part, void* buffer, int32_t size) const;

  // Copies a part in from the exchange form. The size is cut to the part's
  // largest buffer; entries past the given bytes keep their previous bytes. The
  // stored count is clamped to the part's capacity and to the entries the given
  // bytes cover, so no reader ever runs past a part. The MCN part takes exactly
  // 13 bytes from a buffer of at least 14 (13 digits and a terminating byte).
  // Returns the bytes taken, 0 when refused.
  int32_t SetPart(int32_t part, const void* buffer, int32_t size);

  // Entries of the counted parts (TST_TOC, TST_RAWTOC, TST_ISRC, TST_CDTEXT);
  // 0 for any other part.
  int Count(int32_t part) const;
  // Sets the count of a counted part, clamped to 0..capacity; false for other parts.
  bool SetCount(int32_t part, int count);

  // Typed entries. Indexes run over the part's capacity; an index outside it
  // throws std::out_of_range. The Add functions append at the count and return
  // false when the part is full.
  TOCTrack Track(int index) const;
  void SetTrack(int index, const TOCTrack& track);
  bool AddTrack(const TOCTrack& track);

  TOCRawTrack RawTrack(int index) const;
  void SetRawTrack(int index, const TOCRawTrack& raw);
  bool AddRawTrack(const TOCRawTrack& raw);

  // ISRC entry n - 1 belongs to track n.
  IsrcCode Isrc(int index) const;
  void SetIsrc(int index, const IsrcCode& isrc);

  TOCCDText CdText(int index) const;
  void SetCdText(int index, const TOCCDText& pack);
  bool AddCdText(const TOCCDText& pack);

  McnCode Mcn() const;
  void SetMcn(const McnCode& mcn);

  // SessionNo of the last track entry; 0 without entries.
  int LastSession() const;
  // EndLBA of the last track entry of `session`; 0 when the session has none.
  int32_t SessionEndLBA(int session) const;
  // Refused (false, nothing changed) when length <= 0; otherwise the structure
  // becomes one entry: session 1, track 1, index 1, StartLBA 0, EndLBA length - 1,
  // SectorMode `mode` and Flags TCF_DATATRACK unless `mode` is audio.
  bool MakeSingleTrackToc(uint8_t mode, int32_t length);

  bool operator==(const TocStructure&) const = default;

 private:
  struct PartShape {
    size_t entry_size;  // 0 for parts without a count
    int capacity;
    int32_t max_size;
  };
  static PartShape Shape(int32_t part);
  // The part's bytes: the 16-bit count, then the entries; null for other parts.
  uint8_t* CountedPart(int32_t part);
  const uint8_t* CountedPart(int32_t part) const;
  uint8_t* Entry(int32_t part, int index);
  const uint8_t* Entry(int32_t part, int index) const;

  std::array<uint8_t, kTrackPartSize> tracks_{};
  std::array<uint8_t, kRawTrackPartSize> raw_tracks_{};
  std::array<uint8_t, kMcnSize> mcn_{};
  std::array<uint8_t, kIsrcPartSize> isrcs_{};
  std::array<uint8_t, kCdTextPartSize> cd_texts_{};
};

}  // namespace sorvel
