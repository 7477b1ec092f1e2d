#include "gui/jobs/disc_copier.h"

#include <gtest/gtest.h>

#include "gui/jobs/disc_reader.h"
#include "gui/jobs/disc_verifier.h"
#include "gui/jobs/job_test_rig.h"
#include "gui/model/public_enumerations.h"
#include "testing/cd_image_fixture.h"
#include "testing/file_bytes.h"
#include "testing/gui/fake_forms.h"

namespace sorvel {
namespace {

using testing::DrivesRig;
using testing::JobRecorder;
using testing::Q;
using testing::ScratchDir;

class DiscCopierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disc_ = testing::MakeCueImage(dir_.path(), "src", {{false, 0, 700, "", false}, {true, 150, 300, "", false}});
    rig_ = std::make_unique<DrivesRig>(dir_, std::vector<std::string>{"image=" + disc_.cue.string(), "medium=cd-r"});
    ASSERT_TRUE(rig_->opened());
    rig_->ChangeSettings([](DeviceSetting& s) { s.ForceEject = false; }, 1);
  }

  ScratchDir dir_;
  testing::CueFixture disc_;
  std::unique_ptr<DrivesRig> rig_;
  DiscCopier copier_;
};

TEST_F(DiscCopierTest, CopyOfAGoodDiscReadsBackIdentical) {
  rig_->ChangeSettings([](DeviceSetting& s) { s.CDReadCommand = CCC_RAW96; }, 0);
  DiscVerifier verifier;
  JobRecorder events(copier_);
  ASSERT_TRUE(copier_.StartCopy(rig_->device(0), rig_->device(1), &verifier)) << events.lines.join("\n").toStdString();
  EXPECT_TRUE(events.Has("0:キャッシュフラッシュ中。"));
  JobRecorder checks(verifier);
  EXPECT_TRUE(verifier.StartVerify(rig_->device(1), copier_.LastTOC())) << checks.lines.join("\n").toStdString();
  DiscReader reader;
  ASSERT_TRUE(reader.StartReadCompatible(rig_->device(1), Q(dir_.path() / "back")));
  EXPECT_TRUE(testing::ReadFileBytes(dir_.path() / "back.img") == testing::ReadFileBytes(disc_.bin));
}

TEST_F(DiscCopierTest, SkippedRunIsWrittenAsErrorDataAndOnlyItFailsVerification) {
  rig_->ChangeSettings([](DeviceSetting& s) {
    s.BurstErrorSkip = true;
    s.SkipUnit = 10;
    s.CDReadCommand = CCC_RAW;
  }, 0);
  rig_->drive(0).hooks().UpdateFaults([](platform::emu::DriveFaults& f) { f.unreadable = {{200, 239}}; });
  DiscVerifier verifier;
  JobRecorder events(copier_);
  ASSERT_TRUE(copier_.StartCopy(rig_->device(0), rig_->device(1), &verifier)) << events.lines.join("\n").toStdString();
  EXPECT_TRUE(events.Has("0:連続不良区画 : 205～239")) << events.lines.join("\n").toStdString();
  EXPECT_EQ(events.WithPrefix("1:読み込みに失敗したセクタ数 : "), QStringList{"1:読み込みに失敗したセクタ数 : 40"});
  // The five single failures were copied as dummy sectors with their normal
  // type; the run from 205 went over as error data, which records no CRC, so
  // the verification only reads it back.
  JobRecorder checks(verifier);
  EXPECT_TRUE(verifier.StartVerify(rig_->device(1), copier_.LastTOC())) << checks.lines.join("\n").toStdString();
  EXPECT_TRUE(checks.Has("0:検証種別：読取検査 (205-)"));
  EXPECT_TRUE(checks.Has("0:検証種別：比較検査 (240-)"));
  DiscReader reader;
  ASSERT_TRUE(reader.StartReadCompatible(rig_->device(1), Q(dir_.path() / "back")));
  const std::string back = testing::ReadFileBytes(dir_.path() / "back.img");
  const std::string source = testing::ReadFileBytes(disc_.bin);
  ASSERT_EQ(back.size(), source.size());
  for (size_t lba = 0; lba < back.size() / 2352; ++lba) {
    const std::string sector = back.substr(lba * 2352, 2352);
    if (lba >= 205 && lba <= 239) {
      EXPECT_EQ(sector.substr(16), std::string(2336, '\xAA')) << lba;  // error data past the header
    } else if (lba < 200 || lba > 204) {
      EXPECT_TRUE(sector == source.substr(lba * 2352, 2352)) << lba;
    }
  }
}

