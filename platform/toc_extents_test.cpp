#include "platform/toc_extents.h"

#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <string>
#include <vector>

namespace sorvel::platform {
namespace {

struct ExtentCase {
  const char* name;
  std::vector<TocExtent> entries;
  TocBounds bounds;
  TocFault fault;
  size_t entry;
};

// {session, track, index, start, end}
const ExtentCase kCases[] = {
    {"one data track", {{1, 1, 1, 0, 999}}, kCdBounds, TocFault::kNone, 0},
    {"pregaps, indexes and a second session",
     {{1, 1, 0, -150, -1}, {1, 1, 1, 0, 299}, {1, 1, 2, 300, 399}, {1, 2, 0, 400, 549}, {1, 2, 1, 550, 999},
      {2, 3, 1, 12400, 12999}},
     kCdBounds, TocFault::kNone, 0},
    {"first track other than 1", {{1, 5, 1, 0, 99}, {1, 6, 1, 100, 199}}, kCdBounds, TocFault::kNone, 0},
    {"the last MSF address", {{1, 1, 1, 0, 449849}}, kCdBounds, TocFault::kNone, 0},
    {"a BD of the largest kind", {{1, 1, 1, 0, 62500863}}, kAnyDiscBounds, TocFault::kNone, 0},
    {"no entry", {}, kCdBounds, TocFault::kEmpty, 0},
    {"session 0", {{0, 1, 1, 0, 9}}, kCdBounds, TocFault::kNumbering, 0},
    {"first session 2", {{2, 1, 1, 0, 9}}, kCdBounds, TocFault::kNumbering, 0},
    {"track 0", {{1, 0, 1, 0, 9}}, kCdBounds, TocFault::kNumbering, 0},
    {"track 100", {{1, 100, 1, 0, 9}}, kCdBounds, TocFault::kNumbering, 0},
    {"index 100", {{1, 1, 1, 0, 9}, {1, 1, 100, 10, 19}}, kCdBounds, TocFault::kNumbering, 1},
    {"first index 2", {{1, 1, 2, 0, 9}}, kCdBounds, TocFault::kNumbering, 0},
    {"tracks out of order", {{1, 2, 1, 0, 99}, {1, 1, 1, 100, 199}}, kCdBounds, TocFault::kNumbering, 1},
    {"a track number skipped", {{1, 1, 1, 0, 99}, {1, 3, 1, 100, 199}}, kCdBounds, TocFault::kNone, 0},
    {"an index skipped", {{1, 1, 1, 0, 99}, {1, 1, 3, 100, 199}}, kCdBounds, TocFault::kNone, 0},
    {"index 0 not followed by 1", {{1, 1, 0, 0, 99}, {1, 1, 2, 100, 199}}, kCdBounds, TocFault::kNumbering, 1},
    {"a track number repeated", {{1, 1, 1, 0, 99}, {1, 2, 1, 100, 199}, {1, 2, 2, 200, 299}, {1, 2, 1, 300, 399}},
     kCdBounds, TocFault::kNumbering, 3},
    {"indexes backwards", {{1, 1, 1, 0, 99}, {1, 1, 0, 100, 199}}, kCdBounds, TocFault::kNumbering, 1},
    {"a track without index 1", {{1, 1, 0, 0, 99}, {1, 2, 1, 100, 199}}, kCdBounds, TocFault::kNumbering, 1},
    {"the last track without index 1", {{1, 1, 1, 0, 99}, {1, 2, 0, 100, 199}}, kCdBounds, TocFault::kNumbering, 1},
    {"a session skipped", {{1, 1, 1, 0, 99}, {3, 2, 1, 20000, 20099}}, kCdBounds, TocFault::kNumbering, 1},
    {"a session inside a track", {{1, 1, 1, 0, 99}, {2, 1, 2, 20000, 20099}}, kCdBounds, TocFault::kNumbering, 1},
    {"starts out of order", {{1, 1, 1, 300, 99}, {1, 2, 1, 0, 299}}, kCdBounds, TocFault::kStartOrder, 1},
    {"equal starts", {{1, 1, 1, 0, -1}, {1, 2, 1, 0, 299}}, kCdBounds, TocFault::kStartOrder, 1},
    {"start past its lead-out", {{1, 1, 1, 1000000000, 399}}, kCdBounds, TocFault::kStartOutOfRange, 0},
    {"start before the first pregap", {{1, 1, 1, -151, 9}}, kCdBounds, TocFault::kStartOutOfRange, 0},
    {"negative start off a CD", {{1, 1, 1, -1, 9}}, kAnyDiscBounds, TocFault::kStartOutOfRange, 0},
    {"start beyond 32 bits", {{1, 1, 1, int64_t{INT32_MAX} + 1, int64_t{INT32_MAX} + 9}}, kAnyDiscBounds,
     TocFault::kStartOutOfRange, 0},
    {"lead-out at 0", {{1, 1, 1, 0, -151}}, kCdBounds, TocFault::kEndBeforeStart, 0},
    {"end past the last MSF address", {{1, 1, 1, 0, 449850}}, kCdBounds, TocFault::kEndOutOfRange, 0},
    {"end past the largest disc", {{1, 1, 1, 0, 62500864}}, kAnyDiscBounds, TocFault::kEndOutOfRange, 0},
    {"overlapping tracks", {{1, 1, 1, 0, 200}, {1, 2, 1, 100, 299}}, kCdBounds, TocFault::kOverlap, 1},
};

class TocExtentsTest : public ::testing::TestWithParam<ExtentCase> {};

TEST_P(TocExtentsTest, FaultAndEntry) {
  const ExtentCase& c = GetParam();
  const TocCheck check = CheckTocExtents(c.entries, c.bounds);
  EXPECT_EQ(check.fault, c.fault);
  if (c.fault != TocFault::kNone) {
    EXPECT_EQ(check.entry, c.entry);
  }
  EXPECT_EQ(check.ok(), c.fault == TocFault::kNone);
}

INSTANTIATE_TEST_SUITE_P(Cases, TocExtentsTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ExtentCase>& info) {
                           std::string name;
                           for (const char* p = info.param.name; *p != '\0'; ++p) {
                             name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                           }
                           return name;
                         });

TEST(TocExtentsCountTest, SectorsOfEveryEntryInSixtyFourBits) {
  const std::vector<TocExtent> entries = {{1, 1, 0, -150, -1}, {1, 1, 1, 0, 999}, {2, 2, 1, 20000, 20099}};
  EXPECT_EQ(TocSectorCount(entries), 150 + 1000 + 100);
  const std::vector<TocExtent> wide = {{1, 1, 1, 0, INT32_MAX}, {1, 2, 1, int64_t{INT32_MAX} + 1, 4294967295LL}};
  EXPECT_EQ(TocSectorCount(wide), 4294967296LL);
}

TEST(TocExtentsCountTest, BoundsFollowTheSectorSize) {
  EXPECT_EQ(BoundsOfSectorSize(2048).last_lba, kAnyDiscBounds.last_lba);
  EXPECT_EQ(BoundsOfSectorSize(2352).last_lba, 449849);
  EXPECT_EQ(BoundsOfSectorSize(2336).first_lba, -150);
}

}  // namespace
}  // namespace sorvel::platform
