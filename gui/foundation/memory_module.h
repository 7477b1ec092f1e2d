// Byte-buffer routines for the fixed-size records exchanged with the engines.
// Every length is checked against the buffers given: a copy or clear that
// would run past a buffer does nothing and reports false.
#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sorvel {

// Number of elements of an array (0 when it has none).
template <typename Container>
int32_t ArrayCount(const Container& array) {
  return static_cast<int32_t>(std::size(array));
}

// Copies `length` bytes (the blocks may overlap). False, nothing copied, when
// either buffer is shorter than `length`.
bool CopyMemory(std::span<uint8_t> destination, std::span<const uint8_t> source, size_t length);

// Zeroes the first `length` bytes. False, nothing changed, when the buffer is shorter.
bool ZeroMemory(std::span<uint8_t> destination, size_t length);
bool ZeroByteArray(QByteArray& array, qsizetype length);
bool ZeroByteArray(std::vector<uint8_t>& array, size_t length);

// The 32-bit pattern read as unsigned: -1 gives 4294967295.
inline int64_t ULongToCurrency(int32_t value) { return static_cast<int64_t>(static_cast<uint32_t>(value)); }

}  // namespace sorvel