// A DVD cannot hold a sector marked unreadable: the skipped run goes over as
// dummy sectors of the normal type, as the single failures before it do, and
// the copy completes and verifies.
TEST(DiscCopierDvdTest, SkippedRunOfADvdIsWrittenAsDummySectors) {
  ScratchDir dir;
  std::string content;
  for (int i = 0; i < 600000; ++i) content += static_cast<char>('a' + i % 23);
  const std::filesystem::path iso = testing::MakeIsoImage(dir.path(), "dvd", {{"a.txt", content}});
  ASSERT_FALSE(iso.empty());
  DrivesRig rig(dir, {"medium=dvd-rom,image=" + iso.string() + ",unreadable=100-139", "medium=dvd-r"});
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) {
    s.BurstErrorSkip = true;
    s.SkipUnit = 10;
  }, 0);
  rig.ChangeSettings([](DeviceSetting& s) { s.ForceEject = false; }, 1);
  DiscCopier copier;
  DiscVerifier verifier;
  JobRecorder events(copier);
  ASSERT_TRUE(copier.StartCopy(rig.device(0), rig.device(1), &verifier)) << events.lines.join("\n").toStdString();
  EXPECT_TRUE(events.Has("0:連続不良区画 : 105～139")) << events.lines.join("\n").toStdString();
  EXPECT_EQ(events.WithPrefix("1:読み込みに失敗したセクタ数 : "), QStringList{"1:読み込みに失敗したセクタ数 : 40"});
  JobRecorder checks(verifier);
  EXPECT_TRUE(verifier.StartVerify(rig.device(1), copier.LastTOC())) << checks.lines.join("\n").toStdString();
  DiscReader reader;
  ASSERT_TRUE(reader.StartReadCompatible(rig.device(1), Q(dir.path() / "back")));
  const std::string back = testing::ReadFileBytes(dir.path() / "back.iso");
  const std::string source = testing::ReadFileBytes(iso);
  ASSERT_EQ(back.size(), source.size());
  EXPECT_EQ(back.substr(0, 100 * 2048), source.substr(0, 100 * 2048));
  EXPECT_EQ(back.substr(140 * 2048), source.substr(140 * 2048));
}

// A source of which not one sector reads gives no copy: the target would
// hold dummy sectors only, so the job fails rather than report success.
// (A CD whose sectors all fail is refused earlier, by its read start.)
TEST(DiscCopierUnreadableTest, SourceThatReadsNothingFailsTheCopy) {
  ScratchDir dir;
  const std::filesystem::path iso = testing::MakeIsoImage(dir.path(), "dvd", {{"a.txt", std::string(300000, 'a')}});
  ASSERT_FALSE(iso.empty());
  DrivesRig rig(dir, {"medium=dvd-rom,image=" + iso.string() + ",unreadable=0-100000", "medium=dvd-r"});
  ASSERT_TRUE(rig.opened());
  rig.ChangeSettings([](DeviceSetting& s) { s.BurstErrorSkip = false; }, 0);
  rig.ChangeSettings([](DeviceSetting& s) { s.ForceEject = false; }, 1);
  DiscCopier copier;
  JobRecorder events(copier);
  EXPECT_FALSE(copier.StartCopy(rig.device(0), rig.device(1), nullptr));
  EXPECT_TRUE(events.Has("2:どのセクタも読み込めませんでした。")) << events.lines.join("\n").toStdString();
  EXPECT_EQ(events.WithPrefix("1:読み込みに失敗したセクタ数 : ").size(), 1);
  EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
}

TEST_F(DiscCopierTest, SameDriveAndNotReadyAreRefused) {
  JobRecorder events(copier_);
  EXPECT_FALSE(copier_.StartCopy(rig_->device(0), rig_->device(0), nullptr));
  EXPECT_TRUE(events.Has("2:読み込み装置と書き込み装置に同じ装置は指定できません。"));
  ScratchDir other;
  DrivesRig empty(other, {"medium=none", "medium=cd-r"});
  events.lines.clear();
  EXPECT_FALSE(copier_.StartCopy(empty.device(0), empty.device(1), nullptr));
  EXPECT_TRUE(events.Has("2:装置の準備が出来ていません。"));
  EXPECT_FALSE(events.Has("0:扉を閉鎖しました。"));
}

