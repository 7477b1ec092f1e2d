#include "gui/model/tln_speeds.h"

#include <gtest/gtest.h>

namespace sorvel {
namespace {

TEST(TLNSpeedsTest, NewListIsEmpty) {
  TLNSpeeds speeds;
  EXPECT_EQ(speeds.Count(), 0);
  EXPECT_EQ(speeds.Items(1), nullptr);
  EXPECT_EQ(speeds.Items(0), nullptr);
}

TEST(TLNSpeedsTest, AddKeepsOrderAndDeleteMovesLaterEntriesDown) {
  TLNSpeeds speeds;
  speeds.Add(false, 8467);
  speeds.Add(true, 7056);
  ASSERT_EQ(speeds.Count(), 2);
  TLNSpeed* second = speeds.Items(2);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->CAV);
  EXPECT_EQ(second->Speed, 7056);

  EXPECT_TRUE(speeds.Delete(1));
  EXPECT_EQ(speeds.Count(), 1);
  EXPECT_EQ(speeds.Items(1), second);  // the same object, moved down
  EXPECT_EQ(speeds(1)->Speed, 7056);
}

TEST(TLNSpeedsTest, DeleteOutsideRangeChangesNothing) {
  TLNSpeeds speeds;
  speeds.Add(false, 1);
  for (int index : {0, -1, 2, 1000}) {
    EXPECT_FALSE(speeds.Delete(index)) << index;
    EXPECT_EQ(speeds.Count(), 1);
  }
}

TEST(TLNSpeedsTest, DuplicatesStayAndNothingIsSorted) {
  TLNSpeeds speeds;
  speeds.Add(false, 1764);
  speeds.Add(false, 7056);
  speeds.Add(false, 1764);
  ASSERT_EQ(speeds.Count(), 3);
  EXPECT_EQ(speeds.Items(1)->Speed, 1764);
  EXPECT_EQ(speeds.Items(2)->Speed, 7056);
  EXPECT_EQ(speeds.Items(3)->Speed, 1764);
  speeds.Clear();
  EXPECT_EQ(speeds.Count(), 0);
}

}  // namespace
}  // namespace sorvel
