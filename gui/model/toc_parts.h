// The TOC model in the engines' exchange form: five parts, each a 16-bit
// little-endian count followed by fixed-size entries (the MCN part 13 bytes
// when read, 13 and a zero byte when written). Both engine bindings use it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "gui/model/toc_information.h"

namespace sorvel {

struct TocPartShape {
  int32_t entry_size;  // 0 for the MCN part
  int32_t capacity;    // entries
  int32_t read_size;   // buffer of the part as read
  int32_t write_size;  // buffer of the part as written
};

// Parts 0 (track entries), 1 (raw entries), 2 (MCN), 3 (ISRC), 4 (CD-Text).
constexpr int32_t kTocPartCount = 5;
const TocPartShape& TocPart(int32_t part);

// Reads part `part` into `buffer` of `size` bytes; returns the bytes copied,
// 0 or less when the engine has none.
using TocPartReader = std::function<int32_t(int32_t part, void* buffer, int32_t size)>;
using TocPartWriter = std::function<void(int32_t part, const void* buffer, int32_t size)>;

// A new TOC model from the parts that `read` gives; a part taken only when
// it gave more than 0 bytes, its count clamped to the capacity and to the
// entries the copied bytes hold. Never null.
std::unique_ptr<TOCInformation> ReadTocParts(const TocPartReader& read);

// The first counted part (0, 1, 3 or 4) whose list in `toc` is longer than
// the part holds; -1 when every list fits.
int32_t OverfullTocPart(const TOCInformation& toc);

// Hands the five parts of `toc` to `write` in order. A list longer than its
// part's capacity would lose its tail: then nothing is handed over and the
// answer is false.
bool WriteTocParts(const TOCInformation& toc, const TocPartWriter& write);

// The most track entries a disc write takes: the drive's cue sheet is built
// from at most this many (99 tracks with a pregap each need 198).
constexpr int32_t kMaxWriteTocEntries = 200;

// Why `toc` cannot be written whole (more track entries than a write takes,
// more CD-Text packs, raw entries or ISRCs than the engine's parts hold); empty
// when it can.
QString TocWriteLimitText(const TOCInformation& toc);

}  // namespace sorvel
