// A picture of the main window with a small layout: menus, the captioned
// toolbar, the empty ring with the CD's free space, a sorted tree and a
// subdirectory's list with its parent row and a hidden entry.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>

#include <QMenu>
#include <QPainter>
#include <QStatusBar>
#include <string>

#include "gui/controls/circle_graph.h"
#include "gui/controls/elided_label.h"
#include "gui/controls/splitter.h"
#include "gui/foundation/program_icon.h"

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

// The width a combo box needs to show its longest item whole.
int WholeComboWidth(const QComboBox* combo) {
  int text = 0;
  for (int i = 0; i < combo->count(); ++i)
    text = std::max(text, combo->fontMetrics().horizontalAdvance(combo->itemText(i)));
  QStyleOptionComboBox option;
  option.initFrom(combo);
  return combo->style()
      ->sizeFromContents(QStyle::CT_ComboBox, &option, QSize(text, combo->fontMetrics().height()), combo)
      .width();
}

// Whether `widget` lies whole inside `area` (both in the window's coordinates).
bool Inside(const QWidget* widget, const QWidget* window, const QRect& area) {
  const QRect r(widget->mapTo(window, QPoint(0, 0)), widget->size());
  return area.contains(r);
}

// At its minimum size the window shows every control of the top bar whole
// (at least as wide as it asks to be, side by side without overlap, inside
// the bar and the window), every toolbar button, and both lists of the panes
// with their toolbars; a smaller size is refused.
TEST_F(WorkspaceScreenshot, MainFormAtItsMinimumSize) {
  MainForm& form = Open("Media3=BD-R 2層 (50GB) 追記型\t24438784\r\n");
  Write(Host("Data/readme.txt"), std::string(3000, 'r'));
  form.AddPathToLayout(Q(Host("Data")));
  ASSERT_TRUE(form.AddAudioFile(Q(Wave(Host("1.wav"), 2000))));
  form.txtLabel()->setText(QStringLiteral("VOL_20240102030405"));
  form.cboMediaType()->setCurrentIndex(2);  // the longest name and free-space text
  form.resize(600, 450);
  Pump();
  form.StatusPanel()->clear();
  const QSize minimum = form.minimumSize();
  EXPECT_GE(minimum.width(), 600);
  EXPECT_EQ(form.size(), minimum.expandedTo(QSize(600, 450)));
  form.resize(minimum);
  Pump();
  ASSERT_EQ(form.size(), minimum);

  const QRect window = form.rect();
  const QRect bar(form.fraTop()->mapTo(&form, QPoint(0, 0)), form.fraTop()->size());
  EXPECT_TRUE(window.contains(bar));
  const QList<QWidget*> controls{form.txtLabel(), form.cboFileSystem(), form.cboMediaType(), form.cgVariable(),
                                 form.lblVariable()};
  QList<QRect> placed;
  for (QWidget* control : controls) {
    SCOPED_TRACE(control->objectName().toStdString());
    EXPECT_TRUE(control->isVisible());
    EXPECT_TRUE(Inside(control, &form, bar));
    EXPECT_GE(control->width(), control->sizeHint().width());
    EXPECT_GE(control->height(), control->minimumSizeHint().height());
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
      EXPECT_GE(combo->width(), WholeComboWidth(combo));
    }
    placed << QRect(control->mapTo(&form, QPoint(0, 0)), control->size());
  }
  // The captions of the bar are whole too.
  for (QLabel* caption : form.fraTop()->findChildren<QLabel*>()) {
    if (caption == form.lblVariable()) continue;
    SCOPED_TRACE(caption->text().toStdString());
    EXPECT_TRUE(Inside(caption, &form, bar));
    EXPECT_GE(caption->width(), caption->sizeHint().width());
    placed << QRect(caption->mapTo(&form, QPoint(0, 0)), caption->size());
  }
  for (qsizetype i = 0; i < placed.size(); ++i)
    for (qsizetype j = i + 1; j < placed.size(); ++j) EXPECT_FALSE(placed[i].intersects(placed[j])) << i << " " << j;
  // No toolbar button went into the overflow menu.
  for (QAction* action : form.tlbMain()->actions()) {
    if (!action->isVisible()) continue;
    QWidget* button = form.tlbMain()->widgetForAction(action);
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isVisible()) << action->objectName().toStdString();
    EXPECT_TRUE(Inside(button, &form, window)) << action->objectName().toStdString();
  }
  // The panes hold their lists with room for rows below the headers.
  for (QTreeWidget* list : {form.trvDirectory(), form.lsvFiles(), form.lsvTracks()}) {
    SCOPED_TRACE(list->objectName().toStdString());
    EXPECT_TRUE(list->isVisible());
    EXPECT_TRUE(Inside(list, &form, window));
    EXPECT_GE(list->viewport()->height(), 3 * list->fontMetrics().height());
  }
  EXPECT_TRUE(form.tlbFiles()->isVisible());
  EXPECT_TRUE(Inside(form.tlbTracks(), &form, window));
  EXPECT_FALSE(testing::SaveScreenshot(&form, QStringLiteral("MainForm-Minimum")).isEmpty());
}

