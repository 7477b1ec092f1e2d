#include "gui/jobs/disc_reader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <chrono>
#include <map>

#include "gui/jobs/job_test_rig.h"
#include "testing/file_bytes.h"
#include "gui/jobs/message_pump.h"
#include "gui/model/public_enumerations.h"
#include "testing/cd_image_fixture.h"
#include "testing/exfat_folder.h"
#include "testing/file_size_limit.h"
#include "testing/other_user.h"
#include "testing/stand_in_file.h"

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

constexpr const char* kSetExtensions[] = {".img", ".iso", ".cue", ".cdt", ".tsn", ".pre", ".sub", ".ccd"};

// The files of `dir` by name with their bytes.
std::map<std::string, std::string> FolderContents(const std::filesystem::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.is_regular_file()) files[entry.path().filename().string()] = testing::ReadFileBytes(entry.path());
    else files[entry.path().filename().string()] = "(not a file)";
  }
  return files;
}

// An earlier read's set at `base`: every file holds its own name.
void WriteEarlierSet(const std::filesystem::path& base, std::filesystem::perms perms) {
  for (const char* ext : kSetExtensions) {
    std::filesystem::path file = base;
    file += ext;
    testing::WriteFileBytes(file, "earlier " + file.filename().string());
    std::filesystem::permissions(file, perms);
  }
}

// The tray is unlocked: the last PREVENT ALLOW MEDIUM REMOVAL allowed removal.
bool TrayUnlocked(const JobRig& rig) {
  const auto commands = rig.drive().Commands(0x1E);
  return !commands.empty() && (commands.back().cdb[4] & 1) == 0;
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

// A read ends with the count of the sectors it could not read, one line
// that stays in the log however long it grew. A read that read not one
// sector of the disc fails and leaves no files; one that read some succeeds.
struct UnreadableCase {
  const char* name;
  bool dvd;
  std::vector<std::pair<int32_t, int32_t>> unreadable;
  bool succeeds;
  int64_t count;  // sectors reported unreadable; 0: no count line, -1: the whole disc
};

class DiscReaderUnreadableTest : public ::testing::TestWithParam<UnreadableCase> {};

TEST_P(DiscReaderUnreadableTest, CountsTheSectorsAndFailsWhenNoneRead) {
  const UnreadableCase& c = GetParam();
  ScratchDir dir;
  std::string settings;
  if (c.dvd) {
    const std::filesystem::path iso =
        testing::MakeIsoImage(dir.path(), "dvd", {{"a.txt", std::string(300000, 'a')}});
    ASSERT_FALSE(iso.empty());
    settings = "medium=dvd-rom,image=" + iso.string();
  } else {
    const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "cd", {{false, 0, 400, "", false}});
    settings = "image=" + disc.cue.string();
  }
  // The faults as a user gives them, in the drive map entry.
  std::string ranges;
  for (const auto& [first, last] : c.unreadable) {
    ranges += (ranges.empty() ? "" : "+") + std::to_string(first) + "-" + std::to_string(last);
  }
  if (!ranges.empty()) settings += ",unreadable=" + ranges;
  JobRig rig(dir, settings);
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) {
    s.ReadFirstPregap = false;
    s.BurstErrorSkip = false;
  });
  DiscReader reader;
  JobRecorder events(reader);
  EXPECT_EQ(reader.StartReadCompatible(rig.device(), Q(dir.path() / "out.img")), c.succeeds)
      << events.lines.join("\n").toStdString();
  const QStringList counts = events.WithPrefix("1:読み込みに失敗したセクタ数 : ");
  if (c.count == 0) {
    EXPECT_TRUE(counts.isEmpty());
  } else if (c.count < 0) {
    EXPECT_EQ(counts.size(), 1);
  } else {
    EXPECT_EQ(counts, QStringList{QStringLiteral("1:読み込みに失敗したセクタ数 : %1").arg(c.count)});
  }
  EXPECT_EQ(events.Has("2:どのセクタも読み込めませんでした。"), !c.succeeds);
  EXPECT_EQ(std::filesystem::exists(dir.path() / (c.dvd ? "out.iso" : "out.img")), c.succeeds);
  for (const char* ext : kSetExtensions) {
    if (!c.succeeds) {
      EXPECT_FALSE(std::filesystem::exists(dir.path() / (std::string("out") + ext))) << ext;
    }
  }
  EXPECT_TRUE(events.lines.last().startsWith(c.succeeds ? "0:==== 完了 " : "0:==== 失敗 "));
}

