#include "gui/jobs/disc_reader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

#include "gui/jobs/job_test_rig.h"
#include "testing/file_bytes.h"
#include "gui/jobs/message_pump.h"
#include "gui/model/public_enumerations.h"
#include "testing/cd_image_fixture.h"
#include "testing/file_size_limit.h"

namespace sorvel {
namespace {

using testing::JobRecorder;
using testing::JobRig;
using testing::Q;
using testing::RequireTool;
using testing::RunCommand;
using testing::ScratchDir;

// A pressed CD: a data track, then two audio tracks with 2-second pregaps,
// a catalog number, ISRCs and CD-Text titles.
testing::CueFixture PressedCd(const ScratchDir& dir) {
  return testing::MakeCueImage(dir.path(), "pressed",
                               {{false, 0, 600, "", false},
                                {true, 150, 300, "JPABC2600001", true},
                                {true, 150, 225, "", false}},
                               "4901234567894", testing::MakeTitlePacks({"ALBUM", "DATA", "SONG ONE", "SONG TWO"}));
}

class DiscReaderCdTest : public ::testing::TestWithParam<int32_t> {};

TEST_P(DiscReaderCdTest, PressedCdIntoImageSideFilesAndDescriptors) {
  for (const char* tool : {"cdrdao", "cd-info", "bchunk"}) ASSERT_TRUE(RequireTool(tool));
  ScratchDir dir;
  const testing::CueFixture disc = PressedCd(dir);
  JobRig rig(dir, "image=" + disc.cue.string());
  ASSERT_TRUE(rig.opened());
  const int32_t command = GetParam();
  rig.ChangeSettings([&](DeviceSetting& s) {
    s.CDReadCommand = command;
    s.ReadFirstPregap = command == CCC_RAW96;
  });

  DiscReader reader;
  JobRecorder events(reader);
  const std::filesystem::path out = dir.path() / "out" / "Disc.iso";  // the extension is replaced
  std::filesystem::create_directories(out.parent_path());
  ASSERT_TRUE(reader.StartReadCompatible(rig.device(), Q(out))) << events.lines.join("\n").toStdString();

  const auto side = [&](const char* ext) { return dir.path() / "out" / (std::string("Disc") + ext); };
  EXPECT_TRUE(events.lines.first().startsWith("0:==== 開始 R"));
  EXPECT_TRUE(events.lines.last().startsWith("0:==== 完了 R"));
  EXPECT_TRUE(events.Has("0:CDの読み込みを開始します。"));
  EXPECT_TRUE(events.Has("0:扉を閉鎖しました。"));
  EXPECT_TRUE(events.Has("0:扉を開放しました。"));
  EXPECT_TRUE(events.Has("0:CUE互換ファイルを出力しました。"));
  EXPECT_TRUE(events.Has("0:TSN互換ファイルを出力しました。"));
  const bool with_sub = command == CCC_RAW16 || command == CCC_RAW96;
  EXPECT_EQ(std::filesystem::exists(side(".sub")), with_sub);
  EXPECT_EQ(std::filesystem::exists(side(".ccd")), with_sub);
  EXPECT_EQ(events.Has("0:サブチャンネルファイルは作成されません。"), !with_sub);
  EXPECT_TRUE(std::filesystem::exists(side(".cdt")));
  EXPECT_TRUE(std::filesystem::exists(side(".tsn")));
  EXPECT_FALSE(std::filesystem::exists(side(".iso")));
  if (command == CCC_RAW96) {
    EXPECT_TRUE(events.Has("0:ファーストプリギャップを 150 セクタ読み込みます。"));
    EXPECT_EQ(std::filesystem::file_size(side(".pre")), 150u * 2352);
  } else {
    EXPECT_FALSE(std::filesystem::exists(side(".pre")));
  }

  // The image is the disc, sector for sector.
  const std::string image = testing::ReadFileBytes(side(".img"));
  EXPECT_EQ(image.size(), std::filesystem::file_size(disc.bin));
  EXPECT_TRUE(image == testing::ReadFileBytes(disc.bin));
  if (with_sub) {
    EXPECT_EQ(std::filesystem::file_size(side(".sub")) / 96, image.size() / 2352);
  }
  EXPECT_EQ(events.last_total, disc.leadout - 1);

  // Independent tools read the sheet.
  std::string toc;
  EXPECT_EQ(RunCommand("cd '" + side("").parent_path().string() + "' && cdrdao show-toc Disc.cue 2>&1", &toc), 0) << toc;
  // The catalog number and ISRCs live in the Q channel: only reads with subchannel find them.
  if (with_sub) {
    EXPECT_NE(toc.find("CATALOG NUMBER: 4901234567894"), std::string::npos) << toc;
    EXPECT_NE(toc.find("ISRC JP ABC 26 00001"), std::string::npos) << toc;
  }
  // cd-info takes the image beside a sheet by the sheet's name with ".bin".
  std::filesystem::create_symlink("Disc.img", side(".bin"));
  std::string info;
  EXPECT_EQ(RunCommand("cd '" + (dir.path() / "out").string() + "' && cd-info --no-device-info --no-cddb --cue-file Disc.cue 2>&1", &info), 0)
      << info;
  if (with_sub) {
    EXPECT_NE(info.find("Media Catalog Number (MCN): 4901234567894"), std::string::npos) << info;
  }
  EXPECT_NE(info.find("  2: 00:12:00  000750 audio"), std::string::npos) << info;
  std::string chunks;
  ASSERT_EQ(RunCommand("cd '" + (dir.path() / "out").string() + "' && bchunk -w Disc.img Disc.cue part 2>&1", &chunks), 0)
      << chunks;
  const std::string data_track = testing::ReadFileBytes(dir.path() / "out" / "part01.iso");
  ASSERT_EQ(data_track.size(), 600u * 2048);
  for (int32_t lba : {0, 16, 599}) {
    const auto sector = testing::FixtureSector(false, lba);
    EXPECT_EQ(data_track.substr(static_cast<size_t>(lba) * 2048, 2048),
              std::string(reinterpret_cast<const char*>(sector.data()) + 16, 2048))
        << lba;
  }
}

INSTANTIATE_TEST_SUITE_P(ReadCommands, DiscReaderCdTest, ::testing::Values(CCC_RAW, CCC_RAW16, CCC_RAW96));

TEST(DiscReaderTest, DriveNotReadyGivesExactlyThreeLines) {
  ScratchDir dir;
  JobRig rig(dir, "medium=none");
  ASSERT_TRUE(rig.opened());
  DiscReader reader;
  JobRecorder events(reader);
  EXPECT_FALSE(reader.StartReadCompatible(rig.device(), Q(dir.path() / "x.img")));
  ASSERT_EQ(events.lines.size(), 3) << events.lines.join("\n").toStdString();
  EXPECT_EQ(events.lines[1], "2:装置の準備が出来ていません。");
  EXPECT_TRUE(events.lines[2].startsWith("0:==== 失敗 "));
}

TEST(DiscReaderTest, BurstSkipProbesForwardWalksBackAndStaysInItsEntry) {
  ScratchDir dir;
  const testing::CueFixture disc =
      testing::MakeCueImage(dir.path(), "burst", {{false, 0, 1500, "", false}, {false, 0, 600, "", false}});
  JobRig rig(dir, "image=" + disc.cue.string());
  ASSERT_TRUE(rig.opened());
  const int32_t second = disc.track_starts[1];
  rig.drive().hooks().UpdateFaults([&](platform::emu::DriveFaults& f) {
    f.unreadable = {{1000, 1349}, {second - 20, second + 9}};
  });
  rig.ChangeSettings([](DeviceSetting& s) {
    s.BurstErrorSkip = true;
    s.SkipUnit = 100;
    s.CDReadCommand = CCC_RAW;
  });
  DiscReader reader;
  JobRecorder events(reader);
  ASSERT_TRUE(reader.StartReadCompatible(rig.device(), Q(dir.path() / "b.img"))) << events.lines.join("\n").toStdString();

  const QStringList failed = events.WithPrefix("1:セクタ ");
  QStringList first_run;
  for (const QString& line : failed) {
    if (line.contains(QRegularExpression("セクタ 1[0-3]\\d\\d "))) first_run << line;
  }
  EXPECT_EQ(first_run.size(), 6);  // 1000 to 1005, then the skip
  EXPECT_EQ(events.WithPrefix("0:連続不良区画排除中 : ").mid(0, 4),
            (QStringList{"0:連続不良区画排除中 : 1005", "0:連続不良区画排除中 : 1105", "0:連続不良区画排除中 : 1205",
                         "0:連続不良区画排除中 : 1305"}));
  EXPECT_TRUE(events.Has("0:連続不良区画 : 1005～1349"));
  EXPECT_TRUE(events.Has("0:連続不良区画数 : 345"));

  // The second run crosses into the next entry: its skip ends at the entry's end.
  const int32_t first_end = second - 1;
  const QString run_start = QString::number(second - 20 + 5);
  EXPECT_TRUE(events.Has(QStringLiteral("0:連続不良区画 : %1～%2").arg(run_start).arg(first_end)))
      << events.lines.join("\n").toStdString();
  // Every sector is in the image exactly once.
  EXPECT_EQ(std::filesystem::file_size(dir.path() / "b.img"), std::filesystem::file_size(disc.bin));
  const std::string image = testing::ReadFileBytes(dir.path() / "b.img");
  const std::string bin = testing::ReadFileBytes(disc.bin);
  EXPECT_EQ(image.substr(0, 1000 * 2352), bin.substr(0, 1000 * 2352));
  EXPECT_EQ(image.substr(1350 * 2352, static_cast<size_t>(second - 20 - 1350) * 2352),
            bin.substr(1350 * 2352, static_cast<size_t>(second - 20 - 1350) * 2352));
}

TEST(DiscReaderTest, StopDuringTheReadLeavesNoFiles) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 600, "", false}});
  JobRig rig(dir, "image=" + disc.cue.string());
  ASSERT_TRUE(rig.opened());
  DiscReader reader;
  JobRecorder events(reader);
  const QMetaObject::Connection stopper = QObject::connect(&reader, &DiscJob::Progress, [&](int32_t value, int32_t) {
    if (value == 10) reader.StopRead();
  });
  EXPECT_FALSE(reader.StartReadCompatible(rig.device(), Q(dir.path() / "stop.img")));
  for (const char* ext : {".img", ".cue", ".cdt", ".tsn", ".pre", ".sub", ".ccd"})
    EXPECT_FALSE(std::filesystem::exists(dir.path() / (std::string("stop") + ext))) << ext;
  EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
  // A stop pressed while idle does not abort the next run.
  QObject::disconnect(stopper);
  reader.StopRead();
  events.lines.clear();
  EXPECT_TRUE(reader.StartReadCompatible(rig.device(), Q(dir.path() / "next.img"))) << events.lines.join("\n").toStdString();
}