// Input as a user's, through the X server (these run under Xvfb): the
// window raised and active, then xdotool's presses and wheel turns.
class WorkspaceScreenshotInput : public WorkspaceScreenshot {
 protected:
  MainForm& OpenActive() {
    MainForm& form = Open();
    form.move(40, 40);
    form.resize(1000, 640);
    form.activateWindow();
    form.raise();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    Pump();
    return form;
  }
  // Runs xdotool with `arguments`, then lets the window take what it sent.
  void XdoTool(const std::string& arguments) {
    ASSERT_EQ(testing::RunCommand("xdotool " + arguments), 0) << arguments;
    for (int i = 0; i < 10; ++i) {
      QTest::qWait(30);
      Pump();
    }
  }
  // Puts the pointer over the middle of `widget`.
  void PointAt(QWidget* widget) {
    const QPoint centre = widget->mapToGlobal(widget->rect().center());
    XdoTool("mousemove --sync " + std::to_string(centre.x()) + " " + std::to_string(centre.y()));
  }
};

// Scrolling over the file-system and media boxes while they have no focus
// changes neither: the layout, the label and the choices stay.
TEST_F(WorkspaceScreenshotInput, WheelOverUnfocusedBoxesChangesNothing) {
  ASSERT_TRUE(testing::RequireTool("xdotool"));
  MainForm& form = OpenActive();
  Write(Host("Data/readme.txt"), "text");
  form.AddPathToLayout(Q(Host("Data")));
  form.txtLabel()->setText(QStringLiteral("KEEP_ME"));
  form.cboMediaType()->setCurrentIndex(0);
  Pump();
  form.lsvFiles()->setFocus();
  const int system = form.cboFileSystem()->currentIndex();
  ASSERT_GT(system, 0);
  for (QComboBox* box : {form.cboFileSystem(), form.cboMediaType()}) {
    SCOPED_TRACE(box->objectName().toStdString());
    PointAt(box);
    XdoTool("click 4");  // wheel up: the previous item
    XdoTool("click 5");
    XdoTool("click 5");
    EXPECT_FALSE(box->hasFocus());
  }
  EXPECT_EQ(form.cboFileSystem()->currentIndex(), system);
  EXPECT_EQ(form.cboMediaType()->currentIndex(), 0);
  EXPECT_FALSE(form.mobjImageFile().IsISOEmpty());
  EXPECT_EQ(form.txtLabel()->text(), QStringLiteral("KEEP_ME"));
  EXPECT_TRUE(ui_.messages().isEmpty());

  // Chosen by a click, the box takes the wheel: that is a change the user made.
  QTest::mouseClick(form.cboFileSystem(), Qt::LeftButton);
  if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  form.cboFileSystem()->setFocus();
  Pump();
  PointAt(form.cboFileSystem());
  XdoTool("click 4");
  EXPECT_EQ(form.cboFileSystem()->currentIndex(), system - 1);
  EXPECT_TRUE(form.mobjImageFile().IsISOEmpty());
}

