#include "gui/foundation/memory_module.h"

#include <gtest/gtest.h>

#include <array>

namespace sorvel {
namespace {

TEST(MemoryModuleTest, CopiesAndClearsStayInsideTheirBuffers) {
  std::array<uint8_t, 8> target{};
  const std::array<uint8_t, 4> source{1, 2, 3, 4};
  EXPECT_TRUE(CopyMemory(target, source, 4));
  EXPECT_EQ(target[3], 4);
  EXPECT_FALSE(CopyMemory(target, source, 5));      // source too short
  EXPECT_FALSE(CopyMemory(std::span<uint8_t>(target).first(2), source, 3));  // target too short
  EXPECT_EQ(target[4], 0);

  // Overlapping blocks move like memmove.
  std::array<uint8_t, 6> overlap{1, 2, 3, 4, 5, 6};
  EXPECT_TRUE(CopyMemory(std::span<uint8_t>(overlap).subspan(1), overlap, 5));
  EXPECT_EQ(overlap, (std::array<uint8_t, 6>{1, 1, 2, 3, 4, 5}));

  QByteArray bytes("abcdef");
  EXPECT_TRUE(ZeroByteArray(bytes, 3));
  EXPECT_EQ(bytes, QByteArray("\0\0\0def", 6));
  EXPECT_FALSE(ZeroByteArray(bytes, 7));
  EXPECT_FALSE(ZeroByteArray(bytes, -1));
  std::vector<uint8_t> vec(4, 9);
  EXPECT_TRUE(ZeroByteArray(vec, 4));
  EXPECT_EQ(vec, std::vector<uint8_t>(4, 0));
  EXPECT_FALSE(ZeroMemory(vec, 5));
}

TEST(MemoryModuleTest, UnsignedWideningAndArrayCount) {
  EXPECT_EQ(ULongToCurrency(-1), 4294967295LL);
  EXPECT_EQ(ULongToCurrency(0), 0);
  EXPECT_EQ(ULongToCurrency(INT32_MIN), 2147483648LL);
  EXPECT_EQ(ArrayCount(std::vector<int>{}), 0);
  EXPECT_EQ(ArrayCount(std::array<int, 3>{}), 3);
}

}  // namespace
}  // namespace sorvel
