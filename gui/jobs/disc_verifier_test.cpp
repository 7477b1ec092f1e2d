#include "gui/jobs/disc_verifier.h"

#include <gtest/gtest.h>

#include "gui/jobs/job_test_rig.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/toc_information.h"
#include "testing/cd_image_fixture.h"
#include "testing/gui/fake_forms.h"

namespace sorvel {
namespace {

using testing::JobRecorder;
using testing::JobRig;
using testing::ScratchDir;

QByteArray Sector(bool audio, int32_t lba) {
  const auto bytes = testing::FixtureSector(audio, lba);
  return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

// A pressed CD (a data track of 1,000 sectors, then an audio track) whose
// data sectors were "written" through SetWriteData, as a writing job does.
class DiscVerifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disc_ = testing::MakeCueImage(dir_.path(), "v", {{false, 0, 1000, "", false}, {true, 0, 300, "", false}});
    rig_ = std::make_unique<JobRig>(dir_, "image=" + disc_.cue.string());
    ASSERT_TRUE(rig_->opened());
    for (int32_t lba = 0; lba < 1000; ++lba) verifier_.SetWriteData(CSD_MAINCHANNEL, Sector(false, lba), lba, SMC_MODE1);
    for (int32_t lba = 1000; lba < 1300; ++lba) verifier_.SetWriteData(CSD_MAINCHANNEL, Sector(true, lba), lba, SMC_AUDIO);
  }
  size_t TrayMoves() const {
    size_t moves = 0;
    for (const auto& command : rig_->drive().hooks().log()) moves += command.opcode() == 0x1B ? 1 : 0;
    return moves;
  }

