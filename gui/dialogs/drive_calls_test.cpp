// The drive panel with an answer no emulated drive gives, from the stand-in
// engine: a drive that serves neither reading nor writing.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QSettings>

#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/model/fake_engine/fake_engine_control.h"
#include "testing/gui/fixed_interfaces.h"

namespace sorvel {
namespace {

class DriveCallsTest : public ::testing::Test {
 protected:
  DriveCallsTest() {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope,
                       QString::fromStdString((dir_ / "config").string()));
  }
  testing::ScratchDir dir_;
  testing::FakeEngine fake_{"full", "libtrelin.so"};
  testing::ScriptedModalUi ui_;
  testing::FixedInterfaces no_interfaces_;  // discovery never looks past this test
  testing::ScopedDriveMap map_{"D:=emu:/nowhere/d;E:=emu:/nowhere/e;G:=emu:/nowhere/g"};
};

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

}  // namespace
}  // namespace sorvel
