#include "native_common/cp932.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorvel {
namespace {

struct KindCase {
  std::string text;
  std::vector<Cp932ByteKind> kinds;
};

using K = Cp932ByteKind;

class Cp932Kinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(Cp932Kinds, ClassifiesEveryByte) {
  const KindCase& c = GetParam();
  for (size_t i = 0; i < c.text.size(); ++i) {
    EXPECT_EQ(Cp932KindAt(c.text.data(), c.text.size(), i), c.kinds[i]) << "byte " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Cp932Kinds,
    ::testing::Values(
        KindCase{"ab", {K::kSingle, K::kSingle}},
        // 亜亜: the trail byte 0x9F lies in the lead range.
        KindCase{std::string("\x88\x9F\x88\x9F", 4), {K::kLead, K::kTrail, K::kLead, K::kTrail}},
        // ソ: trail byte 0x5C is not a path separator.
        KindCase{std::string("\x83\x5C" "a", 3), {K::kLead, K::kTrail, K::kSingle}},
        // half-width katakana 0xB1 is single-byte.
        KindCase{std::string("\xB1\x81\x40", 3), {K::kSingle, K::kLead, K::kTrail}},
        // a lone lead byte at the end.
        KindCase{std::string("a\x81", 2), {K::kSingle, K::kLead}}));

}  // namespace
}  // namespace sorvel
