#include "mastering_engine/iso_name.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "mastering_engine/iso_tree.h"

namespace sorvel {
namespace {

// Conversion of one name in a fresh directory of the given variant.
struct NameCase {
  int variant;
  bool directory;
  std::string name;
  std::string expected;  // empty: refused
};

std::ostream& operator<<(std::ostream& os, const NameCase& c) {
  return os << "variant " << c.variant << (c.directory ? " dir '" : " file '") << c.name << "'";
}

class NameRuleTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameRuleTest, ConvertsAsTheVariantRules) {
  const NameCase& c = GetParam();
  IsoTree tree;
  ASSERT_TRUE(tree.InitISOFS(c.variant));
  bool added = c.directory ? tree.MakeISODirectory(c.name, 0, 0) : tree.AddISODummyFile(c.name, 0, 0, 0);
  EXPECT_EQ(added, !c.expected.empty());
  EXPECT_EQ(tree.GetISONewFileDirectoryName(), c.expected);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

const std::string kA219 = Repeat("a", 219);

INSTANTIATE_TEST_SUITE_P(
    Level1, NameRuleTest,
    ::testing::Values(NameCase{0, false, "notes.txt", "NOTES.TXT"}, NameCase{0, false, "My Document.text", "MY_DOC~1.TEX"},
                      NameCase{0, false, "a.b.c", "A_B.C"}, NameCase{0, true, "backup.old", "BACKUP"},
                      NameCase{0, true, "a.b.c", "A_B"}, NameCase{0, false, "  spaced.txt  ", "SPACED.TXT"},
                      NameCase{0, false, "a;b*c.t", "A_B_C.T"}, NameCase{0, false, "tab\tnam", "TAB_NAM"},
                      NameCase{0, false, "日本.txt", ""}, NameCase{0, false, "   ", ""}, NameCase{2, true, "", ""},
                      NameCase{0, false, ".profile", "~1.PRO"}, NameCase{0, false, "abcdefgh.long", "ABCDEF~1.LON"}));

INSTANTIATE_TEST_SUITE_P(DosCompatible, NameRuleTest,
                         ::testing::Values(NameCase{1, true, "backup.old", "BACKUP.OLD"},
                                           NameCase{1, false, "日本.txt", "日本.TXT"},
                                           // The trail byte of ソ (0x83 0x5C) is no backslash.
                                           NameCase{1, false, "ソース.c", "ソース.C"},
                                           NameCase{1, false, "abcdefghi.txt", "ABCDEF~1.TXT"},
                                           NameCase{1, false, "日本語テキスト.txt", "日本語~1.TXT"},
                                           // Six bytes of room never split a double-byte character.
                                           NameCase{1, false, "a日本語テキスト.txt", "A日本~1.TXT"},
                                           NameCase{1, false, "x[1]=y.z", "X_1__Y.Z"}));

INSTANTIATE_TEST_SUITE_P(Level2, NameRuleTest,
                         ::testing::Values(NameCase{2, false, "longfilename.txt", "LONGFILENAME~1.TXT"},
                                           NameCase{2, false, "short.txt", "SHORT.TXT"},
                                           NameCase{2, true, "a.b.c", "A_B"},
                                           NameCase{2, false, Repeat("x", 40) + ".doc", Repeat("X", 25) + "~1.DOC"},
                                           NameCase{2, true, Repeat("d", 40), Repeat("D", 29) + "~1"},
                                           NameCase{2, false, "データ.txt", ""},
                                           // A name the rule made, given again (a project loaded), stays.
                                           NameCase{2, false, "LONGFILENAME~1.TXT", "LONGFILENAME~1.TXT"},
                                           NameCase{2, true, "TQMENUBARREE~12", "TQMENUBARREE~12"},
                                           NameCase{2, true, "longname~0", "LONGNAME~0~1"},
                                           NameCase{2, true, "longname~x1", "LONGNAME~X1~1"}));

INSTANTIATE_TEST_SUITE_P(Romeo, NameRuleTest,
                         ::testing::Values(NameCase{3, false, "Mixed Case.txt", "MIXED CASE.TXT"},
                                           NameCase{3, false, Repeat("b", 128), Repeat("B", 128)},
                                           NameCase{3, false, Repeat("b", 129), ""}, NameCase{3, false, "a:b", "A_B"},
                                           NameCase{3, false, "..", ""}));

INSTANTIATE_TEST_SUITE_P(
    Level4, NameRuleTest,
    ::testing::Values(NameCase{4, false, "a:b", "a_b"}, NameCase{4, false, kA219, kA219},
                      NameCase{4, false, kA219 + "a", ""}, NameCase{4, false, "Keep Case.Txt", "Keep Case.Txt"},
                      // 109 double-byte characters are 218 CP932 bytes; 110 are 220.
                      NameCase{4, false, Repeat("あ", 109), Repeat("あ", 109)},
                      NameCase{4, false, Repeat("あ", 110), ""}, NameCase{4, false, ".", ""},
                      NameCase{4, false, "", ""}, NameCase{4, false, "q\"u|o<t>e?", "q_u_o_t_e_"},
                      NameCase{4, false, "bell\x07", "bell_"}));

INSTANTIATE_TEST_SUITE_P(Joliet, NameRuleTest,
                         ::testing::Values(NameCase{16, false, Repeat("漢", 64), Repeat("漢", 64)},
                                           NameCase{16, false, Repeat("漢", 65), ""},
                                           NameCase{16, true, "Data Files", "Data Files"},
                                           NameCase{16, false, "a:b", "a_b"},
                                           NameCase{16, false, "\xF0\x9F\x98\x80.txt", "_.txt"},
                                           NameCase{16, false, "bad\xFFutf8", "bad_utf8"},
                                           NameCase{17, false, Repeat("z", 107), Repeat("z", 107)},
                                           NameCase{17, false, Repeat("z", 108), ""}));

TEST(NameRule, UnknownVariantIsRefusedAndChangesNothing) {
  IsoTree tree;
  ASSERT_TRUE(tree.InitISOFS(0));
  ASSERT_TRUE(tree.AddISODummyFile("a.txt", 0, 0, 0));
  for (int v : {5, 15, 18, -1, 32}) EXPECT_FALSE(tree.InitISOFS(v)) << v;
  EXPECT_EQ(tree.Variant(), 0);
  EXPECT_FALSE(tree.IsISOEmpty());
  EXPECT_TRUE(tree.InitISOFS(16));
  EXPECT_TRUE(tree.IsISOEmpty());
}

TEST(NameRule, TildeNumbersCountUpAndAreReusedAfterRemoval) {
  IsoTree tree;
  ASSERT_TRUE(tree.InitISOFS(0));
  ASSERT_TRUE(tree.AddISODummyFile("My Document.text", 0, 0, 0));
  ASSERT_TRUE(tree.AddISODummyFile("My Documents.text", 0, 0, 0));
  EXPECT_EQ(tree.GetISONewFileDirectoryName(), "MY_DOC~2.TEX");
  ASSERT_TRUE(tree.RemoveISOFile("MY_DOC~1.TEX"));
  ASSERT_TRUE(tree.AddISODummyFile("My Document again.text", 0, 0, 0));
  EXPECT_EQ(tree.GetISONewFileDirectoryName(), "MY_DOC~1.TEX");
}

TEST(NameRule, ManySimilarNamesGetDistinctNumbers) {
  IsoTree tree;
  ASSERT_TRUE(tree.InitISOFS(0));
  std::set<std::string> names;
  for (int i = 0; i < 1200; ++i) {
    ASSERT_TRUE(tree.AddISODummyFile("similarname" + std::to_string(i) + ".dat", 0, 0, 0)) << i;
    names.insert(tree.GetISONewFileDirectoryName());
  }
  EXPECT_EQ(names.size(), 1200u);
  EXPECT_TRUE(names.count("SIMILA~1.DAT"));
  EXPECT_TRUE(names.count("SIMIL~10.DAT"));
  EXPECT_TRUE(names.count("SIMI~100.DAT"));
  EXPECT_TRUE(names.count("SIM~1000.DAT"));
  for (const std::string& n : names) EXPECT_LE(n.size(), 12u) << n;
}

TEST(NameRule, SecondNamesAreUniqueInTheDirectory) {
  IsoTree tree;
  ASSERT_TRUE(tree.InitISOFS(16));
  ASSERT_TRUE(tree.AddISODummyFile("a b.txt", 0, 0, 0));
  ASSERT_TRUE(tree.AddISODummyFile("a_b.txt", 0, 0, 0));
  ASSERT_TRUE(tree.MakeISODirectory("Data Files", 0, 0));
  ASSERT_TRUE(tree.MakeISODirectory("Data Folders", 0, 0));
  std::vector<std::string> first, second;
  for (const auto& [key, node] : tree.Current().entries) {
    first.push_back(node->name);
    second.push_back(node->short_name);
  }
  EXPECT_EQ(first, (std::vector<std::string>{"a b.txt", "a_b.txt", "Data Files", "Data Folders"}));
  EXPECT_EQ(second, (std::vector<std::string>{"A_B.TXT", "A_B~1.TXT", "DATA_F~1", "DATA_F~2"}));
}

TEST(NameRule, Cp932CutNeverSplitsACharacter) {
  std::string cp = NameToCp932("aあい");  // 61 82 A0 82 A2
  ASSERT_EQ(cp.size(), 5u);
  EXPECT_EQ(Cp932CutLength(cp, 2), 1u);
  EXPECT_EQ(Cp932CutLength(cp, 3), 3u);
  EXPECT_EQ(Cp932CutLength(cp, 4), 3u);
  EXPECT_EQ(Cp932CutLength(cp, 9), 5u);
  EXPECT_EQ(UpperCp932(NameToCp932("aソb")), NameToCp932("AソB"));
  EXPECT_EQ(Utf16Length("a漢\xF0\x9F\x98\x80"), 4u);
}

}  // namespace
}  // namespace sorvel
