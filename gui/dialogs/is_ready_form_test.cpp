// The insert-disc prompt on real widgets over an emulated drive: a ready disc
// ends it at the first poll, a used write-once disc is ejected until a blank
// one comes, a rewritable disc with data is accepted, and every way of giving
// up answers false.
#include "gui/dialogs/is_ready_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "gui/dialogs/dialog_forms.h"
#include "gui/dialogs/dialog_test_support.h"
#include "gui/dialogs/disc_job_test_support.h"
#include "gui/model/trelin.h"
#include "platform/emulated_drive/emulated_drive_registry.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/cd_image_fixture.h"
#include "testing/gui/modal_answer.h"
#include "testing/gui/screenshot.h"

namespace sorvel {
namespace {

constexpr uint8_t kStartStopUnit = 0x1B;

int Ejects(const std::string& state) {
  int count = 0;
  for (const auto& command : platform::emu::HooksFor(state)->log())
    count += command.opcode() == kStartStopUnit && (command.cdb[4] & 0x03) == 0x02 ? 1 : 0;
  return count;
}

class IsReadyFormTest : public ::testing::Test {
 protected:
  // Opens D: mapped to an emulated drive with `settings`.
  void OpenDrive(const std::string& settings) {
    state_ = env_.State("d.state");
    map_ = std::make_unique<testing::ScopedDriveMap>("D:=emu:" + state_ + "," + settings +
                                                    ",vendor=SORVEL,product=EMU-WRITER");
    ASSERT_TRUE(device_.OpenDevice(3));
  }
  std::string UsedCd() {
    testing::FixtureTrack data;
    data.audio = false;
    testing::FixtureTrack audio;
    audio.pregap = 150;
    return testing::MakeCueImage(dir_.path(), "used", {data, audio}).cue.string();
  }

  testing::ScratchDir dir_;
  testing::DialogTestEnvironment env_{dir_};
  testing::ScriptedModalUi ui_;
  std::unique_ptr<testing::ScopedDriveMap> map_;
  std::string state_;
  Trelin device_;
};

TEST_F(IsReadyFormTest, ReadyDiscEndsThePromptAtTheFirstPoll) {
  OpenDrive("medium=cd-r");
  for (bool writable : {false, true}) {
    IsReadyForm form(device_, writable);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("ディスクの交換"));
    EXPECT_EQ(form.lblMessage()->text(), writable ? QStringLiteral("以下の装置に、新しい書き込み可能な媒体を挿入してください。")
                                                  : QStringLiteral("以下の装置に、媒体を挿入してください。"));
    EXPECT_EQ(form.lblDriveName()->text(), device_.GetDeviceName(7));
    EXPECT_TRUE(form.lblDriveName()->text().simplified().startsWith(QStringLiteral("SORVEL EMU-WRITER")))
        << form.lblDriveName()->text().toStdString();
    EXPECT_EQ(form.cmdCancel()->text(), QStringLiteral("中止(&C)"));
    EXPECT_EQ(form.tmrMessage()->interval(), 100);
    EXPECT_FALSE(form.tmrMessage()->isActive());  // not before it is shown
    EXPECT_EQ(form.exec(), QDialog::Accepted);
    EXPECT_EQ(form.polls(), 1);
  }
  EXPECT_EQ(Ejects(state_), 0);
}

TEST_F(IsReadyFormTest, AnyDiscIsAcceptedWhenNoWritableOneIsAsked) {
  OpenDrive("medium=cd-r,image=" + UsedCd());
  EXPECT_TRUE(IsReadyForm::ShowOpen(device_, false));
  EXPECT_EQ(Ejects(state_), 0);
}

TEST_F(IsReadyFormTest, UsedWriteOnceDiscIsEjectedUntilABlankOneIsInserted) {
  OpenDrive("medium=cd-r,image=" + UsedCd());
  platform::emu::HooksFor(state_)->ClearLog();
  int ejects_before_insert = -1;
  testing::WhenModalShown([&](QWidget* shown) {
    auto* form = qobject_cast<IsReadyForm*>(shown);
    ASSERT_NE(form, nullptr);
    ASSERT_TRUE(testing::WaitFor([&] { return Ejects(state_) == 1; }, 3000));
    // The prompt keeps waiting with the tray open.
    ASSERT_TRUE(testing::WaitFor([&] { return form->polls() >= 4; }, 3000));
    EXPECT_TRUE(form->isVisible());
    ejects_before_insert = Ejects(state_);
    std::string error;
    ASSERT_TRUE(platform::emu::FindOpenDrive(state_)->InsertDisc("cd-r", "", &error)) << error;
  });
  EXPECT_TRUE(IsReadyForm::ShowOpen(device_, true));
  EXPECT_EQ(ejects_before_insert, 1);
  EXPECT_EQ(Ejects(state_), 1);
}

TEST_F(IsReadyFormTest, RewritableDiscHoldingDataIsAccepted) {
  OpenDrive("medium=cd-rw,image=" + UsedCd());
  EXPECT_TRUE(IsReadyForm::ShowOpen(device_, true));
  EXPECT_EQ(Ejects(state_), 0);
}

TEST_F(IsReadyFormTest, CancelCloseBoxAndEscapeGiveUp) {
  OpenDrive("medium=none");
  const std::vector<std::function<void(IsReadyForm*)>> ways = {
      [](IsReadyForm* form) { form->cmdCancel()->click(); },
      [](IsReadyForm* form) { form->close(); },
      [](IsReadyForm* form) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(form, &press);
      },
  };
  for (const auto& give_up : ways) {
    testing::WhenModalShown([&](QWidget* shown) {
      auto* form = qobject_cast<IsReadyForm*>(shown);
      ASSERT_NE(form, nullptr);
      ASSERT_TRUE(testing::WaitFor([&] { return form->polls() >= 2; }, 3000));
      give_up(form);
    });
    EXPECT_FALSE(IsReadyForm::ShowOpen(device_, false));
  }
  EXPECT_EQ(Ejects(state_), 0);
}

