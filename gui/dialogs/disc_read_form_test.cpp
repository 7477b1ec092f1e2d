// The read dialog end to end: emulated drives read through the real engine
// into files that independent tools accept, the name proposal from the
// volume label, the stored path and drive, and a remote drive of a real
// kestrow with the stop question held open.
#include "gui/dialogs/disc_read_form.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "gui/controls/view_box.h"
#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/disc_job_test_support.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/foundation/application_setting.h"
#include "gui/jobs/message_pump.h"
#include "testing/cd_image_fixture.h"
#include "testing/file_bytes.h"
#include "testing/gui/fixed_interfaces.h"
#include "testing/gui/recording_power_backend.h"
#include "testing/gui/screenshot.h"
#include "testing/kestrow_standalone.h"
#include "testing/scoped_env.h"
#include "testing/stand_in_file.h"
#include "platform/emulated_drive/drive_hooks.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::RunCommand;

const QString kSuccess = QStringLiteral("読み込みは正常終了しました。");

QString Q(const fs::path& path) { return QString::fromStdString(path.string()); }

void Pick(QComboBox* combo, int index) {
  ASSERT_GE(index, 0);
  ASSERT_LT(index, combo->count());
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

// A pressed CD: a data track, then two audio tracks with 2-second pregaps.
testing::CueFixture PressedCd(const fs::path& dir) {
  return testing::MakeCueImage(dir, "pressed",
                               {{false, 0, 600, "", false}, {true, 150, 300, "", false}, {true, 150, 225, "", false}});
}

class DiscReadFormTest : public ::testing::Test {
 protected:
  DiscReadFormTest() : home_("HOME", env_.State("home")) { fs::create_directories(env_.State("home")); }
  // A kestrow of its own, to be started, that serves `disc` as D:.
  testing::KestrowStandalone RemoteDisc(const testing::CueFixture& disc) {
    return testing::KestrowStandalone(fs::path(env_.State("daemon")),
                                      "D:=emu:" + env_.State("r.state") + ",image=" + disc.cue.string(), "D");
  }
  static void UseRemoteHost(uint16_t port) {
    Settings()->SetRemotePort(port);
    Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
    Settings()->SetScanTimeout(300);
  }
  // The source side of `form` switched to the drives of the remote host.
  void ChooseNetworkDrives(DiscReadForm& form) {
    for (int attempt = 0; attempt < 5 && !form.fraSend()->network_box()->isChecked(); ++attempt) {
      ui_.Clear();
      form.fraSend()->network_box()->click();
    }
    ASSERT_TRUE(form.fraSend()->network_box()->isChecked());
  }

  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScopedEnv home_;
  testing::ScriptedModalUi ui_;
  testing::RecordingPowerBackend power_;
};

TEST_F(DiscReadFormTest, PressedCdIntoImageDescriptorsAndSideFilesThatToolsAccept) {
  for (const char* tool : {"cdrdao", "cd-info", "bchunk"}) ASSERT_TRUE(testing::RequireTool(tool));
  const testing::CueFixture disc = PressedCd(dir_.path());
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",image=" + disc.cue.string());
  DiscReadForm form;
  form.show();
  ASSERT_EQ(form.fraSend()->drive_combo()->count(), 1);
  ASSERT_NE(form.fraSend()->device(), nullptr);
  // First use: nothing stored, the path stays empty.
  EXPECT_EQ(form.txtWriteFile()->text(), QString());

  const fs::path out = dir_.path() / "out";
  fs::create_directories(out);
  form.txtWriteFile()->setText(Q(out / "Disc.img"));
  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 1) << form.vbxMain()->lines().join('\n').toStdString();
  EXPECT_EQ(ui_.messages()[0].text, kSuccess);
  EXPECT_EQ(ui_.messages()[0].style, 64);
  EXPECT_EQ(power_.calls, (QStringList{QStringLiteral("acquire sleep:idle"), QStringLiteral("release")}));
  for (const char* ext : {".img", ".cue", ".tsn"}) EXPECT_TRUE(fs::exists(out / (std::string("Disc") + ext))) << ext;
  EXPECT_FALSE(fs::exists(out / "Disc.cdm"));
  EXPECT_TRUE(testing::ReadFileBytes(out / "Disc.img") == testing::ReadFileBytes(disc.bin));

  std::string toc;
  EXPECT_EQ(RunCommand("cd '" + out.string() + "' && cdrdao show-toc Disc.cue 2>&1", &toc), 0) << toc;
  fs::create_symlink("Disc.img", out / "Disc.bin");  // cd-info looks for the sheet's name with ".bin"
  std::string info;
  EXPECT_EQ(RunCommand("cd '" + out.string() + "' && cd-info --no-device-info --no-cddb --cue-file Disc.cue 2>&1", &info),
            0)
      << info;
  EXPECT_NE(info.find("  2: 00:12:00  000750 audio"), std::string::npos) << info;
  const auto ours = testing::BchunkTracks(out / "Disc.img", out / "Disc.cue", dir_.path() / "chunks-read");
  const auto source = testing::BchunkTracks(disc.bin, disc.cue, dir_.path() / "chunks-source");
  ASSERT_EQ(ours.size(), 3u);
  EXPECT_TRUE(ours == source);
  form.cmdEnd()->click();
  EXPECT_EQ(GetDialogSetting(QStringLiteral("DiscReadForm"), QStringLiteral("txtWriteFile")), Q(out / "Disc.img"));
}

