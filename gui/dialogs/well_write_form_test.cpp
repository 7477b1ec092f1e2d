// The layout write dialog on emulated drives with the real engines: a direct
// write with verification, the way through a temporary image with a fresh
// blank inserted at the prompt, a cancelled prompt, a stop while the image is
// made, the drive named by the caller, the stored settings, and a layout too
// large for a recorded rewritable disc.
#include "gui/dialogs/well_write_form.h"

#include <gtest/gtest.h>

#include <fstream>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "gui/controls/view_box.h"
#include "gui/dialogs/dialog_forms.h"
#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/disc_job_test_support.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/is_ready_form.h"
#include "gui/dialogs/well_layout_test_support.h"
#include "drive_daemon/daemon_server.h"
#include "drive_daemon/remote_test_support.h"
#include "platform/emulated_drive/emulated_drive_registry.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/cd_image_fixture.h"
#include "testing/gui/fixed_interfaces.h"
#include "testing/gui/recording_power_backend.h"
#include "testing/gui/screenshot.h"
#include "testing/manual_clock.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::Q;
using testing::ReadFileBytes;
using testing::RunCommand;

const QString kSuccess = QStringLiteral("書き込みは正常終了しました。");
const QString kRepeat = QStringLiteral("\r\n続けて書き込みますか。");
constexpr int kYes = 6;
constexpr int kNo = 7;

std::string Log(const JobDialog& form) { return form.vbxMain()->lines().join('\n').toStdString(); }

// Runs `action` once the modal showing of `form` has begun.
void WhenShown(QWidget* form, std::function<void()> action) {
  auto* poll = new QTimer(form);
  QObject::connect(poll, &QTimer::timeout, form, [form, poll, action = std::move(action)] {
    if (!form->isVisible()) return;
    poll->stop();
    poll->deleteLater();
    action();
  });
  poll->start(10);
}

// Inserts a fresh CD-R into the emulated drive `state` (or gives up, with
// `cancel`) each time the prompt for a writable disc shows; the verifier's
// reload prompt is left to the drive.
class BlankAtPrompt {
 public:
  explicit BlankAtPrompt(const std::string& state, bool cancel = false) {
    QObject::connect(&poll_, &QTimer::timeout, [this, state, cancel] {
      auto* prompt = qobject_cast<IsReadyForm*>(QApplication::activeModalWidget());
      if (prompt == nullptr || !prompt->isVisible() ||
          !prompt->lblMessage()->text().contains(QStringLiteral("新しい書き込み可能な"))) {
        seen_ = false;
        return;
      }
      if (seen_) return;
      seen_ = true;
      ++prompts;
      if (cancel) {
        prompt->cmdCancel()->click();
        return;
      }
      std::string error;
      EXPECT_TRUE(platform::emu::FindOpenDrive(state)->InsertDisc("cd-r", "", &error)) << error;
    });
    poll_.start(20);
  }
  int prompts = 0;

 private:
  QTimer poll_;
  bool seen_ = false;
};

// Files left in `dir`.
std::vector<std::string> Entries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  return names;
}

// The disc in the open drive `state` as written: the data track's volume
// and the audio samples of the layout.
void ExpectDiscMatches(const std::string& state, const testing::LayoutSource& source, const fs::path& out) {
  ASSERT_TRUE(testing::ExportDisc(state, out));
  std::string log;
  ASSERT_EQ(RunCommand("cd '" + out.string() + "' && bchunk -w disc.bin disc.cue part 2>&1", &log), 0) << log;
  log.clear();
  EXPECT_EQ(RunCommand("isoinfo -d -i '" + (out / "part01.iso").string() + "'", &log), 0);
  EXPECT_NE(log.find("Volume id: " + source.layout->VolumeLabel.toStdString() + "\n"), std::string::npos) << log;
  EXPECT_TRUE(ReadFileBytes(out / "part03.wav").substr(44) == source.pcm2);
  EXPECT_TRUE(ReadFileBytes(out / "part02.wav").substr(44, source.pcm1.size()) == source.pcm1);
}

class WellWriteFormTest : public ::testing::Test {
 protected:
  WellWriteFormTest() : forms_(DialogFormFactories()), previous_forms_(InstallFormFactories(&forms_)) {}
  ~WellWriteFormTest() override { InstallFormFactories(previous_forms_); }

