#include "drive_daemon/ini_profile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "testing/stand_in_file.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

struct Lookup {
  const char* section;
  const char* key;
  std::string value;  // "" = no entry
};

struct LoadCase {
  const char* name;
  std::string text;
  std::vector<Lookup> lookups;
  size_t entries;
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class IniLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(IniLoad, ReadsAsTheDaemonDoes) {
  const LoadCase& c = GetParam();
  testing::ScratchDir dir;
  std::ofstream(dir / "k.INI", std::ios::binary) << c.text;
  IniProfile profile;
  ASSERT_TRUE(profile.Load((dir / "k.INI").string()));
  for (const Lookup& lookup : c.lookups) {
    EXPECT_EQ(profile.Get(lookup.section, lookup.key), lookup.value)
        << "[" << lookup.section << "]" << lookup.key;
  }
  EXPECT_EQ(profile.size(), c.entries);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IniLoad,
    ::testing::Values(
        LoadCase{"Plain", "[MAIN]\nLISTENINGPORT=9000\nMAXCONNECTION=5\n[DRIVES]\nD:=1\n",
                 {{"MAIN", "LISTENINGPORT", "9000"}, {"MAIN", "MAXCONNECTION", "5"}, {"DRIVES", "D:", "1"}},
                 3},
        // Lines of three characters or fewer are ignored, four are read.
        LoadCase{"ShortLines", "[MAIN]\nA=1\nAB=1\nB=\n",
                 {{"MAIN", "A", ""}, {"MAIN", "AB", "1"}}, 1},
        // A one-letter section header is a short line: its keys stay in the section before.
        LoadCase{"OneLetterSection", "[MAIN]\n[X]\nKEY=v\n", {{"MAIN", "KEY", "v"}, {"X", "KEY", ""}}, 1},
        LoadCase{"SpacesStayInKeysAndValues", "[MAIN]\nLISTENINGPORT = 9000\n",
                 {{"MAIN", "LISTENINGPORT", ""}, {"MAIN", "LISTENINGPORT ", " 9000"}}, 1},
        // Names are compared byte for byte: other spellings are other entries.
        LoadCase{"CaseSensitive", "[main]\nLISTENINGPORT=9000\n[MAIN]\nlisteningport=1\n",
                 {{"MAIN", "LISTENINGPORT", ""}, {"main", "LISTENINGPORT", "9000"}, {"MAIN", "listeningport", "1"}},
                 2},
        LoadCase{"LowerCaseNamesAnswerNoUpperCaseLookup", "[main]\nlisteningport=9000\n[drives]\nd:=1\n",
                 {{"MAIN", "LISTENINGPORT", ""}, {"DRIVES", "D:", ""}, {"main", "listeningport", "9000"},
                  {"drives", "d:", "1"}, {"Main", "Listeningport", ""}},
                 2},
        // A key given twice: the same bytes replace, another case is a key of its own.
        LoadCase{"RepeatedKeyInOtherCaseIsAnotherKey", "[DRIVES]\nD:=1\nd:=0\n[MAIN]\nPORT=1\nport=2\nPORT=3\n",
                 {{"DRIVES", "D:", "1"}, {"DRIVES", "d:", "0"}, {"MAIN", "PORT", "3"}, {"MAIN", "port", "2"}},
                 4},
        LoadCase{"SectionGivenTwiceInOtherCase", "[DRIVES]\nD:=1\n[Drives]\nD:=0\n",
                 {{"DRIVES", "D:", "1"}, {"Drives", "D:", "0"}}, 2},
        LoadCase{"SplitAtFirstEquals", "[S1]\nKEY=a=b\n=value\nNOEQUALS\nEMPTY=\n",
                 {{"S1", "KEY", "a=b"}, {"S1", "EMPTY", ""}}, 1},
        LoadCase{"LaterEntryReplaces", "[S1]\nKEY=1\nKEY=2\n", {{"S1", "KEY", "2"}}, 1},
        LoadCase{"KeysBeforeAnySection", "KEY=1\n", {{"", "KEY", "1"}}, 1},
        LoadCase{"LineEnds", "[S1]\r\nCRLF=1\r\n[S2]\rCR=2\rLAST=3",
                 {{"S1", "CRLF", "1"}, {"S2", "CR", "2"}, {"S2", "LAST", "3"}}, 3},
        LoadCase{"ByteOrderMark", "\xEF\xBB\xBF[MAIN]\nKEY=1\n", {{"MAIN", "KEY", "1"}}, 1},
        // A long line is cut at 255 characters; its rest is not read as a line of its own.
        LoadCase{"LongLine", "[S1]\nLONG=" + std::string(250, 'x') + "TAIL=1\nNEXT=2\n",
                 {{"S1", "LONG", std::string(250, 'x')}, {"S1", "TAIL", ""}, {"S1", "NEXT", "2"}}, 2},
        LoadCase{"Empty", "", {{"MAIN", "LISTENINGPORT", ""}}, 0}),
    [](const ::testing::TestParamInfo<LoadCase>& info) { return info.param.name; });

TEST(IniProfile, MissingFileLeavesTableUnchanged) {
  IniProfile profile;
  profile.Set("MAIN", "KEY", "1");
  EXPECT_FALSE(profile.Load("/nonexistent/dir/k.INI"));
  EXPECT_EQ(profile.Get("MAIN", "KEY"), "1");
}

// A configuration file that is there but is no regular file of at most
// 16 MiB is not read: the table stays, and the problem says why.
class IniForeignFile : public ::testing::TestWithParam<testing::StandIn> {};

TEST_P(IniForeignFile, IsRefusedWithoutWaiting) {
  testing::ScratchDir dir;
  testing::StandInFile file(dir / "k.INI", GetParam(), "[MAIN]\nKEY=1\n", platform::kMaxSettingsFileBytes);
  IniProfile profile;
  profile.Set("MAIN", "KEY", "kept");
  platform::FileProblem problem;
  EXPECT_FALSE(profile.Load((dir / "k.INI").string(), &problem));
  EXPECT_FALSE(file.Blocked());
  EXPECT_EQ(problem.kind, GetParam() == testing::StandIn::kOversize ? platform::FileProblem::kTooLarge
                                                                    : platform::FileProblem::kNotRegular);
  EXPECT_EQ(profile.Get("MAIN", "KEY"), "kept");
}

INSTANTIATE_TEST_SUITE_P(StandIns, IniForeignFile,
                         ::testing::Values(testing::StandIn::kFifo, testing::StandIn::kZeroDevice,
                                           testing::StandIn::kFolder, testing::StandIn::kOversize),
                         [](const auto& info) { return std::string(testing::StandInName(info.param)); });

TEST(IniProfile, LoadReplacesTheWholeTable) {
  testing::ScratchDir dir;
  std::ofstream(dir / "k.INI") << "[NEW]\nKEY=1\n";
  IniProfile profile;
  profile.Set("OLD", "KEY", "1");
  ASSERT_TRUE(profile.Load((dir / "k.INI").string()));
  EXPECT_EQ(profile.Get("OLD", "KEY"), "");
  EXPECT_EQ(profile.size(), 1u);
}

TEST(IniProfile, SaveWritesSectionsInKeyOrderAndLoadsBack) {
  testing::ScratchDir dir;
  IniProfile profile;
  profile.Set("MAIN", "MAXCONNECTION", "20");
  profile.Set("DRIVES", "E:", "0");
  profile.Set("MAIN", "LISTENINGPORT", "8801");
  profile.Set("DRIVES", "D:", "1");
  profile.Set("MAIN", "Zeta", "z");  // lower case sorts after upper case
  ASSERT_TRUE(profile.Save((dir / "k.INI").string()));
  std::ifstream in(dir / "k.INI", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "[DRIVES]\r\nD:=1\r\nE:=0\r\n"
            "\r\n[MAIN]\r\nLISTENINGPORT=8801\r\nMAXCONNECTION=20\r\nZeta=z\r\n");
  IniProfile loaded;
  ASSERT_TRUE(loaded.Load((dir / "k.INI").string()));
  EXPECT_EQ(loaded.size(), 5u);
  EXPECT_EQ(loaded.Get("DRIVES", "D:"), "1");
  EXPECT_EQ(loaded.Get("MAIN", "Zeta"), "z");
}

TEST(IniProfile, RemoveOneEntryOrASection) {
  IniProfile profile;
  profile.Set("A1", "X", "1");
  profile.Set("A1", "Y", "2");
  profile.Set("A12", "X", "3");  // shares the prefix "[A1" but is another section
  profile.Remove("A1", "X");
  EXPECT_EQ(profile.Get("A1", "X"), "");
  EXPECT_EQ(profile.Get("A1", "Y"), "2");
  profile.Remove("A1", "");
  EXPECT_EQ(profile.Get("A1", "Y"), "");
  EXPECT_EQ(profile.Get("A12", "X"), "3");
  profile.Clear();
  EXPECT_EQ(profile.size(), 0u);
}

}  // namespace
}  // namespace sorvel
