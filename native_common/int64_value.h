// Signed 64-bit integer (two's complement) kept as a low and a high 32-bit word.
// Arithmetic wraps modulo 2^64 instead of overflowing; INT64_MIN / -1 gives
// INT64_MIN with remainder 0. Division by zero throws "divided by zero".
#pragma once

#include <cstdint>

namespace sorvel {

class Int64Value {
 public:
  Int64Value() = default;
  Int64Value(int32_t value);  // NOLINT: sign-extended, implicit like an int
  Int64Value(int32_t high, uint32_t low);
  static Int64Value FromInt64(int64_t value);

  uint32_t Low() const { return static_cast<uint32_t>(bits_); }
  int32_t High() const { return static_cast<int32_t>(static_cast<uint32_t>(bits_ >> 32)); }
  int64_t Value() const { return static_cast<int64_t>(bits_); }

  friend Int64Value operator+(Int64Value a, Int64Value b) { return FromBits(a.bits_ + b.bits_); }
  friend Int64Value operator-(Int64Value a, Int64Value b) { return FromBits(a.bits_ - b.bits_); }
  Int64Value operator-() const { return FromBits(~bits_ + 1); }
  friend Int64Value operator*(Int64Value a, Int64Value b) { return FromBits(a.bits_ * b.bits_); }
  // Truncates toward zero.
  friend Int64Value operator/(Int64Value a, Int64Value b);
  // a - (a / b) * b: the sign of a.
  friend Int64Value operator%(Int64Value a, Int64Value b);
  // Arithmetic shift: the sign is kept.
  Int64Value ShiftRight() const;

  friend bool operator==(Int64Value a, Int64Value b) { return a.bits_ == b.bits_; }
  friend bool operator!=(Int64Value a, Int64Value b) { return a.bits_ != b.bits_; }
  friend bool operator<(Int64Value a, Int64Value b) { return a.Value() < b.Value(); }
  friend bool operator<=(Int64Value a, Int64Value b) { return a.Value() <= b.Value(); }
  friend bool operator>(Int64Value a, Int64Value b) { return a.Value() > b.Value(); }
  friend bool operator>=(Int64Value a, Int64Value b) { return a.Value() >= b.Value(); }

  // Leading blanks, an optional "+" or "-", then decimal digits up to the first
  // non-digit (too many digits wrap). A null text gives 0.
  static Int64Value Parse(const char* text);

 private:
  static Int64Value FromBits(uint64_t bits) {
    Int64Value v;
    v.bits_ = bits;
    return v;
  }

  uint64_t bits_ = 0;
};

}  // namespace sorvel
