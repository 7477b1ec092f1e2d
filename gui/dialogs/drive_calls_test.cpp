// The engine calls the drive panel and the write parameter dialog make,
// recorded by the stand-in engine: how often a rebuild opens each drive, and
// the CD write modes offered for the drive's answers.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>

#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/property_parameter_forms.h"
#include "gui/model/device_setting.h"
#include "gui/model/fake_engine/fake_engine_control.h"
#include "gui/model/trelin.h"
#include "testing/gui/fixed_interfaces.h"

namespace sorvel {
namespace {

void Pick(QComboBox* combo, int index) {
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

class DriveCallsTest : public ::testing::Test {
 protected:
  DriveCallsTest() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString((dir_ / "config").string()));
  }
  // Opens of local drive `index` recorded so far.
  int Opens(int index) const {
    return fake_.Calls().filter(QRegularExpression(QStringLiteral("^Open \\d+ %1$").arg(index))).size();
  }

  testing::ScratchDir dir_;
  testing::FakeEngine fake_{"full", "libtrelin.so"};
  testing::ScriptedModalUi ui_;
  testing::FixedInterfaces no_interfaces_;  // discovery never looks past this test
  testing::ScopedDriveMap map_{"D:=emu:/nowhere/d;E:=emu:/nowhere/e;G:=emu:/nowhere/g"};
};

TEST_F(DriveCallsTest, RebuildOpensEachMappedDriveOnceAndTheChosenOneOnceMore) {
  testing::DrivePanelHarnessForm form(DriveSide::kWrite);
  form.panel->Load();
  ASSERT_EQ(form.panel->drive_combo()->count(), 3);
  fake_.Reset();
  form.panel->RebuildDriveList();
  EXPECT_EQ(Opens(3), 2);  // probed, then opened as the chosen drive
  EXPECT_EQ(Opens(4), 1);
  EXPECT_EQ(Opens(6), 1);
  EXPECT_EQ(Opens(5), 0);  // F: is not mapped
  EXPECT_EQ(form.panel->drive_combo()->itemData(2).toInt(), 6);
  form.panel->Unload();
}

TEST_F(DriveCallsTest, NoRemoteDriveReopensTheOldDriveOnceAndUntickingRunsNothing) {
  testing::DrivePanelHarnessForm form(DriveSide::kRead);
  form.panel->Load();
  Pick(form.panel->drive_combo(), 1);
  fake_.Reset();
  form.panel->network_box()->click();
  EXPECT_FALSE(form.panel->network_box()->isChecked());
  EXPECT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(Opens(3), 0);
  EXPECT_EQ(Opens(4), 1);  // the drive still chosen, opened again; no local probing
  EXPECT_EQ(Opens(6), 0);
  EXPECT_EQ(form.panel->drive_combo()->count(), 3);
  EXPECT_EQ(form.panel->drive_combo()->currentIndex(), 1);
  ASSERT_NE(form.panel->device(), nullptr);
  form.panel->Unload();
}

TEST_F(DriveCallsTest, KeptDriveTextSurvivesARebuild) {
  for (bool keep : {false, true}) {
    testing::DrivePanelHarnessForm form(DriveSide::kWrite, QStringLiteral("WellWriteForm"));
    form.panel->set_keep_drive_text(keep);
    form.panel->Load();
    Pick(form.panel->drive_combo(), 2);
    form.panel->RebuildDriveList();
    EXPECT_EQ(form.panel->drive_combo()->currentIndex(), keep ? 2 : 0) << keep;
    EXPECT_EQ(form.panel->drive_combo()->count(), 3);
    form.panel->Unload();
  }
}

TEST_F(DriveCallsTest, DriveServingNeitherFamilyIsLeftOut) {
  fake_.SetResult("IsWriteSupport", 0);
  testing::DrivePanelHarnessForm form(DriveSide::kWrite);
  form.panel->Load();
  EXPECT_EQ(form.panel->drive_combo()->count(), 0);
  EXPECT_EQ(form.panel->device(), nullptr);
  form.panel->Unload();
  testing::DrivePanelHarnessForm reader(DriveSide::kRead);
  reader.panel->Load();
  EXPECT_EQ(reader.panel->drive_combo()->count(), 3);
  reader.panel->Unload();
}

TEST_F(DriveCallsTest, WriteModesFollowTheDrivesAnswers) {
  struct Case {
    int sao, sao_raw, raw16, raw96;
    QStringList shown;
    int32_t stored;
  } cases[] = {
      {0, 1, 1, 1, {"SAO RAW", "DAO RAW+16", "DAO RAW+96"}, 4},
      {1, 1, 0, 0, {"SAO", "SAO RAW"}, 0},
      {0, 0, 0, 0, {"非対応"}, 0},
  };
  for (const Case& c : cases) {
    fake_.Reset();
    fake_.SetResult("CheckWriteMode0", c.sao);
    fake_.SetResult("CheckWriteMode1", c.sao_raw);
    fake_.SetResult("CheckWriteMode3", c.raw16);
    fake_.SetResult("CheckWriteMode4", c.raw96);
    fake_.SetOutput("GetDeviceName", DNC_ALL, QByteArray("FAKE CD/DVDW 1.0", 17));
    Trelin device;
    ASSERT_TRUE(device.OpenDevice(3));
    PropertyWriteParameterForm form;
    QStringList shown;
    QTimer::singleShot(0, &form, [&] {
      for (int i = 0; i < form.cboWriteCommandCD->count(); ++i) shown << form.cboWriteCommandCD->itemText(i);
      // Nothing stored: the drive's best mode is selected.
      EXPECT_EQ(form.cboWriteCommandCD->currentData().toInt(), c.stored);
      form.cmdOK()->click();
    });
    EXPECT_TRUE(form.ShowOpen(device));
    EXPECT_EQ(shown, c.shown);
    // Each mode asked without a test write for the CD family, then the sense
    // cleared (loading the settings asks again for the drive's best mode).
    const QStringList calls = fake_.Calls();
    const QStringList asked = calls.filter(QRegularExpression(QStringLiteral("^CheckWriteMode ")));
    ASSERT_GE(asked.size(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(asked[i].endsWith(QStringLiteral(" %1 0 1").arg(QList<int>{0, 1, 3, 4}[i])));
    int fourth = -1;
    for (int i = 0, seen = 0; i < calls.size() && fourth < 0; ++i) {
      if (calls[i].startsWith(QStringLiteral("CheckWriteMode ")) && ++seen == 4) fourth = i;
    }
    ASSERT_GE(fourth, 0);
    ASSERT_LT(fourth + 1, calls.size());
    EXPECT_TRUE(calls[fourth + 1].startsWith(QStringLiteral("ResetSense")));
    DeviceSetting s;
    s.LoadSetting(device);
    EXPECT_EQ(s.CDWriteCommand, c.stored);
    device.CloseDevice();
  }
}

}  // namespace
}  // namespace sorvel
