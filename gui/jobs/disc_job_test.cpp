#include "gui/jobs/disc_job.h"
#include "gui/jobs/message_pump.h"
#include "gui/model/trelin.h"
#include "testing/gui/built_engines.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace sorvel {
namespace {

TEST(DiscJobTest, ChangeExtensionReplacesOnlyThreeLetterExtensions) {
  const struct {
    const char* path;
    const char* expected;
  } cases[] = {
      {" disc.iso ", "disc.cue"}, {"disc", "disc.cue"},         {"x.y.z", "x.cue"},
      {"ab.c", "ab.c.cue"},       {"/a.b/name", "/a.b/name.cue"}, {"/tmp/image.tsn", "/tmp/image.cue"},
      {"", ".cue"},               {"a.flac", "a.flac.cue"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChangeExtension(QString::fromUtf8(c.path), QStringLiteral(".cue")).toStdString(), c.expected) << c.path;
  }
}

TEST(DiscJobTest, EraDatesUseTheJapaneseCalendar) {
  const struct {
    QDate date;
    const char* expected;
  } cases[] = {
      {QDate(2026, 12, 9), "R08/12/09 01:02:03"}, {QDate(2019, 5, 1), "R01/05/01 01:02:03"},
      {QDate(2019, 4, 30), "H31/04/30 01:02:03"}, {QDate(1989, 1, 8), "H01/01/08 01:02:03"},
      {QDate(1989, 1, 7), "S64/01/07 01:02:03"},  {QDate(1926, 12, 25), "S01/12/25 01:02:03"},
      {QDate(1926, 12, 24), "T15/12/24 01:02:03"}, {QDate(1912, 7, 30), "T01/07/30 01:02:03"},
      {QDate(1912, 7, 29), "M45/07/29 01:02:03"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatEraDateTime(QDateTime(c.date, QTime(1, 2, 3))).toStdString(), c.expected);
  }
}

class WatchingJob : public DiscJob {
 public:
  using DiscJob::RemoteWaitWatch;
  void Stop() { RequestStop(); }
};

// While a remote command waits, the watch lets the window system run and
// gives the command up only for a stop asked for during that wait: a stop
// asked for before lets the commands that end the job run. A worker thread's
// wait neither pumps nor gives up. The drive's handler from before comes back.
TEST(DiscJobTest, RemoteWaitWatchGivesUpOnlyForAStopAskedMeanwhile) {
  testing::BuiltEngines engines;
  Trelin drive;
  WatchingJob job;
  int outer_asked = 0;
  drive.SetWaitHandler([&] {
    ++outer_asked;
    return false;
  });
  int pumps = 0;
  const auto previous = InstallMessagePump([&] { ++pumps; });
  {
    WatchingJob::RemoteWaitWatch watch(job, drive);
    const std::function<bool()> waiting = drive.wait_handler();
    ASSERT_TRUE(waiting);
    EXPECT_FALSE(waiting());
    EXPECT_EQ(pumps, 1);
    job.Stop();
    EXPECT_FALSE(waiting());
    InstallMessagePump([&] {
      ++pumps;
      job.Stop();
    });
    EXPECT_TRUE(waiting());
    EXPECT_EQ(pumps, 3);
    bool worker_gave_up = true;
    std::thread([&] { worker_gave_up = waiting(); }).join();
    EXPECT_FALSE(worker_gave_up);
    EXPECT_EQ(pumps, 3);
  }
  InstallMessagePump(previous);
  ASSERT_TRUE(drive.wait_handler());
  EXPECT_FALSE(drive.wait_handler()());
  EXPECT_EQ(outer_asked, 1);
  drive.SetWaitHandler({});
}

}  // namespace
}  // namespace sorvel
