// The layout save dialog with the real mastering engine: images judged by
// isoinfo, xorriso, cdrdao and bchunk; the result message and value after a
// save, a failure and a stop, and the close box and Escape while it runs.
#include "gui/dialogs/well_save_form.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "gui/controls/view_box.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/disc_job_test_support.h"
#include "gui/dialogs/well_layout_test_support.h"
#include "gui/jobs/message_pump.h"
#include "testing/gui/recording_power_backend.h"
#include "testing/gui/screenshot.h"
#include "testing/file_bytes.h"
#include "testing/stand_in_file.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::Q;
using testing::ReadFileBytes;
using testing::RunCommand;

const QString kSuccess = QStringLiteral("書き込みは正常終了しました。");
const QString kStopQuestion = QStringLiteral("書き込み中断してよろしいですか。");
constexpr int kYes = 6;
constexpr int kNo = 7;

class WellSaveFormTest : public ::testing::Test {
 protected:
  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScriptedModalUi ui_;
  testing::RecordingPowerBackend power_;
};

TEST_F(WellSaveFormTest, DataLayoutIsAnIsoThatToolsExtract) {
  for (const char* tool : {"isoinfo", "xorriso", "cmp"}) ASSERT_TRUE(testing::RequireTool(tool));
  testing::LayoutSource source(dir_.path(), QStringLiteral("WELL SAVE"));
  const fs::path image = dir_.path() / "out" / "Saved.img";
  fs::create_directories(image.parent_path());
  bool result = false;
  QString title;
  {
    WellSaveForm form;
    result = form.ShowOpen(*source.layout, Q(image), QStringLiteral("  "));
    title = form.lblTitle()->text();
    EXPECT_EQ(form.cmdCancel()->objectName(), QStringLiteral("cmdCancel"));
  }
  EXPECT_TRUE(result);
  EXPECT_EQ(title, QStringLiteral("構造保存"));  // a blank title keeps the caption
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, kSuccess);
  EXPECT_EQ(ui_.messages()[0].style, 64);
  EXPECT_EQ(ui_.messages()[0].caption, QStringLiteral("Sorvel"));
  // No execution state is asked for while only files are written.
  EXPECT_EQ(power_.Count(QStringLiteral("acquire")), 0);

  std::string out;
  EXPECT_EQ(RunCommand("isoinfo -d -i '" + image.string() + "'", &out), 0);
  EXPECT_NE(out.find("Volume id: WELL SAVE\n"), std::string::npos) << out;
  out.clear();
  EXPECT_EQ(RunCommand("LC_ALL=C.UTF-8 isoinfo -J -l -i '" + image.string() + "' 2>&1", &out), 0);
  // isoinfo prints names outside Latin-1 as "_": those are checked by the extraction.
  for (const char* name : {"readme.txt", "big.bin", "___.txt"}) EXPECT_NE(out.find(name), std::string::npos) << out;
  const fs::path extracted = dir_.path() / "extracted";
  out.clear();
  ASSERT_EQ(RunCommand("xorriso -osirrox on -indev '" + image.string() + "' -extract / '" + extracted.string() + "' 2>&1",
                       &out),
            0)
      << out;
  for (const char* name : {"readme.txt", "docs/big.bin", "docs/深い/日本語.txt"}) {
    EXPECT_EQ(RunCommand("cmp '" + (source.tree / name).string() + "' '" + (extracted / name).string() + "'"), 0) << name;
  }
  EXPECT_TRUE(fs::exists(dir_.path() / "out" / "Saved.cue"));
}

TEST_F(WellSaveFormTest, MixedLayoutHasItsTracksAndPregaps) {
  for (const char* tool : {"cdrdao", "bchunk"}) ASSERT_TRUE(testing::RequireTool(tool));
  testing::LayoutSource source(dir_.path(), QStringLiteral("MIXED"));
  source.AddTracks();
  const fs::path image = dir_.path() / "Mixed.img";
  WellSaveForm form;
  ASSERT_TRUE(form.ShowOpen(*source.layout, Q(image), QStringLiteral("構造の保存")));
  EXPECT_EQ(form.lblTitle()->text(), QStringLiteral("構造の保存"));
  EXPECT_EQ(ui_.LastText(), kSuccess);
  std::string out;
  EXPECT_EQ(RunCommand("cd '" + dir_.path().string() + "' && cdrdao show-toc Mixed.cue 2>&1", &out), 0) << out;
  EXPECT_NE(out.find("TRACK  2  Mode AUDIO"), std::string::npos) << out;
  EXPECT_NE(out.find("TRACK  3  Mode AUDIO"), std::string::npos) << out;
  EXPECT_NE(out.find("PREGAP 00:02:00(   150)"), std::string::npos) << out;
  ASSERT_EQ(RunCommand("cd '" + dir_.path().string() + "' && bchunk -w Mixed.img Mixed.cue part 2>&1", &out), 0) << out;
  EXPECT_TRUE(ReadFileBytes(dir_.path() / "part03.wav").substr(44) == source.pcm2);
  EXPECT_TRUE(ReadFileBytes(dir_.path() / "part02.wav").substr(44, source.pcm1.size()) == source.pcm1);
}

