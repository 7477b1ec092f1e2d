#include "gui/foundation/crc.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace sorvel {
namespace {

std::span<const uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

uint32_t CrcOf(Crc& crc, std::string_view text) {
  crc.Clear();
  EXPECT_TRUE(crc.CalcBlock(Bytes(text), 0, static_cast<int64_t>(text.size())));
  return crc.GetCRC();
}

TEST(CrcTest, CheckValuesOfEveryKindAndForm) {
  struct Case {
    int16_t kind, shift;
    uint32_t initial;
    bool invert;
    const char* text;
    uint32_t expected;
  };
  const Case cases[] = {
      {0, 1, 0xFFFF, false, "123456789", 0x6F91},       // reflected CCITT
      {0, 1, 0xFFFF, false, "abc", 0x61DA},
      {1, 1, 0xFFFF, false, "123456789", 0x4B37},       // reflected CRC-16
      {2, 1, 0xFFFFFFFF, true, "123456789", 0xCBF43926},
      {2, 1, 0xFFFFFFFF, true, "abc", 0x352441C2},
      {0, 0, 0xFFFF, false, "123456789", 0x29B1},       // normal CCITT
      {0, 0, 0x0000, false, "123456789", 0x31C3},
      {1, 0, 0x0000, false, "123456789", 0xFEE8},       // normal CRC-16
      {1, 0, 0xFFFF, false, "123456789", 0xAEE7},
      {2, 0, 0xFFFFFFFF, true, "123456789", 0xFC891918},  // normal CRC-32
      {2, 0, 0xFFFFFFFF, false, "123456789", 0x0376E6E7},  // CRC-32/MPEG-2
      {0, 1, 0xFFFF, true, "123456789", 0x906E},        // reflected CCITT, inverted
  };
  for (const Case& c : cases) {
    Crc crc;
    ASSERT_TRUE(crc.InitializeEx(c.kind, c.shift, c.initial, c.invert));
    EXPECT_EQ(CrcOf(crc, c.text), c.expected) << c.kind << "/" << c.shift << " " << c.text;
  }
}

TEST(CrcTest, InitializeSetsUpTheUsualKindsAndRefusesOthers) {
  Crc crc;  // set up as kind 0
  EXPECT_EQ(CrcOf(crc, "abc"), 0x61DAu);
  ASSERT_TRUE(crc.Initialize(2));
  EXPECT_EQ(CrcOf(crc, "abc"), 0x352441C2u);
  EXPECT_FALSE(crc.Initialize(3));
  EXPECT_FALSE(crc.Initialize(-1));
  EXPECT_FALSE(crc.InitializeEx(7, 1, 0, false));
  EXPECT_EQ(CrcOf(crc, "abc"), 0x352441C2u);  // previous settings kept
  ASSERT_TRUE(crc.Initialize(1));
  EXPECT_EQ(CrcOf(crc, "123456789"), 0x4B37u);
}

TEST(CrcTest, EmptyAndOutOfRangeBlocksLeaveTheRegister) {
  Crc crc;
  const std::vector<uint8_t> data{1, 2, 3, 4};
  EXPECT_TRUE(crc.CalcBlock(data, 2, 0));
  EXPECT_EQ(crc.GetCRC(), 65535u);
  EXPECT_FALSE(crc.CalcBlock(data, 2, 3));
  EXPECT_FALSE(crc.CalcBlock(data, -1, 1));
  EXPECT_FALSE(crc.CalcBlock(data, 5, 0));
  EXPECT_FALSE(crc.CalcBlock(data, 1, -1));
  EXPECT_EQ(crc.GetCRC(), 65535u);
  EXPECT_TRUE(crc.CalcBlock(data, 4, 0));
}

TEST(CrcTest, SetCrcContinuesAStoredValueInEveryForm) {
  const std::string_view text = "123456789";
  for (int16_t kind = 0; kind <= 2; ++kind) {
    for (int16_t shift : {int16_t{0}, int16_t{1}}) {
      for (bool invert : {false, true}) {
        Crc whole;
        ASSERT_TRUE(whole.InitializeEx(kind, shift, 0xFFFFFFFF, invert));
        const uint32_t expected = CrcOf(whole, text);

        Crc first;
        ASSERT_TRUE(first.InitializeEx(kind, shift, 0xFFFFFFFF, invert));
        first.CalcBlock(Bytes(text), 0, 4);
        Crc second;
        ASSERT_TRUE(second.InitializeEx(kind, shift, 0, invert));
        second.SetCRC(first.GetCRC() | (kind == 2 ? 0 : 0xABCD0000u));  // stray high bits are dropped
        EXPECT_EQ(second.GetCRC(), first.GetCRC());
        second.CalcBlock(Bytes(text), 4, 5);
        EXPECT_EQ(second.GetCRC(), expected) << kind << "/" << shift << "/" << invert;
      }
    }
  }
}

}  // namespace
}  // namespace sorvel