// A FIFO where the read's sheet or subchannel file is to go: the read is
// refused at once with the name, before the disc is read, the tray is
// unlocked and the dialog can start again; the earlier image is kept.
TEST_F(DiscReadFormTest, FifoAtASideFileNameIsToldAtOnceAndTheTrayUnlocked) {
  const testing::CueFixture disc = testing::MakeCueImage(dir_.path(), "s", {{false, 0, 300, "", false}});
  const std::string state = env_.State("d.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",image=" + disc.cue.string());
  const auto hooks = platform::emu::HooksFor(state);
  DiscReadForm form;
  form.show();
  const fs::path out = dir_.path() / "out";
  fs::create_directories(out);
  for (const char* ext : {".cue", ".sub"}) {
    testing::WriteFileBytes(out / "Disc.img", "earlier image");
    const fs::path taken = out / (std::string("Disc") + ext);
    testing::StandInFile fifo(taken, testing::StandIn::kFifo);
    ui_.Clear();
    hooks->ClearLog();
    form.txtWriteFile()->setText(Q(out / "Disc.img"));
    QElapsedTimer timer;
    timer.start();
    form.cmdStartStop()->click();
    EXPECT_LT(timer.elapsed(), 1000) << ext;
    EXPECT_FALSE(fifo.Blocked()) << ext;
    ASSERT_EQ(ui_.messages().size(), 1) << form.vbxMain()->lines().join('\n').toStdString();
    EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("ファイル %1 は通常のファイルではありません。").arg(Q(taken)));
    EXPECT_EQ(ui_.messages()[0].style, 16);
    int lock_commands = 0;
    bool locked = false;
    for (const auto& command : hooks->log()) {
      if (command.opcode() != 0x1E) continue;  // PREVENT ALLOW MEDIUM REMOVAL
      ++lock_commands;
      locked = (command.cdb[4] & 1) != 0;
    }
    EXPECT_GE(lock_commands, 2) << ext;
    EXPECT_FALSE(locked) << ext;
    EXPECT_TRUE(form.cmdStartStop()->isEnabled());
    EXPECT_EQ(testing::ReadFileBytes(out / "Disc.img"), "earlier image");
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 2);
  }
}