  // A temporary folder whose path holds a dot.
  fs::path UseTempFolder() {
    const fs::path temp = dir_.path() / "tmp.d" / "work";
    fs::create_directories(temp);
    AcquireSettings()->SetPathTemp(Q(temp));
    ReleaseSettings();
    return temp;
  }

  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScriptedModalUi ui_;
  testing::RecordingPowerBackend power_;
  FormFactories forms_;
  const FormFactories* previous_forms_;
};

// Two direct writes with verification in one showing, a fresh blank between
// them; the dialog stays open while the jobs run even against Escape and the
// close box.
TEST_F(WellWriteFormTest, DirectWritesAreVerifiedCountedAndMatchTheLayout) {
  for (const char* tool : {"bchunk", "isoinfo"}) ASSERT_TRUE(testing::RequireTool(tool));
  testing::LayoutSource source(dir_.path(), QStringLiteral("DIRECT"));
  source.AddTracks();
  const std::string state = env_.State("d.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
  WellWriteForm form;
  EXPECT_TRUE(form.chkVerify()->isChecked());  // "1" by default
  EXPECT_FALSE(form.chkCreateTemporaryImage()->isChecked());
  bool refused = false;
  testing::PumpAction probe(5, [&] {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &key);
    QCloseEvent close;
    QCoreApplication::sendEvent(&form, &close);
    refused = form.isVisible() && !close.isAccepted() && !form.cmdEnd()->isEnabled() && !form.fraRecv()->isEnabled() &&
              form.cmdStartStop()->text() == QStringLiteral("中止(&C)");
  });
  std::string first_log;
  WhenShown(&form, [&] {
    form.cmdStartStop()->click();
    first_log = Log(form);
    // The written disc left in the tray; a fresh blank for the second write.
    std::string error;
    EXPECT_TRUE(platform::emu::FindOpenDrive(state)->InsertDisc("cd-r", "", &error)) << error;
    form.cmdStartStop()->click();
    ExpectDiscMatches(state, source, dir_.path() / "export");
    form.cmdEnd()->click();
  });
  EXPECT_EQ(form.ShowOpen(*source.layout, QStringLiteral("構造書込テスト"), QStringLiteral("d:")), 2);
  EXPECT_TRUE(refused);
  EXPECT_EQ(form.lblTitle()->text(), QStringLiteral("構造書込テスト"));
  ASSERT_EQ(ui_.messages().size(), 2) << Log(form);
  for (const auto& message : ui_.messages()) {
    EXPECT_EQ(message.text, kSuccess);
    EXPECT_EQ(message.style, 64);
    EXPECT_EQ(message.caption, QStringLiteral("Sorvel"));
  }
  EXPECT_NE(first_log.find("ディスクは正常です。"), std::string::npos) << first_log;
  // One execution-state pair per job, none left held.
  EXPECT_EQ(power_.Count(QStringLiteral("acquire")), 2);
  EXPECT_EQ(power_.Count(QStringLiteral("release")), 2);

}