INSTANTIATE_TEST_SUITE_P(
    Discs, DiscReaderUnreadableTest,
    ::testing::Values(UnreadableCase{"CdAllRead", false, {}, true, 0},
                      UnreadableCase{"CdSomeUnreadable", false, {{10, 14}, {200, 200}}, true, 6},
                      UnreadableCase{"DvdSomeUnreadable", true, {{20, 29}}, true, 10},
                      UnreadableCase{"DvdNothingReadable", true, {{0, 100000}}, false, -1}),
    [](const auto& info) { return std::string(info.param.name); });

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
    for (const char* ext : kSetExtensions)
      EXPECT_FALSE(std::filesystem::exists(dir.path() / (std::string("out") + ext))) << ext << " " << c.limit;

    // Over an earlier set, the same failure leaves that set as it was.
    std::filesystem::create_directories(dir.path() / "earlier");
    WriteEarlierSet(dir.path() / "earlier" / "out", std::filesystem::perms(0644));
    const auto before = FolderContents(dir.path() / "earlier");
    {
      testing::FileSizeLimit full(c.limit);
      result = reader.StartReadCompatible(rig.device(), Q(dir.path() / "earlier" / "out.img"));
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(FolderContents(dir.path() / "earlier"), before) << c.limit;
  }
}

// Whatever stops a read, the files that stood at its names are left as
// they were and no file of the run is left behind: write-protected earlier
// results, and a FIFO, device or folder at any name of the set (told at once,
// before the disc is read; the tray is unlocked after).
struct ForeignCase {
  const char* name;
  const char* ext;  // the name taken by something else
  testing::StandIn stand_in;
  int32_t command;
};

void PrintTo(const ForeignCase& c, std::ostream* os) { *os << c.name; }

class DiscReaderForeignTargetTest : public ::testing::TestWithParam<ForeignCase> {};

TEST_P(DiscReaderForeignTargetTest, IsRefusedAtOnceAndEarlierFilesSurvive) {
  const ForeignCase& c = GetParam();
  ScratchDir dir;
  const testing::CueFixture disc = PressedCd(dir);
  JobRig rig(dir, "image=" + disc.cue.string());
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([&](DeviceSetting& s) {
    s.CDReadCommand = c.command;
    s.ReadFirstPregap = true;
  });
  const std::filesystem::path out = dir.path() / "out";
  std::filesystem::create_directories(out);
  std::unique_ptr<testing::StandInFile> stand_in;
  QString refused;
  if (c.stand_in == testing::StandIn::kRegular) {
    WriteEarlierSet(out / "Disc", std::filesystem::perms(0444));  // write-protected, binding root too
    refused = QStringLiteral("2:ファイル %1 が開けません。").arg(Q(out / "Disc.img"));
  } else {
    WriteEarlierSet(out / "Disc", std::filesystem::perms(0644));
    std::filesystem::remove(out / (std::string("Disc") + c.ext));
    stand_in = std::make_unique<testing::StandInFile>(out / (std::string("Disc") + c.ext), c.stand_in);
    refused = QStringLiteral("2:ファイル %1 は通常のファイルではありません。").arg(Q(out / (std::string("Disc") + c.ext)));
  }
  const auto before = FolderContents(out);

  DiscReader reader;
  JobRecorder events(reader);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(reader.StartReadCompatible(rig.device(), Q(out / "Disc.img")));
  const auto took = std::chrono::steady_clock::now() - start;
  const std::string log = events.lines.join("\n").toStdString();
  if (stand_in) {
    EXPECT_FALSE(stand_in->Blocked());
  }
  EXPECT_LT(took, std::chrono::seconds(1)) << log;
  EXPECT_TRUE(events.Has(refused)) << log;
  EXPECT_EQ(events.progress, 0) << log;  // refused before the disc is read
  EXPECT_TRUE(events.Has("0:扉を開放しました。")) << log;
  EXPECT_TRUE(TrayUnlocked(rig));
  EXPECT_EQ(FolderContents(out), before) << log;
}

