#include "mastering_engine/path_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mastering_engine/name_table.h"

namespace sorvel {
namespace {

struct ParseCase {
  std::string path, drive, directory, base, extension;
};

std::ostream& operator<<(std::ostream& os, const ParseCase& c) { return os << "'" << c.path << "'"; }

class PathParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(PathParse, SplitsIntoFourParts) {
  const ParseCase& c = GetParam();
  PathName p(c.path);
  EXPECT_EQ(p.Drive(), c.drive);
  EXPECT_EQ(p.Directory(), c.directory);
  EXPECT_EQ(p.BaseName(), c.base);
  EXPECT_EQ(p.Extension(), c.extension);
  EXPECT_EQ(p.FullPath(), c.drive + c.directory + c.base + c.extension);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathParse,
    ::testing::Values(ParseCase{"C:\\dir\\..\\sub\\.\\name.tar.gz", "C:", "\\sub\\", "name.tar", ".gz"},
                      ParseCase{"notes", "", "", "notes", ""},
                      ParseCase{"dir.old\\file", "", "dir.old\\", "file", ""},
                      ParseCase{"/home/user/../data/./a.b", "", "/home/data/", "a", ".b"},
                      ParseCase{"../../x.txt", "", "../../", "x", ".txt"},
                      ParseCase{"\\\\server\\share\\f.iso", "", "\\\\server\\share\\", "f", ".iso"},
                      // ":" is an ordinary character on Linux except in a leading drive.
                      ParseCase{"/tmp/a:b.wav", "", "/tmp/", "a:b", ".wav"},
                      ParseCase{"/tmp/.bashrc", "", "/tmp/", "", ".bashrc"},
                      ParseCase{"/music/日本.wav", "", "/music/", "日本", ".wav"},
                      ParseCase{"", "", "", "", ""}));

TEST(PathName, SettersCheckTheirParts) {
  PathName p("C:\\a\\b.txt");
  EXPECT_FALSE(p.SetExtension("txt"));
  EXPECT_EQ(p.Extension(), ".txt");
  EXPECT_TRUE(p.SetExtension(".wav"));
  EXPECT_TRUE(p.SetExtension(""));
  EXPECT_TRUE(p.SetExtension(".wav"));
  EXPECT_FALSE(p.SetDirectory("\\dir"));
  EXPECT_TRUE(p.SetDirectory("/dir/"));
  EXPECT_FALSE(p.SetDrive("1:"));
  EXPECT_FALSE(p.SetDrive("D"));
  EXPECT_TRUE(p.SetDrive("d:\\more"));
  p.SetBaseName("song");
  EXPECT_EQ(p.FullPath(), "d:/dir/song.wav");
}

TEST(PathName, WildcardLists) {
  struct Case {
    std::string path, patterns;
    bool match;
  };
  const Case cases[] = {
      {"/m/a.wav", "*.wav", true},     {"/m/a.WAV", "*.wav", false},   {"/m/a.mp3", "*.wav|*.mp3", true},
      {"/m/a", "*.*", true},           {"/m/a", "*.wav", false},       {"/m/a.wav", "*", true},
      {"/m/ab.wav", "a?.wav", true},   {"/m/abc.wav", "a?.wav", false}, {"/m/a.wav", "/m/*.wav", true},
      {"/n/a.wav", "/m/*.wav", false}, {"/m/a.wav", "b*", false},      {"/m/a.wav", "", false},
  };
  for (const Case& c : cases) EXPECT_EQ(PathName(c.path).Matches(c.patterns), c.match) << c.path << " " << c.patterns;
}

TEST(NameTable, KeepsUniqueNamesInByteOrder) {
  NameTable t;
  EXPECT_TRUE(t.Add("B", 2));
  EXPECT_TRUE(t.Add("A", 1));
  EXPECT_TRUE(t.Add("a", 3));
  EXPECT_FALSE(t.Add("A", 9));
  EXPECT_EQ(t.Find("A"), 1u);
  EXPECT_FALSE(t.Find("C").has_value());
  std::string order;
  for (const auto& [name, value] : t.Entries()) order += name;
  EXPECT_EQ(order, "ABa");
  EXPECT_TRUE(t.Remove("A"));
  EXPECT_FALSE(t.Remove("A"));
  EXPECT_EQ(t.Count(), 2u);
}

// Names in ascending order go in without a search; any order keeps the table
// the same, and the last name is refused again like any other.
TEST(NameTable, AnyOrderOfAddingGivesTheSameTable) {
  const std::vector<std::vector<std::string>> orders = {
      {"A", "AB", "B", "BA", "C"}, {"C", "BA", "B", "AB", "A"}, {"B", "C", "A", "BA", "AB"}, {"AB", "A", "C", "BA", "B"}};
  for (const auto& order : orders) {
    NameTable t;
    for (const std::string& name : order) {
      EXPECT_FALSE(t.Contains(name)) << name;
      EXPECT_TRUE(t.Add(name)) << name;
      EXPECT_TRUE(t.Contains(name)) << name;
      EXPECT_FALSE(t.Add(name)) << name;
    }
    EXPECT_FALSE(t.Contains("D"));
    EXPECT_FALSE(t.Contains("AA"));
    std::string listed;
    for (const auto& [name, value] : t.Entries()) listed += name + " ";
    EXPECT_EQ(listed, "A AB B BA C ") << order.front();
  }
}

}  // namespace
}  // namespace sorvel