// A DVD+RW and a DVD-RW holding a disc, and a layout larger than either
// holds once formatted or erased: refused before the drive formats or erases
// anything, the disc's data as it was.
TEST_F(WellWriteFormTest, LayoutLargerThanARecordedRewritableDiscLeavesItAsItWas) {
  for (const char* medium : {"dvd+rw", "dvd-rw"}) {
    SCOPED_TRACE(medium);
    ui_.Clear();
    const fs::path tree = dir_.path() / (std::string(medium) + ".files");
    testing::LayoutSource source(tree, QString::fromLatin1(medium).toUpper().remove(u'+').remove(u'-'));
    const std::string state = env_.State(medium);
    testing::ScopedDriveMap map("D:=emu:" + state + ",medium=" + medium);
    WellWriteForm form;
    form.chkVerify()->setChecked(false);
    std::string before;
    WhenShown(&form, [&] {
      form.cmdStartStop()->click();
      if (ui_.LastText() != kSuccess) {
        ADD_FAILURE() << Log(form);
        form.cmdEnd()->click();
        return;
      }
      form.fraRecv()->eject_button(1)->click();  // the tray opened after the write
      before = ReadFileBytes(state + ".data");
      // Two sparse files, 4.8 GB together: more than the 4.7 GB disc holds.
      for (const char* name : {"part1.bin", "part2.bin"}) {
        const fs::path path = tree / name;
        { std::ofstream create(path, std::ios::binary); }
        fs::resize_file(path, 2400000000);
        QString entry = QString::fromLatin1(name);
        EXPECT_TRUE(source.layout->AddISOFile(entry, Q(path)));
      }
      ui_.Clear();
      platform::emu::HooksFor(state)->ClearLog();
      form.cmdStartStop()->click();
      form.cmdEnd()->click();
    });
    EXPECT_EQ(form.ShowOpen(*source.layout, QString(), QStringLiteral("d:")), 1) << ui_.LastText().toStdString();
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(ui_.messages().size(), 1) << Log(form);
    EXPECT_EQ(ui_.messages()[0].style, 16);
    EXPECT_NE(Log(form).find("書き込み対象のデータ容量はメディアの容量を超えています。"), std::string::npos) << Log(form);
    for (const auto& command : platform::emu::HooksFor(state)->log()) {
      EXPECT_TRUE(command.opcode() != 0x04 && command.opcode() != 0xA1 && command.opcode() != 0x2A)
          << std::hex << int(command.opcode());  // FORMAT UNIT, BLANK, WRITE(10)
    }
    EXPECT_TRUE(ReadFileBytes(state + ".data") == before);
  }
}

// Tray openings the drive `state` received so far.
int Ejects(const std::string& state) {
  int count = 0;
  for (const auto& command : platform::emu::HooksFor(state)->log())
    count += command.opcode() == 0x1B && (command.cdb[4] & 0x03) == 0x02 ? 1 : 0;
  return count;
}

