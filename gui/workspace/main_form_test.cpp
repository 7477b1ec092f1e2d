// The main window over the real mastering engine with temporary settings:
// stored choices, the volume label, the file-system switch, the toolbar, the
// dividers, the save proposals and the mastering history.
#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QToolBar>

#include "gui/controls/circle_graph.h"
#include "gui/controls/elided_label.h"
#include "gui/controls/splitter.h"
#include "gui/controls/twips.h"
#include "gui/foundation/history_database.h"
#include "gui/foundation/qt_modal_ui.h"
#include "gui/workspace/main_form_fixture.h"
#include "gui/workspace/workspace_dialogs.h"
#include "testing/gui/fake_forms.h"
#include "testing/gui/modal_answer.h"
#include "testing/gui/recording_url_handler.h"

namespace sorvel {
namespace {

using testing::MainFormTest;
using MainWindowTest = MainFormTest;

// Types `text` one character at a time, as key presses carrying the character.
void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(widget, &release);
  }
}

struct ChoiceCase {
  const char* name;
  const char* media;        // stored, or null for nothing stored
  const char* file_system;  // stored, or null
  int media_index;
  int file_system_index;
};

class StoredChoiceTest : public MainFormTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(StoredChoiceTest, CombosComeBackOrFallBack) {
  const ChoiceCase& c = GetParam();
  if (c.media) Store().setValue("MainForm/cboMediaType", QString::fromUtf8(c.media));
  if (c.file_system) Store().setValue("MainForm/cboFileSystem", QString::fromUtf8(c.file_system));
  MainForm& form = Open();
  EXPECT_EQ(form.cboMediaType()->count(), 2);
  EXPECT_EQ(form.cboMediaType()->currentIndex(), c.media_index);
  EXPECT_EQ(form.cboFileSystem()->currentIndex(), c.file_system_index);
  EXPECT_EQ(form.mobjImageFile().FileSystem(), form.cboFileSystem()->currentData().toInt());
  EXPECT_EQ(form.LabelLimit(), (form.mobjImageFile().FileSystem() & 0x10) ? 16 : 32);
  form.cboMediaType()->setCurrentIndex(1 - c.media_index);
  form.cboFileSystem()->setCurrentIndex(2);
  form.close();
  Store().sync();
  EXPECT_EQ(Store().value("MainForm/cboMediaType").toString(), form.cboMediaType()->currentText());
  EXPECT_EQ(Store().value("MainForm/cboFileSystem").toString(), QStringLiteral("JIS X 0606 (Level 4)"));
}

