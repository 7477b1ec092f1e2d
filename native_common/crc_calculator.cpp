#include "native_common/crc_calculator.h"

namespace sorvel {

namespace {

struct KindParameters {
  int width;
  uint32_t normal;     // polynomial, most significant bit first
  uint32_t reflected;  // the same polynomial bit-reversed
};

constexpr KindParameters kKinds[3] = {
    {16, 0x1021u, 0x8408u},
    {16, 0x8005u, 0xA001u},
    {32, 0x04C11DB7u, 0xEDB88320u},
};

}  // namespace

CrcCalculator::CrcCalculator() { Setup(0, true, 0xFFFFu, false); }

bool CrcCalculator::Setup(int kind, bool reflected, uint32_t initial_value, bool final_inversion) {
  if (kind < 0 || kind > 2) return false;
  const KindParameters& p = kKinds[kind];
  kind_ = kind;
  reflected_ = reflected;
  final_inversion_ = final_inversion;
  const uint32_t mask = WidthMask();
  initial_value_ = initial_value & mask;
  if (reflected) {
    polynomial_ = p.reflected;
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ polynomial_ : c >> 1;
      table_[i] = c;
    }
  } else {
    polynomial_ = p.normal;
    const uint32_t top = 1u << (p.width - 1);
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i << (p.width - 8);
      for (int bit = 0; bit < 8; ++bit) c = (c & top) ? (c << 1) ^ polynomial_ : c << 1;
      table_[i] = c & mask;
    }
  }
  register_ = initial_value_;
  return true;
}

bool CrcCalculator::SetupStandard(int kind) {
  if (kind == 0 || kind == 1) return Setup(kind, true, 0xFFFFu, false);
  if (kind == 2) return Setup(kind, true, 0xFFFFFFFFu, true);
  return false;
}

void CrcCalculator::Update(const void* data, size_t length) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t r = register_;
  if (reflected_) {
    for (size_t i = 0; i < length; ++i) r = (r >> 8) ^ table_[(bytes[i] ^ r) & 0xFFu];
  } else {
    // The table index comes from the register's top byte of the kind's width.
    const int shift = kind_ == 2 ? 24 : 8;
    const uint32_t mask = WidthMask();
    for (size_t i = 0; i < length; ++i) r = ((r << 8) ^ table_[(bytes[i] ^ (r >> shift)) & 0xFFu]) & mask;
  }
  register_ = r;
}

uint32_t CrcCalculator::Result() const {
  const uint32_t value = final_inversion_ ? ~register_ : register_;
  return value & WidthMask();
}

void CrcCalculator::SetValue(uint32_t value) { register_ = (final_inversion_ ? ~value : value) & WidthMask(); }

}  // namespace sorvel
