// The erase dialog on emulated drives through the real engine, locally and
// through kestrow: refused media, an empty drive, erased rewritable discs
// (BLANK in the drive's log, blank afterwards), a refused BLANK, and the
// stored drive.
#include "gui/dialogs/disc_erase_form.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "gui/controls/view_box.h"
#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/termination.h"
#include "gui/model/trelin.h"
#include <csignal>
#include <fstream>
#include <set>

#include "platform/emulated_drive/drive_hooks.h"
#include "testing/cd_image_fixture.h"
#include "platform/emulated_device.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/file_bytes.h"
#include "testing/gui/fixed_interfaces.h"
#include "testing/gui/recording_power_backend.h"
#include "testing/gui/screenshot.h"
#include "testing/kestrow_standalone.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;

const QString kNotReady = QStringLiteral("ドライヴの準備が出来ていません。");
const QString kNotRewritable = QStringLiteral("挿入されている媒体は書き換え可能媒体ではありません。");
const QString kErased = QStringLiteral("削除完了しました。");
const QString kNotErased = QStringLiteral("削除出来ませんでした。");
constexpr uint8_t kBlank = 0xA1;

TEST(ErasableProfileTest, ExactlyTheEightRewritableProfiles) {
  const std::set<int32_t> erasable{0x0A, 0x13, 0x14, 0x1A, 0x2A, 0x43, 0x53, 0x5A};
  for (int32_t profile = 0; profile <= 0xFFFF; ++profile) {
    EXPECT_EQ(IsErasableProfile(profile), erasable.count(profile) == 1) << std::hex << profile;
  }
  EXPECT_FALSE(IsErasableProfile(-1));
}

// A rewritable disc loaded from an image counts as pressed; turning that
// flag off in its state file makes it a disc written by a recorder.
void MakeWritten(const std::string& spec, const std::string& path) {
  std::string error;
  ASSERT_NE(platform::OpenEmulatedDevice(spec, &error), nullptr) << error;  // creates the state
  std::string state = testing::ReadFileBytes(path);
  const size_t at = state.find("pressed 1\n");
  ASSERT_NE(at, std::string::npos);
  state.replace(at, 10, "pressed 0\n");
  std::ofstream(path, std::ios::binary | std::ios::trunc) << state;
}

int BlankCommands(const testing::EmulatedDriveFixture& drive) {
  int n = 0;
  for (const auto& command : drive.hooks().log()) n += command.opcode() == kBlank ? 1 : 0;
  return n;
}

struct EraseCase {
  const char* name;
  const char* medium;  // emulated medium; with an image when `written`
  bool written;
  QString message;
  int style;
  int blanks;
};

class DiscEraseFormCaseTest : public ::testing::TestWithParam<EraseCase> {
 protected:
  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScriptedModalUi ui_;
  testing::RecordingPowerBackend power_;
};

