#include "native_common/msf_time.h"

#include <gtest/gtest.h>

namespace sorvel {
namespace {

struct MsfVector {
  int32_t lba;
  uint8_t minute, second, frame;
};

class MsfVectorTest : public ::testing::TestWithParam<MsfVector> {};

TEST_P(MsfVectorTest, BothDirections) {
  const MsfVector& v = GetParam();
  const MsfTime msf = MsfTime::FromLba(v.lba);
  EXPECT_EQ(msf, MsfTime(v.minute, v.second, v.frame)) << v.lba;
  EXPECT_EQ(MsfTime(v.minute, v.second, v.frame).ToLba(), v.lba);
  EXPECT_EQ(MsfToLba(v.minute, v.second, v.frame), v.lba);
}

INSTANTIATE_TEST_SUITE_P(Known, MsfVectorTest,
                         ::testing::Values(MsfVector{0, 0, 2, 0}, MsfVector{-150, 0, 0, 0},
                                           MsfVector{-151, 99, 59, 74}, MsfVector{404849, 89, 59, 74},
                                           MsfVector{-45150, 90, 0, 0}, MsfVector{-1, 0, 1, 74},
                                           MsfVector{16, 0, 2, 16}, MsfVector{4350, 1, 0, 0},
                                           MsfVector{359849, 79, 59, 74}, MsfVector{-11250, 97, 32, 0}));

// Minutes 0..99 hold 450,000 addresses: -45,150 (90:00:00) up to 404,849 (89:59:74).
TEST(MsfTimeTest, EveryCdAddressRoundTrips) {
  for (int32_t lba = -45150; lba <= 404849; ++lba) {
    const MsfTime msf = MsfTime::FromLba(lba);
    ASSERT_LT(msf.minute, 100);
    ASSERT_LT(msf.second, 60);
    ASSERT_LT(msf.frame, 75);
    ASSERT_EQ(msf.ToLba(), lba);
  }
}

TEST(MsfTimeTest, AddressesPastTheEndReadBackNegative) {
  EXPECT_EQ(MsfTime::FromLba(404850), MsfTime(90, 0, 0));
  EXPECT_EQ(MsfTime::FromLba(404850).ToLba(), -45150);
  // Below -45,150 the time wraps to the top of the positive range.
  EXPECT_EQ(MsfTime::FromLba(-45151), MsfTime(89, 59, 74));
  EXPECT_EQ(MsfTime::FromLba(-450150), MsfTime(0, 0, 0));
}

TEST(MsfTimeTest, FarAddressesWrapEveryHundredMinutes) {
  for (int64_t lba : {int64_t{449850}, int64_t{-450151}, int64_t{INT32_MAX}, int64_t{INT32_MIN}, int64_t{5000000}}) {
    const MsfTime msf = MsfTime::FromLba(lba);
    EXPECT_LT(msf.minute, 100) << lba;
    const int64_t diff = lba - msf.ToLba();
    EXPECT_EQ(diff % 450000, 0) << lba;
  }
}

TEST(MsfTimeTest, ArithmeticGoesThroughTheLba) {
  const MsfTime start = MsfTime::FromLba(1000);
  EXPECT_EQ((start + 500).ToLba(), 1500);
  EXPECT_EQ((start - 1200).ToLba(), -200);
  EXPECT_EQ(start + MsfTime::FromLba(25), MsfTime::FromLba(1025));
  EXPECT_EQ(start - MsfTime::FromLba(25), MsfTime::FromLba(975));
  MsfTime t = start;
  t += 75;
  EXPECT_EQ(t, MsfTime(0, 16, 25));
  t -= MsfTime::FromLba(75);
  EXPECT_EQ(t, start);
  // Crossing into the lead-in gives minutes of 90 and above.
  EXPECT_EQ(MsfTime(0, 0, 0) - 1, MsfTime(99, 59, 74));
}

TEST(MsfTimeTest, Equality) {
  EXPECT_TRUE(MsfTime(1, 2, 3) == MsfTime(1, 2, 3));
  EXPECT_TRUE(MsfTime(1, 2, 3) != MsfTime(1, 2, 4));
  EXPECT_TRUE(MsfTime(1, 2, 3) != MsfTime(1, 3, 3));
  EXPECT_TRUE(MsfTime(1, 2, 3) != MsfTime(2, 2, 3));
}

TEST(MsfTimeTest, Bcd) {
  for (int v = 0; v < 100; ++v) {
    const uint8_t bcd = ToBcd(static_cast<uint8_t>(v));
    EXPECT_EQ(bcd, ((v / 10) << 4) | (v % 10));
    EXPECT_EQ(FromBcd(bcd), v);
  }
  EXPECT_EQ(ToBcd(99), 0x99);
  EXPECT_EQ(FromBcd(0x74), 74);
}

}  // namespace
}  // namespace sorvel