// A two-session disc copied on the fly: in a raw mode the copy has both
// sessions and every sector, and a target drive that records only the first
// session fails the copy when its TOC is read back; a session-at-once mode,
// which writes one session, is refused before anything reaches the blank.
TEST(DiscCopierSessionTest, TwoSessionDiscCopiedWholeOrTheCopyFails) {
  enum Outcome { kWhole, kDropped, kRefused };
  struct Case {
    int32_t mode;
    int session_limit;
    Outcome outcome;
  };
  for (const Case& c : {Case{CCC_DAO_RAW96, 0, kWhole}, Case{CCC_DAO_RAW96, 1, kDropped}, Case{CCC_SAO, 0, kRefused},
                        Case{CCC_SAO_RAW, 0, kRefused}}) {
    SCOPED_TRACE(::testing::Message() << "mode " << c.mode << ", limit " << c.session_limit);
    ScratchDir dir;
    const testing::CueFixture disc = testing::MakeTwoSessionImage(dir.path(), "two");
    DrivesRig rig(dir, {"image=" + disc.cue.string(), "medium=cd-r"});
    ASSERT_TRUE(rig.opened());
    rig.ChangeSettings([](DeviceSetting& s) { s.CDReadCommand = CCC_RAW96; }, 0);
    rig.ChangeSettings([&](DeviceSetting& s) {
      s.CDWriteCommand = c.mode;
      s.ForceEject = false;
    }, 1);
    rig.drive(1).hooks().UpdateFaults([&](platform::emu::DriveFaults& f) { f.raw_pass_session_limit = c.session_limit; });
    rig.drive(1).hooks().ClearLog();
    DiscCopier copier;
    JobRecorder events(copier);
    EXPECT_EQ(copier.StartCopy(rig.device(0), rig.device(1), nullptr), c.outcome == kWhole)
        << events.lines.join("\n").toStdString();
    switch (c.outcome) {
      case kWhole:
        EXPECT_EQ(testing::CdDifferences(*rig.drive(0).drive(), *rig.drive(1).drive()), "");
        break;
      case kDropped:
        EXPECT_TRUE(events.Has(
            "2:ディスクのセッション数 1・トラック数 1 が書き込んだTOCのセッション数 2・トラック数 2 と一致しません。"))
            << events.lines.join("\n").toStdString();
        EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
        break;
      case kRefused:
        EXPECT_EQ(events.WithPrefix("2:"),
                  (QStringList{"2:CDの書き込み開始に失敗しました。", "2:指定された書き込みコマンドは利用できません。"}))
            << events.lines.join("\n").toStdString();
        EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
        // BLANK, SEND OPC, SEND CUE SHEET, WRITE(10), WRITE(12): none sent.
        for (uint8_t op : {0xA1, 0x54, 0x5D, 0x2A, 0xAA}) EXPECT_TRUE(rig.drive(1).Commands(op).empty()) << int(op);
        EXPECT_TRUE(rig.device(1).IsDiscEmpty());
        break;
    }
  }
}

// A source whose drive answers a TOC no disc can have (track 2 starting
// after the lead-out, as a damaged disc or a hostile drive may report) is
// refused before the target's session starts: nothing is written.
TEST(DiscCopierTocTest, SourceTocNoDiscCanHaveLeavesTheTargetBlank) {
  ScratchDir dir;
  const testing::CueFixture disc = testing::MakeCueImage(dir.path(), "src", {{false, 0, 700, "", false}});
  { DrivesRig pressed(dir, {"image=" + disc.cue.string()}); }
  const std::filesystem::path state = dir.path() / "drive0.state";
  std::string text = testing::ReadFileBytes(state);
  const std::string session = "session 1 1 1 700 0\n";
  const std::string track = "track 1 1 4 1 -150 0 700 - 0\n";
  ASSERT_NE(text.find(session), std::string::npos) << text;
  ASSERT_NE(text.find(track), std::string::npos) << text;
  text.replace(text.find(session), session.size(), "session 1 1 2 700 0\n");
  text.replace(text.find(track), track.size(), "track 1 1 4 1 -150 0 1000 - 0\ntrack 2 1 4 1 1000 1000 1100 - 0\n");
  testing::WriteFileBytes(state, text);

  DrivesRig rig(dir, {"", "medium=cd-r"});
  ASSERT_TRUE(rig.opened());
  rig.drive(1).hooks().ClearLog();
  DiscCopier copier;
  JobRecorder events(copier);
  EXPECT_FALSE(copier.StartCopy(rig.device(0), rig.device(1), nullptr));
  EXPECT_TRUE(events.Has("2:読み込み側のTOC情報が不正です。")) << events.lines.join("\n").toStdString();
  EXPECT_TRUE(rig.drive(1).Commands(0x2A).empty());
  EXPECT_TRUE(rig.drive(1).Commands(0xAA).empty());
  EXPECT_TRUE(rig.device(1).IsMediaWritable());
  EXPECT_TRUE(events.Has("0:扉を開放しました。"));
}

}  // namespace
}  // namespace sorvel
