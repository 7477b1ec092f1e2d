// The read and write parameter dialogs on a real engine over an emulated
// drive: what they show of the stored settings, what OK stores, and that
// every way of cancelling leaves the store untouched.
#include "gui/dialogs/property_parameter_forms.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include "gui/controls/numeric_up_down.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/model/device_setting.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/trelin.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/gui/screenshot.h"

namespace sorvel {
namespace {

QByteArray FileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

// Runs `act` once the dialog's modal loop is running.
void WhileShown(QDialog* form, std::function<void()> act) {
  QTimer::singleShot(0, form, [form, act = std::move(act)] {
    EXPECT_TRUE(form->isVisible());
    act();
  });
}

class PropertyParameterFormTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(device_.OpenDevice(3)); }
  void TearDown() override { device_.CloseDevice(); }
  void Store(const std::function<void(DeviceSetting&)>& change) {
    DeviceSetting s;
    s.LoadSetting(device_);
    change(s);
    s.SaveSetting();
  }
  DeviceSetting& Loaded() {
    loaded_ = std::make_unique<DeviceSetting>();
    loaded_->LoadSetting(device_);
    return *loaded_;
  }

  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::EmulatedDriveFixture drive_{dir_, "medium=cd-r,vendor=SORVEL,product=CD/DVDW", "d"};
  testing::ScopedDriveMap map_{"D:=" + drive_.device()};
  Trelin device_;
  std::unique_ptr<DeviceSetting> loaded_;
};

TEST(FindItemDataIndexTest, FirstEntryOfTheCode) {
  QComboBox list;
  list.addItem("a", 1);
  list.addItem("b", 3);
  list.addItem("c", 3);
  list.addItem("d", -2);
  list.addItem("e");  // no item data
  EXPECT_EQ(FindItemDataIndex(&list, 1), 0);
  EXPECT_EQ(FindItemDataIndex(&list, 3), 1);
  EXPECT_EQ(FindItemDataIndex(&list, -2), 3);
  EXPECT_EQ(FindItemDataIndex(&list, 0), -1);
  QComboBox empty;
  EXPECT_EQ(FindItemDataIndex(&empty, 0), -1);
}

TEST_F(PropertyParameterFormTest, ReadDialogShowsStoredValuesInRangeAndStoresThemOnOk) {
  Store([](DeviceSetting& s) {
    s.CDReadCommand = 0;  // not offered: shown as RAW
    s.RetryCount = 20;    // above the box's range
    s.BurstErrorSkip = true;
    s.SkipUnit = 250;
  });
  PropertyReadParameterForm form;
  WhileShown(&form, [&] {
    EXPECT_EQ(form.windowTitle(), device_.GetDeviceName(DNC_ALL) + QStringLiteral(" の読み込み設定"));
    EXPECT_EQ(Items(form.cboReadCommandCD), (QStringList{"RAW", "RAW+SUB16", "RAW+SUB96"}));
    EXPECT_EQ(form.cboReadCommandCD->currentText(), QStringLiteral("RAW"));
    EXPECT_EQ(Items(form.cboReadCommandDVD), QStringList{"DVD-DAO"});
    EXPECT_EQ(form.nudRetryCount->Value(), 10);
    EXPECT_FALSE(form.nudRetryCount->isEnabled());  // エラー無視 off
    EXPECT_TRUE(form.nudSkipUnit->isEnabled());
    EXPECT_EQ(form.nudSkipUnit->Value(), 250);
    EXPECT_EQ(form.nudReadBlockLength->Value(), 26);
    EXPECT_EQ(form.tabMain()->currentWidget(), form.fraCommon());
    form.chkIgnoreError->click();
    EXPECT_TRUE(form.nudRetryCount->isEnabled());
    form.chkSkipError->click();
    EXPECT_FALSE(form.nudSkipUnit->isEnabled());
    form.chkCollectSubPQ->setCheckState(Qt::PartiallyChecked);  // not clear: True
    form.cmdOK()->click();
  });
  EXPECT_TRUE(form.ShowOpen(device_));
  DeviceSetting& s = Loaded();
  EXPECT_EQ(s.CDReadCommand, 1);
  EXPECT_EQ(s.RetryCount, 10);
  EXPECT_TRUE(s.IgnoreError);
  EXPECT_FALSE(s.BurstErrorSkip);
  EXPECT_EQ(s.SkipUnit, 250);
  EXPECT_TRUE(s.CollectSubPQRead);
  EXPECT_EQ(s.DVDReadCommand, 0);
}

TEST_F(PropertyParameterFormTest, CancelEscapeAndCloseBoxLeaveTheStoreUntouched) {
  Store([](DeviceSetting& s) { s.ReadBlockLength = 8; });
  const QByteArray before = FileBytes(env_.UserStore());
  ASSERT_NE(before, QByteArray("<missing>"));
  const std::function<void(QDialog*)> endings[] = {
      [](QDialog* form) { form->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click(); },
      [](QDialog* form) { QTest::keyClick(form, Qt::Key_Escape); },
      [](QDialog* form) { form->close(); },
  };
  for (const auto& end : endings) {
    {
      PropertyReadParameterForm form;
      WhileShown(&form, [&] {
        form.nudReadBlockLength->setValue(3);
        form.chkIgnoreError->click();
        end(&form);
      });
      EXPECT_FALSE(form.ShowOpen(device_));
    }
    {
      PropertyWriteParameterForm form;
      WhileShown(&form, [&] {
        form.nudWriteBlockLength->setValue(3);
        form.chkOptimumPowerControl->click();
        end(&form);
      });
      EXPECT_FALSE(form.ShowOpen(device_));
    }
    EXPECT_EQ(FileBytes(env_.UserStore()), before);
  }
}

