#include "gui/jobs/disc_writer.h"

#include <gtest/gtest.h>

#include "gui/jobs/disc_reader.h"
#include "gui/jobs/disc_verifier.h"
#include "gui/jobs/job_test_rig.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/toc_information.h"
#include "testing/cd_image_fixture.h"
#include "testing/file_bytes.h"
#include "testing/gui/fake_forms.h"

namespace sorvel {
namespace {

using testing::DrivesRig;
using testing::JobRecorder;
using testing::JobRig;
using testing::Q;
using testing::ReadFileBytes;
using testing::ScratchDir;

std::string UserDataOfRawImage(const std::string& raw) {
  std::string user;
  for (size_t at = 0; at + 2352 <= raw.size(); at += 2352) user += raw.substr(at + 16, 2048);
  return user;
}

// Reads the disc in `device` back into `<base>.img` (CD) or `<base>.iso`.
bool ReadBack(Trelin& device, const std::filesystem::path& base) {
  DiscReader reader;
  return reader.StartReadCompatible(device, Q(base));
}

TEST(DiscWriterTest, SectorHeaderAddresses) {
  QByteArray sector(2352, '\0');
  EXPECT_EQ(DiscWriter::SectorHeaderLBA(sector), 0);  // no sync
  const char sync[12] = {0, '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', '\xFF', 0};
  std::copy(sync, sync + 12, sector.begin());
  const struct {
    uint8_t m, s, f;
    int32_t lba;
  } cases[] = {{0x00, 0x02, 0x00, 0}, {0x00, 0x02, 0x49, 49}, {0x01, 0x00, 0x00, 4350}, {0x79, 0x59, 0x74, 359849}};
  for (const auto& c : cases) {
    sector[12] = static_cast<char>(c.m);
    sector[13] = static_cast<char>(c.s);
    sector[14] = static_cast<char>(c.f);
    EXPECT_EQ(DiscWriter::SectorHeaderLBA(sector), c.lba);
  }
}

class IsoWriteTest : public ::testing::TestWithParam<const char*> {};

// An ISO made by xorriso, written with verification and read back.
TEST_P(IsoWriteTest, WrittenVerifiedAndReadBackEqual) {
  ASSERT_TRUE(testing::RequireTool("xorriso"));
  ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "tree" / "sub");
  testing::WriteFileBytes(dir.path() / "tree" / "a.txt", std::string(70000, 'a'));
  testing::WriteFileBytes(dir.path() / "tree" / "sub" / "b.bin", std::string(3000, '\x7F'));
  const std::filesystem::path iso = dir.path() / "Made.ISO";  // the extension is taken without regard to case
  ASSERT_EQ(testing::RunCommand("xorriso -as mkisofs -quiet -J -o '" + iso.string() + "' '" +
                                (dir.path() / "tree").string() + "' 2>&1"),
            0);
  JobRig rig(dir, std::string("medium=") + GetParam());
  ASSERT_TRUE(rig.opened());
  testing::FakeForms forms;
  forms.QueueIsReadyResult(true);
  DiscWriter writer;
  DiscVerifier verifier;
  JobRecorder events(writer);
  ASSERT_TRUE(writer.StartWriteCompatible(rig.device(), Q(iso), &verifier)) << events.lines.join("\n").toStdString();
  EXPECT_TRUE(events.Has("0:TOCを設定しました。"));
  const bool cd = std::string(GetParam()) == "cd-r";
  EXPECT_EQ(events.Has("0:CDの書き込みを開始します。"), cd);
  EXPECT_EQ(events.Has("0:DVD/BD/HDDVDの書き込みを開始します。"), !cd);
  EXPECT_TRUE(events.WithPrefix("0:書き込みコマンドに").isEmpty() == !cd);
  JobRecorder checks(verifier);
  EXPECT_TRUE(verifier.StartVerify(rig.device(), writer.LastTOC())) << checks.lines.join("\n").toStdString();
  EXPECT_TRUE(checks.Has("0:ディスクは正常です。"));

