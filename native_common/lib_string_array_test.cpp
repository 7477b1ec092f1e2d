#include "native_common/lib_string_array.h"

#include <gtest/gtest.h>

#include "native_common/lib_exception.h"

namespace sorvel {
namespace {

TEST(LibStringArrayTest, GrowsAndShrinksInBlocks) {
  LibStringArray a;
  EXPECT_EQ(a.Count(), 0);
  EXPECT_EQ(a.Capacity(), 128);
  for (int i = 0; i < 128; ++i) a.Add(LibString(std::to_string(i).c_str()));
  EXPECT_EQ(a.Capacity(), 256);  // count 128 -> (128 / 128 + 1) * 128
  a.Add(LibString("x"));
  EXPECT_EQ(a.Count(), 129);
  EXPECT_EQ(a.Capacity(), 256);
  EXPECT_STREQ(a.At(127).Text(), "127");
  EXPECT_STREQ(a.At(128).Text(), "x");
  a.Resize(10);
  EXPECT_EQ(a.Capacity(), 128);
  EXPECT_STREQ(a.At(9).Text(), "9");
  a.Resize(12);
  EXPECT_EQ(a.At(11).Length(), 0);
  EXPECT_STREQ(a.At(9).Text(), "9");
  a.Resize(0);
  EXPECT_EQ(a.Count(), 0);
}

TEST(LibStringArrayTest, OutOfRange) {
  LibStringArray a;
  a.Add(LibString("a"));
  const LibStringArray& c = a;
  for (int i : {-1, 1, 1000}) {
    try {
      a.At(i);
      ADD_FAILURE() << i;
    } catch (const LibException& e) {
      EXPECT_STREQ(e.what(), "out of range");
    }
    EXPECT_THROW(c.At(i), LibException);
  }
  EXPECT_THROW(a.Resize(-1), LibException);
}

TEST(LibStringArrayTest, AddsOwnElement) {
  LibStringArray a;
  for (int i = 0; i < 128; ++i) a.Add(LibString("same"));
  a.Add(a.At(0));  // reallocates while the argument lives in the array
  EXPECT_STREQ(a.At(128).Text(), "same");
}

}  // namespace
}  // namespace sorvel