INSTANTIATE_TEST_SUITE_P(
    Choices, StoredChoiceTest,
    ::testing::Values(ChoiceCase{"NothingStored", nullptr, nullptr, 0, 6},
                      ChoiceCase{"Restored", "DVD-R", "JIS X 0606 (Level 2)", 1, 1},
                      ChoiceCase{"StaleTexts", "DVD-RAM", "ISO 9660", 0, 6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, GaugeAndFreeTextFollowTheMediaType) {
  MainForm& form = Open("Media3=Broken\tx\r\n");
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Sorvel"));
  EXPECT_EQ(form.cgVariable()->Max(), 359847);
  EXPECT_EQ(form.cgVariable()->Value(), 0);
  EXPECT_EQ(form.lblVariable()->text(), QStringLiteral("空き:719,694KiB"));
  form.cboMediaType()->setCurrentIndex(1);
  EXPECT_EQ(form.lblVariable()->text(), QStringLiteral("空き:4,590,208KiB"));
  EXPECT_EQ(form.MediaCapacity(), 2295104);
  // A capacity of 0: an empty ring and no free space of the medium before.
  form.cboMediaType()->setCurrentIndex(2);
  EXPECT_EQ(form.cgVariable()->Max(), 1);
  EXPECT_EQ(form.lblVariable()->text(), QStringLiteral("空き:0KiB"));
}

TEST_F(MainWindowTest, LabelDefaultLimitAndByteCut) {
  MainForm& form = Open();
  QLineEdit* label = form.txtLabel();
  const QRegularExpression stamp(QStringLiteral("^VOL_\\d{14}$"));
  EXPECT_TRUE(stamp.match(label->text()).hasMatch()) << label->text().toStdString();
  ASSERT_EQ(form.LabelLimit(), 16);
  // The 18-character default stays whole under the 16-character limit; typing adds nothing.
  label->setFocus();
  label->setCursorPosition(18);
  QTest::keyClicks(label, QStringLiteral("X"));
  EXPECT_EQ(label->text().size(), 18);
  EXPECT_TRUE(stamp.match(label->text()).hasMatch());

  // 16 full-width characters fit (32 bytes); a 17th typed in the middle goes again.
  const QString sixteen(16, QChar(0x3042));
  label->setText(sixteen);
  EXPECT_EQ(label->text(), sixteen);
  label->setCursorPosition(5);
  Type(label, QString(QChar(0x30A2)));
  EXPECT_EQ(label->text(), sixteen);
  EXPECT_EQ(label->cursorPosition(), 5);

  // Under a 32-character variant the byte rule cuts the 17th full-width character from the end.
  form.cboFileSystem()->setCurrentIndex(2);
  EXPECT_EQ(form.LabelLimit(), 32);
  label->setText(sixteen);
  label->setCursorPosition(3);
  Type(label, QString(QChar(0x30A2)));
  EXPECT_EQ(label->text(), sixteen.left(3) + QChar(0x30A2) + sixteen.mid(3, 12));
  EXPECT_EQ(label->cursorPosition(), 4);
  // Text set by the program is cut to 32 bytes as well.
  label->setText(QString(40, u'a'));
  EXPECT_EQ(label->text(), QString(32, u'a'));
  // Half-width typing stops at 32 characters.
  label->clear();
  QTest::keyClicks(label, QString(40, u'b'));
  EXPECT_EQ(label->text(), QString(32, u'b'));
}

TEST_F(MainWindowTest, FileSystemSwitchEmptiesTheDataAreaUnasked) {
  MainForm& form = Open();
  Write(Host("x/y.txt"));
  form.AddPathToLayout(Q(Host("x")));
  form.txtLabel()->setText(QStringLiteral("MINE"));
  Pump();
  ASSERT_FALSE(form.mobjImageFile().IsISOEmpty());
  form.cboFileSystem()->setCurrentIndex(3);
  Pump();
  EXPECT_TRUE(ui_.messages().isEmpty());
  EXPECT_TRUE(form.mobjImageFile().IsISOEmpty());
  EXPECT_EQ(form.mobjImageFile().FileSystem(), 1);
  EXPECT_EQ(form.trvDirectory()->topLevelItemCount(), 0);
  EXPECT_EQ(form.lsvFiles()->topLevelItemCount(), 0);
  EXPECT_TRUE(form.txtLabel()->text().startsWith(QStringLiteral("VOL_")));
  // A box disabled by the project reader leaves the layout as it is.
  form.AddPathToLayout(Q(Host("x")));
  form.cboFileSystem()->setEnabled(false);
  form.cboFileSystem()->setCurrentIndex(5);
  EXPECT_FALSE(form.mobjImageFile().IsISOEmpty());
}

// A long text in the status bar (a file's path while it is added) is cut
// with "…" in its panel: the window keeps its width and its least width.
TEST_F(MainWindowTest, LongStatusTextNeverWidensTheWindow) {
  MainForm& form = Open();
  form.resize(920, 680);
  Pump();
  const int width = form.width();
  const int least = form.minimumSizeHint().width();
  for (int length : {240, 1000}) {
    SCOPED_TRACE(length);
    const QString name = QStringLiteral("/home/user/") + QString(length, u'長') + QStringLiteral(".txt");
    form.StatusPanel()->setText(name);
    Pump();
    EXPECT_EQ(form.width(), width);
    EXPECT_LE(form.minimumSizeHint().width(), least);
    EXPECT_EQ(form.StatusPanel()->text(), name);
    const QString shown = static_cast<ElidedLabel*>(form.StatusPanel())->ShownText();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("…"))) << shown.toStdString();
    EXPECT_TRUE(name.startsWith(shown.chopped(1)));
    EXPECT_LE(form.StatusPanel()->fontMetrics().horizontalAdvance(shown), form.StatusPanel()->width());
  }
  // A short one is shown whole.
  form.StatusPanel()->setText(QStringLiteral("/tmp/a.txt"));
  Pump();
  EXPECT_EQ(static_cast<ElidedLabel*>(form.StatusPanel())->ShownText(), QStringLiteral("/tmp/a.txt"));
}

