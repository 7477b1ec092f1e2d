// The job dialog frame with a scripted job double that logs, reports
// progress and pumps like a disc job: start and end states, the stop
// question, the refused close, the log, the bar and the keep-awake pair.
#include "gui/dialogs/job_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <functional>
#include <vector>

#include "gui/controls/view_box.h"
#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/disc_copy_form.h"
#include "gui/dialogs/disc_read_form.h"
#include "gui/dialogs/disc_write_form.h"
#include "gui/dialogs/well_save_form.h"
#include "gui/dialogs/well_write_form.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/jobs/disc_job.h"
#include "testing/gui/recording_power_backend.h"

namespace sorvel {
namespace {

const JobTexts kTexts{QStringLiteral("読み込みは正常終了しました。"), QStringLiteral("読み込みに失敗しました。"),
                      QStringLiteral("読み取りを中断してよろしいですか。")};

// One step of the double: a status line or a progress report, then the pump.
struct Step {
  int32_t type = -1;  // status type, or -1 for a progress step
  QString text;
  int32_t value = 0, total = 0;
};

class ScriptedJob : public DiscJob {
 public:
  ScriptedJob(std::vector<Step> steps, bool result, std::function<void(size_t)> at_step)
      : steps_(std::move(steps)), result_(result), at_step_(std::move(at_step)) {}
  bool Start() {
    for (size_t i = 0; i < steps_.size(); ++i) {
      const Step& step = steps_[i];
      if (step.type >= 0) {
        Report(step.type, step.text);
      }
      if (at_step_) at_step_(i);  // what the user does while the events are pumped
      if (ProgressAndPoll(step.type >= 0 ? static_cast<int32_t>(i) : step.value,
                          step.type >= 0 ? static_cast<int32_t>(steps_.size()) : step.total)) {
        Report(kStatusInformation, QStringLiteral("stopped"));
        return false;
      }
    }
    return result_;
  }
  void Stop() { RequestStop(); }

 private:
  std::vector<Step> steps_;
  bool result_;
  std::function<void(size_t)> at_step_;
};

class FrameForm : public JobDialog {
 public:
  FrameForm() : JobDialog(QStringLiteral("JobFrameForm"), QStringLiteral("媒体読込")) {
    panel = new DrivePanel(DriveSide::kRead, objectName(), this);
    target = new QGroupBox(QStringLiteral("target"), this);
    body()->addWidget(panel);
    body()->addWidget(target);
    AddPanel(panel);
    AddJobFrame(target);
    panel->Load();
  }
  ~FrameForm() override { Unload(); }

  DrivePanel* panel;
  QGroupBox* target;
  std::vector<Step> steps;
  bool result = true;
  std::function<void(size_t)> at_step;
  int starts = 0;
  int unloads = 0;
  bool last_result = false;