TEST(DiscReaderTest, DvdGivesOnlyAnIsoEqualToTheDisc) {
  ScratchDir dir;
  const std::filesystem::path iso = testing::MakeIsoImage(dir.path(), "dvd", {{"a.txt", std::string(5000, 'a')}});
  ASSERT_FALSE(iso.empty());
  JobRig rig(dir, "medium=dvd-rom,image=" + iso.string());
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) { s.ReadFirstPregap = true; });
  DiscReader reader;
  JobRecorder events(reader);
  ASSERT_TRUE(reader.StartReadCompatible(rig.device(), Q(dir.path() / "copy.img")))
      << events.lines.join("\n").toStdString();
  EXPECT_TRUE(testing::ReadFileBytes(dir.path() / "copy.iso") == testing::ReadFileBytes(iso));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "copy.img"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "copy.cue"));
  EXPECT_TRUE(events.Has("0:DVD/BD/HDDVDの読み込みを開始します。"));
}

// A disk that fills up: the image cannot be written whole. The failure is
// reported once, the job fails and leaves no files, whether it shows while
// the sectors stream (a CD image of several blocks, with subchannel) or only
// when the last block is written (a DVD image smaller than one block).
TEST(DiscReaderTest, ImageThatCannotBeWrittenFailsTheJob) {
  struct Case {
    bool cd;
    rlim_t limit;
  };
  for (const Case& c : {Case{true, 64 * 1024}, Case{true, 2 * 1024 * 1024}, Case{false, 100 * 1024}}) {
    ScratchDir dir;
    std::string image;
    if (c.cd) {
      image = testing::MakeCueImage(dir.path(), "full", {{false, 0, 1500, "", false}}).cue.string();
    } else {
      image = testing::MakeIsoImage(dir.path(), "dvd", {{"a.bin", std::string(400000, 'a')}}).string();
    }
    JobRig rig(dir, (c.cd ? "image=" : "medium=dvd-rom,image=") + image);
    ASSERT_TRUE(rig.opened());
    rig.ChangeSettings([](DeviceSetting& s) { s.CDReadCommand = CCC_RAW16; });
    DiscReader reader;
    JobRecorder events(reader);
    bool result;
    {
      testing::FileSizeLimit full(c.limit);
      result = reader.StartReadCompatible(rig.device(), Q(dir.path() / "out.img"));
    }
    const std::string log = events.lines.join("\n").toStdString();
    EXPECT_FALSE(result) << log;
    EXPECT_EQ(events.WithPrefix("2:イメージファイルの書き込みに失敗").size(), 1) << log;
    EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 ")) << log;
    for (const char* ext : {".img", ".iso", ".cue", ".cdt", ".tsn", ".pre", ".sub", ".ccd"})
      EXPECT_FALSE(std::filesystem::exists(dir.path() / (std::string("out") + ext))) << ext << " " << c.limit;
  }
}

}  // namespace
}  // namespace sorvel
