#include "gui/dialogs/dialog_forms.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include "gui/dialogs/dialog_test_support.h"

namespace sorvel {
namespace {

// The main window's tool commands open each disc dialog by its form name,
// modally; the dialog's own close ends the call.
TEST(DialogFormsTest, EveryToolFormOpensModallyByItsName) {
  testing::ScratchDir dir;
  testing::DialogTestEnvironment environment(dir);
  testing::ScopedDriveMap drives("D:=emu:" + environment.State("d.state") + ",medium=cd-r");
  testing::ScriptedModalUi ui;
  QWidget owner;
  for (const char* name : {"DiscWriteForm", "DiscReadForm", "DiscEraseForm", "DiscCopyForm", "DiscAnalyzeForm", "TrackRippingForm",
                           "PropertyConfigurationForm", "AboutInformationForm"}) {
    QString shown;
    QTimer::singleShot(200, [&] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        shown = modal->objectName();
        modal->close();
      }
    });
    EXPECT_TRUE(ShowDialogForm(&owner, QString::fromLatin1(name))) << name;
    EXPECT_EQ(shown, QString::fromLatin1(name));
  }
  EXPECT_FALSE(ShowDialogForm(&owner, QStringLiteral("NoSuchForm")));
}

}  // namespace
}  // namespace sorvel