 protected:
  void StartJob() override {
    ++starts;
    ScriptedJob job(steps, result, at_step);
    last_result = RunJob(job, kTexts, [&job] { job.Stop(); }, [&job] { return job.Start(); });
    ShowOutcome(last_result, kTexts);
  }
  void UnloadForm() override {
    ++unloads;
    panel->Unload();
  }
};

class JobDialogTest : public ::testing::Test {
 protected:
  JobDialogTest() : map_("D:=emu:" + env_.State("d.state") + ",medium=cd-r") {}
  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScopedDriveMap map_;
  testing::ScriptedModalUi ui_;
  testing::RecordingPowerBackend power_;
};

std::vector<Step> Lines(std::initializer_list<std::pair<int32_t, const char*>> lines) {
  std::vector<Step> steps;
  for (const auto& [type, text] : lines) steps.push_back({type, QString::fromUtf8(text), 0, 0});
  return steps;
}

TEST_F(JobDialogTest, FailureShowsTheLastErrorLineAndRestoresTheIdleState) {
  FrameForm form;
  form.show();
  ASSERT_NE(form.panel->device(), nullptr);
  form.steps = Lines({{0, "開始"}, {2, "最初の失敗"}, {1, "警告"}, {2, "二番目の失敗"}});
  form.result = false;
  bool checked = false;
  form.at_step = [&](size_t i) {
    if (i != 1) return;
    checked = true;
    EXPECT_TRUE(form.running());
    EXPECT_FALSE(form.cmdEnd()->isEnabled());
    EXPECT_EQ(form.cmdStartStop()->text(), QStringLiteral("中止(&C)"));
    EXPECT_FALSE(form.panel->isEnabled());
    EXPECT_FALSE(form.panel->timer()->isActive());
    EXPECT_FALSE(form.target->isEnabled());
    EXPECT_EQ(power_.calls, QStringList{QStringLiteral("acquire sleep:idle")});
    EXPECT_TRUE(power_.held);
  };
  form.cmdStartStop()->click();
  EXPECT_TRUE(checked);
  EXPECT_FALSE(form.last_result);
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("二番目の失敗"));
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(ui_.messages()[0].caption, QStringLiteral("Sorvel"));
  EXPECT_EQ(ui_.messages()[0].owner, &form);
  EXPECT_EQ(form.last_error(), QStringLiteral("二番目の失敗"));
  // The idle state again.
  EXPECT_TRUE(form.cmdEnd()->isEnabled());
  EXPECT_EQ(form.cmdStartStop()->text(), QStringLiteral("開始(&S)"));
  EXPECT_TRUE(form.panel->isEnabled());
  EXPECT_TRUE(form.panel->timer()->isActive());
  EXPECT_TRUE(form.target->isEnabled());
  EXPECT_EQ(form.prgMain()->value(), 0);
  EXPECT_EQ(form.job(), nullptr);
  EXPECT_EQ(power_.calls, (QStringList{QStringLiteral("acquire sleep:idle"), QStringLiteral("release")}));
  // An empty line, then "hh:mm:ss text" per status line.
  const QStringList lines = form.vbxMain()->lines();
  ASSERT_EQ(lines.size(), 5);
  EXPECT_EQ(lines[0], QString());
  const QRegularExpression stamped(QStringLiteral("^([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] (.*)$"));
  const QStringList texts{QStringLiteral("開始"), QStringLiteral("最初の失敗"), QStringLiteral("警告"),
                          QStringLiteral("二番目の失敗")};
  for (int i = 0; i < 4; ++i) {
    const QRegularExpressionMatch match = stamped.match(lines[i + 1]);
    ASSERT_TRUE(match.hasMatch()) << lines[i + 1].toStdString();
    EXPECT_EQ(match.captured(2), texts[i]);
  }
}

TEST_F(JobDialogTest, FailureWithoutErrorLineShowsTheFixedTextAndSuccessItsOwn) {
  FrameForm form;
  form.steps = Lines({{0, "a"}, {1, "b"}});
  form.result = false;
  form.cmdStartStop()->click();
  form.result = true;
  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 2);
  EXPECT_EQ(ui_.messages()[0].text, kTexts.failure);
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(ui_.messages()[1].text, kTexts.success);
  EXPECT_EQ(ui_.messages()[1].style, 64);
  // A second job adds one empty line below the first job's lines.
  const QStringList lines = form.vbxMain()->lines();
  ASSERT_EQ(lines.size(), 6);
  EXPECT_EQ(lines.count(QString()), 2);
  EXPECT_EQ(lines[3], QString());
  EXPECT_EQ(power_.Count(QStringLiteral("acquire")), 2);
  EXPECT_EQ(power_.Count(QStringLiteral("release")), 2);
}

struct StopCase {
  int answer;
  bool stopped;
};

class JobDialogStopTest : public JobDialogTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(JobDialogStopTest, StopAsksOnceThenStopsOrLetsTheJobFinish) {
  FrameForm form;
  form.show();
  form.steps = Lines({{0, "one"}, {0, "two"}, {0, "three"}, {0, "four"}});
  form.result = true;
  ui_.QueueAnswer(GetParam().answer);
  // A second click while the question is open asks nothing more.
  int nested_clicks = 0;
  ui_.on_message = [&](const testing::ShownMessage& message) {
    if (message.style == 292 && nested_clicks++ == 0) form.cmdStartStop()->click();
  };
  form.at_step = [&](size_t i) {
    if (i == 1) {
      form.cmdStartStop()->click();
      EXPECT_EQ(form.cancelled(), GetParam().stopped);
    }
  };
  form.cmdStartStop()->click();
  ui_.on_message = nullptr;
  EXPECT_EQ(nested_clicks, 1);
  ASSERT_GE(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, kTexts.stop_question);
  EXPECT_EQ(ui_.messages()[0].style, 292);
  EXPECT_EQ(ui_.messages()[0].caption, QStringLiteral("Sorvel"));
  const QStringList lines = form.vbxMain()->lines();
  if (GetParam().stopped) {
    // No outcome box; the log keeps the lines of the stopped job.
    EXPECT_EQ(ui_.messages().size(), 1);
    EXPECT_FALSE(form.last_result);
    EXPECT_TRUE(form.cancelled());
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[3].endsWith(QStringLiteral(" stopped")));
  } else {
    ASSERT_EQ(ui_.messages().size(), 2);
    EXPECT_EQ(ui_.messages()[1].text, kTexts.success);
    EXPECT_TRUE(form.last_result);
    EXPECT_FALSE(form.cancelled());
    EXPECT_EQ(lines.size(), 5);
  }
  // A new run clears the flag.
  form.at_step = nullptr;
  ui_.Clear();
  form.cmdStartStop()->click();
  EXPECT_FALSE(form.cancelled());
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, kTexts.success);
}

INSTANTIATE_TEST_SUITE_P(Answers, JobDialogStopTest, ::testing::Values(StopCase{6, true}, StopCase{7, false}));