fs::path LabelledIso(const fs::path& dir) {
  fs::create_directories(dir / "iso-root");
  EXPECT_EQ(RunCommand("head -c 300000 /dev/urandom > '" + (dir / "iso-root" / "data.bin").string() + "'"), 0);
  const fs::path iso = dir / "label.iso";
  std::string log;
  EXPECT_EQ(RunCommand("genisoimage -quiet -r -J -V 'MY DISC' -o '" + iso.string() + "' '" + (dir / "iso-root").string() +
                           "' 2>&1",
                       &log),
            0)
      << log;
  return iso;
}

TEST_F(DiscReadFormTest, DriveChoiceProposesTheLabelAndTheReadIsoEqualsTheDisc) {
  for (const char* tool : {"genisoimage", "isoinfo"}) ASSERT_TRUE(testing::RequireTool(tool));
  const fs::path iso = LabelledIso(dir_.path());
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=cd-r;E:=emu:" + env_.State("e.state") +
                              ",medium=dvd-rom,image=" + iso.string());
  DiscReadForm form;
  QComboBox* drives = form.fraSend()->drive_combo();
  ASSERT_EQ(drives->count(), 2);
  const fs::path img = dir_.path() / "img";
  fs::create_directories(img);
  form.txtWriteFile()->setText(Q(img / "old.iso"));
  Pick(drives, 1);
  EXPECT_EQ(form.txtWriteFile()->text(), Q(img / "MY_DISC.img"));
  // A blank disc has no label; a hand-typed name is replaced as well.
  form.txtWriteFile()->setText(Q(img / "typed.iso"));
  Pick(drives, 0);
  EXPECT_EQ(form.txtWriteFile()->text(), Q(img / "Image.img"));
  // A text without folder gets the home folder.
  form.txtWriteFile()->setText(QStringLiteral("bare.iso"));
  Pick(drives, 1);
  EXPECT_EQ(form.txtWriteFile()->text(), Q(fs::path(env_.State("home")) / "MY_DISC.img"));
  form.txtWriteFile()->setText(Q(img / "MY_DISC.img"));

  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 1) << form.vbxMain()->lines().join('\n').toStdString();
  EXPECT_EQ(ui_.messages()[0].text, kSuccess);
  EXPECT_EQ(RunCommand("cmp '" + iso.string() + "' '" + (img / "MY_DISC.iso").string() + "'"), 0);
  EXPECT_FALSE(fs::exists(img / "MY_DISC.img"));
  std::string info;
  EXPECT_EQ(RunCommand("isoinfo -d -i '" + (img / "MY_DISC.iso").string() + "' 2>&1", &info), 0);
  EXPECT_NE(info.find("Volume id: MY DISC"), std::string::npos) << info;
}

TEST_F(DiscReadFormTest, BareNameIsReadIntoTheHomeFolder) {
  const fs::path iso = LabelledIso(dir_.path());
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=dvd-rom,image=" + iso.string());
  DiscReadForm form;
  form.txtWriteFile()->setText(QStringLiteral("bare.img"));
  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, kSuccess);
  EXPECT_TRUE(fs::exists(fs::path(env_.State("home")) / "bare.iso"));
}

TEST_F(DiscReadFormTest, BlankPathIsRefused) {
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=cd-r");
  DiscReadForm form;
  for (const QString& text : {QString(), QStringLiteral("   "), QStringLiteral("\t ")}) {
    ui_.Clear();
    form.txtWriteFile()->setText(text);
    form.cmdStartStop()->click();
    ASSERT_EQ(ui_.messages().size(), 1);
    EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("書き込みファイルを指定してください。"));
    EXPECT_EQ(ui_.messages()[0].style, 48);
    EXPECT_EQ(form.txtWriteFile()->text(), text);
  }
  EXPECT_TRUE(form.vbxMain()->lines().isEmpty());
  EXPECT_TRUE(power_.calls.isEmpty());
  EXPECT_TRUE(form.cmdEnd()->isEnabled());
}