TEST_F(MainWindowTest, HistoryButtonOnlyWithAViewer) {
  auto visible = [](QToolBar* bar) {
    QStringList keys;
    for (QAction* action : bar->actions())
      if (action->isVisible()) keys << action->objectName();
    return keys;
  };
  {
    MainForm& form = Open();
    EXPECT_EQ(visible(form.tlbMain()), (QStringList{"WriteWell", "SaveWell", "EraseDisc", "CopyDisc", "ReadDisc",
                                                    "WriteDisc", "DiscRipping", "DiscAnalyze"}));
    EXPECT_FALSE(form.MenuItem(QStringLiteral("mnuToolMasteringLog"))->isVisible());
    EXPECT_FALSE(form.MenuItem(QStringLiteral("mnuWellDummyAdd"))->isVisible());
    EXPECT_EQ(form.ToolbarButton(QStringLiteral("WriteWell"))->text(), QStringLiteral("書き込み"));
    EXPECT_EQ(form.ToolbarButton(QStringLiteral("DiscAnalyze"))->toolTip(), QStringLiteral("媒体のセクタ情報を閲覧します。"));
  }
  form_.reset();
  MainForm& form = Open("[PATH]\r\nLOGVIEWER=/usr/bin/true\r\n");
  EXPECT_EQ(visible(form.tlbMain()).size(), 9);
  EXPECT_EQ(visible(form.tlbMain())[7], QStringLiteral("MasteringLog"));
  EXPECT_TRUE(form.MenuItem(QStringLiteral("mnuToolMasteringLog"))->isVisible());
}

// Drags `splitter`'s bar by `distance` pixels along its direction, as the mouse does.
void DragBar(Splitter* splitter, int distance) {
  QWidget* bar = splitter->imgSplitter();
  const QPoint start = bar->rect().center();
  const QPoint end = start + (splitter->Orientation() == 0 ? QPoint(0, distance) : QPoint(distance, 0));
  QTest::mousePress(bar, Qt::LeftButton, {}, start);
  QTest::mouseMove(bar, end);
  QTest::mouseRelease(bar, Qt::LeftButton, {}, end);
  QCoreApplication::processEvents();
}

// Dragging either divider leaves both where the user put them (the upper
// divider's drag resizes the left/right splitter, which is no window resize);
// the next resize of the window puts both back at two thirds and one third.
TEST_F(MainWindowTest, DraggedDividersStayUntilTheWindowIsResized) {
  MainForm& form = Open();
  Splitter* main = form.splMain();
  Splitter* sub = form.splSub();
  auto expect_proportions = [&] {
    EXPECT_NEAR(main->SplitterPoint(), 0.67 * PixelsToTwipsY(main, main->height()), 1.0);
    EXPECT_NEAR(sub->SplitterPoint(), 0.33 * PixelsToTwipsX(sub, sub->width()), 1.0);
  };
  expect_proportions();
  const int tree_width = form.trvDirectory()->width();
  const int track_top = form.fraTrack()->y();

  DragBar(sub, 90);
  Pump();

  const float sub_point = sub->SplitterPoint();
  EXPECT_NEAR(sub_point, 0.33 * PixelsToTwipsX(sub, sub->width()) + PixelsToTwipsX(sub, 90), 20.0);
  DragBar(main, -60);
  Pump();
  EXPECT_NEAR(main->SplitterPoint(), 0.67 * PixelsToTwipsY(main, main->height()) - PixelsToTwipsY(main, 60), 20.0);
  EXPECT_EQ(sub->SplitterPoint(), sub_point);
  EXPECT_NEAR(form.trvDirectory()->width(), tree_width + 90, 2);
  EXPECT_NEAR(form.fraTrack()->y(), track_top - 60, 2);

  // A second drag of the upper divider, the other way, still keeps both.
  DragBar(main, 100);
  Pump();
  EXPECT_NEAR(form.fraTrack()->y(), track_top + 40, 2);
  EXPECT_EQ(sub->SplitterPoint(), sub_point);

  form.resize(form.width() + 40, form.height() + 30);
  Pump();
  expect_proportions();
}

struct PopupCase {
  const char* name;
  bool track_list;  // else the file list
  QStringList texts;  // as the menu bar's menu shows them, "-" for a separator line
  const char* question;  // asked by クリア(&C), chosen with its mnemonic
};