  ASSERT_TRUE(ReadBack(rig.device(), dir.path() / "back"));
  const std::string source = ReadFileBytes(iso);
  if (cd) {
    EXPECT_TRUE(UserDataOfRawImage(ReadFileBytes(dir.path() / "back.img")) == source);
  } else {
    EXPECT_TRUE(ReadFileBytes(dir.path() / "back.iso") == source);
  }
}

INSTANTIATE_TEST_SUITE_P(Media, IsoWriteTest, ::testing::Values("dvd+r", "cd-r", "dvd-r", "bd-r"));

class TsnWriteTest : public ::testing::TestWithParam<int32_t> {};

// A pressed disc read into ".img", ".sub", ".pre" and ".tsn", written back in
// each CD write mode to a blank CD-R and read again: the same disc.
TEST_P(TsnWriteTest, ReadImageWrittenInEachModeReadsBackIdentical) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(
      dir.path(), "p", {{false, 0, 400, "", false}, {true, 150, 300, "JPXYZ2600007", false}}, "4900000000001");
  DrivesRig rig(dir, {"image=" + disc.cue.string(), "medium=cd-r"});
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) {
    s.CDReadCommand = CCC_RAW96;
    s.ReadFirstPregap = true;
  }, 0);
  ASSERT_TRUE(ReadBack(rig.device(0), dir.path() / "src"));
  ASSERT_TRUE(std::filesystem::exists(dir.path() / "src.pre"));
  ASSERT_TRUE(std::filesystem::exists(dir.path() / "src.sub"));

  const int32_t mode = GetParam();
  rig.ChangeSettings([&](DeviceSetting& s) {
    s.CDWriteCommand = mode;
    s.ForceEject = false;
    s.CDReadCommand = CCC_RAW;
  }, 1);
  DiscWriter writer;
  JobRecorder events(writer);
  ASSERT_TRUE(writer.StartWriteCompatible(rig.device(1), Q(dir.path() / "src.tsn"), nullptr))
      << events.lines.join("\n").toStdString();
  EXPECT_TRUE(events.Has("0:サブチャンネルファイルを開きました。"));
  EXPECT_TRUE(events.Has("0:ファーストプリギャップファイルを開きました。"));
  EXPECT_TRUE(events.Has("0:ファーストプリギャップを書き込み中。"));
  ASSERT_TRUE(ReadBack(rig.device(1), dir.path() / "copy"));
  EXPECT_TRUE(ReadFileBytes(dir.path() / "copy.img") == ReadFileBytes(disc.bin));
}

INSTANTIATE_TEST_SUITE_P(WriteModes, TsnWriteTest, ::testing::Values(CCC_SAO, CCC_SAO_RAW, CCC_DAO_RAW16, CCC_DAO_RAW96));

TEST(DiscWriterFailureTest, RefusedNamesInjectedWriteErrorsAndStops) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "f", {{false, 0, 600, "", false}});
  JobRig rig(dir, "medium=cd-r");
  ASSERT_TRUE(rig.opened());
  DiscWriter writer;
  JobRecorder events(writer);

  // Another extension: refused before the drive is touched beyond its settings.
  EXPECT_FALSE(writer.StartWriteCompatible(rig.device(), Q(disc.bin), nullptr));
  EXPECT_TRUE(events.Has(QStringLiteral("2:ファイル %1 は開けないか、若しくは未対応の形式です。").arg(Q(disc.bin))));
  EXPECT_FALSE(events.Has("0:扉を閉鎖しました。"));

  // A WRITE that fails at a chosen sector.
  rig.drive().hooks().UpdateFaults([](platform::emu::DriveFaults& f) { f.write_error_lba = 300; });
  events.lines.clear();
  EXPECT_FALSE(writer.StartWriteCompatible(rig.device(), Q(disc.cue), nullptr));
  const QStringList errors = events.WithPrefix("2:");
  ASSERT_FALSE(errors.isEmpty()) << events.lines.join("\n").toStdString();
  EXPECT_TRUE(errors.last().startsWith("2:セクタ ") && errors.last().endsWith(" の書き込みに失敗しました。"))
      << errors.join("\n").toStdString();
  EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
  EXPECT_TRUE(events.Has("0:扉を開放しました。"));
}

TEST(DiscWriterFailureTest, StopAndShortImage) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "s", {{false, 0, 600, "", false}});
  {
    JobRig rig(dir, "medium=cd-r");
    ASSERT_TRUE(rig.opened());
    DiscWriter writer;
    JobRecorder events(writer);
    QObject::connect(&writer, &DiscJob::Progress, [&](int32_t value, int32_t) {
      if (value == 20) writer.StopWrite();
    });
    EXPECT_FALSE(writer.StartWriteCompatible(rig.device(), Q(disc.cue), nullptr));
    EXPECT_TRUE(events.WithPrefix("2:セクタ ").size() == 1) << events.lines.join("\n").toStdString();
    EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
  }
  // An image cut short of its descriptor: refused before the session starts,
  // the blank stays blank.
  ScratchDir second;
  DrivesRig rig(second, {"image=" + disc.cue.string(), "medium=cd-r"});
  ASSERT_TRUE(rig.opened());
  ASSERT_TRUE(ReadBack(rig.device(0), second.path() / "short"));
  std::filesystem::resize_file(second.path() / "short.img", 100 * 2352);
  DiscWriter writer;
  JobRecorder events(writer);
  EXPECT_FALSE(writer.StartWriteCompatible(rig.device(1), Q(second.path() / "short.tsn"), nullptr));
  EXPECT_TRUE(events.Has("2:イメージファイルが途切れています。")) << events.lines.join("\n").toStdString();
  EXPECT_FALSE(events.Has("0:CDの書き込みを開始します。"));
  EXPECT_TRUE(rig.device(1).IsMediaWritable());
}

}  // namespace
}  // namespace sorvel