TEST_P(DiscEraseFormCaseTest, StartButton) {
  const EraseCase& c = GetParam();
  std::string settings = std::string("medium=") + c.medium;
  if (c.written) {
    const bool cd = std::string(c.medium).rfind("cd", 0) == 0;
    if (cd) {
      settings += ",image=" + testing::MakeCueImage(dir_.path(), "w", {{false, 0, 300, "", false}}).cue.string();
    } else {
      const fs::path iso = testing::MakeIsoImage(dir_.path(), "w", {{"a.txt", "data"}});
      ASSERT_FALSE(iso.empty());
      settings += ",image=" + iso.string();
    }
  }
  testing::EmulatedDriveFixture drive(dir_, settings, "d");
  if (c.written) MakeWritten(drive.spec(), drive.path());
  testing::ScopedDriveMap map("D:=" + drive.device());
  DiscEraseForm form;
  ASSERT_NE(form.fraRecv()->device(), nullptr);
  Trelin& device = *form.fraRecv()->device();
  const bool empty_before = device.IsReady() && device.IsDiscEmpty();
  if (c.written) {
    EXPECT_FALSE(empty_before);
  }
  drive.hooks().ClearLog();

  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, c.message);
  EXPECT_EQ(ui_.messages()[0].style, c.style);
  EXPECT_EQ(ui_.messages()[0].caption, QStringLiteral("Sorvel"));
  EXPECT_EQ(BlankCommands(drive), c.blanks);
  EXPECT_EQ(form.cmdStartStop()->text(), QStringLiteral("開始(&S)"));
  if (c.style == 64) {
    EXPECT_TRUE(device.IsDiscEmpty());
    EXPECT_EQ(power_.calls, (QStringList{QStringLiteral("acquire sleep:idle"), QStringLiteral("release")}));
  } else {
    EXPECT_TRUE(power_.calls.isEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Media, DiscEraseFormCaseTest,
    ::testing::Values(EraseCase{"CdR", "cd-r", false, kNotRewritable, 48, 0},
                      EraseCase{"DvdRam", "dvd-ram", false, kNotRewritable, 48, 0},
                      EraseCase{"Empty", "none", false, kNotReady, 48, 0},
                      EraseCase{"CdRw", "cd-rw", true, kErased, 64, 1},
                      EraseCase{"DvdRwRestricted", "0x13", true, kErased, 64, 1},
                      EraseCase{"DvdRwSequential", "0x14", true, kErased, 64, 1}),
    [](const ::testing::TestParamInfo<EraseCase>& info) { return std::string(info.param.name); });

class DiscEraseFormTest : public ::testing::Test {
 protected:
  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScriptedModalUi ui_;
  testing::RecordingPowerBackend power_;
};

TEST_F(DiscEraseFormTest, RefusedBlankFailsAndClosingStillStoresTheDrive) {
  testing::EmulatedDriveFixture drive(dir_, "medium=cd-rw", "d");
  testing::EmulatedDriveFixture other(dir_, "medium=cd-rw", "e");
  testing::ScopedDriveMap map("D:=" + drive.device() + ";E:=" + other.device());
  DiscEraseForm form;
  form.show();
  // No job here: no bar, no log; the renamed timer runs.
  EXPECT_FALSE(form.prgMain()->isVisible());
  EXPECT_FALSE(form.vbxMain()->isVisible());
  EXPECT_EQ(form.fraRecv()->timer()->objectName(), QStringLiteral("tmrDevice"));
  QComboBox* drives = form.fraRecv()->drive_combo();
  ASSERT_EQ(drives->count(), 2);
  drives->setCurrentIndex(1);
  emit drives->activated(1);
  other.hooks().UpdateFaults([](platform::emu::DriveFaults& f) { f.refused_opcodes.insert(kBlank); });
  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, kNotErased);
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(power_.Count(QStringLiteral("acquire")), 1);
  EXPECT_EQ(power_.Count(QStringLiteral("release")), 1);
  EXPECT_FALSE(power_.held);
  const QString chosen = drives->currentText();
  EXPECT_TRUE(form.close());
  EXPECT_EQ(GetDialogSetting(QStringLiteral("DiscEraseForm"), QStringLiteral("cboWriteDrive")), chosen);
  EXPECT_EQ(form.fraRecv()->device(), nullptr);
  // Reopened: the stored drive again.
  DiscEraseForm again;
  EXPECT_EQ(again.fraRecv()->drive_combo()->currentText(), chosen);
}

TEST_F(DiscEraseFormTest, StartWithoutADriveDoesNothing) {
  testing::ScopedDriveMap map("");
  DiscEraseForm form;
  form.cmdStartStop()->click();
  EXPECT_TRUE(ui_.messages().isEmpty());
  EXPECT_TRUE(power_.calls.isEmpty());
  EXPECT_TRUE(form.close());
}

TEST_F(DiscEraseFormTest, ThroughKestrowOnLoopback) {
  testing::FixedInterfaces no_interfaces;
  const testing::CueFixture cd = testing::MakeCueImage(dir_.path(), "w", {{false, 0, 300, "", false}});
  const std::string rw_state = env_.State("rw.state");
  const std::string r_state = env_.State("r.state");
  MakeWritten(rw_state + ",medium=cd-rw,image=" + cd.cue.string(), rw_state);
  testing::ScopedDriveMap map("");
  testing::KestrowStandalone daemon(fs::path(env_.State("daemon")),
                                    "D:=emu:" + rw_state + ";E:=emu:" +
                                        r_state + ",medium=cd-r;F:=emu:" + env_.State("n.state") + ",medium=none",
                                    "DEF");
  ASSERT_TRUE(daemon.Start());
  Settings()->SetRemotePort(daemon.port());
  Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
  Settings()->SetScanTimeout(300);
  DiscEraseForm form;
  for (int attempt = 0; attempt < 5 && !form.fraRecv()->network_box()->isChecked(); ++attempt) {
    ui_.Clear();
    form.fraRecv()->network_box()->click();
  }
  ASSERT_TRUE(form.fraRecv()->network_box()->isChecked());
  QComboBox* drives = form.fraRecv()->drive_combo();
  ASSERT_EQ(drives->count(), 3);
  struct Step {
    int index;
    QString message;
  } steps[] = {{1, kNotRewritable}, {2, kNotReady}, {0, kErased}};
  for (const Step& step : steps) {
    ui_.Clear();
    drives->setCurrentIndex(step.index);
    emit drives->activated(step.index);
    ASSERT_NE(form.fraRecv()->device(), nullptr) << step.index;
    form.cmdStartStop()->click();
    ASSERT_EQ(ui_.messages().size(), 1) << step.index;
    EXPECT_EQ(ui_.messages()[0].text, step.message) << step.index;
  }
  EXPECT_TRUE(form.fraRecv()->device()->IsDiscEmpty());
  const QString chosen = drives->currentText();
  form.close();
  EXPECT_EQ(GetDialogSetting(QStringLiteral("DiscEraseForm"), QStringLiteral("cboWriteDrive")), chosen);
}

