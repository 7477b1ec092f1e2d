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

// Hands the five parts of `toc` to `write` in order. Lists longer than a
// part's capacity give their first entries only.
void WriteTocParts(const TOCInformation& toc, const TocPartWriter& write);

}  // namespace sorvel
