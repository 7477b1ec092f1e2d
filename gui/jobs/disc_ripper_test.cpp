#include "gui/jobs/disc_ripper.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "gui/jobs/job_test_rig.h"
#include "testing/file_bytes.h"
#include "gui/model/public_enumerations.h"
#include "testing/cd_image_fixture.h"
#include "testing/exfat_folder.h"
#include "testing/gui/scripted_modal_ui.h"
#include "testing/stand_in_file.h"

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

// The files of the output folder by name with their bytes.
std::map<std::string, std::string> FolderContents(const std::filesystem::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    files[entry.path().filename().string()] =
        entry.is_regular_file() ? testing::ReadFileBytes(entry.path()) : std::string("(not a file)");
  }
  return files;
}

// An earlier file at the WAV's name survives every rip that does not
// finish; one that cannot be written over (write-protected, or a FIFO,
// device or folder) is told at once in the message box and left alone.
TEST_F(DiscRipperTest, EarlierFileAtTheNameSurvivesAndForeignOnesAreToldAtOnce) {
  const std::filesystem::path out_dir = dir_.path() / "out";
  std::filesystem::create_directories(out_dir);
  const std::filesystem::path out = out_dir / "Track_01.wav";
  const QString name = Q(out);
  struct Case {
    const char* what;
    testing::StandIn stand_in;
    std::filesystem::perms perms;
    const char* text;  // the message; "" for a rip that starts and is stopped
  };
  for (const Case& c : {Case{"stopped", testing::StandIn::kRegular, std::filesystem::perms(0644), ""},
                        Case{"protected", testing::StandIn::kRegular, std::filesystem::perms(0444), "が開けません。"},
                        Case{"fifo", testing::StandIn::kFifo, {}, "は通常のファイルではありません。"},
                        Case{"device", testing::StandIn::kZeroDevice, {}, "は通常のファイルではありません。"},
                        Case{"folder", testing::StandIn::kFolder, {}, "は通常のファイルではありません。"}}) {
    std::filesystem::remove_all(out);
    testing::StandInFile stand_in(out, c.stand_in, "earlier wave");
    if (c.stand_in == testing::StandIn::kRegular) std::filesystem::permissions(out, c.perms);
    const auto before = FolderContents(out_dir);
    testing::ScriptedModalUi ui;
    const auto stopper = QObject::connect(&ripper_, &DiscJob::Progress, [&](int32_t value, int32_t) {
      if (value == 3) ripper_.StopRead();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ripper_.StartRead(rig_->device(), name, 2, false)) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << c.what;
    QObject::disconnect(stopper);
    EXPECT_FALSE(stand_in.Blocked()) << c.what;
    if (*c.text) {
      ASSERT_EQ(ui.messages().size(), 1) << c.what;
      EXPECT_EQ(ui.messages()[0].text, QStringLiteral("ファイル %1 %2").arg(name, QString::fromUtf8(c.text))) << c.what;
      EXPECT_EQ(ui.messages()[0].style, 16);
    } else {
      EXPECT_TRUE(ui.messages().empty()) << c.what;
    }
    EXPECT_EQ(FolderContents(out_dir), before) << c.what;
  }
  // A rip that finishes replaces the earlier file whole.
  std::filesystem::remove_all(out);
  testing::WriteFileBytes(out, std::string(100000, 'e'));
  ASSERT_TRUE(ripper_.StartRead(rig_->device(), name, 3, false));
  EXPECT_EQ(testing::ReadFileBytes(out).substr(44), Slice(disc_.track_starts[2], 250));
  EXPECT_EQ(FolderContents(out_dir).size(), 1u);
}

// On exFAT (no hard links, no RENAME_NOREPLACE) a second rip into a name
// replaces the first one's file.
TEST_F(DiscRipperTest, SecondRipIntoAnExfatFolderReplacesTheFirst) {
  testing::ExfatFolder exfat;
  ASSERT_TRUE(exfat.mounted());
  const int32_t start2 = disc_.track_starts[1];
  for (int32_t track : {3, 2}) {
    JobRecorder events(ripper_);
    ASSERT_TRUE(ripper_.StartRead(rig_->device(), Q(exfat / "Track.wav"), track, false))
        << track << "\n" << events.lines.join("\n").toStdString();
  }
  const std::string bytes = testing::ReadFileBytes(exfat / "Track.wav");
  const int32_t count = disc_.track_starts[2] - 150 - start2;
  ASSERT_EQ(bytes.size(), 44 + static_cast<size_t>(count) * 2352);
  EXPECT_TRUE(bytes.substr(44) == Slice(start2, count));
  for (const auto& entry : std::filesystem::directory_iterator(exfat.path())) {
    EXPECT_EQ(entry.path().filename(), "Track.wav");
  }
}

}  // namespace
}  // namespace sorvel