// A remote erase whose daemon does not answer for a while (its process
// stopped): the window keeps running (a timer ticks, and the timer that lets
// the daemon go on fires while the erase waits), and the erase then succeeds.
TEST_F(DiscEraseFormTest, ARemoteEraseKeepsTheWindowAnswering) {
  testing::FixedInterfaces no_interfaces;
  const testing::CueFixture cd = testing::MakeCueImage(dir_.path(), "w", {{false, 0, 300, "", false}});
  const std::string rw_state = env_.State("rw.state");
  MakeWritten(rw_state + ",medium=cd-rw,image=" + cd.cue.string(), rw_state);
  testing::ScopedDriveMap map("");
  testing::KestrowStandalone daemon(fs::path(env_.State("daemon")), "D:=emu:" + rw_state, "D");
  ASSERT_TRUE(daemon.Start());
  Settings()->SetRemotePort(daemon.port());
  Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
  Settings()->SetScanTimeout(300);
  DiscEraseForm form;
  form.show();
  for (int attempt = 0; attempt < 5 && !form.fraRecv()->network_box()->isChecked(); ++attempt) {
    ui_.Clear();
    form.fraRecv()->network_box()->click();
  }
  ASSERT_TRUE(form.fraRecv()->network_box()->isChecked());
  ASSERT_NE(form.fraRecv()->device(), nullptr);
  ui_.Clear();

  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(20);
  int ticks_at_resume = -1;
  QTimer::singleShot(1000, &form, [&] {
    ticks_at_resume = ticks;
    daemon.Resume();
  });
  ASSERT_TRUE(daemon.Suspend());
  form.cmdStartStop()->click();
  daemon.Resume();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, kErased);
  EXPECT_GE(ticks_at_resume, 3);  // the window ran again and again while the erase waited
  EXPECT_TRUE(form.fraRecv()->device()->IsDiscEmpty());
  EXPECT_TRUE(form.cmdEnd()->isEnabled());
  form.close();
}

// A terminating signal while the erase's result box is open closes the box,
// and the program ends (by that signal) instead of waiting for an answer.
TEST_F(DiscEraseFormTest, SignalClosesTheResultBoxAndEndsTheProgram) {
  const testing::CueFixture cd = testing::MakeCueImage(dir_.path(), "w", {{false, 0, 300, "", false}});
  testing::EmulatedDriveFixture drive(dir_, "medium=cd-rw,image=" + cd.cue.string(), "d");
  MakeWritten(drive.spec(), drive.path());
  testing::ScopedDriveMap map("D:=" + drive.device());
  Termination::Instance().Install();
  int ended_by = 0;
  Termination::Instance().SetEndForTesting([&](int signal_number) { ended_by = signal_number; });
  bool closed_by_signal = false;
  ui_.on_message = [&](const testing::ShownMessage&) {
    // The box as the program shows it: modal, until it is answered or closed.
    QMessageBox box(QMessageBox::Information, QStringLiteral("Sorvel"), kErased, QMessageBox::Ok);
    bool held = false;
    QTimer::singleShot(10000, &box, [&] {
      held = true;
      box.close();
    });
    ::raise(SIGTERM);
    box.exec();
    closed_by_signal = !held;
  };
  DiscEraseForm form;
  ASSERT_NE(form.fraRecv()->device(), nullptr);
  form.cmdStartStop()->click();
  ui_.on_message = nullptr;
  Termination::Instance().SetEndForTesting({});
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, kErased);
  EXPECT_TRUE(closed_by_signal);
  EXPECT_EQ(ended_by, SIGTERM);
}

TEST_F(DiscEraseFormTest, DiscEraseFormScreenshot) {
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=cd-rw,vendor=SORVEL,product=EMU-WRITER");
  DiscEraseForm form;
  form.adjustSize();
  testing::SaveScreenshot(&form, QStringLiteral("DiscEraseForm"));
}

}  // namespace
}  // namespace sorvel
