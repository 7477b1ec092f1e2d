#include "gui/controls/progress_value.h"

#include <gtest/gtest.h>

#include <QProgressBar>
#include <cstdint>

namespace sorvel {
namespace {

TEST(ProgressValueTest, TakesThousandthStepsAndBothEnds) {
  QProgressBar bar;
  bar.setRange(0, 333000);
  bar.setValue(0);
  struct Case {
    int value;
    bool taken;
    int shown;
  };
  const Case cases[] = {
      {1, false, 0},           {332, false, 0},        {333, true, 333},      {665, false, 333},
      {666, true, 666},        {333000, true, 333000}, {332999, true, 332999}, {0, true, 0},
      {-1, false, 0},          {333001, false, 0},     {100000, true, 100000}, {99899, true, 99899},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SetProgressValue(bar, c.value), c.taken) << c.value;
    EXPECT_EQ(bar.value(), c.shown) << c.value;
  }
  // A range smaller than a thousand steps takes every value.
  bar.setRange(5, 200);
  for (int v = 5; v <= 200; ++v) {
    EXPECT_TRUE(SetProgressValue(bar, v)) << v;
    EXPECT_EQ(bar.value(), v);
  }
  // The widest range has no overflow.
  bar.setRange(INT32_MIN, INT32_MAX);
  EXPECT_TRUE(SetProgressValue(bar, INT32_MAX));
  EXPECT_TRUE(SetProgressValue(bar, 0));
  EXPECT_FALSE(SetProgressValue(bar, 1));
  EXPECT_TRUE(SetProgressValue(bar, INT32_MIN));
  EXPECT_EQ(bar.value(), INT32_MIN);
}

}  // namespace
}  // namespace sorvel