TEST_F(DiscReadFormTest, BrowseButtonReplacesThePathUnlessCancelled) {
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=cd-r");
  DiscReadForm form;
  form.txtWriteFile()->setText(QStringLiteral("/x/a.img"));
  ui_.QueueSaveFile(QStringLiteral("/y/b.iso"));
  form.cmdWriteFile()->click();
  ASSERT_EQ(ui_.dialogs().size(), 1);
  EXPECT_EQ(ui_.dialogs()[0].kind, testing::ShownFileDialog::kSave);
  EXPECT_EQ(ui_.dialogs()[0].filter, QStringLiteral("互換イメージ (*.img,*.iso)|*.img;*.iso|全てのファイル (*.*)|*.*"));
  EXPECT_EQ(ui_.dialogs()[0].default_path, QStringLiteral("/x/a.img"));
  EXPECT_EQ(ui_.dialogs()[0].flags, 2054);
  EXPECT_EQ(form.txtWriteFile()->text(), QStringLiteral("/y/b.iso"));
  form.cmdWriteFile()->click();  // cancelled
  EXPECT_EQ(form.txtWriteFile()->text(), QStringLiteral("/y/b.iso"));
}

TEST_F(DiscReadFormTest, ReopeningRestoresPathAndDriveAndAnUnmappedDriveSelectsTheFirst) {
  const fs::path iso = LabelledIso(dir_.path());
  const std::string d = "D:=emu:" + env_.State("d.state") + ",medium=cd-r";
  const std::string e = "E:=emu:" + env_.State("e.state") + ",medium=dvd-rom,image=" + iso.string();
  const QString path = Q(dir_.path() / "keep" / "kept.img");
  QString d_text;
  {
    testing::ScopedDriveMap map(d + ";" + e);
    DiscReadForm form;
    d_text = form.fraSend()->drive_combo()->itemText(0);
    form.txtWriteFile()->setText(path);
    form.close();
  }
  {  // the stored drive is the first: the path comes back as stored
    testing::ScopedDriveMap map(d + ";" + e);
    DiscReadForm form;
    EXPECT_EQ(form.fraSend()->drive_combo()->currentText(), d_text);
    EXPECT_EQ(form.txtWriteFile()->text(), path);
    Pick(form.fraSend()->drive_combo(), 1);
    form.txtWriteFile()->setText(path);
    form.close();
  }
  {  // restoring another drive proposes a name in the stored folder
    testing::ScopedDriveMap map(d + ";" + e);
    DiscReadForm form;
    EXPECT_EQ(form.fraSend()->drive_combo()->currentIndex(), 1);
    EXPECT_EQ(form.txtWriteFile()->text(), Q(dir_.path() / "keep" / "MY_DISC.img"));
    form.txtWriteFile()->setText(path);
  }
  {  // E: no longer mapped: the first drive, the stored path
    testing::ScopedDriveMap map(d);
    DiscReadForm form;
    EXPECT_EQ(form.fraSend()->drive_combo()->currentIndex(), 0);
    EXPECT_EQ(form.fraSend()->drive_combo()->currentText(), d_text);
    EXPECT_EQ(form.txtWriteFile()->text(), path);
    EXPECT_NE(form.fraSend()->device(), nullptr);
  }
}

