#include "device_engine/subchannel_interleave.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

#include "device_engine/mmc_drive.h"
#include "device_engine/subcode_test_util.h"

namespace sorvel {
namespace {

using Block = std::array<uint8_t, 96>;

// The drive's sector layout and the subchannel forms share one size.
static_assert(kCdSectorWithSubSize == kCdMainSize + kSubchannelSize && kSubchannelSize == 96);

Block Deinterleave(const Block& pw) { return subcode_test::DeinterleavePw(pw.data()); }

TEST(SubchannelInterleaveTest, RandomBlocksRoundTrip) {
  std::mt19937 rng(42);
  for (int round = 0; round < 200; ++round) {
    Block channels;
    for (auto& b : channels) b = static_cast<uint8_t>(rng());
    Block pw{};
    SubchannelChannelsToPw(channels.data(), pw.data());
    ASSERT_EQ(Deinterleave(pw), channels) << round;
  }
}

struct ChannelCase {
  int channel;  // 0 = P .. 7 = W
  uint8_t symbol_bit;
};

class SingleChannelTest : public ::testing::TestWithParam<ChannelCase> {};

// One full channel sets one bit in every symbol; nothing else leaks.
TEST_P(SingleChannelTest, FullChannelSetsItsBitEverywhere) {
  Block channels{};
  for (int i = 0; i < 12; ++i) channels[GetParam().channel * 12 + i] = 0xFF;
  Block pw{};
  SubchannelChannelsToPw(channels.data(), pw.data());
  for (int k = 0; k < 96; ++k) EXPECT_EQ(pw[k], GetParam().symbol_bit) << k;
}

INSTANTIATE_TEST_SUITE_P(Channels, SingleChannelTest,
                         ::testing::Values(ChannelCase{0, 0x80}, ChannelCase{1, 0x40}, ChannelCase{2, 0x20},
                                           ChannelCase{3, 0x10}, ChannelCase{4, 0x08}, ChannelCase{5, 0x04},
                                           ChannelCase{6, 0x02}, ChannelCase{7, 0x01}));

TEST(SubchannelInterleaveTest, BitOrderWithinChannelBytes) {
  Block channels{};
  channels[12 + 0] = 0x80;  // Q, first bit: symbol 0
  channels[12 + 11] = 0x01;  // Q, last bit: symbol 95
  channels[7 * 12 + 1] = 0x40;  // W, byte 1 bit 6: symbol 9
  Block pw{};
  SubchannelChannelsToPw(channels.data(), pw.data());
  for (int k = 0; k < 96; ++k) {
    const uint8_t expected = k == 0 ? 0x40 : k == 95 ? 0x40 : k == 9 ? 0x01 : 0x00;
    EXPECT_EQ(pw[k], expected) << k;
  }
}

}  // namespace
}  // namespace sorvel