class ContextMenuTest : public MainFormTest, public ::testing::WithParamInterface<PopupCase> {};

// The lists' context menus are the menu bar's menus as Qt's own popup shows
// them: captions with their mnemonics, separator lines that cannot be chosen,
// and a key press on a mnemonic runs that item.
TEST_P(ContextMenuTest, PopupShowsMnemonicsAndSeparatorsAsTheMenuBarDoes) {
  const PopupCase& c = GetParam();
  MainForm& form = Open();
  QMenu* bar_menu = c.track_list ? form.mnuTrack() : form.mnuWell();
  QTreeWidget* list = c.track_list ? form.lsvTracks() : form.lsvFiles();
  QtModalUi qt_ui;
  InstallModalUi(&qt_ui);
  QStringList shown;
  QList<bool> separators;
  QList<bool> same_as_bar;
  testing::WhenModalShown([&](QWidget* widget) {
    auto* menu = qobject_cast<QMenu*>(widget);
    ASSERT_NE(menu, nullptr);
    QList<QAction*> bar_items;
    for (QAction* action : bar_menu->actions())
      if (action->isVisible()) bar_items << action;
    const QList<QAction*> items = menu->actions();
    for (qsizetype i = 0; i < items.size(); ++i) {
      shown << (items[i]->isSeparator() ? QStringLiteral("-") : items[i]->text());
      separators << items[i]->isSeparator();
      same_as_bar << (i < bar_items.size() && bar_items[i]->text() == items[i]->text() &&
                      bar_items[i]->isSeparator() == items[i]->isSeparator());
    }
    // The question that the chosen item asks goes to the scripted boxes.
    InstallModalUi(&ui_);
    QTest::keyClick(menu, Qt::Key_C);
    // A key that chose nothing leaves the menu open: close it unchosen.
    if (menu->isVisible()) menu->close();
  });
  emit list->customContextMenuRequested(QPoint(3, 3));
  InstallModalUi(&ui_);
  EXPECT_EQ(shown, c.texts);
  for (qsizetype i = 0; i < separators.size(); ++i) {
    EXPECT_EQ(separators[i], c.texts[i] == u"-") << i;
    EXPECT_TRUE(same_as_bar[i]) << i;
  }
  EXPECT_EQ(ui_.LastText(), QString::fromUtf8(c.question));
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ContextMenuTest,
    ::testing::Values(
        PopupCase{"FileList", false,
                  {"ファイルの追加(&A)...", "ディレクトリの追加(&F)...", "ディレクトリ内ファイルの追加(&I)...",
                   "名前の変更(&R)", "削除(&D)", "新規ディレクトリ(&K)", "-", "クリア(&C)", "-", "プロパティ(&P)..."},
                  "配置されたファイルを全て削除します。よろしいですか。"},
        PopupCase{"TrackList", true,
                  {"追加(&A)...", "削除(&D)", "-", "上へ(&U)", "下へ(&N)", "-", "アルバムの設定(&L)...", "設定(&P)...",
                   "クリア(&C)"},
                  "配置されたトラックを全て削除します。よろしいですか。"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, SaveProposesTheLabelAsAFileName) {
  MainForm& form = Open();
  struct Case {
    QString label, proposal;
  };
  for (const Case& c : {Case{QStringLiteral("   "), QStringLiteral("Image.img")},
                        Case{QStringLiteral(" My Disc "), QStringLiteral("My_Disc.img")},
                        Case{QStringLiteral("a/b:c"), QStringLiteral("a_b_c.img")}}) {
    ui_.Clear();
    form.txtLabel()->setText(c.label);
    form.tlbMain_ButtonClick(QStringLiteral("SaveWell"));  // cancelled: nothing else happens
    ASSERT_EQ(ui_.dialogs().size(), 1);
    EXPECT_EQ(ui_.dialogs()[0].kind, testing::ShownFileDialog::kSave);
    EXPECT_EQ(ui_.dialogs()[0].filter, QStringLiteral("互換イメージ (*.img)|*.img"));
    EXPECT_EQ(ui_.dialogs()[0].default_path, c.proposal);
    EXPECT_EQ(ui_.dialogs()[0].flags, 2054);
  }
}

TEST_F(MainWindowTest, SaveHandsTheTrimmedLabelAndChosenFileToTheSaveDialog) {
  MainForm& form = Open();
  QStringList calls;
  WorkspaceDialogs dialogs;
  dialogs.well_save = [&](QWidget*, Tazol& layout, const QString& file, const QString& title) {
    calls << layout.VolumeLabel + u'|' + file + u'|' + title;
    return false;
  };
  const WorkspaceDialogs* previous = InstallWorkspaceDialogs(&dialogs);
  form.txtLabel()->setText(QStringLiteral("  DATA  "));
  ui_.QueueSaveFile(QStringLiteral("/tmp/out.img"));
  form.MenuItem(QStringLiteral("mnuFileSave"))->trigger();
  InstallWorkspaceDialogs(previous);
  EXPECT_EQ(calls, QStringList{QStringLiteral("DATA|/tmp/out.img|")});
}

TEST_F(MainWindowTest, HistoryIsWrittenAfterAWriteAndAMissingFileIsReported) {
  ASSERT_TRUE(testing::RequireTool("sqlite3"));
  const QString database = Q(scratch_ / "history.mdb");
  ASSERT_TRUE(CreateHistoryDatabase(database));
  MainForm& form = Open("[PATH]\r\nLOG=" + (scratch_ / "history.mdb").string() + "\r\n");
  testing::FakeForms forms;
  Write(Host("d/f.txt"));
  form.AddPathToLayout(Q(Host("d")));
  ASSERT_TRUE(form.mobjImageFile().ChangeISODirectory(QStringLiteral("d")));
  form.txtLabel()->setText(QStringLiteral("HISTORY"));
  forms.QueueWellWriteResult(1);
  form.tlbMain_ButtonClick(QStringLiteral("WriteWell"));
  Pump();
  EXPECT_TRUE(ui_.messages().isEmpty()) << ui_.LastText().toStdString();
  EXPECT_EQ(forms.calls(), QStringList{QStringLiteral("well-write |")});
  // The view's directory is where it was.
  EXPECT_EQ(form.mobjImageFile().GetISOCurrentDirectory(), QStringLiteral("\\d\\"));
  std::string out;
  ASSERT_EQ(testing::RunCommand("sqlite3 '" + (scratch_ / "history.mdb").string() +
                                    "' 'SELECT LABEL FROM DISC; SELECT COUNT(*) FROM FILE;'",
                                &out),
            0);
  EXPECT_EQ(out, "HISTORY\n2\n");

  // No disc written: nothing recorded.
  forms.QueueWellWriteResult(0);
  form.tlbMain_ButtonClick(QStringLiteral("WriteWell"));
  out.clear();
  ASSERT_EQ(testing::RunCommand("sqlite3 '" + (scratch_ / "history.mdb").string() + "' 'SELECT COUNT(*) FROM DISC;'",
                                &out),
            0);
  EXPECT_EQ(out, "1\n");

  // A configured path with no file: the write stands, the history box follows.
  settings_->SetPathLog(Q(scratch_ / "none" / "missing.mdb"));
  forms.QueueWellWriteResult(1);
  form.tlbMain_ButtonClick(QStringLiteral("WriteWell"));
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("マスタリング履歴をファイルに保存できませんでした。"));
  EXPECT_EQ(ui_.messages()[0].style, 48);
  EXPECT_EQ(ui_.messages()[0].caption, QStringLiteral("Sorvel"));
  EXPECT_FALSE(QFileInfo::exists(Q(scratch_ / "none" / "missing.mdb")));
}

TEST_F(MainWindowTest, NewAsksAndClearsTracksDataAndLabel) {
  MainForm& form = Open();
  Write(Host("f"));
  form.AddPathToLayout(Q(Host("f")));
  form.txtLabel()->setText(QStringLiteral("KEEP"));
  form.MenuItem(QStringLiteral("mnuFileNew"))->trigger();  // No
  EXPECT_EQ(ui_.LastText(), QStringLiteral("配置されたトラックを全て削除します。よろしいですか。"));
  EXPECT_EQ(ui_.messages().last().style, 36);
  EXPECT_EQ(form.txtLabel()->text(), QStringLiteral("KEEP"));
  EXPECT_FALSE(form.mobjImageFile().IsISOEmpty());
  ui_.QueueAnswer(kIdYes);
  form.MenuItem(QStringLiteral("mnuFileNew"))->trigger();
  EXPECT_TRUE(form.mobjImageFile().IsISOEmpty());
  EXPECT_TRUE(form.txtLabel()->text().startsWith(QStringLiteral("VOL_")));
}

TEST_F(MainWindowTest, CommandsOpenTheirDialogsAndDocuments) {
  MainForm& form = Open();
  QStringList shown;
  WorkspaceDialogs dialogs;
  dialogs.show_modal = [&](QWidget* owner, const QString& name) {
    EXPECT_EQ(owner, &form);
    shown << name;
  };
  const WorkspaceDialogs* previous = InstallWorkspaceDialogs(&dialogs);
  for (const char* key : {"EraseDisc", "CopyDisc", "ReadDisc", "WriteDisc", "DiscRipping", "DiscAnalyze", "Unknown"})
    form.tlbMain_ButtonClick(QString::fromLatin1(key));
  for (const char* item : {"mnuToolConfiguration", "mnuHelpAbout"}) form.MenuItem(QString::fromLatin1(item))->trigger();
  InstallWorkspaceDialogs(previous);
  EXPECT_EQ(shown, (QStringList{"DiscEraseForm", "DiscCopyForm", "DiscReadForm", "DiscWriteForm", "TrackRippingForm",
                                "DiscAnalyzeForm", "PropertyConfigurationForm", "AboutInformationForm"}));

  testing::FakeForms forms;
  ui_.QueueOpenFiles({QStringLiteral("/tmp/a.tsn")});
  form.MenuItem(QStringLiteral("mnuFileOpen"))->trigger();
  ASSERT_FALSE(ui_.dialogs().isEmpty());
  EXPECT_EQ(ui_.dialogs().last().filter,
            QStringLiteral("互換イメージ (*.cue,*.ccd,*.tsn,*.iso)|*.cue;*.ccd;*.tsn;*.iso"));
  EXPECT_EQ(ui_.dialogs().last().flags, 6144);
  EXPECT_EQ(forms.calls(), QStringList{QStringLiteral("write-image /tmp/a.tsn")});

  form.MenuItem(QStringLiteral("mnuViewExplorer"))->trigger();
  EXPECT_EQ(ui_.opened_documents(), QStringList{QStringLiteral("/")});
}

// The contribution command hands the web page to the desktop's URL handler.
TEST_F(MainWindowTest, ContributionOpensTheWebPageInTheBrowser) {
  MainForm& form = Open();
  testing::RecordingUrlHandler browser;
  QtModalUi qt_ui;
  InstallModalUi(&qt_ui);
  form.MenuItem(QStringLiteral("mnuHelpContribution"))->trigger();
  InstallModalUi(&ui_);
  ASSERT_EQ(browser.urls().size(), 1);
  EXPECT_EQ(browser.urls()[0].scheme(), QStringLiteral("https"));
  EXPECT_FALSE(browser.urls()[0].host().isEmpty());
}

TEST_F(MainWindowTest, WindowOnTopFollowsTheMenuMark) {
  MainForm& form = Open();
  QAction* top = form.MenuItem(QStringLiteral("mnuViewWindowTop"));
  EXPECT_FALSE(top->isChecked());
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  top->trigger();
  EXPECT_TRUE(top->isChecked());
  EXPECT_TRUE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(form.isVisible());
  top->trigger();
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(MainWindowTest, HistoryViewerGetsTheDatabasePathAsItsOneArgument) {
  const auto viewer = scratch_ / "viewer with blank.sh";
  Write(viewer, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > \"$(dirname \"$0\")/args.txt\"\n");
  std::filesystem::permissions(viewer, std::filesystem::perms::owner_all);
  MainForm& form = Open("[PATH]\r\nLOGVIEWER=" + viewer.string() + "\r\nLOG=/data/my history.mdb\r\n");
  form.tlbMain_ButtonClick(QStringLiteral("MasteringLog"));
  const auto args = scratch_ / "args.txt";
  for (int i = 0; i < 200 && !std::filesystem::exists(args); ++i) QTest::qWait(10);
  QTest::qWait(20);
  std::ifstream in(args);
  std::string count, first;
  std::getline(in, count);
  std::getline(in, first);
  EXPECT_EQ(count, "1");
  EXPECT_EQ(first, "/data/my history.mdb");
}

}  // namespace
}  // namespace sorvel