INSTANTIATE_TEST_SUITE_P(
    Targets, DiscReaderForeignTargetTest,
    ::testing::Values(ForeignCase{"write_protected_set", "", testing::StandIn::kRegular, CCC_RAW96},
                      ForeignCase{"fifo_cue", ".cue", testing::StandIn::kFifo, CCC_RAW96},
                      ForeignCase{"fifo_sub", ".sub", testing::StandIn::kFifo, CCC_RAW96},
                      ForeignCase{"fifo_sub_of_a_read_without_one", ".sub", testing::StandIn::kFifo, CCC_RAW},
                      ForeignCase{"fifo_pre", ".pre", testing::StandIn::kFifo, CCC_RAW96},
                      ForeignCase{"fifo_cdt", ".cdt", testing::StandIn::kFifo, CCC_RAW16},
                      ForeignCase{"device_img", ".img", testing::StandIn::kZeroDevice, CCC_RAW},
                      ForeignCase{"folder_tsn", ".tsn", testing::StandIn::kFolder, CCC_RAW16}),
    [](const auto& info) { return std::string(info.param.name); });

// A new set replaces an earlier one whole: a read without subchannel leaves
// no ".sub" or ".ccd" of the earlier disc beside its image.
TEST(DiscReaderTest, NewSetReplacesTheEarlierSetWhole) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 300, "", false}});
  JobRig rig(dir, "image=" + disc.cue.string());
  ASSERT_TRUE(rig.opened());
  WriteEarlierSet(dir.path() / "set", std::filesystem::perms(0644));
  rig.ChangeSettings([](DeviceSetting& s) { s.CDReadCommand = CCC_RAW; });
  DiscReader reader;
  JobRecorder events(reader);
  ASSERT_TRUE(reader.StartReadCompatible(rig.device(), Q(dir.path() / "set.img"))) << events.lines.join("\n").toStdString();
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / "set.img"), testing::ReadFileBytes(disc.bin));
  for (const char* gone : {".sub", ".ccd", ".pre", ".cdt"})
    EXPECT_FALSE(std::filesystem::exists(dir.path() / (std::string("set") + gone))) << gone;
  for (const char* made : {".cue", ".tsn"})
    EXPECT_NE(testing::ReadFileBytes(dir.path() / (std::string("set") + made)).rfind("earlier", 0), 0u) << made;
  // A DVD's ".iso" is no part of a CD's set.
  EXPECT_EQ(testing::ReadFileBytes(dir.path() / "set.iso"), "earlier set.iso");
}

// Files at side-file names beside an image name where no image stood are
// the user's own (a pregap of another program, CD-Text packs, subtitles):
// a read into that name keeps them.
TEST(DiscReaderTest, SideFilesBesideANewImageAreKept) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 300, "", false}});
  JobRig rig(dir, "image=" + disc.cue.string());
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) { s.CDReadCommand = CCC_RAW; });
  std::filesystem::create_directories(dir.path() / "out");
  const std::map<std::string, std::string> mine{
      {"movie.pre", "my pregap"}, {"movie.cdt", "my packs"}, {"movie.sub", "my subtitles"}};
  for (const auto& [name, bytes] : mine) testing::WriteFileBytes(dir.path() / "out" / name, bytes);
  DiscReader reader;
  JobRecorder events(reader);
  ASSERT_TRUE(reader.StartReadCompatible(rig.device(), Q(dir.path() / "out" / "movie.img")))
      << events.lines.join("\n").toStdString();
  const auto files = FolderContents(dir.path() / "out");
  for (const auto& [name, bytes] : mine) EXPECT_EQ(files.count(name) ? files.at(name) : "(gone)", bytes) << name;
  EXPECT_EQ(files.at("movie.img"), testing::ReadFileBytes(disc.bin));
  EXPECT_EQ(files.size(), mine.size() + 3);  // and the image, ".cue" and ".tsn"
}