TEST_F(IsReadyFormTest, LowerLayersReachThePromptThroughTheInstalledForms) {
  OpenDrive("medium=none");
  const FormFactories forms = DialogFormFactories();
  const FormFactories* previous = InstallFormFactories(&forms);
  bool prompted = false;
  testing::WhenModalShown([&](QWidget* shown) {
    auto* form = qobject_cast<IsReadyForm*>(shown);
    ASSERT_NE(form, nullptr);
    prompted = true;
    form->cmdCancel()->click();
  });
  EXPECT_FALSE(ShowIsReadyForm(device_, true));
  EXPECT_TRUE(prompted);
  InstallFormFactories(previous);
}

// Every pass of a repeated write asks again; each prompt is centred on the
// dialog that waits for the disc, whichever window the window system has
// active at that moment (none right after a box closed, or another one).
TEST_F(IsReadyFormTest, EveryPassIsCentredOnTheWaitingDialog) {
  OpenDrive("medium=none");
  QDialog owner;
  owner.setObjectName(QStringLiteral("WellWriteForm"));
  owner.setModal(true);
  owner.setGeometry(40, 60, 700, 500);
  owner.show();
  QWidget elsewhere;
  elsewhere.setGeometry(900, 700, 200, 100);
  elsewhere.show();
  ASSERT_TRUE(testing::WaitFor([&] { return QApplication::activeModalWidget() == &owner; }, 3000));
  QList<QPoint> centres;
  QList<QWidget*> parents;
  QTimer answer;
  answer.setInterval(10);
  QObject::connect(&answer, &QTimer::timeout, [&] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      auto* form = qobject_cast<IsReadyForm*>(window);
      if (form == nullptr || !form->isVisible()) continue;
      centres << form->frameGeometry().center();
      parents << form->parentWidget();
      form->cmdCancel()->click();
    }
  });
  answer.start();
  struct Pass {
    const char* name;
    QWidget* active;
  };
  for (const Pass& pass : {Pass{"dialog active", &owner}, Pass{"none active", nullptr}, Pass{"other active", &elsewhere},
                           Pass{"dialog again", &owner}}) {
    SCOPED_TRACE(pass.name);
    QApplication::setActiveWindow(pass.active);
    ASSERT_TRUE(testing::WaitFor([&] { return QApplication::activeWindow() == pass.active; }, 3000));
    const qsizetype before = centres.size();
    EXPECT_FALSE(IsReadyForm::ShowOpen(device_, true));
    ASSERT_EQ(centres.size(), before + 1);
    EXPECT_EQ(parents.last(), &owner);
    EXPECT_LE((centres.last() - owner.frameGeometry().center()).manhattanLength(), 4)
        << centres.last().x() << "," << centres.last().y();
  }
}

TEST_F(IsReadyFormTest, Screenshot) {
  OpenDrive("medium=none");
  IsReadyForm form(device_, true);
  form.show();
  QApplication::processEvents();
  testing::SaveScreenshot(&form, "IsReadyForm");
  form.reject();
}

}  // namespace
}  // namespace sorvel
