#include "platform/text_encoding.h"

#include <gtest/gtest.h>

namespace sorvel::platform {
namespace {

struct Cp932Case {
  const char* utf8;
  std::string cp932;
};

class Cp932RoundTrip : public ::testing::TestWithParam<Cp932Case> {};

TEST_P(Cp932RoundTrip, ConvertsBothWays) {
  const Cp932Case& c = GetParam();
  EXPECT_EQ(Utf8ToCp932(c.utf8), c.cp932);
  EXPECT_EQ(Cp932ToUtf8(c.cp932), c.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Cp932RoundTrip,
    ::testing::Values(Cp932Case{"ABC", "ABC"},
                      Cp932Case{"\\~", "\\~"},                            // CP932 keeps 0x5C and 0x7E as ASCII
                      Cp932Case{"ソ", std::string("\x83\x5C", 2)},        // trail byte 0x5C
                      Cp932Case{"亜亜", std::string("\x88\x9F\x88\x9F", 4)},  // trail byte in the lead range
                      Cp932Case{"ｱ", std::string("\xB1", 1)},             // half-width katakana
                      Cp932Case{"～", std::string("\x81\x60", 2)},        // CP932's wave dash mapping
                      Cp932Case{"", ""}));

TEST(TextEncoding, UnrepresentableBecomesQuestionMark) {
  EXPECT_EQ(Utf8ToCp932("a\xF0\x9F\x98\x80" "b"), "a?b");  // emoji
  EXPECT_EQ(Utf8ToCp932("a\xC3\xA9" "b"), "a?b");          // é is not in CP932
  EXPECT_EQ(Utf8ToCp932("a\xFF" "b"), "a?b");              // invalid UTF-8 byte
  EXPECT_EQ(Utf8ToCp932("a\xE3\x81"), "a?");                // truncated sequence
}

TEST(TextEncoding, InvalidCp932BecomesQuestionMark) {
  EXPECT_EQ(Cp932ToUtf8(std::string("a\x81", 2)), "a?");   // lone lead byte at the end
  EXPECT_EQ(Cp932ToUtf8(std::string("\xA0z", 2)), "?z");   // 0xA0 is unassigned
  // A lead byte followed by a byte that cannot trail it: only the lead byte is
  // replaced, the next character survives.
  EXPECT_EQ(Cp932ToUtf8(std::string("\x81\nA", 3)), "?\nA");
  EXPECT_EQ(Cp932ToUtf8(std::string("\xE0\x20\x88\x9F", 4)), "? \xE4\xBA\x9C");
  EXPECT_EQ(Cp932ToUcs2Be(std::string("\x9F\x3F", 2)), std::string("\x00\x3F\x00\x3F", 4));
  // A lead byte with a proper trail byte but no character: both bytes go.
  EXPECT_EQ(Cp932ToUtf8(std::string("\x85\x40z", 3)), "?z");
}

TEST(TextEncoding, Ucs2BigEndian) {
  EXPECT_EQ(Cp932ToUcs2Be(std::string("A\x88\x9F", 3)), std::string("\x00\x41\x4E\x9C", 4));
  EXPECT_EQ(Utf8ToUcs2Be("Aé亜"), std::string("\x00\x41\x00\xE9\x4E\x9C", 6));
  EXPECT_EQ(Utf8ToUcs2Be("\xF0\x9F\x98\x80"), std::string("\x00\x3F", 2));
}

TEST(TextEncoding, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("日本語"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\x83\x5C"));          // CP932 bytes
  EXPECT_FALSE(IsValidUtf8("\xE6\x97"));          // truncated
}

TEST(TextEncoding, DecodeTextFileFallsBackToCp932) {
  EXPECT_EQ(DecodeTextFile("\xEF\xBB\xBFtext"), "text");
  EXPECT_EQ(DecodeTextFile("日本"), "日本");
  EXPECT_EQ(DecodeTextFile(std::string("\x93\xFA\x96\x7B", 4)), "日本");
}

}  // namespace
}  // namespace sorvel::platform
