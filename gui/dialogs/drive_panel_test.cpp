// The drive panel on real widgets and engines over emulated drives: listing,
// status line, speed lists and their stored texts, probing cost counted in the
// drive's command log, eject and discs changed behind the panel, the parameter
// button without a drive, and remote drives of a real kestrow.
#include "gui/dialogs/drive_panel.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/model/trelin.h"
#include "native_common/qrntp_packet.h"
#include "native_common/remote_scsi_protocol.h"
#include "native_common/tcp_socket.h"
#include "native_common/udp_socket.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/gui/fixed_interfaces.h"
#include "testing/gui/screenshot.h"
#include "testing/kestrow_standalone.h"

namespace sorvel {
namespace {

const QString kNoDevice = QStringLiteral("未接続または他のプロセスで使用中");

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

// The user picks entry `text` of a list.
void Pick(QComboBox* combo, const QString& text) {
  const int index = combo->findText(text);
  ASSERT_GE(index, 0) << text.toStdString();
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

TEST(SpeedTextTest, TimesTheFamilyRateWithoutTrailingZero) {
  struct Case {
    int32_t speed;
    int32_t family;
    const char* text;
  } cases[] = {
      {8467, 1, "48x [8467KiB/s]"},  {1411, 1, "8x [1411KiB/s]"},   {2822, 1, "16x [2822KiB/s]"},
      {176, 1, "1x [176KiB/s]"},     {3324, 2, "2.4x [3324KiB/s]"}, {1385, 2, "1x [1385KiB/s]"},
      {36000, 3, "8x [36000KiB/s]"}, {9000, 3, "2x [9000KiB/s]"},   {6750, 4, "1.5x [6750KiB/s]"},
  };
  for (const Case& c : cases) EXPECT_EQ(SpeedText(c.speed, OneXRate(c.family)), QString::fromUtf8(c.text));
  EXPECT_EQ(OneXRate(0), 0.0);
  EXPECT_EQ(OneXRate(255), 0.0);
}

TEST(SpeedItemDataTest, SpeedsAboveShortRangeStayPositive) {
  for (int32_t speed : {0, 1411, 32767, 36000, 65535}) {
    for (bool cav : {false, true}) {
      const int32_t data = SpeedItemData(speed, cav);
      EXPECT_EQ(SpeedOfItemData(data), speed);
      EXPECT_EQ(CavOfItemData(data), cav);
      EXPECT_EQ(data, (cav ? -65536 : 0) + speed);
    }
  }
  EXPECT_EQ(RemoteDevicePath(QStringLiteral("127.0.0.1"), 8801, QChar(u'E')), QStringLiteral("\\\\127.0.0.1:8801\\E:"));
}

// Emulated drives mapped as D:, E: and G: (F: unmapped), and the INQUIRY
// commands each received: one for every open.
struct ThreeDrives {
  explicit ThreeDrives(const testing::ScratchDir& dir)
      : d(dir, "medium=cd-r,product=FIRST", "d"),
        e(dir, "medium=none,product=SECOND", "e"),
        g(dir, "medium=dvd-r,product=THIRD", "g"),
        map("D:=" + d.device() + ";E:=" + e.device() + ";G:=" + g.device()) {}
  void ClearLogs() {
    for (const auto* drive : {&d, &e, &g}) drive->hooks().ClearLog();
  }
  std::vector<size_t> Inquiries() const {
    return {d.Commands(0x12).size(), e.Commands(0x12).size(), g.Commands(0x12).size()};
  }
  testing::EmulatedDriveFixture d, e, g;
  testing::ScopedDriveMap map;
};

class DrivePanelTest : public ::testing::Test {
 protected:
  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScriptedModalUi ui_;
};

TEST_F(DrivePanelTest, NoDriveLeavesAnEmptyListAndARedStatus) {
  testing::ScopedDriveMap map("");
  testing::DrivePanelHarnessForm form(DriveSide::kWrite);
  form.panel->Load();
  EXPECT_EQ(form.panel->drive_combo()->count(), 0);
  EXPECT_EQ(form.panel->device(), nullptr);
  EXPECT_EQ(form.panel->status_label()->text(), kNoDevice);
  EXPECT_EQ(form.panel->status_label()->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  EXPECT_EQ(Items(form.panel->speed_combo()), QStringList{QStringLiteral("Full Speed")});
  EXPECT_EQ(form.panel->speed_combo()->currentIndex(), 0);
  EXPECT_FALSE(form.panel->ApplySpeed());

  form.panel->setting_button()->click();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("指定されているデバイスは、現在利用できない状態になっています。"));
  EXPECT_EQ(ui_.messages()[0].style, 16);
  EXPECT_EQ(ui_.messages()[0].caption, QStringLiteral("Sorvel"));
  form.panel->eject_button(0)->click();  // nothing to eject: no effect, no message
  EXPECT_EQ(ui_.messages().size(), 1);
  form.panel->Unload();
}

TEST_F(DrivePanelTest, TrayOutAndInTurnsTheStatus) {
  const std::string state = env_.State("d.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r,vendor=SORVEL,product=EMU-WRITER");
  testing::DrivePanelHarnessForm form(DriveSide::kWrite);
  form.show();
  form.panel->Load();
  ASSERT_EQ(form.panel->drive_combo()->count(), 1);
  EXPECT_EQ(form.panel->drive_combo()->itemText(0).simplified(), QStringLiteral("(D:) SORVEL EMU-WRITER"));
  EXPECT_EQ(form.panel->drive_combo()->itemData(0).toInt(), 3);
  ASSERT_NE(form.panel->device(), nullptr);
  EXPECT_EQ(form.panel->status_label()->text(), QStringLiteral("覚悟完了 (CD-R)"));
  // The drive's CD-R write speeds, "Full Speed" first.
  QStringList speeds = Items(form.panel->speed_combo());
  ASSERT_GE(speeds.size(), 2);
  EXPECT_EQ(speeds[0], QStringLiteral("Full Speed"));
  EXPECT_TRUE(speeds.contains(QStringLiteral("8x [1411KiB/s]"))) << speeds.join(',').toStdString();
  EXPECT_TRUE(speeds.contains(QStringLiteral("40x [7056KiB/s]")));

  // Tray out: not ready, only "Full Speed".
  form.panel->eject_button(0)->click();
  ASSERT_TRUE(testing::WaitFor(
      [&] { return form.panel->status_label()->text() == QStringLiteral("準備が出来ていません"); }, 2000));
  EXPECT_EQ(form.panel->status_label()->palette().color(QPalette::WindowText),
            QApplication::palette(form.panel->status_label()).color(QPalette::WindowText));
  EXPECT_EQ(Items(form.panel->speed_combo()), QStringList{QStringLiteral("Full Speed")});
  EXPECT_EQ(form.panel->ChosenSpeed(), 0);

  // Tray in: ready within 2 s by the timer alone.
  form.panel->eject_button(1)->click();
  ASSERT_TRUE(testing::WaitFor(
      [&] { return form.panel->status_label()->text() == QStringLiteral("覚悟完了 (CD-R)"); }, 2000));
  EXPECT_EQ(Items(form.panel->speed_combo()), speeds);
  const QString drive_text = form.panel->drive_combo()->currentText();
  form.panel->Unload();
  EXPECT_EQ(form.panel->device(), nullptr);
  EXPECT_EQ(GetDialogSetting(QStringLiteral("DrivePanelHarnessForm"), QStringLiteral("cboWriteDrive")), drive_text);
}

// A disc put in and taken out behind the panel's back: the timer alone turns
// the status, and the CD speed the user chose comes back with the next CD.
TEST_F(DrivePanelTest, DiscInsertedIntoAnEmptyDriveTurnsReadyAndRestoresTheCdSpeed) {
  testing::EmulatedDriveFixture drive(dir_, "medium=none", "d");
  testing::ScopedDriveMap map("D:=" + drive.device());
  testing::DrivePanelHarnessForm form(DriveSide::kWrite);
  form.show();
  form.panel->Load();
  ASSERT_NE(form.panel->device(), nullptr);
  EXPECT_EQ(form.panel->status_label()->text(), QStringLiteral("準備が出来ていません"));
  EXPECT_EQ(Items(form.panel->speed_combo()), QStringList{QStringLiteral("Full Speed")});
  platform::emu::SoftMmcDrive* soft = drive.drive();
  ASSERT_NE(soft, nullptr);
  auto ready = [&] { return form.panel->status_label()->text() == QStringLiteral("覚悟完了 (CD-R)"); };
  auto not_ready = [&] { return form.panel->status_label()->text() == QStringLiteral("準備が出来ていません"); };

  std::string error;
  ASSERT_TRUE(soft->InsertDisc("cd-r", "", &error)) << error;
  ASSERT_TRUE(testing::WaitFor(ready, 2000)) << form.panel->status_label()->text().toStdString();
  EXPECT_EQ(form.panel->speed_combo()->currentText(), QStringLiteral("Full Speed"));
  Pick(form.panel->speed_combo(), QStringLiteral("8x [1411KiB/s]"));
  EXPECT_EQ(GetDialogSetting(QStringLiteral("DrivePanelHarnessForm"), QStringLiteral("cboWriteSpeedCD")),
            QStringLiteral("8x [1411KiB/s]"));

  soft->RemoveDisc();
  ASSERT_TRUE(testing::WaitFor(not_ready, 2000));
  EXPECT_EQ(Items(form.panel->speed_combo()), QStringList{QStringLiteral("Full Speed")});
  ASSERT_TRUE(soft->InsertDisc("cd-r", "", &error)) << error;
  ASSERT_TRUE(testing::WaitFor(ready, 2000));
  EXPECT_EQ(form.panel->speed_combo()->currentText(), QStringLiteral("8x [1411KiB/s]"));
  EXPECT_EQ(form.panel->ChosenSpeed(), 1411);
  EXPECT_FALSE(form.panel->ChosenCav());
  form.panel->Unload();
}

// One stored text per form and family serves every drive: a DVD speed is not
// offered for a CD, and a stored text the drive lacks shows "Full Speed"
// and stays stored.
TEST_F(DrivePanelTest, SpeedTextsAreKeptPerFamily) {
  auto open = [&](const char* state, const char* medium, const std::function<void(DrivePanel*)>& check) {
    testing::ScopedDriveMap map("D:=emu:" + env_.State(state) + ",medium=" + medium);
    testing::DrivePanelHarnessForm form(DriveSide::kRead);
    form.panel->Load();
    check(form.panel);
    form.panel->Unload();
  };
  open("dvd.state", "dvd+r", [](DrivePanel* panel) {
    EXPECT_EQ(panel->status_label()->text(), QStringLiteral("覚悟完了 (PC-R)"));
    EXPECT_EQ(panel->speed_combo()->itemText(panel->speed_combo()->count() - 1), QStringLiteral("2.4x [3324KiB/s]"));
    Pick(panel->speed_combo(), QStringLiteral("2.4x [3324KiB/s]"));
  });
  open("cd.state", "cd-r", [](DrivePanel* panel) {
    EXPECT_EQ(panel->speed_combo()->itemText(1), QStringLiteral("48x [8467KiB/s]"));
    EXPECT_EQ(panel->speed_combo()->findText(QStringLiteral("2.4x [3324KiB/s]")), -1);
    EXPECT_EQ(panel->speed_combo()->currentText(), QStringLiteral("Full Speed"));
  });
  open("dvdr.state", "dvd-r", [](DrivePanel* panel) {
    EXPECT_EQ(panel->speed_combo()->findText(QStringLiteral("2.4x [3324KiB/s]")), -1);
    EXPECT_EQ(panel->speed_combo()->currentText(), QStringLiteral("Full Speed"));
  });
  EXPECT_EQ(GetDialogSetting(QStringLiteral("DrivePanelHarnessForm"), QStringLiteral("cboReadSpeedDVD")),
            QStringLiteral("2.4x [3324KiB/s]"));
  EXPECT_TRUE(GetDialogSetting(QStringLiteral("DrivePanelHarnessForm"), QStringLiteral("cboReadSpeedCD")).isEmpty());
  open("dvd.state", "dvd+r", [](DrivePanel* panel) {
    EXPECT_EQ(panel->speed_combo()->currentText(), QStringLiteral("2.4x [3324KiB/s]"));
  });
}

// Write speeds as the drive reports them (GET PERFORMANCE, or mode page 2A
// when that is refused), their texts, and the chosen one in SET CD SPEED:
// 36000 kB/s keeps all its bits.
TEST_F(DrivePanelTest, WriteSpeedsOfTheDriveReachSetCdSpeed) {
  struct Case {
    const char* medium;
    bool from_mode_page;
    std::vector<uint32_t> speeds;
    QStringList texts;
    const char* key;
  } cases[] = {
      {"cd-r", false, {8467, 1411}, {"48x [8467KiB/s]", "8x [1411KiB/s]"}, "cboWriteSpeedCD"},
      {"cd-rw", true, {8467, 1411}, {"48x [8467KiB/s]", "8x [1411KiB/s]"}, "cboWriteSpeedCD"},
      {"dvd+r", false, {3324}, {"2.4x [3324KiB/s]"}, "cboWriteSpeedDVD"},
      {"bd-r", false, {36000, 9000}, {"8x [36000KiB/s]", "2x [9000KiB/s]"}, "cboWriteSpeedDVD"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.medium);
    testing::EmulatedDriveFixture drive(dir_, std::string("medium=") + c.medium, "drive" + std::to_string(n++));
    drive.hooks().UpdateFaults([&](platform::emu::DriveFaults& f) {
      if (c.from_mode_page) {
        f.refused_opcodes = {0xAC};
        f.page_2a_write_speeds = std::vector<uint16_t>(c.speeds.begin(), c.speeds.end());
      } else {
        std::vector<platform::emu::PerformanceEntry> entries;
        for (uint32_t speed : c.speeds) entries.push_back({0, 359999, speed, speed});
        f.performance = entries;
      }
    });
    testing::ScopedDriveMap map("D:=" + drive.device());
    testing::DrivePanelHarnessForm form(DriveSide::kWrite);
    form.panel->Load();
    QComboBox* speeds = form.panel->speed_combo();
    EXPECT_EQ(Items(speeds), QStringList{QStringLiteral("Full Speed")} + c.texts);
    ASSERT_EQ(speeds->count(), static_cast<int>(c.speeds.size()) + 1);
    Pick(speeds, c.texts[0]);
    EXPECT_EQ(speeds->currentData().toInt(), static_cast<int32_t>(c.speeds[0]));
    EXPECT_EQ(form.panel->ChosenSpeed(), static_cast<int32_t>(c.speeds[0]));
    EXPECT_FALSE(form.panel->ChosenCav());
    EXPECT_EQ(GetDialogSetting(QStringLiteral("DrivePanelHarnessForm"), QString::fromUtf8(c.key)), c.texts[0]);

    // A job sets the speed while the panel rests.
    form.panel->SetJobRunning(true);
    EXPECT_FALSE(form.panel->isEnabled());
    EXPECT_FALSE(form.panel->timer()->isActive());
    EXPECT_TRUE(form.panel->ApplySpeed());
    const std::vector<uint8_t> cdb = drive.LastCdb(0xBB);
    ASSERT_EQ(cdb.size(), 12u);
    EXPECT_EQ(cdb[1], 0);                                  // CLV
    EXPECT_EQ(cdb[2] << 8 | cdb[3], 0xFFFF);               // read speed: maximum
    EXPECT_EQ(static_cast<uint32_t>(cdb[4] << 8 | cdb[5]), c.speeds[0]);  // write speed
    form.panel->SetJobRunning(false);
    EXPECT_TRUE(form.panel->isEnabled());
    EXPECT_TRUE(form.panel->timer()->isActive());
    form.panel->Unload();
  }
}

TEST_F(DrivePanelTest, RebuildListsEveryServingDriveAndTheStoredOneComesBack) {
  ThreeDrives drives(dir_);
  testing::DrivePanelHarnessForm form(DriveSide::kRead);
  form.panel->Load();
  ASSERT_EQ(form.panel->drive_combo()->count(), 3) << Items(form.panel->drive_combo()).join('|').toStdString();
  EXPECT_EQ(form.panel->drive_combo()->itemData(2).toInt(), 6);  // F: is not mapped

  // Each drive is probed once (one INQUIRY an open), the chosen one opened once more.
  drives.ClearLogs();
  form.panel->RebuildDriveList();
  EXPECT_EQ(drives.Inquiries(), (std::vector<size_t>{2, 1, 1}));
  EXPECT_EQ(form.panel->drive_combo()->count(), 3);
  EXPECT_EQ(form.panel->drive_combo()->currentIndex(), 0);
  EXPECT_FALSE(form.panel->busy());
  ASSERT_NE(form.panel->device(), nullptr);

  // The user picks the second drive (no medium).
  Pick(form.panel->drive_combo(), form.panel->drive_combo()->itemText(1));
  EXPECT_EQ(form.panel->status_label()->text(), QStringLiteral("準備が出来ていません"));
  form.panel->Unload();

  // The next load comes back to the stored drive.
  testing::DrivePanelHarnessForm again(DriveSide::kRead);
  again.panel->Load();
  EXPECT_EQ(again.panel->drive_combo()->currentIndex(), 1);
  ASSERT_NE(again.panel->device(), nullptr);
  EXPECT_EQ(again.panel->device()->GetDeviceName(DNC_NAME).trimmed(), QStringLiteral("SECOND"));
  again.panel->Unload();
}

TEST_F(DrivePanelTest, HooksRunAroundADriveChange) {
  const std::string d = env_.State("d.state");
  const std::string e = env_.State("e.state");
  testing::ScopedDriveMap map("D:=emu:" + d + ",medium=cd-r;E:=emu:" + e + ",medium=none");
  testing::DrivePanelHarnessForm form(DriveSide::kRead);
  QStringList calls;
  DrivePanel::Hooks& hooks = form.panel->hooks();
  hooks.device_closing = [&] { calls << "closing"; };
  hooks.drive_opening = [&] { calls << "opening"; };
  hooks.device_opened = [&] { calls << (form.panel->device() ? "opened" : "failed"); };
  hooks.drive_changed = [&] { calls << "changed"; };
  hooks.status_refreshed = [&](bool has_device, bool ready) {
    calls << QStringLiteral("status %1 %2").arg(has_device).arg(ready);
  };
  form.panel->Load();
  EXPECT_EQ(calls, (QStringList{"opening", "opened", "status 1 1", "changed"}));
  calls.clear();
  Pick(form.panel->drive_combo(), form.panel->drive_combo()->itemText(1));
  EXPECT_EQ(calls, (QStringList{"closing", "opening", "opened", "status 1 0", "changed"}));
  form.panel->Unload();
}

TEST_F(DrivePanelTest, NoRemoteDriveReopensTheChosenDriveOnceAndUntickingRunsNothing) {
  testing::FixedInterfaces no_interfaces;  // discovery never looks past this test
  ThreeDrives drives(dir_);
  testing::DrivePanelHarnessForm form(DriveSide::kRead);
  form.panel->Load();
  Pick(form.panel->drive_combo(), form.panel->drive_combo()->itemText(1));
  drives.ClearLogs();
  form.panel->network_box()->click();
  EXPECT_FALSE(form.panel->network_box()->isChecked());
  EXPECT_EQ(ui_.messages().size(), 1);
  // The drive still chosen, opened again; no local probing.
  EXPECT_EQ(drives.Inquiries(), (std::vector<size_t>{0, 1, 0}));
  EXPECT_EQ(form.panel->drive_combo()->count(), 3);
  EXPECT_EQ(form.panel->drive_combo()->currentIndex(), 1);
  ASSERT_NE(form.panel->device(), nullptr);
  // Unticking from code is no click: nothing reopened.
  drives.ClearLogs();
  form.panel->network_box()->setChecked(false);
  EXPECT_EQ(drives.Inquiries(), (std::vector<size_t>{0, 0, 0}));
  form.panel->Unload();
}

TEST_F(DrivePanelTest, KeptDriveTextSurvivesARebuild) {
  ThreeDrives drives(dir_);
  for (bool keep : {false, true}) {
    testing::DrivePanelHarnessForm form(DriveSide::kWrite, QStringLiteral("WellWriteForm"));
    form.panel->set_keep_drive_text(keep);
    form.panel->Load();
    Pick(form.panel->drive_combo(), form.panel->drive_combo()->itemText(2));
    form.panel->RebuildDriveList();
    EXPECT_EQ(form.panel->drive_combo()->currentIndex(), keep ? 2 : 0) << keep;
    EXPECT_EQ(form.panel->drive_combo()->count(), 3);
    form.panel->Unload();
  }
}

// Remote drives of a real kestrow on the loopback interface.
TEST_F(DrivePanelTest, RemoteDrivesOfAKestrowAndItsDisappearance) {
  testing::FixedInterfaces no_interfaces;
  const std::string local = env_.State("local.state");
  testing::ScopedDriveMap map("D:=emu:" + local + ",medium=cd-r,product=LOCAL");
  testing::KestrowStandalone daemon(std::filesystem::path(env_.Path("daemon").toStdString()),
                                    "D:=emu:" + env_.State("rd.state") + ",medium=cd-r,product=REMOTE-D;E:=emu:" +
                                        env_.State("re.state") + ",medium=dvd-r,product=REMOTE-E",
                                    "DE");
  ASSERT_TRUE(daemon.Start());
  Settings()->SetRemotePort(daemon.port());
  Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
  Settings()->SetScanTimeout(300);

  testing::DrivePanelHarnessForm form(DriveSide::kWrite);
  form.panel->Load();
  ASSERT_EQ(form.panel->drive_combo()->count(), 1);
  // A daemon that has just started may miss the first datagram: the user tries again.
  for (int attempt = 0; attempt < 5 && !form.panel->network_box()->isChecked(); ++attempt) {
    ui_.Clear();
    form.panel->network_box()->click();
  }
  ASSERT_TRUE(form.panel->network_box()->isChecked());
  EXPECT_TRUE(ui_.messages().isEmpty());
  QComboBox* drives = form.panel->drive_combo();
  ASSERT_EQ(drives->count(), 2);
  EXPECT_TRUE(drives->itemText(0).startsWith(QStringLiteral("(\\\\127.0.0.1\\D:) "))) << drives->itemText(0).toStdString();
  EXPECT_TRUE(drives->itemText(0).contains(QStringLiteral("REMOTE-D")));
  EXPECT_TRUE(drives->itemText(1).startsWith(QStringLiteral("(\\\\127.0.0.1\\E:) ")));
  EXPECT_EQ(drives->itemData(0).toInt(), -1);
  EXPECT_EQ(drives->itemData(1).toInt(), -2);
  const QString e_path = QStringLiteral("\\\\127.0.0.1:%1\\E:").arg(daemon.port());
  EXPECT_EQ(form.panel->remote_paths().Item(2).value_or(QString()), e_path);
  Pick(drives, drives->itemText(1));
  ASSERT_NE(form.panel->device(), nullptr);
  EXPECT_TRUE(form.panel->device()->GetDeviceName(DNC_NAME).contains(QStringLiteral("REMOTE-E")));
  EXPECT_EQ(form.panel->status_label()->text(), QStringLiteral("覚悟完了 (DVD-R)"));

  // Daemon stopped while idle (SIGSTOP: its connections stay open and
  // silent, as with a host gone from the network): the panel's own commands,
  // the status poll and the speed before a job, give up within seconds
  // rather than hold the window for a command's time-out; once the daemon
  // goes on, the poll links the drive again.
  ASSERT_TRUE(daemon.Suspend());
  QElapsedTimer waited;
  waited.start();
  form.panel->RefreshDriveStatus();
  form.panel->ApplySpeed();
  EXPECT_LT(waited.elapsed(), 30000);
  EXPECT_EQ(form.panel->status_label()->text(), QStringLiteral("準備が出来ていません"));
  daemon.Resume();
  for (int poll = 0; poll < 200 && form.panel->status_label()->text() != QStringLiteral("覚悟完了 (DVD-R)"); ++poll) {
    form.panel->RefreshDriveStatus();
    QTest::qWait(100);
  }
  EXPECT_EQ(form.panel->status_label()->text(), QStringLiteral("覚悟完了 (DVD-R)"));

  // Daemon gone: unticking and ticking again finds nothing remote; one
  // message, the box unticked, the local list and its drive kept.
  daemon.Stop();
  form.panel->network_box()->click();  // back to local drives
  ASSERT_FALSE(form.panel->network_box()->isChecked());
  ASSERT_EQ(drives->count(), 1);
  ui_.Clear();
  form.panel->network_box()->click();
  EXPECT_FALSE(form.panel->network_box()->isChecked());
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("現在利用可能な遠隔ドライヴは存在しません。"));
  EXPECT_EQ(ui_.messages()[0].style, 48);
  EXPECT_EQ(Items(drives), QStringList{drives->itemText(0)});
  EXPECT_TRUE(drives->itemText(0).contains(QStringLiteral("LOCAL")));
  ASSERT_NE(form.panel->device(), nullptr);
  EXPECT_EQ(form.panel->status_label()->text(), QStringLiteral("覚悟完了 (CD-R)"));
  form.panel->Unload();
}

// A host of 127.0.0.1 that answers discovery but opens no drive: every
// connection is closed unanswered after `close_after_ms`. Its threads end
// with the object.
class HostWithoutDrives {
 public:
  explicit HostWithoutDrives(long close_after_ms) : port_(testing::FreeLoopbackPort()) {
    tcp_.Listen(port_, 64);
    udp_.Bind(port_);
    discovery_ = std::thread([this] {
      for (int round = 0; round < 60000 && !stop_; ++round) {
        uint8_t query[kQrntpHeaderSize];
        std::string address;
        uint16_t from = 0;
        if (udp_.ReceiveFrom(&address, &from, query, sizeof query, 10) != static_cast<int>(sizeof query)) continue;
        uint8_t answer[kQrntpHeaderSize];
        QRNTPHeader::Make(kRemoteScsiSubsystem, kQrntpLetHostName, 0, 0).Encode(answer);
        udp_.SendTo(address, from, answer, sizeof answer);
      }
    });
    connections_thread_ = std::thread([this, close_after_ms] {
      std::vector<std::pair<std::unique_ptr<TcpSocket>, std::chrono::steady_clock::time_point>> open;
      for (int round = 0; round < 60000 && !stop_; ++round) {
        if (auto socket = tcp_.Accept(10)) {
          ++connections_;
          open.emplace_back(std::move(socket), std::chrono::steady_clock::now());
        }
        const auto now = std::chrono::steady_clock::now();
        std::erase_if(open, [&](const auto& entry) {
          return now - entry.second >= std::chrono::milliseconds(close_after_ms);
        });
      }
    });
  }
  ~HostWithoutDrives() {
    stop_ = true;
    discovery_.join();
    connections_thread_.join();
  }
  uint16_t port() const { return port_; }
  int connections() const { return connections_.load(); }

