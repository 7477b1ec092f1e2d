#include "native_common/lib_string.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/text_encoding.h"

namespace sorvel {
namespace {

using platform::Cp932ToUtf8;
using platform::Utf8ToCp932;

// A text given in UTF-8, held as CP932 bytes (converted by iconv).
LibString Sj(const std::string& utf8) {
  std::string cp932 = Utf8ToCp932(utf8);
  return LibString(cp932.c_str());
}

std::string ToUtf8(const LibString& s) { return Cp932ToUtf8(s.View()); }

// The text split into characters, each with its width in CP932 bytes, both
// found through iconv rather than through the lead-byte rule under test.
struct Char {
  std::string utf8;
  size_t width;
};

std::vector<Char> Chars(const std::string& utf8) {
  std::vector<Char> out;
  for (size_t i = 0; i < utf8.size();) {
    size_t n = static_cast<size_t>(platform::Utf8CharLength(static_cast<unsigned char>(utf8[i])));
    std::string c = utf8.substr(i, n);
    out.push_back({c, Utf8ToCp932(c).size()});
    i += n;
  }
  return out;
}

// Texts with a trail byte in the lead range (亜 = 88 9F), trail bytes 0x5C
// (ソ = 83 5C, 表 = 95 5C), a trail byte that is an ASCII letter (ア = 83 41) and
// half-width katakana (single bytes above 0x80).
const std::vector<std::string> kTexts = {
    "ab亜c", "亜亜", "ソ\\a", "aソ亜b", "表\\示 ｱｲ", "亜亜亜亜x", "ア a ソ", " 亜 ",
};

TEST(LibStringTest, Cp932TestTextsHaveTheAwkwardBytes) {
  EXPECT_EQ(Sj("亜亜").View(), std::string("\x88\x9F\x88\x9F"));
  EXPECT_EQ(Sj("ソ").View(), std::string("\x83\x5C"));
}

// Mid against a model on iconv's characters: a character wholly inside the
// range is kept, a character cut by the range leaves a blank.
TEST(LibStringTest, MidNeverSplitsACharacter) {
  for (const std::string& text : kTexts) {
    LibString s = Sj(text);
    std::vector<Char> chars = Chars(text);
    for (int start = 1; start <= s.Length() + 1; ++start) {
      for (int len = 0; len <= s.Length() + 1; ++len) {
        std::string expected;
        size_t at = 0;
        size_t lo = static_cast<size_t>(start - 1);
        size_t hi = lo + static_cast<size_t>(len);
        for (const Char& c : chars) {
          size_t a = at, b = at + c.width;
          at = b;
          size_t inside = (std::min(b, hi) > std::max(a, lo)) ? std::min(b, hi) - std::max(a, lo) : 0;
          if (inside == c.width) expected += c.utf8;
          else if (inside > 0) expected += " ";
        }
        LibString mid = s.Mid(static_cast<int16_t>(start), static_cast<int16_t>(len));
        std::string got = ToUtf8(mid);
        EXPECT_EQ(got, expected) << text << " Mid(" << start << ", " << len << ")";
        EXPECT_EQ(Utf8ToCp932(got), std::string(mid.View())) << "not a round trip";
      }
    }
  }
}

TEST(LibStringTest, MidEdges) {
  LibString s = Sj("ab亜c");
  EXPECT_EQ(ToUtf8(s.Mid(4, 2)), " c");  // starts on the second byte of 亜
  EXPECT_EQ(ToUtf8(s.Mid(0, 3)), "ab ");  // ends on the lead byte, start 0 becomes 1
  EXPECT_EQ(ToUtf8(s.Mid(-5, 2)), "ab");
  EXPECT_EQ(ToUtf8(s.Mid(2, -1)), "b亜c");  // bit 15 set: the rest
  EXPECT_EQ(ToUtf8(s.Mid(3, 1000)), "亜c");
  EXPECT_EQ(s.Mid(6, 1).Length(), 0);
  EXPECT_EQ(ToUtf8(s.Left(4)), "ab亜");
  EXPECT_EQ(ToUtf8(s.Right(2)), " c");
  EXPECT_EQ(ToUtf8(s.Right(3)), "亜c");
  EXPECT_EQ(ToUtf8(s.Right(10)), "ab亜c");
  EXPECT_EQ(s.Right(0).Length(), 0);
}

// Find against a search over iconv's characters.
TEST(LibStringTest, FindMatchesOnlyWholeCharacters) {
  for (const std::string& text : kTexts) {
    LibString s = Sj(text);
    std::vector<Char> chars = Chars(text);
    std::vector<size_t> offset;
    size_t at = 0;
    for (const Char& c : chars) {
      offset.push_back(at);
      at += c.width;
    }
    // Every run of whole characters as a needle, from every start.
    for (size_t i = 0; i < chars.size(); ++i) {
      std::string needle;
      for (size_t j = i; j < chars.size(); ++j) {
        needle += chars[j].utf8;
        for (int start = 1; start <= s.Length(); ++start) {
          int expected = 0;
          for (size_t k = 0; k < chars.size() && expected == 0; ++k) {
            if (offset[k] + 1 < static_cast<size_t>(start)) continue;
            std::string run;
            for (size_t m = k; m < chars.size() && run.size() < needle.size(); ++m) run += chars[m].utf8;
            if (run == needle) expected = static_cast<int>(offset[k] + 1);
          }
          EXPECT_EQ(s.Find(Sj(needle), static_cast<int16_t>(start)), expected)
              << text << " Find(" << needle << ", " << start << ")";
        }
      }
    }
  }
}

TEST(LibStringTest, FindPassesOverHalvesOfCharacters) {
  LibString a = Sj("亜亜");  // 88 9F 88 9F
  EXPECT_EQ(a.Find(LibString("\x9F\x88")), 0);
  EXPECT_EQ(a.Find(LibString("\x9F")), 0);
  EXPECT_EQ(a.Find(LibString("\x88")), 0);
  EXPECT_EQ(a.Find(Sj("亜"), 2), 3);
  LibString so = Sj("ソ\\");  // 83 5C 5C
  EXPECT_EQ(so.Find(LibString("\\")), 3);
  EXPECT_EQ(so.Find(LibString("\\"), 0), 3);
  EXPECT_EQ(so.Find(LibString("")), 0);
  EXPECT_EQ(Sj("ab").Find(LibString("abc")), 0);
}

std::vector<std::string> ModelTokens(const std::vector<Char>& chars, const std::string& seps) {
  std::vector<std::string> out;
  std::string cur;
  for (const Char& c : chars) {
    if (c.utf8.size() == 1 && seps.find(c.utf8[0]) != std::string::npos) {
      if (!cur.empty()) out.push_back(cur);
      cur.clear();
    } else {
      cur += c.utf8;
    }
  }
  if (!cur.empty()) out.push_back(cur);
  return out;
}

std::vector<std::string> AllTokens(LibString s, const LibString& seps) {
  std::vector<std::string> out;
  for (int i = 0; i < 100; ++i) {
    LibString t = s.Token(seps, i == 0);
    if (t.Length() == 0) break;
    out.push_back(ToUtf8(t));
  }
  return out;
}

TEST(LibStringTest, TokenNeverSplitsACharacter) {
  const std::vector<std::string> texts = {"ソ\\表\\a", "\\\\表示\\ソ", "亜 亜\\ ア", "a\\\\b\\", "", "\\\\"};
  for (const std::string& text : texts) {
    for (const std::string seps : {"\\", "\\ ", " "}) {
      EXPECT_EQ(AllTokens(Sj(text), LibString(seps.c_str())), ModelTokens(Chars(text), seps))
          << text << " separators '" << seps << "'";
    }
  }
}

TEST(LibStringTest, TokenKeepsItsPosition) {
  LibString s(",a,,b");
  // Without "from start" the position begins at 0: the leading separator gives an empty token.
  EXPECT_EQ(s.Token(LibString(","), false).Length(), 0);
  EXPECT_EQ(std::string(s.Token(LibString(","), false).View()), "a");
  EXPECT_EQ(std::string(s.Token(LibString(","), false).View()), "b");
  EXPECT_EQ(s.Token(LibString(","), false).Length(), 0);
  EXPECT_EQ(std::string(s.Token(LibString(","), true).View()), "a");
}

TEST(LibStringTest, TrimKeepsCharactersWholeAndPrints) {
  struct Case {
    std::string text, expected, printed;
  };
  const std::vector<Case> cases = {
      {"  亜亜  ", "亜亜", "2, 4\n"}, {" ソ ", "ソ", "1, 2\n"}, {"ab", "ab", "0, 2\n"},
      {"   ", "", "3, 0\n"},         {"", "", "0, 0\n"},       {"ア a ", "ア a", "0, 4\n"},
  };
  for (const Case& c : cases) {
    ::testing::internal::CaptureStdout();
    LibString t = Sj(c.text).Trim();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.printed) << c.text;
    EXPECT_EQ(ToUtf8(t), c.expected);
  }
  // A blank that is the second byte of a double-byte character stays.
  ::testing::internal::CaptureStdout();
  LibString odd = LibString(" \x81 ").Trim();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "1, 2\n");
  EXPECT_EQ(std::string(odd.View()), "\x81 ");
}

