#include "device_engine/cd_scrambler.h"

#include <cstring>

namespace sorvel {

namespace {

constexpr std::array<uint8_t, CdScrambler::kTableSize> MakeTable() {
  std::array<uint8_t, CdScrambler::kTableSize> table{};
  uint32_t reg = 1;
  for (auto& byte : table) {
    uint8_t value = 0;
    for (int bit = 0; bit < 8; ++bit) {
      value = static_cast<uint8_t>(value | (reg & 1u) << bit);
      const uint32_t feedback = (reg ^ (reg >> 1)) & 1u;
      reg = (reg >> 1) | (feedback << 14);
    }
    byte = value;
  }
  return table;
}

}  // namespace

const std::array<uint8_t, CdScrambler::kTableSize> CdScrambler::table_ = MakeTable();

void CdScrambler::Scramble(uint8_t* sector) const {
  uint8_t* p = sector + kStart;
  size_t i = 0;
  for (; i + 8 <= kTableSize; i += 8) {
    uint64_t a;
    uint64_t b;
    std::memcpy(&a, p + i, 8);
    std::memcpy(&b, table_.data() + i, 8);
    a ^= b;
    std::memcpy(p + i, &a, 8);
  }
  for (; i < kTableSize; ++i) p[i] ^= table_[i];
}

}  // namespace sorvel
