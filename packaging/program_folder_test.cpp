// Where an installed program finds itself. A stand-in program sits where an
// install puts the real ones (lib/sorvel/ with a relative link in bin/), is
// started through the link or as its real file, and is asked while its file
// stays or after the file was replaced (as a reinstall does while it runs):
// every lookup of the GUI and of the daemon must name the real file's folder
// and name.
#include <gtest/gtest.h>

#include <QProcess>
#include <QString>
#include <filesystem>
#include <map>
#include <string>

#include "testing/test_paths.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;

struct StartCase {
  const char* name;
  bool through_link;
  bool replaced;
};

class ProgramFolderLookup : public ::testing::TestWithParam<StartCase> {};

// The probe's answer to one question: "key=value" lines up to "end".
std::map<std::string, std::string> Ask(QProcess& probe) {
  std::map<std::string, std::string> answer;
  probe.write("\n");
  for (int lines = 0; lines < 50; ++lines) {
    if (!probe.canReadLine() && !probe.waitForReadyRead(10000)) break;
    if (!probe.canReadLine()) continue;
    const std::string line = probe.readLine().trimmed().toStdString();
    if (line == "end") break;
    const size_t equals = line.find('=');
    if (equals != std::string::npos) answer[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return answer;
}

TEST_P(ProgramFolderLookup, EveryLookupNamesTheRealFile) {
  const StartCase& c = GetParam();
  testing::ScratchDir dir;
  const fs::path root = fs::canonical(dir.path());
  const fs::path folder = root / "lib" / "sorvel";
  const fs::path program = folder / "sorvel";
  fs::create_directories(folder);
  fs::create_directories(root / "bin");
  fs::copy_file(SORVEL_PATH_PROBE, program);
  fs::create_symlink("../lib/sorvel/sorvel", root / "bin" / "sorvel");

  QProcess probe;
  probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  probe.start(QString::fromStdString((c.through_link ? root / "bin" / "sorvel" : program).string()), {});
  ASSERT_TRUE(probe.waitForStarted(10000));
  ASSERT_TRUE(probe.waitForReadyRead(10000));
  ASSERT_EQ(probe.readLine().trimmed(), "ready");
  if (c.replaced) {
    fs::remove(program);
    fs::copy_file(SORVEL_PATH_PROBE, program);
  }
  const std::map<std::string, std::string> answer = Ask(probe);
  std::string unit_exec = "\"";
  unit_exec.append(program.string()).push_back('"');
  const std::map<std::string, std::string> expected = {
      {"program", program.string()},
      {"folder", folder.string()},
      {"base", "sorvel"},
      {"settings", (folder / "sorvel.INI").string()},
      {"engines", folder.string()},
      {"daemon_config", (folder / "sorvel.INI").string()},
      {"daemon_unit_ExecStart", unit_exec},
  };
  EXPECT_EQ(answer, expected);
  probe.closeWriteChannel();
  EXPECT_TRUE(probe.waitForFinished(10000));
}

INSTANTIATE_TEST_SUITE_P(Starts, ProgramFolderLookup,
                         ::testing::Values(StartCase{"RealFile", false, false}, StartCase{"ThroughLink", true, false},
                                           StartCase{"RealFileReplacedWhileRunning", false, true},
                                           StartCase{"ThroughLinkReplacedWhileRunning", true, true}),
                         [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.name; });

}  // namespace
}  // namespace sorvel