// Alt+V opens the 表示 menu every time, E then runs its item; the label box,
// whose caption shows the same letter, never takes the key nor the E.
TEST_F(WorkspaceScreenshotInput, AltVOpensTheViewMenuAndNeverTypesIntoTheLabel) {
  ASSERT_TRUE(testing::RequireTool("xdotool"));
  MainForm& form = OpenActive();
  form.txtLabel()->setText(QStringLiteral("MY_LABEL"));
  form.lsvFiles()->setFocus();
  Pump();
  auto* view = form.findChild<QMenu*>(QStringLiteral("mnuView"));
  ASSERT_NE(view, nullptr);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    XdoTool("key alt+v");
    EXPECT_TRUE(view->isVisible());
    EXPECT_FALSE(form.txtLabel()->hasFocus());
    XdoTool("key e");
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(form.txtLabel()->text(), QStringLiteral("MY_LABEL"));
  }
  EXPECT_EQ(ui_.opened_documents(), QStringList(3, QStringLiteral("/")));
  // The caption still shows its letter.
  bool caption_found = false;
  for (QLabel* caption : form.fraTop()->findChildren<QLabel*>())
    caption_found = caption_found || caption->text().contains(QStringLiteral("媒体識別子(<u>V</u>)"));
  EXPECT_TRUE(caption_found);
}

// The window with a long name in its status bar: cut with "…", the window as
// wide as before.
TEST_F(WorkspaceScreenshot, MainFormLongStatusText) {
  MainForm& form = Open();
  form.resize(920, 640);
  Pump();
  const QString name = QStringLiteral("/home/user/") + QString(240, u'n') + QStringLiteral(".txt");
  form.StatusPanel()->setText(name);
  Pump();
  EXPECT_EQ(form.width(), 920);
  EXPECT_TRUE(static_cast<ElidedLabel*>(form.StatusPanel())->ShownText().endsWith(QStringLiteral("…")));
  EXPECT_FALSE(testing::SaveScreenshot(&form, QStringLiteral("MainForm-LongStatus")).isEmpty());
}

// The main window's icon is the program's, at every size a desktop asks
// for; a picture of it beside Qt's generic window icon and the file icons.
TEST_F(WorkspaceScreenshot, MainFormWindowIcon) {
  MainForm& form = Open();
  const QIcon icon = form.windowIcon();
  const QIcon program = ProgramIcon();
  for (int size : {16, 32, 48, 128}) {
    SCOPED_TRACE(size);
    const QImage shown = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(shown.size(), QSize(size, size));
    EXPECT_EQ(shown, program.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32));
  }
  QWidget sheet;
  sheet.resize(420, 160);
  sheet.setAutoFillBackground(true);
  sheet.show();
  const QIcon others[] = {icon, QApplication::style()->standardIcon(QStyle::SP_TitleBarMenuButton),
                          QApplication::style()->standardIcon(QStyle::SP_FileIcon),
                          QApplication::style()->standardIcon(QStyle::SP_DriveCDIcon)};
  QPixmap picture(sheet.size());
  picture.fill(Qt::white);
  {
    QPainter painter(&picture);
    int x = 10;
    for (const QIcon& each : others) {
      painter.drawPixmap(x, 10, each.pixmap(64, 64));
      painter.drawPixmap(x + 24, 90, each.pixmap(16, 16));
      x += 100;
    }
  }
  auto* shown = new QLabel(&sheet);
  shown->setPixmap(picture);
  shown->resize(picture.size());
  shown->show();
  EXPECT_FALSE(testing::SaveScreenshot(&sheet, QStringLiteral("MainForm-WindowIcon")).isEmpty());
}

}  // namespace
}  // namespace sorvel