// In a shared sticky folder, an earlier set's side file of another user
// cannot be removed by the user who reads: the read fails with its name
// before anything is put in place, the earlier set stays whole and no hidden
// file is left. (The read runs with the file access of user 65534.)
TEST(DiscReaderTest, SideFileThatCannotGoFailsTheReadAndKeepsTheEarlierSet) {
  if (!testing::AsOtherUser::Possible()) GTEST_SKIP() << "needs root and user 65534, to act as another user";
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 300, "", false}});
  JobRig rig(dir, "image=" + disc.cue.string());
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) {
    s.CDReadCommand = CCC_RAW;
    s.ReadFirstPregap = false;
  });
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::filesystem::path shared = dir.path() / "shared";
  std::filesystem::create_directories(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  testing::WriteFileBytes(shared / "x.pre", "earlier x.pre");  // root's, writable by all
  ASSERT_EQ(::chmod((shared / "x.pre").c_str(), 0666), 0);
  {
    testing::AsOtherUser other;
    for (const char* ext : {".img", ".cue", ".tsn"}) testing::WriteFileBytes(shared / (std::string("x") + ext), "earlier");
  }
  const auto before = FolderContents(shared);
  DiscReader reader;
  JobRecorder events(reader);
  bool result;
  {
    testing::AsOtherUser other;
    result = reader.StartReadCompatible(rig.device(), Q(shared / "x.img"));
  }
  const std::string log = events.lines.join("\n").toStdString();
  EXPECT_FALSE(result) << log;
  EXPECT_TRUE(events.Has(QStringLiteral("2:ファイル %1 が開けません。").arg(Q(shared / "x.pre")))) << log;
  EXPECT_EQ(FolderContents(shared), before) << log;
}

// An image name that a sheet cannot hold (a double quote, a line break, a
// tab) is refused before the disc is read, with its name; nothing is made.
TEST(DiscReaderTest, NameASheetCannotHoldIsRefusedAtTheStart) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 300, "", false}});
  JobRig rig(dir, "image=" + disc.cue.string());
  ASSERT_TRUE(rig.opened());
  std::filesystem::create_directories(dir.path() / "out");
  for (const char* name : {"say \"hi\".img", "two\nlines.img", "tab\there.img"}) {
    DiscReader reader;
    JobRecorder events(reader);
    EXPECT_FALSE(reader.StartReadCompatible(rig.device(), Q(dir.path() / "out" / name))) << name;
    EXPECT_TRUE(events.Has(
        QStringLiteral("2:ファイル %1 の名前はCUEシートに記述できません。").arg(Q(dir.path() / "out" / name))))
        << events.lines.join("\n").toStdString();
    EXPECT_EQ(events.progress, 0) << name;
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "out")) << name;
    EXPECT_TRUE(TrayUnlocked(rig)) << name;
  }
}

// The folder of the set removed while the disc is read: the job fails and
// every message names the user's files, never a hidden temporary.
TEST(DiscReaderTest, FolderGoneWhileReadingIsToldByTheUsersNames) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 300, "", false}});
  JobRig rig(dir, "image=" + disc.cue.string());
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) {
    s.CDReadCommand = CCC_RAW16;
    s.ReadFirstPregap = true;
  });
  const std::filesystem::path out = dir.path() / "out";
  std::filesystem::create_directories(out);
  DiscReader reader;
  JobRecorder events(reader);
  QObject::connect(&reader, &DiscJob::Progress, [&](int32_t value, int32_t) {
    if (value == 100) std::filesystem::remove_all(out);
  });
  EXPECT_FALSE(reader.StartReadCompatible(rig.device(), Q(out / "gone.img")));
  const QStringList errors = events.WithPrefix("2:");
  ASSERT_FALSE(errors.isEmpty());
  for (const QString& line : errors) EXPECT_FALSE(line.contains(QStringLiteral("/.gone."))) << line.toStdString();
  EXPECT_TRUE(events.Has(QStringLiteral("2:ファイル %1 が開けません。").arg(Q(out / "gone.cue"))))
      << errors.join('\n').toStdString();
}

