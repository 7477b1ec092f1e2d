#include "gui/jobs/disc_ripper.h"

#include <gtest/gtest.h>


#include "gui/jobs/job_test_rig.h"
#include "testing/file_bytes.h"
#include "gui/model/public_enumerations.h"
#include "testing/cd_image_fixture.h"
#include "testing/gui/scripted_modal_ui.h"

namespace sorvel {
namespace {

using testing::JobRecorder;
using testing::JobRig;
using testing::Q;
using testing::RunCommand;
using testing::ScratchDir;

// A mixed CD: data track 1 (300 sectors), audio tracks 2 and 3 with 2-second pregaps.
class DiscRipperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disc_ = testing::MakeCueImage(dir_.path(), "r",
                                  {{false, 0, 300, "", false}, {true, 150, 400, "", false}, {true, 150, 250, "", false}});
    rig_ = std::make_unique<JobRig>(dir_, "image=" + disc_.cue.string());
    ASSERT_TRUE(rig_->opened());
    // The rip dialog holds a read pass open while it rips.
    ASSERT_EQ(rig_->device().ReadStart(CCC_RAW96, 0), CBR_OK);
    bin_ = testing::ReadFileBytes(disc_.bin);
  }
  std::string Slice(int32_t first, int32_t count) const {
    return bin_.substr(static_cast<size_t>(first) * 2352, static_cast<size_t>(count) * 2352);
  }

  ScratchDir dir_;
  testing::CueFixture disc_;
  std::unique_ptr<JobRig> rig_;
  std::string bin_;
  DiscRipper ripper_;
};

TEST_F(DiscRipperTest, AudioTrackBecomesAWaveWithOrWithoutItsPregap) {
  ASSERT_TRUE(testing::RequireTool("python3"));
  const int32_t start3 = disc_.track_starts[2];
  for (bool pregap : {true, false}) {
    const std::filesystem::path wav = dir_.path() / (pregap ? "with.wav" : "without.wav");
    JobRecorder events(ripper_);
    ASSERT_TRUE(ripper_.StartRead(rig_->device(), Q(wav), 3, pregap)) << events.lines.join("\n").toStdString();
    const int32_t first = pregap ? start3 - 150 : start3;
    const int32_t count = disc_.leadout - first;
    EXPECT_EQ(events.lines.first(), QStringLiteral("0:Track 3 From %1 To %2").arg(first).arg(disc_.leadout - 1));
    EXPECT_EQ(events.lines[1], "0:CD-DA 2352 byte/sector");
    EXPECT_EQ(events.last_value, count - 1);
    EXPECT_EQ(events.last_total, count - 1);
    std::string out;
    ASSERT_EQ(RunCommand("python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
                         "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())\" '" +
                             wav.string() + "'",
                         &out),
              0);
    EXPECT_EQ(out, "2 2 44100 " + std::to_string(count * 588) + "\n");
    const std::string bytes = testing::ReadFileBytes(wav);
    ASSERT_EQ(bytes.size(), 44 + static_cast<size_t>(count) * 2352);
    EXPECT_TRUE(bytes.substr(44) == Slice(first, count));
  }
}

TEST_F(DiscRipperTest, DataTrackBecomesItsUserData) {
  const std::filesystem::path iso = dir_.path() / "Track_01.iso";
  JobRecorder events(ripper_);
  ASSERT_TRUE(ripper_.StartRead(rig_->device(), Q(iso), 1, true));
  EXPECT_EQ(events.lines[1], "0:CD-ROM Mode1 2048 byte/sector");
  const std::string bytes = testing::ReadFileBytes(iso);
  ASSERT_EQ(bytes.size(), 300u * 2048);
  for (int32_t lba = 0; lba < 300; ++lba) {
    ASSERT_EQ(bytes.substr(static_cast<size_t>(lba) * 2048, 2048), Slice(lba, 1).substr(16, 2048)) << lba;
  }
}

TEST_F(DiscRipperTest, MissingTrackStopUnwritableFileAndUnreadableSectors) {
  const std::filesystem::path out = dir_.path() / "x.wav";
  JobRecorder events(ripper_);
  EXPECT_FALSE(ripper_.StartRead(rig_->device(), Q(out), 9, true));
  EXPECT_FALSE(std::filesystem::exists(out));

  const auto stopper = QObject::connect(&ripper_, &DiscJob::Progress, [&](int32_t value, int32_t) {
    if (value == 3) ripper_.StopRead();
  });
  EXPECT_FALSE(ripper_.StartRead(rig_->device(), Q(out), 2, false));
  EXPECT_FALSE(std::filesystem::exists(out));
  QObject::disconnect(stopper);

  testing::ScriptedModalUi ui;
  EXPECT_FALSE(ripper_.StartRead(rig_->device(), Q(dir_.path() / "no" / "such" / "x.wav"), 2, false));
  ASSERT_EQ(ui.messages().size(), 1);
  EXPECT_EQ(ui.messages()[0].style, 16);
  EXPECT_EQ(ui.messages()[0].text, QStringLiteral("ファイル %1 が開けません。").arg(Q(dir_.path() / "no" / "such" / "x.wav")));

  const int32_t start2 = disc_.track_starts[1];
  rig_->drive().hooks().UpdateFaults([&](platform::emu::DriveFaults& f) { f.unreadable = {{start2 + 5, start2 + 5}}; });
  events.lines.clear();
  EXPECT_TRUE(ripper_.StartRead(rig_->device(), Q(out), 2, false));
  EXPECT_EQ(events.WithPrefix("1:"), QStringList{QStringLiteral("1:セクタ %1 の読み込みに失敗しました。").arg(start2 + 5)});
}

}  // namespace
}  // namespace sorvel