TEST(LibStringTest, RandomTextsAgainstIconv) {
  const std::vector<std::string> pool = {"a", " ", "\\", "亜", "ソ", "表", "ア", "ｱ", "\\", "x"};
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    int n = static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) text += pool[rng() % pool.size()];
    LibString s = Sj(text);
    int len = s.Length();
    auto start = static_cast<int16_t>(rng() % static_cast<unsigned>(len + 2));
    auto count = static_cast<int16_t>(rng() % static_cast<unsigned>(len + 2));
    std::string mid = ToUtf8(s.Mid(start, count));
    EXPECT_EQ(mid.find('?'), std::string::npos) << text;
    // Every result is made of the text's own characters (and blanks).
    for (const Char& c : Chars(mid)) EXPECT_TRUE(c.utf8 == " " || text.find(c.utf8) != std::string::npos) << text << " -> " << mid;
    EXPECT_EQ(AllTokens(s, LibString("\\ ")), ModelTokens(Chars(text), "\\ ")) << text;
  }
}

TEST(LibStringTest, CaseChangesOnlySingleByteLetters) {
  // ア is 83 41: its second byte is "A" and must stay.
  EXPECT_EQ(ToUtf8(Sj("aアbZ").UpperCase()), "AアBZ");
  EXPECT_EQ(ToUtf8(Sj("AアbZ").LowerCase()), "aアbz");
  EXPECT_EQ(Sj("ア").LowerCase().View(), std::string("\x83\x41"));
}