TEST_F(PropertyParameterFormTest, WriteDialogStoresInvertedOpcAndPreviewsTheCache) {
  PropertyWriteParameterForm form;
  WhileShown(&form, [&] {
    EXPECT_EQ(form.windowTitle(), device_.GetDeviceName(DNC_ALL) + QStringLiteral(" の書き込み設定"));
    // The modes the drive accepts, in the order SAO, SAO RAW, DAO RAW+16, DAO RAW+96.
    const QStringList modes = Items(form.cboWriteCommandCD);
    ASSERT_FALSE(modes.isEmpty());
    QStringList order{"SAO", "SAO RAW", "DAO RAW+16", "DAO RAW+96"};
    int last = -1;
    for (const QString& m : modes) {
      EXPECT_GT(order.indexOf(m), last) << m.toStdString();
      last = order.indexOf(m);
    }
    EXPECT_EQ(Items(form.cboWriteCommandDVD), QStringList{"DVD-DAO"});
    EXPECT_TRUE(form.chkOptimumPowerControl->isChecked());  // OPCOff False
    EXPECT_TRUE(form.chkForceEject->isChecked());
    EXPECT_EQ(form.nudVerifyPassFrom->Value(), -2);
    EXPECT_EQ(form.nudWriteCacheBufferRate->Value(), 10);
    EXPECT_TRUE(form.lblWriteCacheBufferSize->text().startsWith(QStringLiteral("％　（")));
    form.nudWriteCacheBufferRate->setValue(0);
    EXPECT_EQ(form.lblWriteCacheBufferSize->text(), QStringLiteral("％　（0メビバイト）"));
    form.nudWriteCacheBufferRate->setValue(5);
    form.chkOptimumPowerControl->click();
    form.nudVerifyPassFrom->txtMain()->setText(QStringLiteral("40"));  // above the range: read as 0
    form.cboWriteCommandCD->setCurrentIndex(form.cboWriteCommandCD->count() - 1);
    form.cmdOK()->click();
  });
  EXPECT_TRUE(form.ShowOpen(device_));
  DeviceSetting& s = Loaded();
  EXPECT_TRUE(s.OPCOff);
  EXPECT_EQ(s.WriteCacheBufferRate, 5);
  EXPECT_EQ(s.VerifyPassFrom, 0);
  EXPECT_EQ(s.CDWriteCommand, form.cboWriteCommandCD->itemData(form.cboWriteCommandCD->count() - 1).toInt());
  // Stored under the whole name "… CD/DVDW …" and shown again next time.
  EXPECT_TRUE(s.section().contains(QStringLiteral("CD/DVDW")));

  PropertyWriteParameterForm again;
  WhileShown(&again, [&] {
    EXPECT_FALSE(again.chkOptimumPowerControl->isChecked());
    EXPECT_EQ(again.nudWriteCacheBufferRate->Value(), 5);
    again.chkOptimumPowerControl->click();
    again.cmdOK()->click();
  });
  EXPECT_TRUE(again.ShowOpen(device_));
  EXPECT_FALSE(Loaded().OPCOff);
}

// The CD write modes offered are those the drive's MODE SELECT of page 5
// accepts (write type, data block type); with nothing stored the best one
// is chosen.
TEST_F(PropertyParameterFormTest, WriteModesAreThoseTheDriveAccepts) {
  struct Case {
    std::vector<std::pair<uint8_t, uint8_t>> refused;
    QStringList shown;
    int32_t chosen;
  } cases[] = {
      {{{2, 8}}, {"SAO RAW", "DAO RAW+16", "DAO RAW+96"}, 4},  // no SAO
      {{{3, 0xFF}}, {"SAO", "SAO RAW"}, 0},                      // no raw DAO
      {{{2, 0xFF}, {3, 0xFF}}, {"非対応"}, 0},
  };
  for (const Case& c : cases) {
    drive_.hooks().UpdateFaults([&](platform::emu::DriveFaults& f) { f.unsupported_write_modes = c.refused; });
    PropertyWriteParameterForm form;
    QStringList shown;
    int32_t chosen = -1;
    WhileShown(&form, [&] {
      shown = Items(form.cboWriteCommandCD);
      chosen = form.cboWriteCommandCD->currentData().toInt();
      form.cmdOK()->click();
    });
    EXPECT_TRUE(form.ShowOpen(device_));
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(chosen, c.chosen) << shown.join(',').toStdString();
  }
}

TEST_F(PropertyParameterFormTest, PropertyReadParameterFormScreenshot) {
  PropertyReadParameterForm form;
  WhileShown(&form, [&] {
    form.tabMain()->setCurrentWidget(form.fraCD());
    testing::SaveScreenshot(&form, QStringLiteral("PropertyReadParameterForm"));
    form.cmdCancel()->click();
  });
  form.ShowOpen(device_);
}

TEST_F(PropertyParameterFormTest, PropertyWriteParameterFormScreenshot) {
  PropertyWriteParameterForm form;
  WhileShown(&form, [&] {
    testing::SaveScreenshot(&form, QStringLiteral("PropertyWriteParameterForm"));
    form.cmdCancel()->click();
  });
  form.ShowOpen(device_);
}

}  // namespace
}  // namespace sorvel
