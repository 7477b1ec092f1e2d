// Table-driven CRC-16 / CRC-32 calculator with a choice of bit order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sorvel {

// Kinds: 0 = CRC-16 polynomial 0x1021 (0x8408 reflected), 1 = CRC-16 polynomial
// 0x8005 (0xA001 reflected), 2 = CRC-32 polynomial 0x04C11DB7 (0xEDB88320 reflected).
class CrcCalculator {
 public:
  // Kind 0, reflected, initial value 0xFFFF, no final inversion.
  CrcCalculator();

  // Builds the table for `kind` and loads the register with `initial_value`.
  // Returns false (and changes nothing) for a kind outside 0..2.
  bool Setup(int kind, bool reflected, uint32_t initial_value, bool final_inversion);

  // Kinds 0 and 1: reflected, initial 0xFFFF, no inversion; kind 2: reflected,
  // initial 0xFFFFFFFF, inverted (the usual CRC-32). Other kinds: false.
  bool SetupStandard(int kind);

  // Register back to the initial value.
  void Start() { register_ = initial_value_; }

  void Update(const void* data, size_t length);

  // Kinds 0 and 1: the low 16 bits, kind 2: 32 bits; inverted when set up so.
  uint32_t Result() const;

  // Loads the register so that Result() reports `value` before further updates.
  void SetValue(uint32_t value);

  int kind() const { return kind_; }
  bool reflected() const { return reflected_; }
  uint32_t polynomial() const { return polynomial_; }
  uint32_t initial_value() const { return initial_value_; }
  bool final_inversion() const { return final_inversion_; }

 private:
  uint32_t WidthMask() const { return kind_ == 2 ? 0xFFFFFFFFu : 0xFFFFu; }

  int kind_ = 0;
  bool reflected_ = true;
  uint32_t polynomial_ = 0;
  uint32_t initial_value_ = 0;
  bool final_inversion_ = false;
  std::array<uint32_t, 256> table_{};
  uint32_t register_ = 0;
};

}  // namespace sorvel
