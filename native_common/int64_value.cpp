#include "native_common/int64_value.h"

#include "native_common/lib_exception.h"

namespace sorvel {
namespace {

bool Negative(uint64_t bits) { return (bits >> 63) != 0; }
uint64_t Magnitude(uint64_t bits) { return Negative(bits) ? ~bits + 1 : bits; }

}  // namespace

Int64Value::Int64Value(int32_t value) : bits_(static_cast<uint64_t>(static_cast<int64_t>(value))) {}

Int64Value::Int64Value(int32_t high, uint32_t low)
    : bits_((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low) {}

Int64Value Int64Value::FromInt64(int64_t value) { return FromBits(static_cast<uint64_t>(value)); }

Int64Value operator/(Int64Value a, Int64Value b) {
  if (b.bits_ == 0) throw LibException(kDividedByZero);
  // On magnitudes, so INT64_MIN / -1 wraps to INT64_MIN instead of trapping.
  uint64_t q = Magnitude(a.bits_) / Magnitude(b.bits_);
  return Int64Value::FromBits(Negative(a.bits_) != Negative(b.bits_) ? ~q + 1 : q);
}

Int64Value operator%(Int64Value a, Int64Value b) { return a - (a / b) * b; }

Int64Value Int64Value::ShiftRight() const {
  return FromBits((bits_ >> 1) | (bits_ & (uint64_t{1} << 63)));
}

Int64Value Int64Value::Parse(const char* text) {
  if (text == nullptr) return Int64Value();
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  uint64_t bits = 0;
  for (; *p >= '0' && *p <= '9'; ++p) bits = bits * 10 + static_cast<uint64_t>(*p - '0');
  return FromBits(negative ? ~bits + 1 : bits);
}

}  // namespace sorvel
