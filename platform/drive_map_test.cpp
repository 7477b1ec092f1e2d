#include "platform/drive_map.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "testing/stand_in_file.h"
#include "testing/test_paths.h"

namespace sorvel::platform {
namespace {

namespace fs = std::filesystem;

std::string Describe(const DriveMap& map) {
  std::string out;
  for (const DriveMapEntry& e : map.entries()) out += std::string(1, e.letter) + "=" + e.device + ";";
  return out;
}

struct ParseCase {
  const char* name;
  const char* text;
  char separator;
  const char* expected;
  size_t errors;
};

class DriveMapParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(DriveMapParse, KeepsGoodEntriesAndReportsBadOnes) {
  const ParseCase& c = GetParam();
  DriveMap map = DriveMap::Parse(c.text, c.separator);
  EXPECT_EQ(Describe(map), c.expected);
  EXPECT_EQ(map.errors().size(), c.errors);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DriveMapParse,
    ::testing::Values(
        ParseCase{"variable", "E:=/dev/sr0;F:=emu:/tmp/a.state,medium=cd-r", ';',
                  "E=/dev/sr0;F=emu:/tmp/a.state,medium=cd-r;", 0},
        ParseCase{"lower_case_letter_and_blanks", "  g: = /dev/sg3 ;", ';', "G=/dev/sg3;", 0},
        ParseCase{"file_lines_crlf_comments", "# drives\r\nD:=/dev/sr1\r\n\r\nE:=emu:/x\n", '\n',
                  "D=/dev/sr1;E=emu:/x;", 0},
        ParseCase{"empty", "", ';', "", 0},
        ParseCase{"no_equals", "D:/dev/sr0;E:=/dev/sr1", ';', "E=/dev/sr1;", 1},
        ParseCase{"bad_letters", "DD:=/dev/sr0;1:=/dev/sr1;D=/dev/sr2;:=/dev/sr3", ';', "", 4},
        ParseCase{"no_device", "D:=;E:=emu:;F:=sr0;G:=../dev/sr0", ';', "", 4},
        ParseCase{"twice", "D:=/dev/sr0;d:=/dev/sr1", ';', "D=/dev/sr0;", 1},
        ParseCase{"non_ascii_letter", "\xC3\xA9:=/dev/sr0", ';', "", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DriveMap, VariableIsTheWholeMapEvenWhenAFileExists) {
  sorvel::testing::ScratchDir dir;
  std::ofstream(dir / "drives.conf") << "D:=/dev/sr5\n";
  DriveMapSources sources;
  sources.drives_variable = "X:=emu:/s";
  sources.config_file = dir / "drives.conf";
  sources.device_dir = dir.path();
  EXPECT_EQ(Describe(DriveMap::Load(sources)), "X=emu:/s;");
  sources.drives_variable = "";
  EXPECT_EQ(Describe(DriveMap::Load(sources)), "");
}

TEST(DriveMap, FileWhenNoVariableElseOpticalDrives) {
  sorvel::testing::ScratchDir dir;
  fs::create_directories(dir / "dev");
  for (const char* name : {"sr10", "sr2", "sr0", "sg0", "sr", "srx", "sda"}) std::ofstream(dir / "dev" / name);
  DriveMapSources sources;
  sources.config_file = dir / "drives.conf";
  sources.device_dir = dir / "dev";
  std::string dev = (dir / "dev").string();
  EXPECT_EQ(Describe(DriveMap::Load(sources)), "D=" + dev + "/sr0;E=" + dev + "/sr2;F=" + dev + "/sr10;");
  std::ofstream(dir / "drives.conf") << "Q:=/dev/sr3\nbad line\n";
  DriveMap map = DriveMap::Load(sources);
  EXPECT_EQ(Describe(map), "Q=/dev/sr3;");
  EXPECT_EQ(map.errors().size(), 1u);
}

// drives.conf that is there but cannot be read: the optical drives, and why
// not the file. A missing file (or a link to nowhere) is no problem at all.
class DriveMapConfigFile : public ::testing::TestWithParam<sorvel::testing::StandIn> {};

TEST_P(DriveMapConfigFile, IsReadOnlyAsARegularFileOfBoundedSize) {
  using sorvel::testing::StandIn;
  const StandIn stand_in = GetParam();
  sorvel::testing::ScratchDir dir;
  fs::create_directories(dir / "dev");
  std::ofstream(dir / "dev" / "sr0");
  DriveMapSources sources;
  sources.config_file = dir / "drives.conf";
  sources.device_dir = dir / "dev";
  sorvel::testing::StandInFile file(sources.config_file, stand_in, "Q:=/dev/sr3\n", kMaxSettingsFileBytes);
  const DriveMap map = DriveMap::Load(sources);
  EXPECT_FALSE(file.Blocked());
  if (stand_in == StandIn::kRegular) {
    EXPECT_EQ(Describe(map), "Q=/dev/sr3;");
    EXPECT_FALSE(map.config_problem());
    return;
  }
  EXPECT_EQ(Describe(map), "D=" + (dir / "dev" / "sr0").string() + ";");
  const bool absent = stand_in == StandIn::kMissing || stand_in == StandIn::kDanglingLink;
  EXPECT_EQ(static_cast<bool>(map.config_problem()), !absent);
  ASSERT_EQ(map.errors().size(), absent ? 0u : 1u);
  if (!absent) {
    EXPECT_EQ(map.errors()[0], DescribeFileProblem(sources.config_file.string(), map.config_problem()));
  }
  EXPECT_EQ(map.config_problem().kind, stand_in == StandIn::kOversize ? FileProblem::kTooLarge
                                       : absent                       ? FileProblem::kNone
                                                                      : FileProblem::kNotRegular);
}

INSTANTIATE_TEST_SUITE_P(StandIns, DriveMapConfigFile,
                         ::testing::Values(sorvel::testing::StandIn::kRegular, sorvel::testing::StandIn::kMissing,
                                           sorvel::testing::StandIn::kFifo, sorvel::testing::StandIn::kZeroDevice,
                                           sorvel::testing::StandIn::kFolder,
                                           sorvel::testing::StandIn::kDanglingLink,
                                           sorvel::testing::StandIn::kOversize),
                         [](const auto& info) { return std::string(sorvel::testing::StandInName(info.param)); });

TEST(DriveMap, OpticalDrivesStopAtZ) {
  sorvel::testing::ScratchDir dir;
  for (int i = 0; i < 30; ++i) std::ofstream(dir / ("sr" + std::to_string(i)));
  DriveMap map = DriveMap::FromOpticalDrives(dir.path());
  ASSERT_EQ(map.entries().size(), 23u);
  EXPECT_EQ(map.entries().back().letter, 'Z');
  EXPECT_EQ(*map.Find('z'), (dir / "sr22").string());
}

TEST(DriveMap, DefaultSourcesFollowTheEnvironment) {
  const char* saved_drives = std::getenv("SORVEL_DRIVES");
  const char* saved_xdg = std::getenv("XDG_CONFIG_HOME");
  const char* saved_home = std::getenv("HOME");
  std::string keep_drives = saved_drives ? saved_drives : "", keep_xdg = saved_xdg ? saved_xdg : "",
              keep_home = saved_home ? saved_home : "";

  unsetenv("SORVEL_DRIVES");
  setenv("XDG_CONFIG_HOME", "/cfg", 1);
  DriveMapSources s = DefaultDriveMapSources();
  EXPECT_FALSE(s.drives_variable.has_value());
  EXPECT_EQ(s.config_file, fs::path("/cfg/sorvel/drives.conf"));
  setenv("XDG_CONFIG_HOME", "relative", 1);
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(DefaultDriveMapSources().config_file, fs::path("/home/u/.config/sorvel/drives.conf"));
  unsetenv("XDG_CONFIG_HOME");
  setenv("SORVEL_DRIVES", "D:=/dev/sr0", 1);
  s = DefaultDriveMapSources();
  EXPECT_EQ(s.drives_variable.value_or("-"), "D:=/dev/sr0");
  EXPECT_EQ(s.config_file, fs::path("/home/u/.config/sorvel/drives.conf"));

  auto restore = [](const char* name, const char* saved, const std::string& value) {
    if (saved) setenv(name, value.c_str(), 1); else unsetenv(name);
  };
  restore("SORVEL_DRIVES", saved_drives, keep_drives);
  restore("XDG_CONFIG_HOME", saved_xdg, keep_xdg);
  restore("HOME", saved_home, keep_home);
}

struct LetterCase {
  const char* name;
  char letter;  // 0: not a drive name
};

class DriveLetter : public ::testing::TestWithParam<LetterCase> {};

TEST_P(DriveLetter, ParsesOnlyDriveNames) {
  std::optional<char> letter = ParseDriveLetter(GetParam().name);
  EXPECT_EQ(letter.value_or(0), GetParam().letter) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Names, DriveLetter,
                         ::testing::Values(LetterCase{"D:", 'D'}, LetterCase{"e:", 'E'},
                                           LetterCase{"\\\\.\\f:", 'F'}, LetterCase{"\\\\.\\Z:", 'Z'},
                                           LetterCase{"/dev/sr0", 0}, LetterCase{"\\\\.\\D:\\", 0},
                                           LetterCase{"\\\\?\\D:", 0}, LetterCase{"D", 0},
                                           LetterCase{"DD:", 0}, LetterCase{"1:", 0}, LetterCase{"", 0},
                                           LetterCase{"../../etc/passwd", 0}, LetterCase{"\\\\.\\", 0}));

TEST(DriveMap, OpenMappedDriveExplainsFailures) {
  DriveMap map = DriveMap::Parse("D:=/nonexistent/sr0;bad", ';');
  std::string error;
  EXPECT_EQ(OpenMappedDrive('E', map, &error), nullptr);
  EXPECT_NE(error.find("E: is not in the drive map"), std::string::npos) << error;
  EXPECT_NE(error.find("bad"), std::string::npos) << error;
  error.clear();
  EXPECT_EQ(OpenMappedDrive('d', map, &error), nullptr);
  EXPECT_NE(error.find("/nonexistent/sr0"), std::string::npos) << error;
}

}  // namespace
}  // namespace sorvel::platform