// Something put at a name while the disc is read (a folder at ".tsn"): the
// set cannot go in place, the job fails with the name, and the earlier set
// is as it was; nothing reports a success without its descriptor.
TEST(DiscReaderTest, SetThatCannotGoInPlaceFailsAndLeavesTheEarlierSet) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 300, "", false}});
  JobRig rig(dir, "image=" + disc.cue.string());
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) { s.CDReadCommand = CCC_RAW16; });
  std::filesystem::create_directories(dir.path() / "out");
  WriteEarlierSet(dir.path() / "out" / "x", std::filesystem::perms(0644));
  DiscReader reader;
  JobRecorder events(reader);
  QObject::connect(&reader, &DiscJob::Progress, [&](int32_t value, int32_t) {
    if (value != 100) return;
    std::filesystem::remove(dir.path() / "out" / "x.tsn");
    std::filesystem::create_directory(dir.path() / "out" / "x.tsn");
  });
  std::filesystem::remove(dir.path() / "out" / "x.tsn");
  testing::WriteFileBytes(dir.path() / "out" / "x.tsn", "earlier x.tsn");
  auto before = FolderContents(dir.path() / "out");
  before["x.tsn"] = "(not a file)";
  EXPECT_FALSE(reader.StartReadCompatible(rig.device(), Q(dir.path() / "out" / "x.img")));
  const std::string log = events.lines.join("\n").toStdString();
  EXPECT_TRUE(events.Has(QStringLiteral("2:ファイル %1 は通常のファイルではありません。").arg(Q(dir.path() / "out" / "x.tsn"))))
      << log;
  EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 ")) << log;
  EXPECT_EQ(FolderContents(dir.path() / "out"), before) << log;

  // A descriptor that cannot be written (its file taken away while the disc
  // is read) fails the job: no success without it.
  std::filesystem::remove(dir.path() / "out" / "x.tsn");
  testing::WriteFileBytes(dir.path() / "out" / "x.tsn", "earlier x.tsn");
  before = FolderContents(dir.path() / "out");
  DiscReader second;
  JobRecorder second_events(second);
  std::filesystem::path taken;
  QObject::connect(&second, &DiscJob::Progress, [&](int32_t value, int32_t) {
    if (value != 100) return;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path() / "out")) {
      if (entry.path().filename().string().starts_with(".x.ccd.")) taken = entry.path();
    }
    ASSERT_FALSE(taken.empty());
    std::filesystem::remove(taken);
    std::filesystem::create_directory(taken);
  });
  EXPECT_FALSE(second.StartReadCompatible(rig.device(), Q(dir.path() / "out" / "x.img")));
  EXPECT_TRUE(second_events.Has("2:TOCファイルが出力できませんでした。")) << second_events.lines.join("\n").toStdString();
  EXPECT_FALSE(second_events.Has("0:CCD互換ファイルを出力しました。"));
  std::filesystem::remove(taken);
  EXPECT_EQ(FolderContents(dir.path() / "out"), before);
}

// Two readers into one name, the second started while the first writes
// (as a second window or process would): each writes files of its own, and
// the name ends with one complete set, that of the reader that finished
// last, whose image its descriptors describe.
TEST(DiscReaderTest, TwoReadersIntoOneNameLeaveOneCompleteSet) {
  ScratchDir dir;
  const testing::CueFixture first = testing::MakeCueImage(dir.path(), "first", {{false, 0, 400, "", false}});
  const testing::CueFixture second =
      testing::MakeCueImage(dir.path(), "second", {{false, 0, 300, "", false}, {true, 150, 200, "", false}});
  testing::DrivesRig rig(dir, {"image=" + first.cue.string(), "image=" + second.cue.string()});
  ASSERT_TRUE(rig.opened());
  for (size_t drive : {0, 1}) rig.ChangeSettings([](DeviceSetting& s) { s.CDReadCommand = CCC_RAW16; }, drive);
  std::filesystem::create_directories(dir.path() / "out");
  const QString name = Q(dir.path() / "out" / "same.img");
  DiscReader reader_a;
  DiscReader reader_b;
  JobRecorder events_a(reader_a);
  JobRecorder events_b(reader_b);
  bool b_result = false;
  std::map<std::string, std::string> after_b;
  QObject::connect(&reader_a, &DiscJob::Progress, [&](int32_t value, int32_t) {
    if (value != 200) return;
    b_result = reader_b.StartReadCompatible(rig.device(1), name);
    after_b = FolderContents(dir.path() / "out");
  });
  const bool a_result = reader_a.StartReadCompatible(rig.device(0), name);
  EXPECT_TRUE(b_result) << events_b.lines.join("\n").toStdString();
  EXPECT_TRUE(a_result) << events_a.lines.join("\n").toStdString();
  // B's set was whole when B reported.
  ASSERT_EQ(after_b.count("same.img"), 1u);
  EXPECT_EQ(after_b["same.img"], testing::ReadFileBytes(second.bin));
  EXPECT_EQ(after_b["same.sub"].size() / 96, after_b["same.img"].size() / 2352);

  // A finished last: its set, whole, and nothing else.
  const auto files = FolderContents(dir.path() / "out");
  std::vector<std::string> names;
  for (const auto& [file, bytes] : files) names.push_back(file);
  EXPECT_EQ(names, (std::vector<std::string>{"same.ccd", "same.cue", "same.img", "same.sub", "same.tsn"}));
  EXPECT_EQ(files.at("same.img"), testing::ReadFileBytes(first.bin));
  EXPECT_EQ(files.at("same.sub").size() / 96, files.at("same.img").size() / 2352);
  TOCInformation toc;
  QString image;
  int32_t sector_size = 0;
  ASSERT_TRUE(toc.LoadCUEFile(Q(dir.path() / "out" / "same.cue"), image, sector_size));
  EXPECT_EQ(image, name);
  EXPECT_EQ(toc.TOC(toc.TOCCount())->EndLBA + 1, static_cast<int32_t>(files.at("same.img").size() / 2352));
  ASSERT_TRUE(toc.LoadCCDFile(Q(dir.path() / "out" / "same.tsn")));
  EXPECT_EQ(toc.TOC(toc.TOCCount())->TrackNo, 1);
}