  ScratchDir dir_;
  testing::CueFixture disc_;
  std::unique_ptr<JobRig> rig_;
  testing::FakeForms forms_;
  DiscVerifier verifier_;
};

TEST_F(DiscVerifierTest, FlippedByteIsTheOnlyDifferenceAfterTheTrayCycle) {
  QByteArray changed = Sector(false, 777);
  changed[16 + 100] = static_cast<char>(changed[16 + 100] ^ 0x01);
  verifier_.SetWriteData(CSD_MAINCHANNEL, changed, 777, SMC_MODE1);  // a later write replaces the CRC
  forms_.QueueIsReadyResult(true);
  rig_->drive().hooks().ClearLog();
  JobRecorder events(verifier_);
  EXPECT_FALSE(verifier_.StartVerify(rig_->device(), nullptr));
  EXPECT_EQ(forms_.calls(), QStringList{"is-ready 0"});
  EXPECT_EQ(TrayMoves(), 2u);  // out, then in
  EXPECT_EQ(events.WithPrefix("1:"), (QStringList{"1:セクタ 777 のデータが異なります。", "1:1 個のエラーセクタが見つかりました。"}));
  EXPECT_TRUE(events.Has("0:ディスクを再挿入します。そのままお待ち下さい。"));
  EXPECT_TRUE(events.Has("0:検証種別：比較検査 (0-)"));
  EXPECT_TRUE(events.Has("0:セクタ 998 検査外領域"));
  EXPECT_TRUE(events.Has("0:セクタ 999 検査外領域"));
  EXPECT_FALSE(events.Has("0:セクタ 997 検査外領域"));
  EXPECT_TRUE(events.Has("0:検証種別：読取検査 (1000-)"));
  EXPECT_TRUE(events.lines.last().startsWith("0:==== 失敗 "));
  EXPECT_EQ(events.last_value, 1299);
  EXPECT_EQ(events.last_total, 1299);
}

TEST_F(DiscVerifierTest, SettingsMoveTheExcludedSectorsAndTheTrayStaysWithoutForceEject) {
  rig_->ChangeSettings([](DeviceSetting& s) {
    s.ForceEject = false;
    s.VerifyPassFrom = -1;
    s.VerifyPassTo = 3;
  });
  rig_->drive().hooks().ClearLog();
  JobRecorder events(verifier_);
  EXPECT_TRUE(verifier_.StartVerify(rig_->device(), nullptr)) << events.lines.join("\n").toStdString();
  EXPECT_TRUE(forms_.calls().isEmpty());
  EXPECT_EQ(TrayMoves(), 0u);
  EXPECT_EQ(events.WithPrefix("0:セクタ "), (QStringList{"0:セクタ 999 検査外領域", "0:セクタ 1000 検査外領域",
                                                        "0:セクタ 1001 検査外領域", "0:セクタ 1002 検査外領域"}));
  EXPECT_TRUE(events.Has("0:ディスクは正常です。"));
}

TEST_F(DiscVerifierTest, GivingUpAtThePromptOrStoppingFails) {
  forms_.QueueIsReadyResult(false);
  JobRecorder events(verifier_);
  EXPECT_FALSE(verifier_.StartVerify(rig_->device(), nullptr));
  EXPECT_TRUE(events.Has("0:検証を中止しました。"));
  EXPECT_FALSE(events.Has("0:ディスクは正常です。"));

  rig_->ChangeSettings([](DeviceSetting& s) { s.ForceEject = false; });
  events.lines.clear();
  const auto stopper = QObject::connect(&verifier_, &DiscJob::Progress, [&](int32_t value, int32_t) {
    if (value == 50) verifier_.StopVerify();
  });
  EXPECT_FALSE(verifier_.StartVerify(rig_->device(), nullptr));  // no error found, but not verified whole
  EXPECT_TRUE(events.Has("0:検証を中止しました。"));
  EXPECT_TRUE(events.WithPrefix("0:ディスクは正常").isEmpty());
  QObject::disconnect(stopper);
  verifier_.StopVerify();  // while idle: the next pass is not affected
  EXPECT_TRUE(verifier_.StartVerify(rig_->device(), nullptr));
}

TEST_F(DiscVerifierTest, UnreadableSectorsAreCountedAndGivenTocIsUsed) {
  rig_->ChangeSettings([](DeviceSetting& s) { s.ForceEject = false; });
  rig_->drive().hooks().UpdateFaults([](platform::emu::DriveFaults& f) { f.unreadable = {{1100, 1101}}; });
  TOCInformation toc;
  toc.TOCAdd(1, 1, 1, TCF_DATATRACK, SMC_MODE1, 0, 999);
  toc.TOCAdd(1, 2, 1, 0, SMC_AUDIO, 1000, 1199);
  JobRecorder events(verifier_);
  EXPECT_FALSE(verifier_.StartVerify(rig_->device(), &toc));
  EXPECT_EQ(events.WithPrefix("1:"), (QStringList{"1:セクタ 1100 読み取りエラー", "1:セクタ 1101 読み取りエラー",
                                                  "1:2 個のエラーセクタが見つかりました。"}));
  EXPECT_EQ(events.last_total, 1199);
}

TEST(DiscVerifierRecordTest, RecordsOnlyWhatItCanCheck) {
  DiscVerifier verifier;
  QByteArray data(2352, '\x5A');
  verifier.SetWriteData(CSD_MAINCHANNEL, data, -5, SMC_MODE1);  // ignored
  EXPECT_EQ(verifier.RecordedCrc(-5), -1);
  verifier.SetWriteData(7, data, 3, SMC_MODE1);  // unknown data type
  EXPECT_EQ(verifier.RecordedCrc(3), -1);
  verifier.SetWriteData(CSD_SECTORONLY, data, 100000, SMC_MODE1);
  EXPECT_NE(verifier.RecordedCrc(100000), -1);
  EXPECT_EQ(verifier.RecordedCrc(100001), -1);
  verifier.SetWriteData(CSD_MAINCHANNEL, data, 4, SMC_AUDIO);
  EXPECT_EQ(verifier.RecordedCrc(4), 0xFFFF);  // an empty block
  verifier.SetWriteData(CSD_MAINCHANNEL, QByteArray(100, '\0'), 5, SMC_MODE2);  // too short for its user data
  EXPECT_EQ(verifier.RecordedCrc(5), -1);
}

}  // namespace
}  // namespace sorvel
