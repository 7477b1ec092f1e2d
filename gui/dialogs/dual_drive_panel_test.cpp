// Both sides of the copy dialog over two emulated drives: one listing pass,
// one shared object and a locked temporary-image box for one drive on both
// sides.
#include "gui/dialogs/dual_drive_panel.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QTimer>

#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/model/trelin.h"
#include "testing/gui/fixed_interfaces.h"

namespace sorvel {
namespace {

void Pick(QComboBox* combo, int index) {
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

class DualDrivePanelTest : public ::testing::Test {
 protected:
  DualDrivePanelTest() {
    form_.setObjectName(QStringLiteral("DiscCopyForm"));
    form_.setWindowTitle(QStringLiteral("Sorvel"));
  }
  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScriptedModalUi ui_;
  testing::ScopedDriveMap map_{"D:=emu:" + env_.State("d.state") + ",medium=cd-r,product=READER;E:=emu:" +
                               env_.State("e.state") + ",medium=cd-r,product=WRITER"};
  QWidget form_;
  QCheckBox temporary_{QStringLiteral("chkCreateTemporaryImage"), &form_};
};

TEST_F(DualDrivePanelTest, SameDriveOnBothSidesSharesOneObjectAndLocksTheBox) {
  DualDrivePanel panels(QStringLiteral("DiscCopyForm"), &form_, &temporary_);
  panels.Load();
  DrivePanel* read = panels.read_panel();
  DrivePanel* write = panels.write_panel();
  ASSERT_EQ(read->drive_combo()->count(), 2);
  ASSERT_EQ(write->drive_combo()->count(), 2);
  // Both start on the first drive: one object, the box ticked and locked.
  ASSERT_NE(read->device(), nullptr);
  EXPECT_EQ(read->device(), write->device());
  EXPECT_TRUE(temporary_.isChecked());
  EXPECT_FALSE(temporary_.isEnabled());
  EXPECT_EQ(read->status_label()->text(), QStringLiteral("覚悟完了 (CD-R)"));
  EXPECT_EQ(write->status_label()->text(), QStringLiteral("覚悟完了 (CD-R)"));
  EXPECT_FALSE(write->timer()->isActive());
  EXPECT_TRUE(read->timer()->isActive());
  EXPECT_EQ(read->status_label()->property("Tag").toString(),
            QStringLiteral("覚悟完了 (CD-R)") + read->device()->GetDeviceName(DNC_ALL));

  // Another drive on the write side: two objects, the box unlocked and clear.
  Pick(write->drive_combo(), 1);
  ASSERT_NE(write->device(), nullptr);
  EXPECT_NE(read->device(), write->device());
  EXPECT_FALSE(temporary_.isChecked());
  EXPECT_TRUE(temporary_.isEnabled());
  EXPECT_TRUE(write->device()->GetDeviceName(DNC_NAME).contains(QStringLiteral("WRITER")));
  EXPECT_TRUE(read->device()->GetDeviceName(DNC_NAME).contains(QStringLiteral("READER")));

  // The read side follows onto the same drive: shared again.
  Pick(read->drive_combo(), 1);
  EXPECT_EQ(read->device(), write->device());
  EXPECT_TRUE(temporary_.isChecked());
  EXPECT_FALSE(temporary_.isEnabled());
  const std::shared_ptr<Trelin> shared = read->device();
  // Back to another drive on the read side: the write side keeps its open object.
  Pick(read->drive_combo(), 0);
  EXPECT_EQ(write->device(), shared);
  EXPECT_TRUE(write->device()->IsReady());
  EXPECT_FALSE(temporary_.isChecked());
  panels.Unload();
  EXPECT_EQ(GetDialogSetting(QStringLiteral("DiscCopyForm"), QStringLiteral("cboWriteDrive")),
            write->drive_combo()->itemText(1));

  // The next load restores both sides.
  DualDrivePanel again(QStringLiteral("DiscCopyForm"), &form_, &temporary_);
  again.Load();
  EXPECT_EQ(again.read_panel()->drive_combo()->currentIndex(), 0);
  EXPECT_EQ(again.write_panel()->drive_combo()->currentIndex(), 1);
  EXPECT_NE(again.read_panel()->device(), again.write_panel()->device());
  again.Unload();
}

TEST_F(DualDrivePanelTest, NoRemoteDriveKeepsTheClickedSidesList) {
  testing::FixedInterfaces no_interfaces;
  Settings()->SetRemotePort(1);  // nothing answers there
  Settings()->SetScanTimeout(100);
  DualDrivePanel panels(QStringLiteral("DiscCopyForm"), &form_, &temporary_);
  panels.Load();
  DrivePanel* write = panels.write_panel();
  write->network_box()->click();
  EXPECT_FALSE(write->network_box()->isChecked());
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("現在利用可能な遠隔ドライヴは存在しません。"));
  EXPECT_EQ(write->drive_combo()->count(), 2);
  EXPECT_EQ(panels.read_panel()->drive_combo()->count(), 2);
  ASSERT_NE(write->device(), nullptr);
  ASSERT_NE(panels.read_panel()->device(), nullptr);
  panels.Unload();
}

}  // namespace
}  // namespace sorvel
