// Turns the disc and track texts into 18-byte CD-Text packs: an English block
// (language 0x09, one byte a character) and a Japanese block (language 0x69,
// CP932, two bytes a character), each closed by three size-information packs.
#pragma once

#include <cstdint>
#include <vector>

#include "mastering_engine/track_text_block.h"
#include "platform/cd_text_blocks.h"

namespace sorvel {

class CdTextBuilder {
 public:
  static constexpr int kPackSize = 18;
  // The sequence number of a pack is one byte, so a block holds at most 256 packs;
  // two blocks fill the 512 packs the TOC structure carries.
  static constexpr int kMaxPacksPerBlock = platform::kCdTextPacksPerBlock;
  static constexpr int kMaxPacks = 512;

  // Sets the texts of an entry: 0 the disc, k the track with TOC track number k.
  void SetEntry(int entry, const TrackTextBlock& texts);
  void Clear();

  // Builds the packs for tracks 1..track_count. False when no pack results.
  // A block whose texts need more than 256 packs produces none (a line on
  // standard output says so).
  bool Build(int track_count);

  int PackCount() const { return static_cast<int>(packs_.size() / kPackSize); }
  // PackCount() packs of 18 bytes, CRC included.
  const std::vector<uint8_t>& Packs() const { return packs_; }

 private:
  // Appends the packs of one block; false when the block has no text or overflows.
  bool BuildBlock(int block, int block_number, int track_count);

  std::vector<TrackTextBlock> entries_;
  std::vector<uint8_t> packs_;
};

// The CD-Text CRC of a pack: CRC-16 0x1021 over bytes 0-15, initial 0, inverted.
uint16_t CdTextPackCrc(const uint8_t* pack);

}  // namespace sorvel
