#include "native_common/crc_calculator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>
#include <vector>

namespace sorvel {
namespace {

const char kCheck[] = "123456789";

struct CatalogueCase {
  const char* name;
  int kind;
  bool reflected;
  uint32_t initial;
  bool inverted;
  uint32_t check;  // published check value over "123456789"
};

class CrcCatalogueTest : public ::testing::TestWithParam<CatalogueCase> {};

TEST_P(CrcCatalogueTest, CheckValue) {
  const CatalogueCase& c = GetParam();
  CrcCalculator crc;
  ASSERT_TRUE(crc.Setup(c.kind, c.reflected, c.initial, c.inverted));
  crc.Update(kCheck, 9);
  EXPECT_EQ(crc.Result(), c.check) << c.name;
  // Start() brings the register back: the same text again gives the same value.
  crc.Start();
  crc.Update(kCheck, 4);
  crc.Update(kCheck + 4, 5);
  EXPECT_EQ(crc.Result(), c.check) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, CrcCatalogueTest,
    ::testing::Values(CatalogueCase{"CRC-16/MCRF4XX", 0, true, 0xFFFF, false, 0x6F91},
                      CatalogueCase{"CRC-16/GSM (subchannel Q)", 0, false, 0x0000, true, 0xCE3C},
                      CatalogueCase{"CRC-16/XMODEM", 0, false, 0x0000, false, 0x31C3},
                      CatalogueCase{"CRC-16/KERMIT", 0, true, 0x0000, false, 0x2189},
                      CatalogueCase{"CRC-16/IBM-SDLC", 0, true, 0xFFFF, true, 0x906E},
                      CatalogueCase{"CRC-16/IBM-3740", 0, false, 0xFFFF, false, 0x29B1},
                      CatalogueCase{"CRC-16/GENIBUS", 0, false, 0xFFFF, true, 0xD64E},
                      CatalogueCase{"CRC-16/MODBUS", 1, true, 0xFFFF, false, 0x4B37},
                      CatalogueCase{"CRC-16/ARC", 1, true, 0x0000, false, 0xBB3D},
                      CatalogueCase{"CRC-16/UMTS", 1, false, 0x0000, false, 0xFEE8},
                      CatalogueCase{"CRC-16/MAXIM-DOW", 1, true, 0x0000, true, 0x44C2},
                      CatalogueCase{"CRC-16/USB", 1, true, 0xFFFF, true, 0xB4C8},
                      CatalogueCase{"CRC-32/ISO-HDLC", 2, true, 0xFFFFFFFF, true, 0xCBF43926},
                      CatalogueCase{"CRC-32/JAMCRC", 2, true, 0xFFFFFFFF, false, 0x340BC6D9},
                      CatalogueCase{"CRC-32/BZIP2", 2, false, 0xFFFFFFFF, true, 0xFC891918},
                      CatalogueCase{"CRC-32/MPEG-2", 2, false, 0xFFFFFFFF, false, 0x0376E6E7}));

TEST(CrcCalculatorTest, DefaultIsKindZeroReflectedFromFFFF) {
  CrcCalculator crc;
  EXPECT_EQ(crc.kind(), 0);
  EXPECT_TRUE(crc.reflected());
  EXPECT_EQ(crc.polynomial(), 0x8408u);
  crc.Update(kCheck, 9);
  EXPECT_EQ(crc.Result(), 0x6F91u);
}

TEST(CrcCalculatorTest, SetupStandard) {
  const uint32_t expected[3] = {0x6F91, 0x4B37, 0xCBF43926};
  for (int kind = 0; kind < 3; ++kind) {
    CrcCalculator crc;
    ASSERT_TRUE(crc.SetupStandard(kind));
    crc.Update(kCheck, 9);
    EXPECT_EQ(crc.Result(), expected[kind]) << kind;
  }
  CrcCalculator crc;
  EXPECT_FALSE(crc.SetupStandard(3));
  EXPECT_FALSE(crc.SetupStandard(-1));
}

TEST(CrcCalculatorTest, BadKindChangesNothing) {
  CrcCalculator crc;
  ASSERT_TRUE(crc.SetupStandard(2));
  EXPECT_FALSE(crc.Setup(3, false, 0, false));
  EXPECT_FALSE(crc.Setup(-1, false, 0, false));
  EXPECT_EQ(crc.kind(), 2);
  crc.Update(kCheck, 9);
  EXPECT_EQ(crc.Result(), 0xCBF43926u);
}

TEST(CrcCalculatorTest, SetValueIsReportedByResult) {
  for (bool inverted : {false, true}) {
    CrcCalculator crc;
    ASSERT_TRUE(crc.Setup(0, false, 0, inverted));
    crc.SetValue(0x1234);
    EXPECT_EQ(crc.Result(), 0x1234u);
    ASSERT_TRUE(crc.Setup(2, true, 0xFFFFFFFF, inverted));
    crc.SetValue(0xDEADBEEF);
    EXPECT_EQ(crc.Result(), 0xDEADBEEFu);
  }
}

TEST(CrcCalculatorTest, SetValueResumesARunningCrc) {
  // Storing an intermediate result and loading it back continues the same CRC.
  for (int kind = 0; kind < 3; ++kind) {
    for (bool reflected : {false, true}) {
      for (bool inverted : {false, true}) {
        CrcCalculator whole;
        ASSERT_TRUE(whole.Setup(kind, reflected, 0xFFFFFFFF, inverted));
        whole.Update(kCheck, 9);
        CrcCalculator part;
        ASSERT_TRUE(part.Setup(kind, reflected, 0xFFFFFFFF, inverted));
        part.Update(kCheck, 3);
        const uint32_t mid = part.Result();
        part.Start();
        part.SetValue(mid);
        part.Update(kCheck + 3, 6);
        EXPECT_EQ(part.Result(), whole.Result()) << kind << reflected << inverted;
      }
    }
  }
}

// Bit-serial CRC straight from the polynomial definition, for comparison.
uint32_t BitwiseCrc(int width, uint32_t poly, bool reflected, uint32_t init, bool inverted,
                    const std::vector<uint8_t>& data) {
  const uint32_t mask = width == 32 ? 0xFFFFFFFFu : (1u << width) - 1;
  uint32_t reg = init & mask;
  for (uint8_t byte : data) {
    for (int bit = 0; bit < 8; ++bit) {
      const int in = reflected ? (byte >> bit) & 1 : (byte >> (7 - bit)) & 1;
      const int top = (reg >> (width - 1)) & 1;
      reg = (reg << 1) & mask;
      if (top ^ in) reg ^= poly;
    }
  }
  if (reflected) {
    uint32_t r = 0;
    for (int i = 0; i < width; ++i) r |= ((reg >> i) & 1u) << (width - 1 - i);
    reg = r;
  }
  return (inverted ? ~reg : reg) & mask;
}

TEST(CrcCalculatorTest, MatchesBitSerialDefinitionOnRandomData) {
  const int widths[3] = {16, 16, 32};
  const uint32_t polys[3] = {0x1021, 0x8005, 0x04C11DB7};
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    std::vector<uint8_t> data(rng() % 300);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const uint32_t init = rng();
    for (int kind = 0; kind < 3; ++kind) {
      for (bool reflected : {false, true}) {
        for (bool inverted : {false, true}) {
          CrcCalculator crc;
          ASSERT_TRUE(crc.Setup(kind, reflected, init, inverted));
          crc.Update(data.data(), data.size());
          // The reflected register starts from the bit-reversed initial value.
          uint32_t model_init = init;
          if (reflected) {
            model_init = 0;
            for (int i = 0; i < widths[kind]; ++i) model_init |= ((init >> i) & 1u) << (widths[kind] - 1 - i);
          }
          EXPECT_EQ(crc.Result(), BitwiseCrc(widths[kind], polys[kind], reflected, model_init, inverted, data))
              << kind << reflected << inverted << " len " << data.size();
        }
      }
    }
  }
}

}  // namespace
}  // namespace sorvel
