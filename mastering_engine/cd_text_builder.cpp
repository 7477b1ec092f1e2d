#include "mastering_engine/cd_text_builder.h"

#include <array>
#include <cstdio>
#include <string>

#include "native_common/crc_calculator.h"
#include "platform/cd_text_blocks.h"

namespace sorvel {

namespace {

constexpr uint8_t kLanguageCodes[2] = {0x09, 0x69};
constexpr uint8_t kCharacterCodes[2] = {0x00, 0x80};
constexpr uint8_t kDoubleByteFlag = 0x80;
constexpr uint8_t kSizeInfoType = 0x8F;
constexpr int kSizeInfoPacks = platform::kCdTextSizePacks;
constexpr int kDataBytes = platform::kCdTextPackData;

}  // namespace

uint16_t CdTextPackCrc(const uint8_t* pack) {
  CrcCalculator crc;
  crc.Setup(0, false, 0, true);
  crc.Update(pack, 16);
  return static_cast<uint16_t>(crc.Result());
}

void CdTextBuilder::SetEntry(int entry, const TrackTextBlock& texts) {
  if (entry < 0) return;
  if (static_cast<size_t>(entry) >= entries_.size()) entries_.resize(static_cast<size_t>(entry) + 1);
  entries_[static_cast<size_t>(entry)] = texts;
}

void CdTextBuilder::Clear() {
  entries_.clear();
  packs_.clear();
}

bool CdTextBuilder::BuildBlock(int block, int block_number, int track_count) {
  const int char_bytes = block == 0 ? 1 : 2;
  const std::string blank = block == 0 ? std::string(" ") : std::string("\x81\x40", 2);
  const std::string terminator(static_cast<size_t>(char_bytes), '\0');
  const uint8_t flags = static_cast<uint8_t>((block == 1 ? kDoubleByteFlag : 0) | block_number << 4);

  // The block's texts in its character code, by entry and kind.
  std::vector<std::array<std::string, TrackTextBlock::kKinds>> texts(static_cast<size_t>(track_count) + 1);
  bool kind_present[TrackTextBlock::kKinds] = {};
  bool any = false;
  for (size_t e = 0; e < texts.size() && e < entries_.size(); ++e) {
    for (int kind = 0; kind < TrackTextBlock::kKinds; ++kind) {
      const std::string& text = entries_[e].Get(block, kind);
      if (text.empty()) continue;
      texts[e][static_cast<size_t>(kind)] = platform::CdTextBlockBytes(block, text);
      kind_present[kind] = true;
      any = true;
    }
  }
  if (!any) return false;

  std::vector<uint8_t> out;
  int kind_packs[TrackTextBlock::kKinds] = {};
  int sequence = 0;
  for (int kind = 0; kind < TrackTextBlock::kKinds; ++kind) {
    if (!kind_present[kind]) continue;
    std::string stream;
    std::vector<uint8_t> entry_of;     // entry number of every stream byte
    std::vector<uint8_t> position_of;  // character position of every stream byte
    for (size_t e = 0; e < texts.size(); ++e) {
      std::string text = texts[e][static_cast<size_t>(kind)];
      if (text.empty()) text = blank;
      text += terminator;
      for (size_t i = 0; i < text.size(); ++i) {
        entry_of.push_back(static_cast<uint8_t>(e));
        size_t position = i / static_cast<size_t>(char_bytes);
        position_of.push_back(static_cast<uint8_t>(position < 15 ? position : 15));
      }
      stream += text;
    }
    size_t padded = (stream.size() + kDataBytes - 1) / kDataBytes * kDataBytes;
    stream.resize(padded, '\0');
    for (size_t offset = 0; offset < stream.size(); offset += kDataBytes) {
      uint8_t pack[kPackSize] = {};
      pack[0] = static_cast<uint8_t>(0x80 + kind);
      pack[1] = entry_of[offset];
      pack[2] = static_cast<uint8_t>(sequence);
      pack[3] = static_cast<uint8_t>(flags | position_of[offset]);
      for (int i = 0; i < kDataBytes; ++i) pack[4 + i] = static_cast<uint8_t>(stream[offset + static_cast<size_t>(i)]);
      out.insert(out.end(), pack, pack + kPackSize);
      ++sequence;
      ++kind_packs[kind];
    }
  }
  // A burn refuses such texts before it starts (platform/cd_text_blocks.h);
  // packs numbered past 255 would only repeat the numbers of others.
  if (sequence + kSizeInfoPacks > kMaxPacksPerBlock) {
    std::printf("CD-Text block %d needs %d packs, more than %d: the block is left out.\n", block,
                sequence + kSizeInfoPacks, kMaxPacksPerBlock);
    return false;
  }

  for (int i = 0; i < kSizeInfoPacks; ++i) {
    uint8_t pack[kPackSize] = {};
    pack[0] = kSizeInfoType;
    pack[1] = static_cast<uint8_t>(i);
    pack[2] = static_cast<uint8_t>(sequence + i);
    pack[3] = flags;
    if (i == 0) {
      pack[4] = kCharacterCodes[block];
      pack[5] = 1;
      pack[6] = static_cast<uint8_t>(track_count);
      pack[7] = 0;
      for (int kind = 0; kind < TrackTextBlock::kKinds; ++kind) pack[8 + kind] = static_cast<uint8_t>(kind_packs[kind]);
    } else if (i == 1) {
      pack[4 + 7] = kSizeInfoPacks;
    }
    out.insert(out.end(), pack, pack + kPackSize);
  }
  packs_.insert(packs_.end(), out.begin(), out.end());
  return true;
}

bool CdTextBuilder::Build(int track_count) {
  packs_.clear();
  if (track_count < 0) track_count = 0;
  uint8_t last_sequence[8] = {};
  uint8_t languages[8] = {};
  int blocks = 0;
  for (int block = 0; block < TrackTextBlock::kBlocks; ++block) {
    size_t before = packs_.size();
    if (!BuildBlock(block, blocks, track_count)) continue;
    int count = static_cast<int>((packs_.size() - before) / kPackSize);
    last_sequence[blocks] = static_cast<uint8_t>(count - 1);
    languages[blocks] = kLanguageCodes[block];
    ++blocks;
  }
  if (packs_.empty()) return false;

  for (size_t offset = 0; offset < packs_.size(); offset += kPackSize) {
    uint8_t* pack = &packs_[offset];
    if (pack[0] == kSizeInfoType && pack[1] == 1) {
      for (int b = 0; b < 4; ++b) pack[12 + b] = last_sequence[b];
    } else if (pack[0] == kSizeInfoType && pack[1] == 2) {
      for (int b = 0; b < 4; ++b) pack[4 + b] = last_sequence[4 + b];
      for (int b = 0; b < 8; ++b) pack[8 + b] = languages[b];
    }
    uint16_t crc = CdTextPackCrc(pack);
    pack[16] = static_cast<uint8_t>(crc >> 8);
    pack[17] = static_cast<uint8_t>(crc);
  }
  return true;
}

}  // namespace sorvel