TEST(LibStringTest, ComparesByUnsignedBytes) {
  LibString a("a"), b("b"), high("\x81\x40"), ab("ab");
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(b < high);  // 0x81 sorts after ASCII
  EXPECT_TRUE(a < ab);
  EXPECT_TRUE(high > ab);
  EXPECT_TRUE(a <= a);
  EXPECT_TRUE(a >= a);
  EXPECT_FALSE(a > a);
  EXPECT_TRUE(a == LibString("a"));
  EXPECT_TRUE(a != b);
}

TEST(LibStringTest, ConstructionAndAssignment) {
  EXPECT_EQ(LibString().Length(), 0);
  EXPECT_STREQ(LibString().Text(), "");
  EXPECT_EQ(LibString("abc", 0).Length(), 0);
  EXPECT_EQ(LibString("abc", -3).Length(), 0);
  EXPECT_EQ(std::string(LibString("ab\0cd", 5).View()), "ab");  // length up to the first zero
  EXPECT_EQ(LibString(nullptr).Length(), 0);
  LibString s("keep");
  LibString& alias = s;
  s = alias;
  EXPECT_STREQ(s.Text(), "keep");
  s = s.Text();
  EXPECT_STREQ(s.Text(), "keep");
  s = s.Text() + 2;  // a tail of itself
  EXPECT_STREQ(s.Text(), "ep");
  EXPECT_EQ(s.DoubleBytePosition(0), 0);
  LibString d = Sj("a亜");
  EXPECT_EQ(d.DoubleBytePosition(1), 1);
  EXPECT_EQ(d.DoubleBytePosition(2), 2);
  EXPECT_EQ(d.DoubleBytePosition(3), 0);
}