// A failed write does not count; a write whose verification failed does.
TEST_F(WellWriteFormTest, CountFollowsTheWriteNotTheVerification) {
  testing::LayoutSource source(dir_.path(), QStringLiteral("COUNT"));
  const std::string state = env_.State("c.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
  WellWriteForm form;
  ASSERT_TRUE(form.chkVerify()->isChecked());
  QString failure;
  WhenShown(&form, [&] {
    platform::emu::HooksFor(state)->UpdateFaults([](platform::emu::DriveFaults& f) { f.write_error_lba = 100; });
    form.cmdStartStop()->click();
    failure = form.last_error();
    platform::emu::HooksFor(state)->UpdateFaults([](platform::emu::DriveFaults& f) {
      f.write_error_lba.reset();
      f.unreadable = {{40, 60}};
    });
    std::string error;
    EXPECT_TRUE(platform::emu::FindOpenDrive(state)->InsertDisc("cd-r", "", &error)) << error;
    form.cmdStartStop()->click();
    platform::emu::HooksFor(state)->UpdateFaults([](platform::emu::DriveFaults& f) { f.unreadable.clear(); });
    form.cmdEnd()->click();
  });
  EXPECT_EQ(form.ShowOpen(*source.layout, QString(), QString()), 1);
  ASSERT_EQ(ui_.messages().size(), 2) << Log(form);
  EXPECT_FALSE(failure.isEmpty());
  EXPECT_EQ(ui_.messages()[0].text, failure);
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(ui_.messages()[1].text, QStringLiteral("書き込みは正常終了しましたが、検証に失敗しました。"));
  EXPECT_EQ(ui_.messages()[1].style, 48);
}

// The power action runs only after a job of more than 60 seconds; with
// chkShutdown the tray stays closed, and the refused action lets the result
// message follow.
TEST_F(WellWriteFormTest, PowerActionOnlyAfterMoreThanAMinute) {
  testing::ScopedManualClock clock;
  testing::LayoutSource source(dir_.path(), QStringLiteral("POWER"));
  const std::string state = env_.State("w.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
  Settings()->SetShutdownSuccess(8);
  WellWriteForm form;
  form.chkVerify()->setChecked(false);
  form.chkShutdown()->setChecked(true);
  std::vector<int> ejects_at_message;
  ui_.on_message = [&](const testing::ShownMessage&) { ejects_at_message.push_back(Ejects(state)); };
  WhenShown(&form, [&] {
    platform::emu::HooksFor(state)->ClearLog();
    {
      testing::PumpAction long_job(3, [&] { clock.clock().Advance(std::chrono::seconds(61)); });
      form.cmdStartStop()->click();
    }
    EXPECT_EQ(power_.Count(QStringLiteral("poweroff")), 1);
    std::string error;
    EXPECT_TRUE(platform::emu::FindOpenDrive(state)->InsertDisc("cd-r", "", &error)) << error;
    platform::emu::HooksFor(state)->ClearLog();
    form.cmdStartStop()->click();  // a short job: no action
    EXPECT_EQ(power_.Count(QStringLiteral("poweroff")), 1);
    form.cmdEnd()->click();
  });
  EXPECT_EQ(form.ShowOpen(*source.layout, QString(), QString()), 2);
  ui_.on_message = nullptr;
  ASSERT_EQ(ui_.messages().size(), 2) << Log(form);
  EXPECT_EQ(ui_.messages()[1].text, kSuccess);
  EXPECT_EQ(ejects_at_message, (std::vector<int>{0, 0}));
}

TEST_F(WellWriteFormTest, TemporaryImageTwoPassesWithAFreshBlankAtThePrompt) {
  const fs::path temp = UseTempFolder();
  SaveDialogSetting(QStringLiteral("WellWriteForm"), QStringLiteral("chkCreateTemporaryImage"), QStringLiteral("1"));
  testing::LayoutSource source(dir_.path(), QStringLiteral("PASSES"));
  source.AddTracks();
  const std::string state = env_.State("t.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
  BlankAtPrompt blank(state);
  ui_.QueueAnswer(kYes);
  ui_.QueueAnswer(kNo);
  WellWriteForm form;
  EXPECT_TRUE(form.chkCreateTemporaryImage()->isChecked());
  WhenShown(&form, [&] {
    form.cmdStartStop()->click();
    ExpectDiscMatches(state, source, dir_.path() / "export");
    form.cmdEnd()->click();
  });
  EXPECT_EQ(form.ShowOpen(*source.layout, QString(), QString()), 2);
  EXPECT_EQ(blank.prompts, 1);
  ASSERT_EQ(ui_.messages().size(), 2) << Log(form);
  for (const auto& message : ui_.messages()) {
    EXPECT_EQ(message.text, kSuccess + kRepeat);
    EXPECT_EQ(message.style, 324);
  }
  EXPECT_TRUE(Entries(temp).empty());
  // Execution state around the two disc jobs of each pass only, not the image.
  EXPECT_EQ(power_.Count(QStringLiteral("acquire")), 4);
  EXPECT_EQ(power_.Count(QStringLiteral("release")), 4);
  EXPECT_EQ(GetDialogSetting(QStringLiteral("WellWriteForm"), QStringLiteral("chkCreateTemporaryImage")),
            QStringLiteral("1"));
}

// The tray of a pass opens before the repeat question, or after it with
// EjectAfterMessage; a pass without verification reports plain success.
TEST_F(WellWriteFormTest, TemporaryImageTrayBeforeOrAfterTheRepeatQuestion) {
  UseTempFolder();
  testing::LayoutSource source(dir_.path(), QStringLiteral("TRAY"));
  for (const bool after : {false, true}) {
    SCOPED_TRACE(after);
    const std::string state = env_.State(after ? "after.state" : "before.state");
    testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
    Settings()->SetEjectAfterMessage(after);
    ui_.Clear();
    int at_message = -1;
    ui_.on_message = [&](const testing::ShownMessage&) { at_message = Ejects(state); };
    WellWriteForm form;
    form.chkCreateTemporaryImage()->setChecked(true);
    form.chkVerify()->setChecked(false);
    WhenShown(&form, [&] {
      platform::emu::HooksFor(state)->ClearLog();
      form.cmdStartStop()->click();
      form.cmdEnd()->click();
    });
    EXPECT_EQ(form.ShowOpen(*source.layout, QString(), QString()), 1);
    ui_.on_message = nullptr;
    ASSERT_EQ(ui_.messages().size(), 1);
    EXPECT_EQ(ui_.messages()[0].text, kSuccess + kRepeat);
    EXPECT_EQ(ui_.messages()[0].style, 324);
    EXPECT_EQ(at_message, after ? 0 : 1);
    EXPECT_EQ(Ejects(state), 1);
  }
}

TEST_F(WellWriteFormTest, CancelledPromptReportsAFailedPass) {
  const fs::path temp = UseTempFolder();
  testing::LayoutSource source(dir_.path(), QStringLiteral("NOPE"));
  const testing::CueFixture pressed =
      testing::MakeCueImage(dir_.path(), "pressed", {{false, 0, 300, "", false}});
  testing::ScopedDriveMap map("D:=emu:" + env_.State("p.state") + ",image=" + pressed.cue.string());
  BlankAtPrompt cancel(env_.State("p.state"), true);
  WellWriteForm form;
  form.chkCreateTemporaryImage()->setChecked(true);
  WhenShown(&form, [&] {
    form.cmdStartStop()->click();  // the repeat question answered No (its default)
    form.cmdEnd()->click();
  });
  EXPECT_EQ(form.ShowOpen(*source.layout, QString(), QString()), 0);
  EXPECT_EQ(cancel.prompts, 1);
  ASSERT_EQ(ui_.messages().size(), 1) << Log(form);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("書き込みに失敗しました") + kRepeat);
  EXPECT_EQ(ui_.messages()[0].style, 276);
  EXPECT_TRUE(Entries(temp).empty());
}

TEST_F(WellWriteFormTest, StopWhileTheImageIsMadeShowsNothingAndLeavesNoFile) {
  const fs::path temp = UseTempFolder();
  testing::LayoutSource source(dir_.path(), QStringLiteral("STOP"));
  source.AddTracks(3000, 3000);
  testing::ScopedDriveMap map("D:=emu:" + env_.State("s.state") + ",medium=cd-r");
  ui_.QueueAnswer(kYes);
  WellWriteForm form;
  form.chkCreateTemporaryImage()->setChecked(true);
  testing::PumpAction stop(3, [&] { form.cmdStartStop()->click(); });
  WhenShown(&form, [&] {
    form.cmdStartStop()->click();
    form.cmdEnd()->click();
  });
  EXPECT_EQ(form.ShowOpen(*source.layout, QString(), QString()), 0);
  ASSERT_EQ(ui_.messages().size(), 1) << Log(form);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("書き込み中断してよろしいですか。"));
  EXPECT_EQ(ui_.messages()[0].style, 292);
  EXPECT_TRUE(Entries(temp).empty());
  EXPECT_EQ(power_.Count(QStringLiteral("acquire")), 0);
}

TEST_F(WellWriteFormTest, UnknownDriveNameIsRefusedWithoutShowing) {
  testing::LayoutSource source(dir_.path(), QStringLiteral("NAME"));
  testing::ScopedDriveMap map("D:=emu:" + env_.State("n.state") + ",medium=cd-r");
  WellWriteForm form;
  bool shown = false;
  WhenShown(&form, [&] {
    shown = true;
    form.cmdEnd()->click();
  });
  EXPECT_EQ(form.ShowOpen(*source.layout, QString(), QStringLiteral("x:")), 0);
  EXPECT_FALSE(shown);
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("ドライヴ x: は書き込み対象として選択できません。"));
  EXPECT_EQ(ui_.messages()[0].style, 48);
}

