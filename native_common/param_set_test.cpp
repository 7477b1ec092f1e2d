#include "native_common/param_set.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>

namespace sorvel {
namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

TEST(ParamSetTest, SerialisedLayoutIsByteExact) {
  ParamSet p;
  p.SetString("ab", "xyz");
  p.SetInt64("n", -2);
  p.SetTime("t", DateTime(0x80000001u));  // past 2038
  p.Set("e", ParamSet::kBinary, nullptr, 0);
  EXPECT_TRUE(p.modified());
  std::vector<uint8_t> out = p.Serialize();
  EXPECT_FALSE(p.modified());
  EXPECT_EQ(out, Bytes({2, 0, 'a', 'b', 1, 3, 0, 0, 0, 'x', 'y', 'z',                             //
                        1, 0, 'n', 11, 8, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  //
                        1, 0, 't', 128, 4, 0, 0, 0, 0x01, 0, 0, 0x80,                               //
                        1, 0, 'e', 3, 0, 0, 0, 0}));
  ParamSet back;
  back.SetString("stale", "gone");
  back.Deserialize(out);
  EXPECT_FALSE(back.modified());
  EXPECT_EQ(back.size(), 4u);
  EXPECT_EQ(back.GetString("ab"), "xyz");
  EXPECT_EQ(back.GetInt64("n").Value(), -2);
  EXPECT_EQ(back.GetTime("t").Raw(), 0x80000001u);
  EXPECT_EQ(back.GetType("e"), ParamSet::kBinary);
  EXPECT_EQ(back.GetType("stale"), 0);
  std::string name;
  uint8_t type = 0;
  ASSERT_TRUE(back.GetAt(1, &name, &type));
  EXPECT_EQ(name, "n");
  EXPECT_EQ(type, ParamSet::kInt64);
  EXPECT_FALSE(back.GetAt(4, &name, &type));
}

TEST(ParamSetTest, Int64HalvesLowFirst) {
  ParamSet p;
  p.SetInt64("v", Int64Value::FromInt64(0x123456789ABCDEF0LL));
  EXPECT_EQ(p.Serialize(), Bytes({1, 0, 'v', 11, 8, 0, 0, 0, 0xF0, 0xDE, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(p.GetInt64("v").High(), 0x12345678);
  EXPECT_EQ(p.GetInt64("v").Low(), 0x9ABCDEF0u);
}

TEST(ParamSetTest, OrderOfFirstInsertionAndReplacement) {
  ParamSet p;
  p.SetString("first", "1");
  p.SetString("second", "2");
  p.SetInt64("first", 99);
  std::string name;
  ASSERT_TRUE(p.GetAt(0, &name, nullptr));
  EXPECT_EQ(name, "first");
  EXPECT_EQ(p.GetInt64("first").Value(), 99);
  EXPECT_EQ(p.GetString("first", "dflt"), "dflt");  // type changed
  EXPECT_TRUE(p.Remove("first"));
  EXPECT_FALSE(p.Remove("first"));
  ASSERT_TRUE(p.GetAt(0, &name, nullptr));
  EXPECT_EQ(name, "second");
  p.Clear();
  EXPECT_TRUE(p.IsEmpty());
  EXPECT_TRUE(p.Serialize().empty());
  p.Deserialize(nullptr, 0);
  EXPECT_TRUE(p.IsEmpty());
}

TEST(ParamSetTest, GettersAnswerDefaultsOnMismatch) {
  ParamSet p;
  p.SetString("text", "abc");
  p.Set("short", ParamSet::kInt64, "\x01\x02\x03", 3);  // wrong length for a 64-bit value
  p.Set("long", ParamSet::kDateTime, "12345", 5);
  p.SetBinary("bin", {0, 1, 0});
  EXPECT_EQ(p.GetInt64("text", 7).Value(), 7);
  EXPECT_EQ(p.GetInt64("short", 8).Value(), 8);
  EXPECT_EQ(p.GetTime("long", DateTime(9)).Raw(), 9u);
  EXPECT_EQ(p.GetInt64("missing", -1).Value(), -1);
  EXPECT_EQ(p.GetString("bin", "d"), "d");
  EXPECT_EQ(p.GetBinary("bin"), Bytes({0, 1, 0}));
  ASSERT_NE(p.Find("text"), nullptr);
  EXPECT_EQ(p.Find("text")->type, ParamSet::kText);
  EXPECT_EQ(p.Find("nope"), nullptr);
  EXPECT_EQ(p.GetString("TEXT", "case"), "case");  // names are case-sensitive
}

TEST(ParamSetTest, RefusesNamesThatCannotBeSerialised) {
  ParamSet p;
  EXPECT_FALSE(p.SetString("", "x"));
  EXPECT_FALSE(p.SetString(std::string(0x8000, 'n'), "x"));
  EXPECT_TRUE(p.SetString(std::string(0x7FFF, 'n'), "x"));
  ParamSet back;
  back.Deserialize(p.Serialize());
  EXPECT_EQ(back.GetString(std::string(0x7FFF, 'n')), "x");
}

TEST(ParamSetTest, JoinReplacesInPlaceAndAppends) {
  ParamSet a, b;
  a.SetString("x", "1");
  a.SetString("y", "2");
  b.SetInt64("y", 5);
  b.SetString("z", "3");
  ParamSet j = a + b;
  std::string n0, n1, n2;
  ASSERT_TRUE(j.GetAt(0, &n0, nullptr) && j.GetAt(1, &n1, nullptr) && j.GetAt(2, &n2, nullptr));
  EXPECT_EQ(n0 + n1 + n2, "xyz");
  EXPECT_EQ(j.GetInt64("y").Value(), 5);
  ParamSet copy = a;
  ParamSet& self = copy;
  copy = self;
  EXPECT_EQ(copy.GetString("y"), "2");
}

struct HostileCase {
  const char* what;
  std::vector<uint8_t> bytes;
  size_t kept;  // complete entries before the damage
};

class ParamSetHostileTest : public ::testing::TestWithParam<HostileCase> {};

TEST_P(ParamSetHostileTest, KeepsCompleteEntriesOnly) {
  ParamSet p;
  p.Deserialize(GetParam().bytes);
  EXPECT_EQ(p.size(), GetParam().kept) << GetParam().what;
  if (GetParam().kept > 0) {
    EXPECT_EQ(p.GetString("a"), "v");
  }
}

// One good entry: name "a", text "v".
#define GOOD 1, 0, 'a', 1, 1, 0, 0, 0, 'v'
INSTANTIATE_TEST_SUITE_P(
    Damaged, ParamSetHostileTest,
    ::testing::Values(HostileCase{"cut name length", Bytes({GOOD, 1}), 1},
                      HostileCase{"zero name length", Bytes({GOOD, 0, 0, 'b', 1, 0, 0, 0, 0}), 1},
                      HostileCase{"negative name length", Bytes({GOOD, 0xFF, 0xFF, 'b', 1, 0, 0, 0, 0}), 1},
                      HostileCase{"name past the end", Bytes({GOOD, 9, 0, 'b', 'c'}), 1},
                      HostileCase{"cut value length", Bytes({GOOD, 1, 0, 'b', 1, 5, 0}), 1},
                      HostileCase{"value past the end", Bytes({GOOD, 1, 0, 'b', 1, 5, 0, 0, 0, 'x'}), 1},
                      HostileCase{"huge value length", Bytes({GOOD, 1, 0, 'b', 1, 0xFF, 0xFF, 0xFF, 0x7F, 'x'}), 1},
                      HostileCase{"negative value length", Bytes({GOOD, 1, 0, 'b', 1, 0xFF, 0xFF, 0xFF, 0xFF}), 1},
                      HostileCase{"damage first", Bytes({5, 0, 'a'}), 0},
                      HostileCase{"repeated name", Bytes({1, 0, 'a', 1, 1, 0, 0, 0, 'x', GOOD}), 1}),
    [](const ::testing::TestParamInfo<HostileCase>& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });
#undef GOOD

}  // namespace
}  // namespace sorvel

namespace sorvel {
namespace {

// Random blocks: parsing never reads past the block, and what it keeps
// serialises to a prefix-equivalent block that parses back the same.
TEST(ParamSetTest, RandomBlocksParseSafely) {
  std::mt19937 random(12345);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> block(random() % 64);
    for (auto& b : block) b = static_cast<uint8_t>(random() % 4 == 0 ? random() % 4 : random());
    ParamSet parsed;
    parsed.Deserialize(block);
    std::vector<uint8_t> again = parsed.Serialize();
    ParamSet reparsed;
    reparsed.Deserialize(again);
    ASSERT_EQ(reparsed.size(), parsed.size());
    EXPECT_EQ(reparsed.Serialize(), again);
  }
}

}  // namespace
}  // namespace sorvel
