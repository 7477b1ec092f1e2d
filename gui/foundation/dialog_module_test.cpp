#include "gui/foundation/dialog_module.h"

#include <gtest/gtest.h>

#include <QWidget>

#include "gui/foundation/html_help.h"
#include "gui/foundation/modal_ui.h"
#include "testing/gui/scripted_modal_ui.h"

namespace sorvel {
namespace {

TEST(DialogModuleTest, RoutinesGoThroughTheModalInterface) {
  testing::ScriptedModalUi ui;
  QWidget owner;
  ui.QueueAnswer(kIdYes);
  EXPECT_EQ(CenterMessageBox(&owner, QStringLiteral("削除しますか。"), 36, QStringLiteral("Sorvel")), kIdYes);
  ASSERT_EQ(ui.messages().size(), 1);
  EXPECT_EQ(ui.messages()[0].owner, &owner);
  EXPECT_EQ(ui.messages()[0].style, 36);

  ui.QueueOpenFiles({QStringLiteral("/m/a.wav"), QStringLiteral("/m/b.wav")});
  EXPECT_EQ(ShowOpenFileDialog(&owner, QStringLiteral("WAV|*.wav"), QString(), 0x81A04),
            QStringLiteral("/m/a.wav|/m/b.wav"));
  ui.QueueOpenFiles({QStringLiteral("/m/a.wav")});
  EXPECT_EQ(ShowOpenFileDialog(&owner, QStringLiteral("WAV|*.wav"), QString(), 0x81A04), QStringLiteral("/m/a.wav"));
  EXPECT_EQ(ShowOpenFileDialog(&owner, QStringLiteral("WAV|*.wav"), QString(), 0x1800), QString());
  ui.QueueSaveFile(QStringLiteral("/t/x.log"));
  EXPECT_EQ(ShowSaveFileDialog(&owner, QStringLiteral("ログファイル(*.log)|*.log"), QStringLiteral("a.log"), 0x806),
            QStringLiteral("/t/x.log"));
  ui.QueueFolder(QStringLiteral("/t"));
  EXPECT_EQ(BrowseForFolder(&owner, QStringLiteral("中間パスを指定してください。"), 1), QStringLiteral("/t"));
  ASSERT_EQ(ui.dialogs().size(), 5);
  EXPECT_EQ(ui.dialogs()[3].default_path, QStringLiteral("a.log"));
  EXPECT_EQ(ui.dialogs()[4].kind, testing::ShownFileDialog::kFolder);
}

TEST(HTMLHelpTest, OwnerFollowsOpenAndClose) {
  testing::ScriptedModalUi ui;
  QWidget owner;
  {
    HTMLHelp help;
    EXPECT_EQ(help.Owner(), nullptr);
    help.OpenHelp(&owner, QStringLiteral("/opt/sorvel/sorvel.html"));
    EXPECT_EQ(help.Owner(), &owner);
    help.CloseHelp();
    EXPECT_EQ(help.Owner(), nullptr);
    ui.set_documents_open(false);
    help.OpenHelp(&owner, QStringLiteral("/missing.html"));
    EXPECT_EQ(help.Owner(), nullptr);
  }
  EXPECT_EQ(ui.opened_documents(),
            (QStringList{QStringLiteral("/opt/sorvel/sorvel.html"), QStringLiteral("/missing.html")}));
}

TEST(ModalDefaultsTest, NothingInstalledAnswersAsCancelled) {
  EXPECT_EQ(CurrentModalUi().PopupMenu({{QStringLiteral("D:"), 1}}, QPoint(0, 0)), 0);
  EXPECT_FALSE(CurrentModalUi().OpenDocument(QStringLiteral("/etc/hostname")));
}

}  // namespace
}  // namespace sorvel