// A user's hidden files beside an image of theirs look like nothing a read
// makes: a read into another name of that folder keeps them.
TEST(DiscReaderTest, UsersHiddenFilesBesideTheImageAreKept) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 300, "", false}});
  JobRig rig(dir, "image=" + disc.cue.string());
  ASSERT_TRUE(rig.opened());
  const std::filesystem::path out = dir.path() / "out";
  std::filesystem::create_directory(out);
  const std::map<std::string, std::string> users = {
      {"x.iso", "user's image"}, {".x.iso.20231205", "dated copy"}, {".x.iso.original", "original"},
      {".x.iso.notes", "notes"}, {".x.img.AbCd1234", "eight letters"}};
  for (const auto& [name, bytes] : users) testing::WriteFileBytes(out / name, bytes);
  DiscReader reader;
  JobRecorder events(reader);
  ASSERT_TRUE(reader.StartReadCompatible(rig.device(), Q(out / "x.img"))) << events.lines.join("\n").toStdString();
  for (const auto& [name, bytes] : users) EXPECT_EQ(testing::ReadFileBytes(out / name), bytes) << name;
}

// On exFAT (no hard links, no RENAME_NOREPLACE) a second read into a name
// replaces the first one's set, a CD's and a DVD's.
TEST(DiscReaderTest, SecondReadIntoAnExfatFolderReplacesTheFirst) {
  ScratchDir cd_dir;
  ScratchDir dvd_dir;
  testing::ExfatFolder exfat;
  ASSERT_TRUE(exfat.mounted());
  const testing::CueFixture cd = testing::MakeCueImage(cd_dir.path(), "s", {{false, 0, 300, "", false}});
  const std::filesystem::path dvd = testing::MakeIsoImage(dvd_dir.path(), "dvd", {{"a.txt", std::string(5000, 'a')}});
  ASSERT_FALSE(dvd.empty());
  struct Case {
    const ScratchDir* dir;
    std::string medium;
    const char* image;
    std::filesystem::path disc;
  };
  for (const Case& c : {Case{&cd_dir, "image=" + cd.cue.string(), "x.img", cd.bin},
                        Case{&dvd_dir, "medium=dvd-rom,image=" + dvd.string(), "x.iso", dvd}}) {
    JobRig rig(*c.dir, c.medium);
    ASSERT_TRUE(rig.opened());
    rig.ChangeSettings([](DeviceSetting& s) { s.CDReadCommand = CCC_RAW96; });
    for (int read = 0; read < 2; ++read) {
      DiscReader reader;
      JobRecorder events(reader);
      ASSERT_TRUE(reader.StartReadCompatible(rig.device(), Q(exfat / "x.img")))
          << c.image << " " << read << "\n" << events.lines.join("\n").toStdString();
      EXPECT_TRUE(testing::ReadFileBytes(exfat / c.image) == testing::ReadFileBytes(c.disc)) << c.image;
    }
    for (const auto& entry : std::filesystem::directory_iterator(exfat.path())) {
      EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    }
  }
}

}  // namespace
}  // namespace sorvel
