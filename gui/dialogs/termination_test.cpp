// A read in a process of its own ended from outside: by SIGTERM, SIGINT or
// SIGHUP it stops as its stop button stops it and the process ends, leaving
// no file of the run; killed outright (SIGKILL) it leaves its hidden
// temporaries, which the next read into that name removes.
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/cd_image_fixture.h"
#include "testing/file_bytes.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;

// The names in `folder` that start with a dot.
std::vector<std::string> HiddenNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with('.')) names.push_back(entry.path().filename().string());
  }
  return names;
}

class ReadRunner {
 public:
  ReadRunner(const testing::ScratchDir& dir, const testing::CueFixture& disc) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SORVEL_DRIVES"),
                       QString::fromStdString("D:=emu:" + (dir / "d.state").string() + ",image=" + disc.cue.string()));
    environment.insert(QStringLiteral("ENGINES"),
                       QFileInfo(QString::fromStdString(testing::BuiltLibraryPath("libtrelin.so"))).path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.setStandardOutputFile(QProcess::nullDevice());
    folder_ = QString::fromStdString(dir.path().string());
  }
  ~ReadRunner() {
    if (process_.state() != QProcess::NotRunning) {
      process_.kill();
      process_.waitForFinished(10000);
    }
  }
  // Starts a read into `image`; with `marker`, held once it has read a few
  // sectors (until it is stopped, or with `resume` until that file exists).
  // With `ignore_hangup`, started as `nohup` starts it: SIGHUP ignored.
  void Start(const fs::path& image, const fs::path& marker = {}, const fs::path& resume = {},
             bool ignore_hangup = false) {
    QStringList arguments{folder_, QString::fromStdString(image.string())};
    if (!marker.empty()) arguments << QString::fromStdString(marker.string());
    if (!resume.empty()) arguments << QString::fromStdString(resume.string());
    // Built beside the test programs.
    const fs::path program = fs::read_symlink("/proc/self/exe").parent_path() / "sorvel_read_runner";
    if (ignore_hangup) {
      arguments.prepend(QString::fromStdString(program.string()));  // $0
      arguments.prepend(QStringLiteral("trap '' HUP; exec \"$0\" \"$@\""));
      arguments.prepend(QStringLiteral("-c"));
      process_.start(QStringLiteral("/bin/sh"), arguments);
      return;
    }
    process_.start(QString::fromStdString(program.string()), arguments);
  }
  // Waits (bounded) until `file` exists or the process ended.
  bool WaitForFile(const fs::path& file) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!fs::exists(file) && process_.state() != QProcess::NotRunning && elapsed.elapsed() < 60000) {
      process_.waitForFinished(20);
    }
    return fs::exists(file);
  }
  QProcess& process() { return process_; }

 private:
  QProcess process_;
  QString folder_;
};

struct SignalCase {
  const char* name;
  int signal_number;
};

class ReadEndedBySignalTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(ReadEndedBySignalTest, StopsTheReadLeavesNoFileAndEndsTheProgram) {
  testing::ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 3000, "", false}});
  fs::create_directories(dir / "out");
  ReadRunner runner(dir, disc);
  runner.Start(dir / "out" / "x.img", dir / "reading");
  ASSERT_TRUE(runner.WaitForFile(dir / "reading"));
  ASSERT_FALSE(HiddenNames(dir / "out").empty());  // the run's temporaries
  QElapsedTimer elapsed;
  elapsed.start();
  ASSERT_EQ(::kill(static_cast<pid_t>(runner.process().processId()), GetParam().signal_number), 0);
  ASSERT_TRUE(runner.process().waitForFinished(5000));
  EXPECT_LT(elapsed.elapsed(), 5000);
  EXPECT_EQ(runner.process().exitStatus(), QProcess::CrashExit);  // ended by the signal
  EXPECT_TRUE(fs::is_empty(dir / "out")) << HiddenNames(dir / "out").size();
}

INSTANTIATE_TEST_SUITE_P(Signals, ReadEndedBySignalTest,
                         ::testing::Values(SignalCase{"Term", SIGTERM}, SignalCase{"Int", SIGINT},
                                           SignalCase{"Hup", SIGHUP}),
                         [](const auto& info) { return std::string(info.param.name); });

// Started with SIGHUP ignored (`nohup sorvel`), the program keeps it
// ignored: a hangup during a read neither stops it nor ends the program.
TEST(ReadWithHangupIgnoredTest, HangupNeitherStopsTheReadNorEndsTheProgram) {
  testing::ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 3000, "", false}});
  fs::create_directories(dir / "out");
  ReadRunner runner(dir, disc);
  runner.Start(dir / "out" / "x.img", dir / "reading", dir / "resume", true);
  ASSERT_TRUE(runner.WaitForFile(dir / "reading"));
  ASSERT_EQ(::kill(static_cast<pid_t>(runner.process().processId()), SIGHUP), 0);
  testing::WriteFileBytes(dir / "resume", "");
  ASSERT_TRUE(runner.process().waitForFinished(120000));
  EXPECT_EQ(runner.process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(runner.process().exitCode(), 0);
  EXPECT_EQ(fs::file_size(dir / "out" / "x.img"), fs::file_size(disc.bin));
}

// A second signal ends the program at once, also while the job that the
// first one stopped has not ended yet.
TEST(ReadEndedBySignalTest, SecondSignalEndsTheProgramAtOnce) {
  testing::ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 3000, "", false}});
  fs::create_directories(dir / "out");
  ReadRunner runner(dir, disc);
  runner.Start(dir / "out" / "x.img", dir / "reading", dir / "never");  // held past its stop
  ASSERT_TRUE(runner.WaitForFile(dir / "reading"));
  const pid_t pid = static_cast<pid_t>(runner.process().processId());
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  ASSERT_TRUE(runner.process().waitForFinished(10000));
  EXPECT_EQ(runner.process().exitStatus(), QProcess::CrashExit);
}

TEST(ReadKilledTest, NextReadIntoTheNameRemovesTheKilledReadsTemporaries) {
  testing::ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 3000, "", false}});
  fs::create_directories(dir / "out");
  {
    ReadRunner killed(dir, disc);
    killed.Start(dir / "out" / "x.img", dir / "reading");
    ASSERT_TRUE(killed.WaitForFile(dir / "reading"));
    ASSERT_EQ(::kill(static_cast<pid_t>(killed.process().processId()), SIGKILL), 0);
    ASSERT_TRUE(killed.process().waitForFinished(10000));
  }
  ASSERT_FALSE(HiddenNames(dir / "out").empty());  // what a killed run leaves
  ReadRunner whole(dir, disc);
  whole.Start(dir / "out" / "x.img");
  ASSERT_TRUE(whole.process().waitForFinished(120000));
  EXPECT_EQ(whole.process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(whole.process().exitCode(), 0);
  EXPECT_TRUE(HiddenNames(dir / "out").empty()) << HiddenNames(dir / "out").front();
  EXPECT_EQ(fs::file_size(dir / "out" / "x.img"), fs::file_size(disc.bin));
}

}  // namespace
}  // namespace sorvel
