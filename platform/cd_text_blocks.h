// The texts of a CD-Text block in the block's character code, and how many
// 18-byte packs the block takes: the mastering engine builds its packs from
// the same bytes, and a burn refuses texts that a block cannot number before
// it touches the disc.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace sorvel::platform {

constexpr int kCdTextBlockCount = 2;  // 0 English, 1 Japanese
constexpr int kCdTextKinds = 6;       // 0 title .. 5 message
constexpr int kCdTextPackData = 12;   // text bytes a pack carries
constexpr int kCdTextSizePacks = 3;   // the size-information packs that close a block
// The sequence number of a pack within its block is one byte.
constexpr int kCdTextPacksPerBlock = 256;

// `utf8` in the character code of block `block`: ISO 8859-1 in the English
// block 0 (a character outside it becomes "?"), CP932 in the Japanese block 1.
std::string CdTextBlockBytes(int block, std::string_view utf8);

// The packs block `block` takes for the disc (entry 0) and tracks 1 ..
// `tracks`, `text(entry, kind)` giving each text in UTF-8: for every kind
// that any entry has, the kind's texts (an empty one as a blank) with their
// terminators in packs of 12 bytes, then the size-information packs. 0 when
// the block has no text.
int CdTextPacksOfBlock(int block, int tracks, const std::function<std::string(int entry, int kind)>& text);

}  // namespace sorvel::platform
