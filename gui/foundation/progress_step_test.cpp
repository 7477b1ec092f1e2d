#include "gui/foundation/progress_step.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace sorvel {
namespace {

TEST(ProgressStepTest, ThousandthsAndEnds) {
  struct Case {
    int64_t minimum, maximum, last, value;
    bool due;
  };
  const Case cases[] = {
      // 333,000 sectors: a step is 333 of them.
      {0, 333000, 0, 1, false},        {0, 333000, 0, 332, false},       {0, 333000, 0, 333, true},
      {0, 333000, 333, 665, false},    {0, 333000, 333, 666, true},      {0, 333000, 332999, 333000, true},
      {0, 333000, 332667, 332999, false}, {0, 333000, 500, 0, true},     {0, 333000, 0, 0, true},
      // Backwards into another step (a second pass) is passed on.
      {0, 333000, 200000, 1000, true},
      // A range below zero (a first pregap) and one from a later start.
      {-150, 1000, -150, -149, false}, {-150, 1000, -149, -148, true},   {-150, 1000, 999, 1000, true},
      {5000, 5999, 5000, 5001, true},  {5000, 6000000, 5000, 10000, false}, {5000, 6000000, 5000, 11000, true},
      // Fewer values than steps: every value passes.
      {0, 10, 3, 4, true},             {0, 999, 500, 501, true},
      // An empty or reversed range passes everything.
      {7, 7, 7, 7, true},              {10, 0, 5, 6, true},
      // The whole 32-bit range does not overflow.
      {INT32_MIN, INT32_MAX, 0, 1, false}, {INT32_MIN, INT32_MAX, 0, 4294968, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProgressStepDue(c.minimum, c.maximum, c.last, c.value), c.due)
        << c.minimum << ".." << c.maximum << " last " << c.last << " value " << c.value;
  }
}

// Fed every value of a pass, at most one value per thousandth and both ends pass.
TEST(ProgressStepTest, AWholePassGivesAThousandStepsAtMost) {
  for (const int64_t total : {1, 999, 1000, 1001, 4567, 333000, 2295103}) {
    int64_t passed = 0, last = 0;
    bool first = true, saw_end = false;
    for (int64_t v = 0; v <= total; ++v) {
      if (!first && !ProgressStepDue(0, total, last, v)) continue;
      first = false;
      ++passed;
      last = v;
      saw_end = saw_end || v == total;
    }
    SCOPED_TRACE(total);
    EXPECT_TRUE(saw_end);
    EXPECT_LE(passed, 1002);
    EXPECT_EQ(passed, total < 1000 ? total + 1 : passed);
  }
}

}  // namespace
}  // namespace sorvel