TEST_F(WellWriteFormTest, SettingsAreRestoredAndSaved) {
  testing::ScopedDriveMap map("D:=emu:" + env_.State("a.state") + ",medium=cd-r;E:=emu:" + env_.State("b.state") +
                              ",medium=cd-r");
  {
    WellWriteForm form;
    EXPECT_EQ(form.fraRecv()->drive_combo()->currentIndex(), 0);
    ASSERT_EQ(form.fraRecv()->drive_combo()->count(), 2);
    form.fraRecv()->drive_combo()->setCurrentIndex(1);
    form.chkVerify()->setChecked(false);
    form.chkCreateTemporaryImage()->setChecked(true);
    form.close();
  }
  const QString drive = GetDialogSetting(QStringLiteral("WellWriteForm"), QStringLiteral("cboWriteDrive"));
  EXPECT_TRUE(drive.contains(QStringLiteral("(E:)"))) << drive.toStdString();
  EXPECT_EQ(GetDialogSetting(QStringLiteral("WellWriteForm"), QStringLiteral("chkVerify")), QStringLiteral("0"));
  {
    WellWriteForm form;
    EXPECT_EQ(form.fraRecv()->drive_combo()->currentText(), drive);
    EXPECT_FALSE(form.chkVerify()->isChecked());
    EXPECT_TRUE(form.chkCreateTemporaryImage()->isChecked());
    // A disabled box is stored as off.
    form.chkCreateTemporaryImage()->setEnabled(false);
    form.close();
  }
  EXPECT_EQ(GetDialogSetting(QStringLiteral("WellWriteForm"), QStringLiteral("chkCreateTemporaryImage")),
            QStringLiteral("0"));
}