TEST_F(JobDialogTest, CloseBoxAndEscapeDuringAJobLeaveTheDialogOpen) {
  FrameForm form;
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  form.steps = Lines({{0, "a"}, {0, "b"}, {0, "c"}});
  form.at_step = [&](size_t i) {
    if (i == 0) {
      EXPECT_FALSE(form.close());
      QTest::keyClick(&form, Qt::Key_Escape);
      form.cmdEnd()->click();  // disabled: nothing
      EXPECT_TRUE(form.isVisible());
      EXPECT_EQ(form.unloads, 0);
    }
  };
  form.cmdStartStop()->click();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.unloads, 0);
  ASSERT_EQ(ui_.messages().size(), 1);  // the job ran to its end
  EXPECT_EQ(ui_.messages()[0].text, kTexts.success);
  // Idle: Escape closes and unloads once; the drive text is stored.
  QTest::keyClick(&form, Qt::Key_Escape);
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.unloads, 1);
  EXPECT_EQ(GetDialogSetting(QStringLiteral("JobFrameForm"), QStringLiteral("cboReadDrive")), form.panel->drive_combo()->currentText());
}

TEST_F(JobDialogTest, EndButtonClosesWhenIdle) {
  FrameForm form;
  form.show();
  form.cmdEnd()->click();
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(form.unloads, 1);
  EXPECT_EQ(form.panel->device(), nullptr);
}

TEST_F(JobDialogTest, StartWithoutADeviceDoesNothing) {
  testing::ScopedDriveMap none("");
  FrameForm form;
  ASSERT_EQ(form.panel->device(), nullptr);
  form.steps = Lines({{0, "a"}});
  form.cmdStartStop()->click();
  EXPECT_EQ(form.starts, 0);
  EXPECT_TRUE(ui_.messages().isEmpty());
  EXPECT_TRUE(form.vbxMain()->lines().isEmpty());
  EXPECT_TRUE(power_.calls.isEmpty());
}

TEST_F(JobDialogTest, ProgressKeepsTheMaximumForNoTotalAndIgnoresOutOfRangeValues) {
  FrameForm form;
  struct Case {
    int32_t value, total;
    int maximum, shown;
  } cases[] = {
      {10, 200, 200, 10},  {5, 0, 200, 5},     {7, -4, 200, 7},  {-3, 50, 50, 7},
      {70, 50, 50, 7},     {50, 50, 50, 50},   {0, 1, 1, 0},     {300, -1, 1, 0},
  };
  for (const Case& c : cases) {
    form.Progress(c.value, c.total);
    EXPECT_EQ(form.prgMain()->maximum(), c.maximum) << c.value << "/" << c.total;
    EXPECT_EQ(form.prgMain()->value(), c.shown) << c.value << "/" << c.total;
  }
  // Through the job's own events as well.
  form.steps = {{-1, QString(), 5, 0}};
  form.cmdStartStop()->click();
  EXPECT_EQ(form.prgMain()->maximum(), 1);
}

struct LogCase {
  const char* name;
  std::function<std::unique_ptr<JobDialog>()> make;
};

class JobLogTest : public JobDialogTest, public ::testing::WithParamInterface<LogCase> {};

// Every job dialog's log keeps the newest 8,192 lines, white text on black.
TEST_P(JobLogTest, LogKeeps8192LinesWhiteOnBlack) {
  std::unique_ptr<JobDialog> form = GetParam().make();
  form->resize(520, 420);
  form->show();
  ViewBox* log = form->vbxMain();
  EXPECT_EQ(log->MaxLine(), 8192);
  EXPECT_EQ(log->BackColor(), 0x000000u);
  EXPECT_EQ(log->ForeColor(), 0xFFFFFFu);
  EXPECT_EQ(log->Appearance(), 1);
  EXPECT_EQ(log->BorderStyle(), 1);
  EXPECT_EQ(log->font().pointSize(), 9);
  // Stored while locked (the limit holds all the same), drawn once unlocked.
  log->setLocked(true);
  for (int i = 1; i <= 8199; ++i) log->LineOut(QStringLiteral("行 %1 ■■■■■■■■").arg(i));
  log->setLocked(false);
  log->LineOut(QStringLiteral("行 8200 ■■■■■■■■"));
  ASSERT_EQ(log->lines().size(), 8192);
  EXPECT_EQ(log->lines().front(), QStringLiteral("行 9 ■■■■■■■■"));
  EXPECT_EQ(log->lines().back(), QStringLiteral("行 8200 ■■■■■■■■"));
  const QImage picture = log->picture();
  ASSERT_FALSE(picture.isNull());
  int black = 0, white = 0;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      const QRgb pixel = picture.pixel(x, y) & 0xFFFFFF;
      black += pixel == 0x000000;
      white += pixel == 0xFFFFFF;
    }
  }
  EXPECT_GT(black, picture.width() * picture.height() / 2);
  EXPECT_GT(white, 100);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, JobLogTest,
    ::testing::Values(LogCase{"Frame", [] { return std::unique_ptr<JobDialog>(new FrameForm); }},
                      LogCase{"Read", [] { return std::unique_ptr<JobDialog>(new DiscReadForm); }},
                      LogCase{"WriteImage", [] { return std::unique_ptr<JobDialog>(new DiscWriteForm); }},
                      LogCase{"Copy", [] { return std::unique_ptr<JobDialog>(new DiscCopyForm); }},
                      LogCase{"LayoutWrite", [] { return std::unique_ptr<JobDialog>(new WellWriteForm); }},
                      LogCase{"LayoutSave", [] { return std::unique_ptr<JobDialog>(new WellSaveForm); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorvel
