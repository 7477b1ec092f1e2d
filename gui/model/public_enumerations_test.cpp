#include "gui/model/public_enumerations.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace sorvel {
namespace {

// The enumerations are 32-bit signed so that any engine value fits.
static_assert(std::is_same_v<std::underlying_type_t<MediaTypeConstants>, int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<CDDiscDataConstants>, int32_t>);
static_assert(std::is_same_v<std::underlying_type_t<MasteringTrackControlFieldConstants>, int32_t>);

TEST(PublicEnumerationsTest, SharedAndUnusualValues) {
  EXPECT_EQ(TCF_PREEMPHASIS, 1);
  EXPECT_EQ(TCF_INCREMENTAL, 1);
  EXPECT_EQ(MTC_ERROR, 65535);
  EXPECT_EQ(MFT_UNKNOWN, 255);
  // Write command 2 has no name: 1 and 3 are neighbours.
  EXPECT_EQ(CCC_SAO_RAW, 1);
  EXPECT_EQ(CCC_DAO_RAW16, 3);
  EXPECT_EQ(CDD_COLLECTSUBPQ, 0x800000);
  EXPECT_EQ(CSD_ERRORDATA, 0x8000);
  EXPECT_EQ(SORVEL_JISX0606_JOLIET2, 17);
  EXPECT_EQ(SORVEL_COPYPERMITTED, TCF_COPYPERMITTED);
  EXPECT_EQ(DNC_VENDOR | DNC_NAME | DNC_REVISION, DNC_ALL);
}

TEST(PublicEnumerationsTest, AnyThirtyTwoBitValueTravels) {
  const auto value = static_cast<CDBIOSReturnConstants>(-12345);
  EXPECT_EQ(static_cast<int32_t>(value), -12345);
  const auto big = static_cast<MediaTypeConstants>(0x7FFFFFFF);
  EXPECT_EQ(static_cast<int32_t>(big), 0x7FFFFFFF);
}

}  // namespace
}  // namespace sorvel
