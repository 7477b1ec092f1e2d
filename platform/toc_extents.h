// The track entries of a disc's table of contents checked whole, before a
// write starts or an emulated disc is served: numbers in order, every entry
// inside what a medium can address, each starting after the one before and
// ending at or after its own start. Everything is computed in 64 bits, so no
// value read from a file or a bus can wrap on the way. One routine serves the
// descriptor readers, the disc jobs and the emulated drive's image loader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sorvel::platform {

// One (session, track, index) stretch of a disc: its first and last LBA, both
// included.
struct TocExtent {
  int64_t session = 1;
  int64_t track = 1;
  int64_t index = 1;
  int64_t start = 0;
  int64_t end = 0;
};

// The lowest and highest LBA an entry may touch.
struct TocBounds {
  int64_t first_lba = 0;
  int64_t last_lba = 0;
};

// A CD: the first pregap starts at LBA -150, and 99:59:74 (LBA 449,849) is the
// last address an MSF time can name.
inline constexpr TocBounds kCdBounds{-150, 99 * 4500 + 59 * 75 + 74 - 150};
// Any medium: the largest disc written here, a four-layer BD-R XL, holds
// 62,500,864 sectors of 2,048 bytes.
inline constexpr TocBounds kAnyDiscBounds{0, 62500864 - 1};

// 2,048-byte sectors may go to any medium; raw (2,352) and Mode 2 (2,336)
// sectors only to a CD.
constexpr TocBounds BoundsOfSectorSize(int64_t sector_size) {
  return sector_size == 2048 ? kAnyDiscBounds : kCdBounds;
}

enum class TocFault {
  kNone,
  kEmpty,           // no entry at all
  kNumbering,       // session, track or index number out of range or out of order
  kStartOrder,      // starts no later than the entry before
  kStartOutOfRange, // starts outside the bounds
  kEndBeforeStart,  // ends before it starts (a negative length)
  kEndOutOfRange,   // ends beyond the bounds
  kOverlap,         // starts at or before the end of the entry before
};

// A fault of an entry's numbers or start, rather than of its end: the entry
// itself is misplaced, not the length it was given.
constexpr bool IsStartFault(TocFault fault) {
  return fault == TocFault::kNumbering || fault == TocFault::kStartOrder || fault == TocFault::kStartOutOfRange;
}

struct TocCheck {
  TocFault fault = TocFault::kNone;
  size_t entry = 0;  // the offending entry (0-based)
  bool ok() const { return fault == TocFault::kNone; }
};

// Sessions count from 1 and rise by one at a time, each beginning with a new
// track; track numbers (1..99) rise; a track's indexes (0..99) begin at 0 or
// 1 and rise, and index 0 is followed by index 1. Starts are checked first, over all entries, so
// that an entry placed out of order is blamed rather than the length its
// neighbour got from it; then every end.
inline TocCheck CheckTocExtents(std::span<const TocExtent> entries, const TocBounds& bounds) {
  if (entries.empty()) return {TocFault::kEmpty, 0};
  auto in_bounds = [&bounds](int64_t lba) { return lba >= bounds.first_lba && lba <= bounds.last_lba; };
  for (size_t k = 0; k < entries.size(); ++k) {
    const TocExtent& e = entries[k];
    if (e.session < 1 || e.session > 99 || e.track < 1 || e.track > 99 || e.index < 0 || e.index > 99) {
      return {TocFault::kNumbering, k};
    }
    if (k == 0) {
      if (e.session != 1 || e.index > 1) return {TocFault::kNumbering, k};
    } else {
      const TocExtent& p = entries[k - 1];
      const bool new_track = e.track != p.track;
      const bool numbered =
          new_track ? e.track > p.track && e.index <= 1 && p.index >= 1 &&
                          (e.session == p.session || e.session == p.session + 1)
                    : e.session == p.session && e.index > p.index && (p.index > 0 || e.index == 1);
      if (!numbered) return {TocFault::kNumbering, k};
    }
    if (!in_bounds(e.start)) return {TocFault::kStartOutOfRange, k};
    if (k > 0 && e.start <= entries[k - 1].start) return {TocFault::kStartOrder, k};
  }
  // The last track must reach index 1 too.
  if (entries.back().index < 1) return {TocFault::kNumbering, entries.size() - 1};
  for (size_t k = 0; k < entries.size(); ++k) {
    const TocExtent& e = entries[k];
    if (e.end < e.start) return {TocFault::kEndBeforeStart, k};
    if (!in_bounds(e.end)) return {TocFault::kEndOutOfRange, k};
    if (k > 0 && e.start <= entries[k - 1].end) return {TocFault::kOverlap, k};
  }
  return {};
}

// The sectors the entries cover; meaningful for entries that passed the check.
inline int64_t TocSectorCount(std::span<const TocExtent> entries) {
  int64_t sectors = 0;
  for (const TocExtent& e : entries) sectors += e.end - e.start + 1;
  return sectors;
}

}  // namespace sorvel::platform
