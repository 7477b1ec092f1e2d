#include "gui/foundation/crc.h"

namespace sorvel {
namespace {

constexpr uint32_t kNormalPolynomial[3] = {0x1021, 0x8005, 0x04C11DB7};
constexpr uint32_t kReflectedPolynomial[3] = {0x8408, 0xA001, 0xEDB88320};

}  // namespace

Crc::Crc() { Initialize(0); }

bool Crc::Initialize(int16_t kind) {
  if (kind == 2) return InitializeEx(2, 1, 0xFFFFFFFFu, true);
  return InitializeEx(kind, 1, 0xFFFF, false);
}

bool Crc::InitializeEx(int16_t kind, int16_t shift, uint32_t initial_value, bool invert_result) {
  if (kind < 0 || kind > 2) return false;
  kind_ = kind;
  reflected_ = shift == 1;
  invert_result_ = invert_result;
  const int width = kind == 2 ? 32 : 16;
  const uint32_t top = 1u << (width - 1);
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c;
    if (reflected_) {
      c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kReflectedPolynomial[kind] : c >> 1;
    } else {
      // Most significant bit first, the usual form for all three widths.
      c = n << (width - 8);
      for (int k = 0; k < 8; ++k) c = (c & top) ? (c << 1) ^ kNormalPolynomial[kind] : c << 1;
    }
    table_[n] = c & Mask();
  }
  // The register never holds bits above the CRC's width, so that a reflected
  // 16-bit update cannot shift stray high bits into the result.
  initial_value_ = initial_value & Mask();
  Clear();
  return true;
}

void Crc::Clear() { register_ = initial_value_; }

uint32_t Crc::GetCRC() const { return (invert_result_ ? ~register_ : register_) & Mask(); }

void Crc::SetCRC(uint32_t crc) { register_ = (invert_result_ ? ~crc : crc) & Mask(); }

bool Crc::CalcBlock(std::span<const uint8_t> buffer, int64_t position, int64_t size) {
  if (position < 0 || size < 0 || static_cast<uint64_t>(position) > buffer.size() ||
      static_cast<uint64_t>(size) > buffer.size() - static_cast<uint64_t>(position)) {
    return false;
  }
  uint32_t r = register_;
  const uint8_t* p = buffer.data() + position;
  const uint8_t* end = p + size;
  if (reflected_) {
    for (; p != end; ++p) r = (r >> 8) ^ table_[(r ^ *p) & 0xFF];
  } else {
    const int high = kind_ == 2 ? 24 : 8;
    for (; p != end; ++p) r = ((r << 8) & Mask()) ^ table_[(*p ^ (r >> high)) & 0xFF];
  }
  register_ = r;
  return true;
}

}  // namespace sorvel
