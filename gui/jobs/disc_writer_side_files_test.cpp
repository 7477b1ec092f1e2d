// A raw image whose ".img", ".sub" or ".pre" is a FIFO, a link to /dev/zero
// or a folder: the write is refused with the file named, before the drive is
// locked or anything is written, and nothing waits on the FIFO. A side file
// that is simply missing is no problem (the write goes on without it).
#include <gtest/gtest.h>

#include "gui/foundation/regular_file.h"
#include "gui/jobs/disc_reader.h"
#include "gui/jobs/disc_writer.h"
#include "gui/jobs/job_test_rig.h"
#include "gui/model/public_enumerations.h"
#include "testing/cd_image_fixture.h"
#include "testing/stand_in_file.h"

namespace sorvel {
namespace {

using testing::DrivesRig;
using testing::JobRecorder;
using testing::Q;
using testing::ScratchDir;
using testing::StandIn;
using testing::StandInFile;

constexpr uint8_t kPreventAllowMediumRemoval = 0x1E;
constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kSendCueSheet = 0x5D;

class SideFileTest : public ::testing::TestWithParam<const char*> {};

TEST_P(SideFileTest, ForeignFileStopsTheWriteBeforeTheDriveIsLocked) {
  const std::string extension = GetParam();
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "p", {{false, 0, 300, "", false}});
  DrivesRig rig(dir, {"image=" + disc.cue.string(), "medium=cd-r"});
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) {
    s.CDReadCommand = CCC_RAW96;
    s.ReadFirstPregap = true;
  }, 0);
  rig.ChangeSettings([](DeviceSetting& s) { s.CDWriteCommand = CCC_SAO_RAW; }, 1);
  DiscReader reader;
  ASSERT_TRUE(reader.StartReadCompatible(rig.device(0), Q(dir.path() / "src")));
  const std::filesystem::path replaced = dir.path() / ("src" + extension);
  ASSERT_TRUE(std::filesystem::exists(replaced));
  std::filesystem::rename(replaced, dir.path() / "kept");

  for (StandIn stand_in : {StandIn::kFifo, StandIn::kZeroDevice, StandIn::kFolder}) {
    SCOPED_TRACE(testing::StandInName(stand_in));
    StandInFile file(replaced, stand_in);
    DiscWriter writer;
    JobRecorder events(writer);
    EXPECT_FALSE(writer.StartWriteCompatible(rig.device(1), Q(dir.path() / "src.tsn"), nullptr));
    EXPECT_FALSE(file.Blocked());
    const QString told = FileProblemText(Q(replaced), FileProblem{FileProblem::kNotRegular, 0});
    EXPECT_TRUE(events.Has(QStringLiteral("2:") + told)) << events.lines.join("\n").toStdString();
    EXPECT_FALSE(events.Has("0:扉を閉鎖しました。"));
    for (uint8_t opcode : {kPreventAllowMediumRemoval, kSendCueSheet, kWrite10}) {
      EXPECT_TRUE(rig.drive(1).Commands(opcode).empty()) << "opcode " << int{opcode};
    }
    EXPECT_TRUE(rig.device(1).IsMediaWritable());
    std::filesystem::remove(replaced);
  }

  // Put back, the image writes; without a side file it writes as well.
  std::filesystem::rename(dir.path() / "kept", replaced);
  if (extension != ".img") {
    std::filesystem::remove(replaced);
    DiscWriter writer;
    JobRecorder events(writer);
    EXPECT_TRUE(writer.StartWriteCompatible(rig.device(1), Q(dir.path() / "src.tsn"), nullptr))
        << events.lines.join("\n").toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SideFileTest, ::testing::Values(".img", ".sub", ".pre"),
                         [](const auto& info) { return std::string(info.param + 1); });

}  // namespace
}  // namespace sorvel
