#include "drive_daemon/daemon_config.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "testing/stand_in_file.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

struct PathCase {
  const char* program;
  const char* config;
};

void PrintTo(const PathCase& c, std::ostream* os) { *os << '"' << c.program << '"'; }

class ConfigPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(ConfigPath, ReplacesTheExtensionOfTheFileName) {
  EXPECT_EQ(ConfigFilePath(GetParam().program), GetParam().config);
}

INSTANTIATE_TEST_SUITE_P(Paths, ConfigPath,
                         ::testing::Values(PathCase{"/usr/bin/kestrow", "/usr/bin/kestrow.INI"},
                                           PathCase{"/opt/x/kestrow.exe", "/opt/x/kestrow.INI"},
                                           PathCase{"/opt/v1.2/kestrow", "/opt/v1.2/kestrow.INI"},
                                           PathCase{"/a.b/c.d.e", "/a.b/c.d.INI"},
                                           PathCase{"/x/kestrow.", "/x/kestrow.INI"},
                                           PathCase{"/x/.kestrow", "/x/.kestrow.INI"},
                                           PathCase{"kestrow", "kestrow.INI"},
                                           PathCase{"", "KESTROW.INI"}));

TEST(ConfigPath, ProgramPathIsThisProgram) {
  std::string path = ProgramPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(ParseLeadingInteger, PrefixParse) {
  EXPECT_EQ(ParseLeadingInteger("8801"), 8801);
  EXPECT_EQ(ParseLeadingInteger("  42abc"), 42);
  EXPECT_EQ(ParseLeadingInteger("+7"), 7);
  EXPECT_EQ(ParseLeadingInteger("-12"), -12);
  EXPECT_EQ(ParseLeadingInteger("abc"), 0);
  EXPECT_EQ(ParseLeadingInteger(""), 0);
  EXPECT_EQ(ParseLeadingInteger("- 5"), 0);
  EXPECT_EQ(ParseLeadingInteger("9223372036854775807"), LLONG_MAX);
  EXPECT_EQ(ParseLeadingInteger("99999999999999999999999"), LLONG_MAX);
  EXPECT_EQ(ParseLeadingInteger("-9223372036854775808"), LLONG_MIN);
  EXPECT_EQ(ParseLeadingInteger("-99999999999999999999999"), LLONG_MIN);
}

struct ValueCase {
  const char* port;        // nullptr: no entry
  const char* max_connection;
  uint16_t expected_port;
  uint32_t expected_max_connection;
};

void PrintTo(const ValueCase& c, std::ostream* os) {
  *os << (c.port ? c.port : "(none)") << "/" << (c.max_connection ? c.max_connection : "(none)");
}

class MainValues : public ::testing::TestWithParam<ValueCase> {};

TEST_P(MainValues, DefaultsAndBounds) {
  const ValueCase& c = GetParam();
  IniProfile profile;
  if (c.port != nullptr) profile.Set("MAIN", "LISTENINGPORT", c.port);
  if (c.max_connection != nullptr) profile.Set("MAIN", "MAXCONNECTION", c.max_connection);
  DaemonConfig config = ReadDaemonConfig(profile, kMaxMaxConnection);
  EXPECT_EQ(config.listening_port, c.expected_port);
  EXPECT_EQ(config.max_connection, c.expected_max_connection);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MainValues,
    ::testing::Values(ValueCase{nullptr, nullptr, 8801, 20}, ValueCase{"9000", "5", 9000, 5},
                      ValueCase{"0", "0", 8801, 20}, ValueCase{"70000", "70000", 8801, 1024},
                      ValueCase{"65535", "65535", 65535, 1024}, ValueCase{"1", "1", 1, 1},
                      ValueCase{"65536", "1024", 8801, 1024}, ValueCase{"-1", "-5", 8801, 20},
                      ValueCase{"port", "many", 8801, 20}, ValueCase{"9000x", "12y", 9000, 12},
                      ValueCase{"1", "1025", 1, 1024}, ValueCase{"1", "100000", 1, 1024},
                      ValueCase{"4294975097", "4294967316", 8801, 1024},
                      ValueCase{"99999999999999999999", "99999999999999999999", 8801, 1024}));

// A quarter of the soft descriptor limit, at most 1,024 and at least 1; the
// default of 20 is clamped too.
TEST(MaxConnectionCeiling, FollowsTheDescriptorLimit) {
  struct Case {
    uint64_t soft_nofile;
    uint32_t ceiling;
  };
  for (const Case& c : {Case{0, 1}, Case{3, 1}, Case{7, 1}, Case{8, 2}, Case{40, 10}, Case{1024, 256},
                        Case{4096, 1024}, Case{4100, 1024}, Case{1048576, 1024}, Case{UINT64_MAX, 1024}}) {
    EXPECT_EQ(MaxConnectionCeilingFor(c.soft_nofile), c.ceiling) << c.soft_nofile;
  }
  IniProfile profile;
  EXPECT_EQ(ReadDaemonConfig(profile, 10).max_connection, 10u);
  profile.Set("MAIN", "MAXCONNECTION", "100000");
  EXPECT_EQ(ReadDaemonConfig(profile, 256).max_connection, 256u);
  EXPECT_EQ(ReadDaemonConfig(profile).max_connection, MaxConnectionCeiling());
  EXPECT_LE(MaxConnectionCeiling(), kMaxMaxConnection);
}

TEST(DriveValues, NonZeroNumberEnablesTheLetter) {
  IniProfile profile;
  profile.Set("DRIVES", "D:", "1");
  profile.Set("DRIVES", "E:", "0");
  profile.Set("DRIVES", "F:", "yes");
  profile.Set("DRIVES", "G:", "-1");
  profile.Set("DRIVES", "H:", "2x");
  profile.Set("DRIVES", "i:", "1");  // letters are upper case
  profile.Set("MAIN", "J:", "1");    // only in [DRIVES]
  DaemonConfig config = ReadDaemonConfig(profile);
  std::string enabled;
  for (int i = 0; i < 26; ++i) {
    if (config.drive_enabled[i]) enabled += static_cast<char>('A' + i);
  }
  EXPECT_EQ(enabled, "DGH");
}

class RecordingServer : public DaemonServer {
 public:
  void SetDriveEnabled(int index, bool enabled) override { calls.emplace_back(index, enabled); }
  bool Start(uint16_t port, uint32_t max_connection) override {
    started_port = port;
    started_max_connection = max_connection;
    return listen_result;
  }
  void Stop() override {}

  std::vector<std::pair<int, bool>> calls;
  uint16_t started_port = 0;
  uint32_t started_max_connection = 0;
  bool listen_result = true;
};

TEST(ConfigureAndListen, ReadsTheFileBesideTheProgramAndStartsTheServer) {
  testing::ScratchDir dir;
  std::ofstream(dir / "kestrow.INI") << "[MAIN]\r\nLISTENINGPORT=9123\r\nMAXCONNECTION=100000\r\n"
                                        "[DRIVES]\r\nC:=1\r\nD:=1\r\nE:=0\r\n";
  RecordingServer server;
  std::ostringstream out;
  std::string program = (dir / "kestrow").string();
  EXPECT_TRUE(ConfigureAndListen(server, program, out));
  EXPECT_EQ(out.str(), "[" + program + ".INI]\n"
                       "EnabledDrives = C: D: \n"
                       "Start Listening ...\n"
                       "ListeningPort = 9123\n"
                       "MaxConenction = " + std::to_string(MaxConnectionCeiling()) + "\n");
  ASSERT_EQ(server.calls.size(), 26u);
  for (int i = 0; i < 26; ++i) {
    EXPECT_EQ(server.calls[i], std::make_pair(i, i == 2 || i == 3));
  }
  EXPECT_EQ(server.started_port, 9123);
  EXPECT_EQ(server.started_max_connection, MaxConnectionCeiling());

  server.listen_result = false;
  EXPECT_FALSE(ConfigureAndListen(server, program, out));
}

// Section and key names are read as written: only "[MAIN]", "[DRIVES]" and
// the upper-case keys and letters set anything; a key repeated in another
// case is another key.
struct FileCase {
  const char* name;
  std::string text;
  uint16_t port;
  uint32_t max_connection;
  const char* enabled;  // the enabled letters
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class ConfigFileNames : public ::testing::TestWithParam<FileCase> {};

TEST_P(ConfigFileNames, AreCaseSensitive) {
  const FileCase& c = GetParam();
  testing::ScratchDir dir;
  std::ofstream(dir / "kestrow.INI", std::ios::binary) << c.text;
  RecordingServer server;
  std::ostringstream out;
  EXPECT_TRUE(ConfigureAndListen(server, (dir / "kestrow").string(), out));
  EXPECT_EQ(server.started_port, c.port);
  EXPECT_EQ(server.started_max_connection, c.max_connection);
  std::string enabled, listed;
  ASSERT_EQ(server.calls.size(), 26u);
  for (const auto& [index, on] : server.calls) {
    if (on) enabled += static_cast<char>('A' + index);
  }
  EXPECT_EQ(enabled, c.enabled);
  for (const char* letter = c.enabled; *letter != '\0'; ++letter) listed += std::string(1, *letter) + ": ";
  EXPECT_NE(out.str().find("EnabledDrives = " + listed + "\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("ListeningPort = " + std::to_string(c.port) + "\n"), std::string::npos) << out.str();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigFileNames,
    ::testing::Values(
        FileCase{"UpperCase", "[MAIN]\nLISTENINGPORT=9000\nMAXCONNECTION=5\n[DRIVES]\nD:=1\n", 9000, 5, "D"},
        FileCase{"LowerCase", "[main]\nlisteningport=9000\nmaxconnection=5\n[drives]\nd:=1\nD:=1\n", 8801, 20, ""},
        FileCase{"LowerCaseSections", "[main]\nLISTENINGPORT=9000\n[drives]\nD:=1\n", 8801, 20, ""},
        FileCase{"LowerCaseKeys", "[MAIN]\nlisteningport=9000\nMaxConnection=5\n[DRIVES]\nd:=1\n", 8801, 20, ""},
        FileCase{"MixedCaseSections", "[Main]\nLISTENINGPORT=9000\n[Drives]\nD:=1\n", 8801, 20, ""},
        // The same key again replaces the value; the key in lower case does not.
        FileCase{"RepeatedKey", "[DRIVES]\nD:=1\nE:=1\nE:=0\n[MAIN]\nLISTENINGPORT=9000\nLISTENINGPORT=9001\n", 9001,
                 20, "D"},
        FileCase{"RepeatedKeyInLowerCase", "[DRIVES]\nD:=1\nd:=0\n[MAIN]\nLISTENINGPORT=9000\nlisteningport=1\n",
                 9000, 20, "D"}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return info.param.name; });

TEST(ConfigureAndListen, AFileThatCannotBeReadIsSaidAndGivesDefaults) {
  testing::ScratchDir dir;
  testing::StandInFile fifo(dir / "kestrow.INI", testing::StandIn::kFifo);
  RecordingServer server;
  std::ostringstream out;
  EXPECT_TRUE(ConfigureAndListen(server, (dir / "kestrow").string(), out));
  EXPECT_FALSE(fifo.Blocked());
  EXPECT_NE(out.str().find((dir / "kestrow.INI").string() + " is not a regular file\n"), std::string::npos);
  EXPECT_EQ(server.started_port, 8801);
  for (const auto& call : server.calls) EXPECT_FALSE(call.second);
}

TEST(ConfigureAndListen, MissingFileGivesDefaultsAndNoDrive) {
  testing::ScratchDir dir;
  RecordingServer server;
  std::ostringstream out;
  EXPECT_TRUE(ConfigureAndListen(server, (dir / "kestrow").string(), out));
  EXPECT_NE(out.str().find("EnabledDrives = \n"), std::string::npos);
  EXPECT_EQ(server.started_port, 8801);
  EXPECT_EQ(server.started_max_connection, 20u);
  for (const auto& call : server.calls) EXPECT_FALSE(call.second);
}

}  // namespace
}  // namespace sorvel