 private:
  const uint16_t port_;
  TcpSocket tcp_;
  UdpSocket udp_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread discovery_;
  std::thread connections_thread_;
};

// Ticking the network box for a host whose opens never succeed tries every
// letter of it while the window keeps running (a timer ticks meanwhile).
TEST_F(DrivePanelTest, ListingAHostThatOpensNoDriveKeepsTheWindowRunning) {
  testing::FixedInterfaces no_interfaces;
  testing::ScopedDriveMap map("");
  HostWithoutDrives host(200);
  Settings()->SetRemotePort(host.port());
  Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
  Settings()->SetScanTimeout(300);
  testing::DrivePanelHarnessForm form(DriveSide::kWrite);
  form.panel->Load();
  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(20);
  // A first datagram may be missed: the user tries again.
  for (int attempt = 0; attempt < 5 && host.connections() == 0; ++attempt) {
    ui_.Clear();
    form.panel->network_box()->click();
  }
  EXPECT_EQ(host.connections(), 26);
  // 26 letters of 200 ms each: the window ran while they were tried.
  EXPECT_GE(ticks, 3);
  EXPECT_FALSE(form.panel->network_box()->isChecked());
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("現在利用可能な遠隔ドライヴは存在しません。"));
  form.panel->Unload();
}

// While the remote drives of a host that opens none are listed (the window
// runs meanwhile, its status timer included), the status line of the local
// drive that was chosen before stays as it was; it is that drive again after.
TEST_F(DrivePanelTest, ListingAHostThatOpensNoDriveLeavesTheStatusOfTheChosenDrive) {
  testing::FixedInterfaces no_interfaces;
  testing::EmulatedDriveFixture d(dir_, "medium=cd-r", "d");
  testing::ScopedDriveMap map("D:=" + d.device());
  HostWithoutDrives host(200);
  Settings()->SetRemotePort(host.port());
  Settings()->SetRemoteIP(1, QStringLiteral("127.0.0.1"));
  Settings()->SetScanTimeout(300);
  testing::DrivePanelHarnessForm form(DriveSide::kWrite);
  form.panel->Load();
  ASSERT_NE(form.panel->device(), nullptr);
  const QString before = form.panel->status_label()->text();
  ASSERT_TRUE(before.startsWith(QStringLiteral("覚悟完了"))) << before.toStdString();
  QStringList shown;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const QString text = form.panel->status_label()->text();
    if (shown.isEmpty() || shown.last() != text) shown << text;
  });
  ticker.start(20);
  for (int attempt = 0; attempt < 5 && host.connections() == 0; ++attempt) {
    ui_.Clear();
    form.panel->network_box()->click();
  }
  ASSERT_EQ(host.connections(), 26);
  EXPECT_EQ(shown, QStringList{before});
  EXPECT_EQ(form.panel->status_label()->text(), before);
  EXPECT_NE(form.panel->device(), nullptr);
  form.panel->Unload();
}

TEST_F(DrivePanelTest, DrivePanelScreenshot) {
  const std::string state = env_.State("d.state");
  testing::ScopedDriveMap map("D:=emu:" + state + ",medium=cd-r,vendor=SORVEL,product=EMU-WRITER");
  testing::DrivePanelHarnessForm form(DriveSide::kRead);
  form.panel->Load();
  ASSERT_EQ(form.panel->status_label()->text(), QStringLiteral("覚悟完了 (CD-R)"));
  testing::SaveScreenshot(&form, QStringLiteral("DrivePanel"));
  form.panel->Unload();
}

}  // namespace
}  // namespace sorvel
