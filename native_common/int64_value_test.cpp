#include "native_common/int64_value.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "native_common/lib_exception.h"

namespace sorvel {
namespace {

using I128 = __int128;

// Wraps a wide result to 64 bits the way two's complement hardware does.
int64_t Wrap(I128 v) { return static_cast<int64_t>(static_cast<uint64_t>(static_cast<unsigned __int128>(v))); }

const std::vector<int64_t> kValues = {
    0, 1, -1, 2, -2, 3, -7, 7, 1000000007, -1000000007, INT32_MAX, INT32_MIN,
    int64_t{INT32_MAX} + 1, int64_t{UINT32_MAX}, 0x123456789ABCDEFLL, -0x123456789ABCDEFLL,
    INT64_MAX, INT64_MIN, INT64_MAX - 1, INT64_MIN + 1,
};

TEST(Int64ValueTest, ArithmeticMatchesWideReference) {
  for (int64_t a : kValues) {
    for (int64_t b : kValues) {
      Int64Value x = Int64Value::FromInt64(a), y = Int64Value::FromInt64(b);
      EXPECT_EQ((x + y).Value(), Wrap(I128{a} + b)) << a << " + " << b;
      EXPECT_EQ((x - y).Value(), Wrap(I128{a} - b)) << a << " - " << b;
      EXPECT_EQ((x * y).Value(), Wrap(I128{a} * b)) << a << " * " << b;
      EXPECT_EQ(x == y, a == b);
      EXPECT_EQ(x != y, a != b);
      EXPECT_EQ(x < y, a < b);
      EXPECT_EQ(x <= y, a <= b);
      EXPECT_EQ(x > y, a > b);
      EXPECT_EQ(x >= y, a >= b);
      if (b == 0) continue;
      I128 q = I128{a} / b;  // truncates toward zero; no trap in 128 bits
      EXPECT_EQ((x / y).Value(), Wrap(q)) << a << " / " << b;
      EXPECT_EQ((x % y).Value(), Wrap(I128{a} - Wrap(q) * I128{b})) << a << " % " << b;
    }
    EXPECT_EQ((-Int64Value::FromInt64(a)).Value(), Wrap(-I128{a}));
    EXPECT_EQ(Int64Value::FromInt64(a).ShiftRight().Value(), a >> 1);
  }
}

TEST(Int64ValueTest, KnownResults) {
  EXPECT_EQ((Int64Value(-7) / Int64Value(2)).Value(), -3);
  EXPECT_EQ((Int64Value(-7) % Int64Value(2)).Value(), -1);
  EXPECT_EQ((Int64Value(7) % Int64Value(-2)).Value(), 1);
  Int64Value min = Int64Value::FromInt64(INT64_MIN);
  EXPECT_EQ((min / Int64Value(-1)).Value(), INT64_MIN);  // wraps, does not trap
  EXPECT_EQ((min % Int64Value(-1)).Value(), 0);
  EXPECT_EQ((-min).Value(), INT64_MIN);
  EXPECT_EQ((Int64Value::FromInt64(INT64_MAX) + Int64Value(1)).Value(), INT64_MIN);
  EXPECT_EQ(Int64Value(-3).ShiftRight().Value(), -2);
}

TEST(Int64ValueTest, WordsAndSignExtension) {
  Int64Value neg(-2);
  EXPECT_EQ(neg.High(), -1);
  EXPECT_EQ(neg.Low(), 0xFFFFFFFEu);
  Int64Value w(0x12345678, 0x9ABCDEF0u);
  EXPECT_EQ(w.Value(), 0x123456789ABCDEF0LL);
  EXPECT_EQ(w.High(), 0x12345678);
  EXPECT_EQ(w.Low(), 0x9ABCDEF0u);
  EXPECT_EQ(Int64Value(-1, 0xFFFFFFFFu).Value(), -1);
}

TEST(Int64ValueTest, DivisionByZeroThrows) {
  for (int64_t a : {int64_t{0}, int64_t{5}, INT64_MIN}) {
    try {
      (void)(Int64Value::FromInt64(a) / Int64Value(0));
      ADD_FAILURE() << "no exception";
    } catch (const LibException& e) {
      EXPECT_STREQ(e.what(), "divided by zero");
    }
    EXPECT_THROW((void)(Int64Value::FromInt64(a) % Int64Value(0)), LibException);
  }
}

TEST(Int64ValueTest, Parse) {
  struct Case {
    const char* text;
    int64_t value;
  };
  const Case cases[] = {
      {"  -12a", -12},
      {"+34", 34},
      {"\t 9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"18446744073709551617", 1},  // wraps
      {"abc", 0},
      {"", 0},
      {"- 5", 0},
      {"007x9", 7},
  };
  for (const Case& c : cases) EXPECT_EQ(Int64Value::Parse(c.text).Value(), c.value) << c.text;
  EXPECT_EQ(Int64Value::Parse(nullptr).Value(), 0);
}

}  // namespace
}  // namespace sorvel