TEST(LibStringTest, LongTextsAreCutAtCharacterBoundaries) {
  std::string ascii(40000, 'x');
  EXPECT_EQ(LibString(ascii.c_str()).Length(), LibString::kMaxLength);
  // 32,765 ASCII bytes then 亜: the cut would leave a lone lead byte.
  std::string mixed = std::string(32765, 'x') + "\x88\x9F" + "yy";
  LibString cut(mixed.c_str());
  EXPECT_EQ(cut.Length(), 32765);
  EXPECT_EQ(ToUtf8(cut).find('?'), std::string::npos);

  LibString half(std::string(20000, 'a').c_str());
  EXPECT_EQ((half + half).Length(), LibString::kMaxLength);
  EXPECT_EQ(ToUtf8(LibString("ab") + Sj("亜c")), "ab亜c");
  LibString odd(std::string(32765, 'a').c_str());
  LibString joined = odd + Sj("亜");
  EXPECT_EQ(joined.Length(), 32765);
  EXPECT_EQ(ToUtf8(joined).find('?'), std::string::npos);
}

TEST(LibStringTest, FormatStringGrowsWithoutOverrun) {
  LibString s;
  ASSERT_TRUE(s.FormatString("%d-%s", 42, "x"));
  EXPECT_STREQ(s.Text(), "42-x");
  std::string k(1000, 'k');
  ASSERT_TRUE(s.FormatString("%s", k.c_str()));
  EXPECT_EQ(s.Length(), 1000);
  EXPECT_EQ(std::string(s.View()), k);
  ASSERT_TRUE(s.FormatString("%s", std::string(255, 'z').c_str()));
  EXPECT_EQ(s.Length(), 255);
  ASSERT_TRUE(s.FormatString("%s", std::string(256, 'z').c_str()));
  EXPECT_EQ(s.Length(), 256);
  // Far longer than a text may be: cut, no overrun, no giant buffer.
  ASSERT_TRUE(s.FormatString("%100000d", 7));
  EXPECT_EQ(s.Length(), LibString::kMaxLength);
  EXPECT_FALSE(s.FormatString(nullptr));
  s = "ab";
  ASSERT_TRUE(s.FormatString("%s-%s", s.Text(), s.Text()));  // its own text as an argument
  EXPECT_STREQ(s.Text(), "ab-ab");
}

TEST(LibStringTest, FormatStringFailureKeepsTheOldValue) {
  LibString s("old");
  // A wide character the C locale cannot write makes vsnprintf fail.
  const wchar_t bad[] = {0x4E9C, 0};
  EXPECT_FALSE(s.FormatString("%ls", bad));
  EXPECT_STREQ(s.Text(), "old");
}

TEST(LibStringTest, WideLengthAndUcs2) {
  LibString s = Sj("亜ソa\\");
  EXPECT_EQ(s.WideLength(), 4);
  EXPECT_EQ(s.ToUcs2(nullptr, 0), 8);
  uint8_t buf[8] = {};
  // Only whole units fit in 5 bytes.
  EXPECT_EQ(s.ToUcs2(buf, 5), 4);
  EXPECT_EQ(buf[0], 0x4E);
  EXPECT_EQ(buf[1], 0x9C);
  EXPECT_EQ(buf[2], 0x30);
  EXPECT_EQ(buf[3], 0xBD);
  EXPECT_EQ(buf[4], 0);
  EXPECT_EQ(s.ToUcs2(buf, 8), 8);
  EXPECT_EQ(buf[6], 0x00);
  EXPECT_EQ(buf[7], 0x5C);  // CP932 0x5C is the backslash
  EXPECT_EQ(s.ToUcs2(buf, 0), 0);
  EXPECT_EQ(LibString().WideLength(), 0);
}

}  // namespace
}  // namespace sorvel
