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

TEST(TextEncoding, HostNamesDecodeAsUtf8ThenCp932ThenWithUnderscores) {
  const struct {
    std::string bytes;
    std::string text;
  } cases[] = {
      {"a.txt", "a.txt"},
      {"日本.wav", "日本.wav"},
      {"", ""},
      {std::string("\x93\xFA\x96\x7B.txt"), "日本.txt"},   // CP932
      {std::string("\x83\x5C\x83\x74\x83\x67"), "ソフト"},  // CP932 with 0x5C trail bytes
      {std::string("\xB1\xB2"), "ｱｲ"},                       // CP932 half-width katakana
      {std::string("\xFF.txt"), "_.txt"},                      // neither
      {std::string("\x80\xA0\xFD"), "___"},
      {std::string("caf\xE9 日"), "caf_ 日"},                 // valid characters survive
      {std::string("\xE6\x97"), "譌"},                        // a cut UTF-8 character, whole CP932
      {std::string("\xC0\xAF"), "ﾀｯ"},                        // overlong UTF-8 "/", CP932 katakana
      {std::string("\xED\xA0\x80x"), "恝_x"},                 // a UTF-8 surrogate; CP932 misses only 0x80
      {std::string("日\xE6"), "日_"},                           // UTF-8 cut at the end, not CP932
      {std::string("\x93"), "_"},                              // a lone CP932 lead byte
      {std::string("\xFF\x93\xFA\x96\x7B"), "_日本"},              // mostly CP932
      {std::string("\xFF日本"), "_日本"},                        // mostly UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(HostNameToUtf8(c.bytes), c.text) << c.bytes;
  for (const auto& c : cases) EXPECT_TRUE(IsValidUtf8(HostNameToUtf8(c.bytes))) << c.bytes;
}

TEST(TextEncoding, Utf8SequenceLengths) {
  const struct {
    std::string bytes;
    size_t length;
  } cases[] = {{"", 0}, {"a", 1}, {"é", 2}, {"日x", 3}, {"\xF0\x9F\x98\x80", 4}, {"\xF0\x9F\x98", 0},
               {"\x80", 0}, {"\xF5\x80\x80\x80", 0}, {"\xE0\x80\x80", 0}};
  for (const auto& c : cases) EXPECT_EQ(Utf8SequenceLength(c.bytes), c.length) << c.bytes;
}

}  // namespace
}  // namespace sorvel::platform