// The same CD read locally and through kestrow on the loopback interface; the
// remote read is asked to stop while a command waits for the daemon, and the
// question stays open for 10 s (a nested event loop, as a modal box runs,
// longer than the daemon's silence limit) before it is answered No.
TEST_F(DiscReadFormTest, RemoteReadThroughKestrowSurvivesAnOpenStopQuestion) {
  testing::FixedInterfaces no_interfaces;
  const testing::CueFixture disc = PressedCd(dir_.path());
  const fs::path local = dir_.path() / "local";
  const fs::path remote = dir_.path() / "remote";
  fs::create_directories(local);
  fs::create_directories(remote);
  {
    testing::ScopedDriveMap map("D:=emu:" + env_.State("l.state") + ",image=" + disc.cue.string());
    DiscReadForm form;
    form.txtWriteFile()->setText(Q(local / "Disc.img"));
    form.cmdStartStop()->click();
    ASSERT_EQ(ui_.LastText(), kSuccess);
  }
  ui_.Clear();

  testing::ScopedDriveMap map("");
  testing::KestrowStandalone daemon = RemoteDisc(disc);
  ASSERT_TRUE(daemon.Start());
  UseRemoteHost(daemon.port());
  DiscReadForm form;
  form.show();
  ASSERT_NO_FATAL_FAILURE(ChooseNetworkDrives(form));
  ASSERT_EQ(form.fraSend()->drive_combo()->count(), 1);
  ASSERT_NE(form.fraSend()->device(), nullptr);
  ui_.Clear();
  // A remote drive proposes "Image.img" without asking the disc.
  form.txtWriteFile()->setText(Q(remote / "old.img"));
  Pick(form.fraSend()->drive_combo(), 0);
  EXPECT_EQ(form.txtWriteFile()->text(), Q(remote / "Image.img"));
  form.txtWriteFile()->setText(Q(remote / "Disc.img"));

  ui_.QueueAnswer(7);
  {
    testing::StopQuestionInRemoteWait question(ui_, form.cmdStartStop(), *form.fraSend()->device(), daemon, 10000);
    form.cmdStartStop()->click();
    ASSERT_TRUE(question.asked_in_wait());
    EXPECT_GE(question.held_ms(), 9900);
  }
  ASSERT_EQ(ui_.messages().size(), 2) << form.vbxMain()->lines().join('\n').toStdString();
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("読み取りを中断してよろしいですか。"));
  EXPECT_EQ(ui_.messages()[0].style, 292);
  EXPECT_EQ(ui_.messages()[1].text, kSuccess) << form.vbxMain()->lines().join('\n').toStdString();
  for (const char* ext : {".img", ".cue"}) {
    const std::string name = std::string("Disc") + ext;
    EXPECT_TRUE(testing::ReadFileBytes(local / name) == testing::ReadFileBytes(remote / name)) << name;
  }
  EXPECT_TRUE(fs::exists(remote / "Disc.tsn"));
  form.cmdEnd()->click();
}

// A remote read whose daemon stops answering midway (its process stopped):
// the window keeps running while the read waits, and a stop asked for 5 s
// after the start ends the job within 2 s, as a stopped job ends. Once the
// daemon goes on, the next start in the same dialog reads the disc.
TEST_F(DiscReadFormTest, StopEndsARemoteReadWhoseDaemonStoppedAnswering) {
  testing::FixedInterfaces no_interfaces;
  const testing::CueFixture disc = PressedCd(dir_.path());
  testing::ScopedDriveMap map("");
  testing::KestrowStandalone daemon = RemoteDisc(disc);
  ASSERT_TRUE(daemon.Start());
  UseRemoteHost(daemon.port());
  DiscReadForm form;
  form.show();
  ASSERT_NO_FATAL_FAILURE(ChooseNetworkDrives(form));
  ASSERT_NE(form.fraSend()->device(), nullptr);
  ui_.Clear();
  form.txtWriteFile()->setText(Q(dir_.path() / "Disc.img"));

  QElapsedTimer clock;
  qint64 clicked_at = -1;
  QTimer::singleShot(5000, Qt::PreciseTimer, &form, [&] {
    ui_.QueueAnswer(6);
    clicked_at = clock.elapsed();
    form.cmdStartStop()->click();
  });
  bool stopped = false;
  testing::PumpAction stop_daemon(3, [&] { stopped = daemon.Suspend(); });
  clock.start();
  form.cmdStartStop()->click();
  const qint64 ended = clock.elapsed();
  daemon.Resume();
  ASSERT_TRUE(stopped);
  ASSERT_GE(clicked_at, 0) << form.vbxMain()->lines().join('\n').toStdString();
  // The window ran while the read waited: the stop came on time, not after the wait.
  EXPECT_LE(clicked_at, 6500);
  EXPECT_GE(stop_daemon.pumps(), 20);
  EXPECT_LE(ended - clicked_at, 2000);
  ASSERT_EQ(ui_.messages().size(), 1) << form.vbxMain()->lines().join('\n').toStdString();
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("読み取りを中断してよろしいですか。"));
  EXPECT_TRUE(form.cmdEnd()->isEnabled());
  EXPECT_FALSE(fs::exists(dir_.path() / "Disc.img"));

  ui_.Clear();
  form.cmdStartStop()->click();
  ASSERT_EQ(ui_.messages().size(), 1) << form.vbxMain()->lines().join('\n').toStdString();
  EXPECT_EQ(ui_.messages()[0].text, kSuccess) << form.vbxMain()->lines().join('\n').toStdString();
  EXPECT_TRUE(fs::exists(dir_.path() / "Disc.img"));
  form.cmdEnd()->click();
}

