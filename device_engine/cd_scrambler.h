// The CD-ROM sector scrambler: bytes 12..2351 of a raw sector are XORed with the
// sequence of a 15-bit shift register (x^15 + x + 1, preset to 1, least
// significant bit first). Applying it twice gives the sector back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sorvel {

class CdScrambler {
 public:
  static constexpr size_t kSectorSize = 2352;
  static constexpr size_t kStart = 12;  // the sync pattern stays clear
  static constexpr size_t kTableSize = kSectorSize - kStart;  // 2,340

  CdScrambler() = default;

  // XORs bytes 12..2351 of a 2,352-byte sector with the table (scrambles a
  // clear sector, descrambles a scrambled one).
  void Scramble(uint8_t* sector) const;

  const std::array<uint8_t, kTableSize>& table() const { return table_; }

 private:
  static const std::array<uint8_t, kTableSize> table_;
};

}  // namespace sorvel
