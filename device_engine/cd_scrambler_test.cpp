#include "device_engine/cd_scrambler.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "device_engine/subcode_test_util.h"

namespace sorvel {
namespace {

using subcode_test::ScramblingSequence;

TEST(CdScramblerTest, FirstBytesAreTheKnownSequence) {
  const uint8_t expected[16] = {0x01, 0x80, 0x00, 0x60, 0x00, 0x28, 0x00, 0x1E,
                                0x80, 0x08, 0x60, 0x06, 0xA8, 0x02, 0xFE, 0x81};
  CdScrambler scrambler;
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(scrambler.table()[i], expected[i]) << i;
}

TEST(CdScramblerTest, WholeTableFollowsTheShiftRegisterRecurrence) {
  CdScrambler scrambler;
  const std::vector<uint8_t> reference = ScramblingSequence(CdScrambler::kTableSize);
  ASSERT_EQ(scrambler.table().size(), 2340u);
  for (size_t i = 0; i < reference.size(); ++i) ASSERT_EQ(scrambler.table()[i], reference[i]) << i;
}

TEST(CdScramblerTest, ScramblesFromByteTwelveAndDescramblesBack) {
  std::mt19937 rng(7);
  std::vector<uint8_t> original(CdScrambler::kSectorSize);
  for (auto& b : original) b = static_cast<uint8_t>(rng());
  std::vector<uint8_t> sector = original;
  CdScrambler scrambler;
  scrambler.Scramble(sector.data());
  const std::vector<uint8_t> reference = ScramblingSequence(CdScrambler::kTableSize);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(sector[i], original[i]) << i;
  for (size_t i = 12; i < sector.size(); ++i) ASSERT_EQ(sector[i], original[i] ^ reference[i - 12]) << i;
  scrambler.Scramble(sector.data());
  EXPECT_EQ(sector, original);
}

TEST(CdScramblerTest, ZeroSectorBecomesTheSequenceItself) {
  std::vector<uint8_t> sector(CdScrambler::kSectorSize, 0);
  CdScrambler().Scramble(sector.data());
  const std::vector<uint8_t> reference = ScramblingSequence(CdScrambler::kTableSize);
  EXPECT_TRUE(std::equal(reference.begin(), reference.end(), sector.begin() + 12));
}

}  // namespace
}  // namespace sorvel
