// A picture of the main window with a small layout: menus, the captioned
// toolbar, the empty ring with the CD's free space, a sorted tree and a
// subdirectory's list with its parent row and a hidden entry.
#include <QLabel>
#include <QLineEdit>

#include "gui/workspace/main_form_fixture.h"
#include "testing/gui/screenshot.h"

namespace sorvel {
namespace {

using WorkspaceScreenshot = testing::MainFormTest;

TEST_F(WorkspaceScreenshot, MainForm) {
  MainForm& form = Open();
  Write(Host("Project/zeta/readme.txt"));
  Write(Host("Project/Alpha/a.bin"), std::string(70000, 'a'));
  Write(Host("Project/mid/m.txt"));
  Write(Host("Project/音楽/曲目.txt"), "曲");
  Write(Host("Project/.hidden"), "secret");
  Write(Host("Project/notes.txt"), std::string(1234567, 'n'));
  form.AddPathToLayout(Q(Host("Project")));
  ASSERT_TRUE(form.mobjImageFile().ChangeISODirectory(QStringLiteral("Project")));
  form.txtLabel()->setText(QStringLiteral("MY_DISC_2024"));
  Pump();
  form.StatusPanel()->clear();
  ASSERT_TRUE(ui_.messages().isEmpty());
  form.resize(1000, 640);
  Pump();
  EXPECT_FALSE(testing::SaveScreenshot(&form, QStringLiteral("MainForm")).isEmpty());
}

}  // namespace
}  // namespace sorvel
