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

// The track pane: the data track, audio rows with titles and attributes, the
// album name centred on the toolbar and the ring with its free space.
TEST_F(WorkspaceScreenshot, MainFormTracks) {
  MainForm& form = Open();
  Write(Host("Data/readme.txt"), std::string(3000000, 'r'));
  form.AddPathToLayout(Q(Host("Data")));
  Tazol& image = form.mobjImageFile();
  const char* const titles[] = {"朝の光", "Evening Walk", "雨の日"};
  for (int i = 0; i < 3; ++i) {
    const std::string name = std::to_string(i + 1) + ".wav";
    ASSERT_TRUE(form.AddAudioFile(Q(Wave(Host(name), 2000 + 1500 * i))));
    const int track = image.GetTrackCount();
    image.SetTrackText(track, i == 1 ? 0 : 1, 0, QString::fromUtf8(titles[i]));
    image.SetTrackText(track, i == 1 ? 0 : 1, 1, i == 1 ? QStringLiteral("Quartet") : QStringLiteral("四重奏団"));
  }
  ASSERT_TRUE(image.ResetTrack(3, Q(Host("2.wav")), 150, 75, 1));
  ASSERT_TRUE(image.ResetTrack(4, Q(Host("3.wav")), 300, 0, 2));
  image.SetEnabledTrackText(true);
  image.SetTrackText(0, 1, 0, QStringLiteral("朝の歌"));
  form.txtLabel()->setText(QStringLiteral("MORNING"));
  Pump();
  form.lsvTracks()->setCurrentItem(form.lsvTracks()->topLevelItem(2));
  form.StatusPanel()->clear();
  ASSERT_TRUE(ui_.messages().isEmpty());
  form.resize(1000, 640);
  Pump();
  EXPECT_FALSE(testing::SaveScreenshot(&form, QStringLiteral("MainForm-Tracks")).isEmpty());
}

}  // namespace
}  // namespace sorvel