// A remote read whose daemon is stopped for 4 s (longer than its 3 s silence
// limit) between two of the read's commands: the command sent meanwhile waits
// in the daemon's socket with the link's keep-alives, the window runs while
// the read waits, and at the resume the daemon goes on with what waited: the
// image is whole.
TEST_F(DiscReadFormTest, ARemoteReadWhoseDaemonIsPausedGoesOnWhole) {
  testing::FixedInterfaces no_interfaces;
  const testing::CueFixture disc = PressedCd(dir_.path());
  testing::ScopedDriveMap map("");
  testing::KestrowStandalone daemon = RemoteDisc(disc);
  ASSERT_TRUE(daemon.Start());
  UseRemoteHost(daemon.port());
  DiscReadForm form;
  form.show();
  ASSERT_NO_FATAL_FAILURE(ChooseNetworkDrives(form));
  ASSERT_NE(form.fraSend()->device(), nullptr);
  ui_.Clear();
  form.txtWriteFile()->setText(Q(dir_.path() / "Disc.img"));

  testing::PauseDaemon pause(daemon, 30, 4000, &form);
  form.cmdStartStop()->click();
  daemon.Resume();
  ASSERT_TRUE(pause.stopped());
  EXPECT_TRUE(pause.resumed());
  ASSERT_EQ(ui_.messages().size(), 1) << form.vbxMain()->lines().join('\n').toStdString();
  EXPECT_EQ(ui_.messages()[0].text, kSuccess) << form.vbxMain()->lines().join('\n').toStdString();
  EXPECT_TRUE(testing::ReadFileBytes(dir_.path() / "Disc.img") == testing::ReadFileBytes(disc.bin));
  form.cmdEnd()->click();
}

TEST_F(DiscReadFormTest, DiscReadFormScreenshot) {
  const fs::path iso = LabelledIso(dir_.path());
  testing::ScopedDriveMap map("D:=emu:" + env_.State("d.state") + ",medium=dvd-rom,image=" + iso.string());
  DiscReadForm form;
  form.txtWriteFile()->setText(QStringLiteral("/home/user/img/MY_DISC.img"));
  form.StatusChange(0, QStringLiteral("==== 開始 R08/12/09 09:41:07 ===="));
  form.StatusChange(0, QStringLiteral("DVD/BD/HDDVDの読み込みを開始します。"));
  form.StatusChange(1, QStringLiteral("セクタ 1234 の読み込みに失敗しました。"));
  form.Progress(40, 100);
  form.resize(560, 520);
  testing::SaveScreenshot(&form, QStringLiteral("DiscReadForm"));
}

}  // namespace
}  // namespace sorvel