TEST_F(WellWriteFormTest, FactoryCentresOnTheCallersWindowAfterTheLoad) {
  testing::LayoutSource source(dir_.path(), QStringLiteral("PLACE"));
  testing::ScopedDriveMap map("D:=emu:" + env_.State("c.state") + ",medium=cd-r");
  bool placed = false;
  const int count = ShowWellWriteForm(*source.layout, QString(), QStringLiteral("Q:"), [&](QWidget* form) {
    placed = qobject_cast<WellWriteForm*>(form) != nullptr;
  });
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(placed);
  EXPECT_EQ(ui_.LastText(), QStringLiteral("ドライヴ Q: は書き込み対象として選択できません。"));
}

// A drive served on the loopback interface by the daemon's server in this
// process (so that the test can put a blank in): the repeat question stays
// open for 5 s, is answered Yes, and the second pass writes the fresh blank.
TEST_F(WellWriteFormTest, RemoteDriveSecondPassAfterAnOpenRepeatQuestion) {
  testing::FixedInterfaces no_interfaces;
  UseTempFolder();
  testing::LayoutSource source(dir_.path(), QStringLiteral("REMOTE"));
  const std::string state = env_.State("r.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r");
  std::unique_ptr<DaemonServer> server = CreateDaemonServer();
  server->SetDriveEnabled(3, true);
  const uint16_t port = remote_test::FreePort();
  ASSERT_NE(port, 0);
  ASSERT_TRUE(server->Start(port, 4));
  Settings()->SetRemotePort(port);
  Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
  Settings()->SetScanTimeout(300);

  BlankAtPrompt blank(state);
  qint64 held_ms = 0;
  ui_.on_message = [&](const testing::ShownMessage& message) {
    if (!message.text.endsWith(kRepeat) || held_ms > 0) return;
    QElapsedTimer timer;
    timer.start();
    QEventLoop loop;
    QTimer::singleShot(5000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    held_ms = timer.elapsed();
  };
  ui_.QueueAnswer(kYes);
  ui_.QueueAnswer(kNo);
  WellWriteForm form;
  form.chkCreateTemporaryImage()->setChecked(true);
  form.chkVerify()->setChecked(false);
  QString remote;
  WhenShown(&form, [&] {
    DrivePanel* panel = form.fraRecv();
    for (int attempt = 0; attempt < 5 && !panel->network_box()->isChecked(); ++attempt) panel->network_box()->click();
    for (int i = 0; i < panel->drive_combo()->count(); ++i)
      if (panel->drive_combo()->itemText(i).contains(QStringLiteral("127.0.0.1"))) remote = panel->drive_combo()->itemText(i);
    if (!remote.isEmpty()) {
      {
        QSignalBlocker block(panel->drive_combo());
        panel->drive_combo()->setCurrentText(remote);
      }
      panel->OpenChosenDrive();
      form.cmdStartStop()->click();
    }
    form.cmdEnd()->click();
  });
  const int count = form.ShowOpen(*source.layout, QString(), QString());
  ui_.on_message = nullptr;
  server->Stop();
  ASSERT_FALSE(remote.isEmpty());
  EXPECT_EQ(count, 2) << Log(form);
  EXPECT_EQ(blank.prompts, 1);
  EXPECT_GE(held_ms, 4900);
  ASSERT_EQ(ui_.messages().size(), 2) << Log(form);
  EXPECT_EQ(ui_.messages()[1].text, kSuccess + kRepeat);
}

TEST_F(WellWriteFormTest, WellWriteFormScreenshot) {
  testing::ScopedDriveMap map("");
  WellWriteForm form;
  EXPECT_EQ(form.fraRecv()->status_label()->text(), QStringLiteral("未接続または他のプロセスで使用中"));
  EXPECT_FALSE(testing::SaveScreenshot(&form, QStringLiteral("WellWriteForm")).isEmpty());
  form.close();
}

}  // namespace
}  // namespace sorvel
