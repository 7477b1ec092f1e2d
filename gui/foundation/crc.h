// Table-driven CRC calculator: CRC-16 CCITT (kind 0), CRC-16 (kind 1) and
// CRC-32 (kind 2), each reflected (least significant bit first) or normal.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace sorvel {

class Crc {
 public:
  // A new calculator is set up as Initialize(0).
  Crc();

  // The usual set-up of a kind: 0 and 1 reflected with initial 0xFFFF and no
  // final inversion; 2 reflected with initial 0xFFFFFFFF and final inversion.
  // Any other kind returns false and changes nothing.
  bool Initialize(int16_t kind);
  // `shift` 1 selects the reflected form, any other value the normal form.
  bool InitializeEx(int16_t kind, int16_t shift, uint32_t initial_value, bool invert_result);

  // Register = initial value.
  void Clear();
  // The CRC so far (16-bit kinds: the low 16 bits).
  uint32_t GetCRC() const;
  // Continues from a stored CRC: GetCRC() then returns `crc` (16-bit kinds: its low 16 bits).
  void SetCRC(uint32_t crc);
  // Feeds buffer[position .. position + size - 1]. False, register unchanged,
  // when that range does not lie inside the buffer.
  bool CalcBlock(std::span<const uint8_t> buffer, int64_t position, int64_t size);

 private:
  uint32_t Mask() const { return kind_ == 2 ? 0xFFFFFFFFu : 0xFFFFu; }

  std::array<uint32_t, 256> table_{};
  uint32_t initial_value_ = 0;
  uint32_t register_ = 0;
  int16_t kind_ = 0;
  bool reflected_ = true;
  bool invert_result_ = false;
};

}  // namespace sorvel