TEST_F(WellSaveFormTest, FailureIsReportedAndReturnsFalse) {
  testing::LayoutSource source(dir_.path(), QStringLiteral("FAIL"));
  WellSaveForm form;
  EXPECT_FALSE(form.ShowOpen(*source.layout, Q(dir_.path() / "missing" / "x.img"), QString()));
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_TRUE(ui_.messages()[0].text.startsWith(QStringLiteral("ファイルが開けません - ")))
      << ui_.messages()[0].text.toStdString();
}

// A FIFO where the sheet is to go: told at once with its name; the earlier
// image beside it is kept.
TEST_F(WellSaveFormTest, FifoAtTheSheetsNameIsToldAtOnce) {
  testing::LayoutSource source(dir_.path(), QStringLiteral("FIFO"));
  const fs::path out = dir_.path() / "out";
  fs::create_directories(out);
  testing::WriteFileBytes(out / "x.img", "earlier image");
  testing::StandInFile fifo(out / "x.cue", testing::StandIn::kFifo);
  WellSaveForm form;
  QElapsedTimer timer;
  timer.start();
  form.ShowOpen(*source.layout, Q(out / "x.img"), QString());
  EXPECT_LT(timer.elapsed(), 1000);
  EXPECT_FALSE(fifo.Blocked());
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("ファイル %1 は通常のファイルではありません。").arg(Q(out / "x.cue")));
  EXPECT_EQ(ReadFileBytes(out / "x.img"), "earlier image");
}

// The stop question from the button, Escape and the close box: Yes stops
// without a result message, No lets the job finish.
TEST_F(WellSaveFormTest, StopQuestionFromButtonEscapeAndCloseBox) {
  testing::LayoutSource source(dir_.path(), QStringLiteral("STOP"));
  source.AddTracks(3000, 3000);
  enum Way { kButton, kEscape, kCloseBox };
  for (const Way way : {kButton, kEscape, kCloseBox}) {
    for (const int answer : {kYes, kNo}) {
      SCOPED_TRACE(::testing::Message() << "way " << way << " answer " << answer);
      ui_.Clear();
      ui_.QueueAnswer(answer);
      const fs::path image = (Q(dir_.path()) + QStringLiteral("/s%1%2.img").arg(way).arg(answer)).toStdString();
      WellSaveForm form;
      testing::PumpAction stop(3, [&] {
        if (way == kButton) {
          form.cmdCancel()->click();
        } else if (way == kEscape) {
          QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
          QCoreApplication::sendEvent(&form, &key);
        } else {
          QCloseEvent close;
          QCoreApplication::sendEvent(&form, &close);
          EXPECT_FALSE(close.isAccepted());
        }
      });
      const bool result = form.ShowOpen(*source.layout, Q(image), QString());
      EXPECT_GE(stop.pumps(), 3);
      ASSERT_GE(ui_.messages().size(), 1);
      EXPECT_EQ(ui_.messages()[0].text, kStopQuestion);
      EXPECT_EQ(ui_.messages()[0].style, 292);
      if (answer == kYes) {
        EXPECT_FALSE(result);
        EXPECT_EQ(ui_.messages().size(), 1);  // no result message
        EXPECT_FALSE(fs::exists(image));
      } else {
        EXPECT_TRUE(result);
        ASSERT_EQ(ui_.messages().size(), 2);
        EXPECT_EQ(ui_.messages()[1].text, kSuccess);
        EXPECT_TRUE(fs::exists(image));
      }
    }
  }
}

TEST_F(WellSaveFormTest, WellSaveFormScreenshot) {
  testing::LayoutSource source(dir_.path(), QStringLiteral("SHOT"));
  source.AddTracks(3000, 3000);
  WellSaveForm form;
  QString shot;
  testing::PumpAction take(20, [&] { shot = testing::SaveScreenshot(&form, QStringLiteral("WellSaveForm")); });
  EXPECT_TRUE(form.ShowOpen(*source.layout, Q(dir_.path() / "shot.img"), QString()));
  EXPECT_FALSE(shot.isEmpty());
}

}  // namespace
}  // namespace sorvel
