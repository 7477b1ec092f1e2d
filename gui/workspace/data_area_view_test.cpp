// The data-area view of the main window over the real mastering engine and
// temporary host trees: the add walk, refusals, rename, removal, the parent
// row, hidden entries, sizes, drops and keys; the tree filled in batches
// (order, expansion, scrolling) and the icons shared by nodes and rows.
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <random>

#include "gui/controls/color.h"
#include "gui/dialogs/property_iso_file.h"
#include "gui/workspace/main_form_fixture.h"
#include "testing/gui/modal_answer.h"

namespace sorvel {
namespace {

using testing::MainFormTest;
namespace fs = std::filesystem;

using DataAreaTest = MainFormTest;
using testing::NodeSpec;
using testing::Outline;
using testing::SortedByTheView;

// Every directory of the engine's layout as (parent key, name), in the
// engine's order, parents before children; the walk ends at the root.
QList<NodeSpec> EngineDirectories(Tazol& image, const QString& here = QStringLiteral("\\")) {
  QList<NodeSpec> specs;
  image.ChangeISODirectory(here);
  QStringList names;
  for (auto record = image.FindISOFirstFile(); record; record = image.FindISONextFile())
    if (record->IsDirectory && record->Name != u"." && record->Name != u"..") names << record->Name;
  for (const QString& name : names) {
    specs.append({MainForm::ToKeyForm(here), name});
    specs += EngineDirectories(image, here + name + u'\\');
  }
  image.ChangeISODirectory(QStringLiteral("\\"));
  return specs;
}

// Makes the directories (engine-form paths below the root, parents first).
void MakeDirectories(Tazol& image, const QStringList& paths) {
  for (const QString& path : paths) {
    const qsizetype cut = path.lastIndexOf(u'\\');
    ASSERT_TRUE(image.ChangeISODirectory(QStringLiteral("\\") + (cut < 0 ? QString() : path.left(cut)))) << path.toStdString();
    QString name = path.mid(cut + 1);
    ASSERT_TRUE(image.MakeISODirectory(name, 0, QDateTime::currentDateTime())) << path.toStdString();
  }
  image.ChangeISODirectory(QStringLiteral("\\"));
}

TEST_F(DataAreaTest, FolderWithSubfolderGetsNodesRowsAndKeepsTheStartDirectory) {
  MainForm& form = Open();
  Write(Host("src/a.txt"));
  Write(Host("src/sub/b.txt"), "bbbb");
  QString start = QStringLiteral("START");
  ASSERT_TRUE(form.mobjImageFile().MakeISODirectory(start, 0, QDateTime::currentDateTime()));
  form.AddDirectoryNode(QStringLiteral("/"), start);
  ASSERT_TRUE(form.mobjImageFile().ChangeISODirectory(start));

  form.AddPathToLayout(Q(Host("src")));
  Pump();
  EXPECT_TRUE(ui_.messages().isEmpty()) << MessageTexts().join(u';').toStdString();
  EXPECT_EQ(form.mobjImageFile().GetISOCurrentDirectory(), QStringLiteral("\\START\\"));
  EXPECT_EQ(NodeKeys(), (QStringList{"/", "/START/", "/START/src/", "/START/src/sub/"}));
  EXPECT_EQ(Rows(), (QStringList{QStringLiteral("親ディレクトリ|<DIR>"), QStringLiteral("src|<DIR>")}));
  EXPECT_EQ(form.trvDirectory()->currentItem(), form.DirectoryNode(QStringLiteral("/START/")));

  // Into the folder by double click on its row; Backspace goes back up.
  SelectOnly(QStringLiteral("src"));
  QTest::keyClick(form.lsvFiles(), Qt::Key_Return);
  Pump();
  EXPECT_EQ(form.mobjImageFile().GetISOCurrentDirectory(), QStringLiteral("\\START\\src\\"));
  EXPECT_EQ(Rows(), (QStringList{QStringLiteral("親ディレクトリ|<DIR>"), QStringLiteral("a.txt|4"),
                                 QStringLiteral("sub|<DIR>")}));
  EXPECT_EQ(form.trvDirectory()->currentItem(), form.DirectoryNode(QStringLiteral("/START/src/")));
  QTest::keyClick(form.lsvFiles(), Qt::Key_Backspace);
  QTest::keyClick(form.lsvFiles(), Qt::Key_Backspace);
  QTest::keyClick(form.lsvFiles(), Qt::Key_Backspace);  // at the root: nothing
  Pump();
  EXPECT_EQ(form.mobjImageFile().GetISOCurrentDirectory(), QStringLiteral("\\"));
  EXPECT_EQ(Rows(), QStringList{QStringLiteral("START|<DIR>")});

  // A node selected from code never moves the engine; a click does.
  form.trvDirectory()->setCurrentItem(form.DirectoryNode(QStringLiteral("/START/src/sub/")));
  Pump();
  EXPECT_EQ(form.mobjImageFile().GetISOCurrentDirectory(), QStringLiteral("\\"));
  QTreeWidgetItem* sub = form.DirectoryNode(QStringLiteral("/START/src/sub/"));
  form.trvDirectory()->scrollToItem(sub);
  QTest::mouseClick(form.trvDirectory()->viewport(), Qt::LeftButton, {},
                    form.trvDirectory()->visualItemRect(sub).center());
  Pump();
  EXPECT_EQ(form.mobjImageFile().GetISOCurrentDirectory(), QStringLiteral("\\START\\src\\sub\\"));
  EXPECT_EQ(Rows(), (QStringList{QStringLiteral("親ディレクトリ|<DIR>"), QStringLiteral("b.txt|4")}));
}

TEST_F(DataAreaTest, MissingRefusedAndRenamedEntriesAreReportedAndTheWalkGoesOn) {
  MainForm& form = Open();
  form.cboFileSystem()->setCurrentIndex(0);  // Level 1: names become 8.3
  Write(Host("in/long file name.text"));
  Write(Host("in/ok.txt"));
  Write(Host("in/tab\tname.txt"));
  Write(Host("in/line\nfeed.txt"));
  ASSERT_EQ(::mkfifo((Host("in/pipe")).c_str(), 0600), 0);
  fs::create_directory_symlink(Host("in"), Host("in/loop"));
  const QString in = Q(Host("in"));

  form.AddPathToLayout(Q(Host("nothing-here")));
  form.AddPathToLayout(in);  // a FIFO would block a reader, a loop would never end
  Pump();
  // In the walk's order (names sorted by their bytes); Level 1 renames every entry.
  auto renamed = [&](const char* kind, const QString& from, const QString& to) {
    return QString::fromUtf8(kind) + QStringLiteral(" '") + from + QStringLiteral("' は\r\n'") + to +
           QStringLiteral("' に置換されました。");
  };
  EXPECT_EQ(MessageTexts(),
            (QStringList{Q(Host("nothing-here")) + QStringLiteral(" は見つかりません。"),
                         renamed("ディレクトリ名", in, QStringLiteral("IN")),
                         QStringLiteral("ファイル ") + in + QStringLiteral("/line\nfeed.txt は追加できません。"),
                         renamed("ファイル名", in + QStringLiteral("/long file name.text"), QStringLiteral("LONG_F~1.TEX")),
                         QStringLiteral("ディレクトリ loop は作成できません。"),
                         renamed("ファイル名", in + QStringLiteral("/ok.txt"), QStringLiteral("OK.TXT")),
                         QStringLiteral("ファイル ") + in + QStringLiteral("/pipe は追加できません。"),
                         QStringLiteral("ファイル ") + in + QStringLiteral("/tab\tname.txt は追加できません。")}));
  for (const testing::ShownMessage& m : ui_.messages()) {
    EXPECT_EQ(m.style, 48);
    EXPECT_EQ(m.caption, QStringLiteral("Sorvel"));
  }
  EXPECT_EQ(form.mobjImageFile().GetISOCurrentDirectory(), QStringLiteral("\\"));
  ASSERT_TRUE(form.mobjImageFile().ChangeISODirectory(QStringLiteral("IN")));
  int files = 0;
  for (auto r = form.mobjImageFile().FindISOFirstFile(); r; r = form.mobjImageFile().FindISONextFile())
    if (!r->IsDirectory) ++files;
  EXPECT_EQ(files, 2);  // the renamed one and ok.txt
}

TEST_F(DataAreaTest, NewDirectoryNamesCountUpAndTheNewRowStaysInEdit) {
  MainForm& form = Open();
  QTest::keyClick(form.lsvFiles(), Qt::Key_K);
  Pump();
  ASSERT_NE(Row(QStringLiteral("NewDirectory")), nullptr);
  form.mnuWellMakeDirectory_Click();
  EXPECT_FALSE(form.tmrChangeFile()->isActive());
  Pump();
  QTreeWidgetItem* row = Row(QStringLiteral("NewDirectory(1)"));
  ASSERT_NE(row, nullptr);
  EXPECT_TRUE(row->isSelected());
  auto* editor = qobject_cast<QLineEdit*>(form.lsvFiles()->indexWidget(form.lsvFiles()->indexFromItem(row)));
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(editor->text(), QStringLiteral("NewDirectory(1)"));
  EXPECT_NE(form.DirectoryNode(QStringLiteral("/NewDirectory(1)/")), nullptr);
}

// The path tables number a directory's parent in 16 bits: the folder that
// would be the 65,536th directory with the root is refused naming the limit,
// as is a new directory, and a removal makes room again. Once the engine took
// them all and the burn said the layout was empty.
TEST_F(DataAreaTest, DirectoriesBeyondThePathTablesAreRefusedNamingTheLimit) {
  MainForm& form = Open();
  Tazol& image = form.mobjImageFile();
  // The root, "fill" and 65,532 directories in it: one short of the limit.
  QString fill = QStringLiteral("fill");
  ASSERT_TRUE(image.MakeISODirectory(fill, 0, QDateTime::currentDateTime()));
  ASSERT_TRUE(image.ChangeISODirectory(fill));
  for (int i = 3; i < Tazol::kMaxDirectories; ++i) {
    QString name = QStringLiteral("D%1").arg(i);
    ASSERT_TRUE(image.MakeISODirectory(name, 0, QDateTime::currentDateTime())) << i;
  }
  ASSERT_TRUE(image.ChangeISODirectory(QStringLiteral("\\")));
  Write(Host("two/sub/s.txt"));
  form.AddPathToLayout(Q(Host("two")));
  Pump();
  const QString limit = QStringLiteral("ISO 9660 のディレクトリはルートを含めて 65535 個までです。");
  EXPECT_EQ(MessageTexts(), QStringList{QStringLiteral("ディレクトリ sub は作成できません。") + limit});
  ui_.Clear();
  form.mnuWellMakeDirectory_Click();
  EXPECT_EQ(MessageTexts(), QStringList{QStringLiteral("新しいディレクトリは作成できませんでした。") + limit});
  ui_.Clear();
  // One removed: the count is taken anew and one more goes in.
  ASSERT_TRUE(image.ChangeISODirectory(fill));
  ASSERT_TRUE(image.RemoveISOFile(QStringLiteral("D3")));
  ASSERT_TRUE(image.ChangeISODirectory(QStringLiteral("\\two")));
  EXPECT_FALSE(image.DirectoriesFull());
  EXPECT_EQ(image.GetISOCurrentDirectory(), QStringLiteral("\\two\\"));
  form.AddPathToLayout(Q(Host("two/sub")));
  Pump();
  EXPECT_TRUE(MessageTexts().isEmpty()) << MessageTexts().join(u';').toStdString();
  EXPECT_TRUE(image.DirectoriesFull());
}

TEST_F(DataAreaTest, RenameKeepsUnchangedNamesRekeysSubtreesAndReportsRefusalsAfterTheEdit) {
  MainForm& form = Open();
  Write(Host("d/e/f.txt"));
  Write(Host("x.txt"));
  form.AddPathToLayout(Q(Host("d")));
  form.AddPathToLayout(Q(Host("x.txt")));
  Pump();
  ASSERT_TRUE(ui_.messages().isEmpty());

  auto rename = [&](const QString& row_text, const QString& typed) {
    SelectOnly(row_text);
    QTest::keyClick(form.lsvFiles(), Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(form.lsvFiles()->indexWidget(form.lsvFiles()->indexFromItem(Row(row_text))));
    ASSERT_NE(editor, nullptr);
    editor->setText(typed);
    QTest::keyClick(editor, Qt::Key_Return);
    Pump();
  };
  // Enter on the unchanged name is a cancel, not a refused rename.
  rename(QStringLiteral("x.txt"), QStringLiteral("x.txt"));
  EXPECT_TRUE(ui_.messages().isEmpty());
  // An existing name: the box comes after the editor has closed.
  ui_.on_message = [&](const testing::ShownMessage&) {
    EXPECT_EQ(form.lsvFiles()->indexWidget(form.lsvFiles()->indexFromItem(Row(QStringLiteral("x.txt")))), nullptr);
  };
  rename(QStringLiteral("x.txt"), QStringLiteral("d"));
  ui_.on_message = nullptr;
  EXPECT_EQ(MessageTexts(), QStringList{QStringLiteral("指定ファイル名は既に存在するか、または不正です。")});
  EXPECT_NE(Row(QStringLiteral("x.txt")), nullptr);

  rename(QStringLiteral("d"), QStringLiteral("renamed"));
  EXPECT_EQ(Rows(), (QStringList{QStringLiteral("renamed|<DIR>"), QStringLiteral("x.txt|4")}));
  EXPECT_EQ(NodeKeys(), (QStringList{"/", "/renamed/", "/renamed/e/"}));
  // The re-keyed child node still finds its directory.
  QTreeWidgetItem* e = form.DirectoryNode(QStringLiteral("/renamed/e/"));
  ASSERT_NE(e, nullptr);
  form.trvDirectory()->scrollToItem(e);
  QTest::mouseClick(form.trvDirectory()->viewport(), Qt::LeftButton, {}, form.trvDirectory()->visualItemRect(e).center());
  Pump();
  EXPECT_EQ(form.mobjImageFile().GetISOCurrentDirectory(), QStringLiteral("\\renamed\\e\\"));
  EXPECT_EQ(form.trvDirectory()->currentItem(), e);
  // The parent row is never edited.
  SelectOnly(QStringLiteral("親ディレクトリ"));
  QTest::keyClick(form.lsvFiles(), Qt::Key_R);
  EXPECT_EQ(form.lsvFiles()->indexWidget(form.lsvFiles()->indexFromItem(Row(QStringLiteral("親ディレクトリ")))), nullptr);
}

TEST_F(DataAreaTest, RemoveNeverTakesTheParentRowAndTheLastRemovalDropsTheRoot) {
  MainForm& form = Open();
  Write(Host("top/親ディレクトリ"));
  Write(Host("top/keep.txt"));
  form.AddPathToLayout(Q(Host("top")));
  ASSERT_TRUE(form.mobjImageFile().ChangeISODirectory(QStringLiteral("top")));
  Pump();
  ASSERT_EQ(Rows().size(), 3);

  // The parent row selected: the entry of the same text stays.
  SelectOnly(QStringLiteral("親ディレクトリ"));
  EXPECT_EQ(form.lsvFiles()->currentItem()->data(0, kRowKindRole).toString(), QStringLiteral("DirUp"));
  ui_.QueueAnswer(kIdYes);
  QTest::keyClick(form.lsvFiles(), Qt::Key_Delete);
  Pump();
  ASSERT_EQ(ui_.messages().size(), 1);
  EXPECT_EQ(ui_.messages()[0].text, QStringLiteral("選択されているファイルを削除します。よろしいですか。"));
  EXPECT_EQ(ui_.messages()[0].style, 36);
  EXPECT_EQ(Rows().size(), 3);

  // Properties of the parent row open nothing.
  form.mnuWellProperty_Click();

  // No: nothing removed.
  form.lsvFiles()->selectAll();
  QTest::keyClick(form.lsvFiles(), Qt::Key_D);
  Pump();
  EXPECT_EQ(Rows().size(), 3);
  // Yes with every row selected: both entries go, the parent row stays.
  ui_.QueueAnswer(kIdYes);
  form.lsvFiles()->selectAll();
  form.mnuWellRemove_Click();
  Pump();
  EXPECT_EQ(Rows(), QStringList{QStringLiteral("親ディレクトリ|<DIR>")});
  EXPECT_EQ(NodeKeys(), (QStringList{"/", "/top/"}));

  QTest::keyClick(form.lsvFiles(), Qt::Key_Backspace);
  Pump();
  ui_.QueueAnswer(kIdYes);
  SelectOnly(QStringLiteral("top"));
  form.mnuWellRemove_Click();
  Pump();
  EXPECT_TRUE(form.mobjImageFile().IsISOEmpty());
  EXPECT_TRUE(NodeKeys().isEmpty());
  // The next add makes the root again.
  form.AddPathToLayout(Q(Host("top/keep.txt")));
  EXPECT_EQ(NodeKeys(), QStringList{"/"});
}

TEST_F(DataAreaTest, RemovingSeveralRowsDropsTheNodesOfTheRemovedDirectoriesOnly) {
  MainForm& form = Open();
  for (const char* name : {"top/a/x/f", "top/b/y/f", "top/c/f", "top/ab/f", "top/f", "other/a/f"}) Write(Host(name));
  form.AddPathToLayout(Q(Host("top")));
  form.AddPathToLayout(Q(Host("other")));
  ASSERT_TRUE(form.mobjImageFile().ChangeISODirectory(QStringLiteral("top")));
  Pump();
  form.lsvFiles()->clearSelection();
  for (const char* name : {"a", "c", "f"}) Row(QString::fromUtf8(name))->setSelected(true);
  ui_.QueueAnswer(kIdYes);
  form.mnuWellRemove_Click();
  Pump();
  // "a" and its subtree went; "ab", "b" with its subtree, and "a" elsewhere stayed.
  EXPECT_EQ(NodeKeys(), (QStringList{"/", "/other/", "/other/a/", "/top/", "/top/ab/", "/top/b/", "/top/b/y/"}));
  EXPECT_EQ(Rows(), (QStringList{QStringLiteral("親ディレクトリ|<DIR>"), "ab|<DIR>", "b|<DIR>"}));
  EXPECT_EQ(form.mobjImageFile().GetISOCurrentDirectory(), QStringLiteral("\\top\\"));
}

TEST_F(DataAreaTest, HiddenRowsAreGreyAndRecolouredAfterThePropertyDialog) {
  MainForm& form = Open();
  Write(Host(".secret"));
  Write(Host("plain"));
  form.AddPathToLayout(Q(Host(".secret")));
  form.AddPathToLayout(Q(Host("plain")));
  Pump();
  const QColor grey = ResolveColor(kSysGrayText, form.lsvFiles()->palette());
  const QColor normal = ResolveColor(kSysWindowText, form.lsvFiles()->palette());
  ASSERT_NE(grey, normal);
  EXPECT_EQ(Row(QStringLiteral(".secret"))->foreground(0).color(), grey);
  EXPECT_EQ(Row(QStringLiteral("plain"))->foreground(0).color(), normal);

  SelectOnly(QStringLiteral(".secret"));
  testing::WhenModalShown([](QWidget* w) {
    auto* dialog = qobject_cast<PropertyISOFile*>(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->chkHidden()->isChecked());
    dialog->chkHidden()->setChecked(false);
    dialog->cmdOK()->click();
  });
  form.mnuWellProperty_Click();
  EXPECT_EQ(Row(QStringLiteral(".secret"))->foreground(0).color(), normal);
  SelectOnly(QStringLiteral("plain"));
  testing::WhenModalShown([](QWidget* w) {
    auto* dialog = qobject_cast<PropertyISOFile*>(w);
    ASSERT_NE(dialog, nullptr);
    dialog->chkHidden()->setChecked(true);
    dialog->cmdOK()->click();
  });
  form.tlbFiles_ButtonClick(QStringLiteral("Property"));
  EXPECT_EQ(Row(QStringLiteral("plain"))->foreground(0).color(), grey);
}

TEST_F(DataAreaTest, LargeFileSizeIsShownUnsignedWithCommas) {
  MainForm& form = Open();
  {
    std::ofstream(Host("big.img"), std::ios::binary);
  }
  fs::resize_file(Host("big.img"), 3221225472ULL);
  form.AddPathToLayout(Q(Host("big.img")));
  Pump();
  EXPECT_EQ(Rows(), QStringList{QStringLiteral("big.img|3,221,225,472")});
}

TEST_F(DataAreaTest, UrlDropsAddInOrderAndTextDropsAreIgnored) {
  MainForm& form = Open();
  Write(Host("one"));
  Write(Host("two"));
  Write(Host("three"));
  QWidget* viewport = form.lsvFiles()->viewport();
  auto drop = [&](QMimeData* data) {
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    const bool accepted = enter.isAccepted();
    QDropEvent event(QPointF(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &event);
    return accepted;
  };
  QMimeData text;
  text.setText(Q(Host("one")));
  EXPECT_FALSE(drop(&text));
  Pump();
  EXPECT_TRUE(form.mobjImageFile().IsISOEmpty());

  // The engine lists its entries sorted; the order of the walk shows in its messages.
  QMimeData files;
  files.setUrls({QUrl::fromLocalFile(Q(Host("two"))), QUrl::fromLocalFile(Q(Host("gone-b"))),
                 QUrl::fromLocalFile(Q(Host("one"))), QUrl::fromLocalFile(Q(Host("gone-a"))),
                 QUrl::fromLocalFile(Q(Host("three")))});
  form.StatusPanel()->setText(QStringLiteral("busy"));
  EXPECT_TRUE(drop(&files));
  Pump();
  EXPECT_EQ(MessageTexts(), (QStringList{Q(Host("gone-b")) + QStringLiteral(" は見つかりません。"),
                                         Q(Host("gone-a")) + QStringLiteral(" は見つかりません。")}));
  EXPECT_EQ(Rows(), (QStringList{"one|4", "three|4", "two|4"}));
  EXPECT_TRUE(form.StatusPanel()->text().isEmpty());
}

TEST_F(DataAreaTest, CtrlAAddsFilesShiftAAddsAFoldersContents) {
  MainForm& form = Open();
  Write(Host("f1"));
  Write(Host("f2"));
  Write(Host("dir/inner"));
  ui_.QueueOpenFiles({Q(Host("f1")), Q(Host("f2"))});
  QTest::keyClick(form.lsvFiles(), Qt::Key_A, Qt::ControlModifier);
  Pump();
  ASSERT_EQ(ui_.dialogs().size(), 1);
  EXPECT_EQ(ui_.dialogs()[0].filter, QStringLiteral("すべてのファイル(*.*)|*.*"));
  EXPECT_EQ(ui_.dialogs()[0].flags, 0x81A04);
  EXPECT_EQ(Rows(), (QStringList{"f1|4", "f2|4"}));

  ui_.QueueFolder(Q(Host("dir")));
  QTest::keyClick(form.lsvFiles(), Qt::Key_A, Qt::ShiftModifier);
  Pump();
  ASSERT_EQ(ui_.dialogs().size(), 2);
  EXPECT_EQ(ui_.dialogs()[1].filter, QStringLiteral("追加するファイルのあるディレクトリを指定してください。"));
  EXPECT_EQ(Rows(), (QStringList{"f1|4", "f2|4", "inner|4"}));

  ui_.QueueFolder(Q(Host("dir")));
  QTest::keyClick(form.lsvFiles(), Qt::Key_Insert, Qt::ShiftModifier | Qt::ControlModifier);
  Pump();
  EXPECT_EQ(ui_.dialogs()[2].filter, QStringLiteral("追加するディレクトリを指定してください。"));
  EXPECT_EQ(Rows(), (QStringList{"dir|<DIR>", "f1|4", "f2|4", "inner|4"}));
  EXPECT_NE(form.DirectoryNode(QStringLiteral("/dir/")), nullptr);
}

TEST_F(DataAreaTest, ClearAsksAndTheContextMenuOffersTheDataAreaCommands) {
  MainForm& form = Open();
  Write(Host("f"));
  form.AddPathToLayout(Q(Host("f")));
  Pump();
  form.mnuWellClear_Click();  // No
  EXPECT_FALSE(form.mobjImageFile().IsISOEmpty());
  EXPECT_EQ(ui_.LastText(), QStringLiteral("配置されたファイルを全て削除します。よろしいですか。"));
  ui_.QueueMenuChoice(7);  // クリア(&C), the seventh command offered
  ui_.QueueAnswer(kIdYes);
  emit form.lsvFiles()->customContextMenuRequested(QPoint(3, 3));
  Pump();
  ASSERT_EQ(ui_.menus().size(), 1);
  QStringList texts;
  for (const auto& entry : ui_.menus()[0].entries) texts << entry.text;
  EXPECT_EQ(texts, (QStringList{QStringLiteral("ファイルの追加(&A)..."), QStringLiteral("ディレクトリの追加(&F)..."),
                                QStringLiteral("ディレクトリ内ファイルの追加(&I)..."), QStringLiteral("名前の変更(&R)"),
                                QStringLiteral("削除(&D)"), QStringLiteral("新規ディレクトリ(&K)"), QStringLiteral("-"),
                                QStringLiteral("クリア(&C)"), QStringLiteral("-"), QStringLiteral("プロパティ(&P)...")}));
  EXPECT_TRUE(form.mobjImageFile().IsISOEmpty());
  EXPECT_TRUE(form.txtLabel()->text().startsWith(QStringLiteral("VOL_")));
}

}  // namespace
}  // namespace sorvel

namespace sorvel {
namespace {

TEST_F(DataAreaTest, PathsTheEnginesRecordWouldCutAreRefused) {
  MainForm& form = Open();
  fs::path deep = Host("deep");
  while (deep.string().size() < 1000) deep /= std::string(100, 'd');
  Write(deep / std::string(40, 'f'));
  const QString file = Q(deep / std::string(40, 'f'));
  ASSERT_GE(file.toUtf8().size(), 1024);
  form.AddPathToLayout(file);
  EXPECT_EQ(MessageTexts(), QStringList{QStringLiteral("ファイル ") + file + QStringLiteral(" は追加できません。")});
  EXPECT_TRUE(form.mobjImageFile().IsISOEmpty());
}

TEST_F(DataAreaTest, RebuildMakesEveryNodeAndEndsAtTheRoot) {
  MainForm& form = Open();
  Tazol& image = form.mobjImageFile();
  const QDateTime now = QDateTime::currentDateTime();
  for (const char* path : {"b", "a", "a\\y", "a\\x", "a\\x\\deep"}) {
    const QString full = QString::fromLatin1(path);
    const qsizetype cut = full.lastIndexOf(u'\\');
    ASSERT_TRUE(image.ChangeISODirectory(QStringLiteral("\\") + (cut < 0 ? QString() : full.left(cut))));
    QString name = full.mid(cut + 1);
    ASSERT_TRUE(image.MakeISODirectory(name, 0, now));
  }
  form.trvDirectory()->clear();
  form.RebuildDirectoryTree();
  EXPECT_EQ(image.GetISOCurrentDirectory(), QStringLiteral("\\"));
  EXPECT_EQ(NodeKeys(), (QStringList{"/", "/a/", "/a/x/", "/a/x/deep/", "/a/y/", "/b/"}));
}

// Whether the tree is rebuilt from the engine, fed one node at a time, or
// half of each (new nodes then land among existing ones), its nodes stand in
// the order the view's own sort gives them.
TEST_F(DataAreaTest, NodesStandInTheOrderTheViewsOwnSortGives) {
  MainForm& form = Open();
  Tazol& image = form.mobjImageFile();
  const QList<QStringList> cases = {
      // The engine refuses names that differ in case only; the view's order is case-sensitive.
      {"b", "a", "C", "aa", "a b", "a_b", "a-b", "a.b", "B1", "Ab", "_"},
      {"10", "9", "1", "100", "2", "01", QStringLiteral("１"), "9a"},
      {QStringLiteral("日本"), "abc", QStringLiteral("テスト"), QStringLiteral("ｶﾅ"), "_x", "~y", "Zeta", "zz"},
      {"p", "p\\z", "p\\Y", "p\\x", "Q", "Q\\m", "Q\\N", "p\\Y\\2", "p\\Y\\1", "0"},
  };
  for (const QStringList& paths : cases) {
    SCOPED_TRACE(paths.join(u',').toStdString());
    form.ClearLayout();
    MakeDirectories(image, paths);
    const QList<NodeSpec> specs = EngineDirectories(image);
    ASSERT_EQ(specs.size(), paths.size());
    const QStringList expected = SortedByTheView(specs);

    form.trvDirectory()->clear();
    form.RebuildDirectoryTree();
    EXPECT_EQ(Outline(form.trvDirectory()), expected);

    // One at a time, in the reverse of the engine's order within each folder.
    form.trvDirectory()->clear();
    QList<NodeSpec> reversed = specs;
    std::stable_sort(reversed.begin(), reversed.end(), [](const NodeSpec& a, const NodeSpec& b) { return a.first.size() < b.first.size(); });
    for (qsizetype i = reversed.size() - 1; i >= 0; --i) {
      // Parents first: a node whose parent has none yet is skipped by the window, so add in depth order.
      (void)i;
    }
    for (qsizetype depth_end = 0; depth_end < reversed.size();) {
      qsizetype depth_begin = depth_end;
      while (depth_end < reversed.size() && reversed[depth_end].first.size() == reversed[depth_begin].first.size()) ++depth_end;
      for (qsizetype i = depth_end - 1; i >= depth_begin; --i) form.AddDirectoryNode(reversed[i].first, reversed[i].second);
    }
    EXPECT_EQ(Outline(form.trvDirectory()), expected);

    // Half there, the rebuild adds the rest among them; nodes that exist stay single.
    form.trvDirectory()->clear();
    for (qsizetype i = 0; i < specs.size(); i += 2)
      if (form.DirectoryNode(specs[i].first) != nullptr || specs[i].first == u"/") form.AddDirectoryNode(specs[i].first, specs[i].second);
    form.RebuildDirectoryTree();
    EXPECT_EQ(Outline(form.trvDirectory()), expected);
    EXPECT_EQ(image.GetISOCurrentDirectory(), QStringLiteral("\\"));
  }
}

TEST_F(DataAreaTest, ParentsOpenAndTheNodeAddedLastIsScrolledIntoView) {
  MainForm& form = Open();
  QTreeWidget* tree = form.trvDirectory();
  QStringList names;
  for (int i = 0; i < 400; ++i) names << QStringLiteral("n%1").arg(i, 3, 10, QLatin1Char('0'));
  std::shuffle(names.begin(), names.end(), std::mt19937(40));
  // The last one added sorts into the middle, far from both ends of a long list.
  names.removeAll(QStringLiteral("n200"));
  names << QStringLiteral("n200");
  for (const QString& name : names) form.AddDirectoryNode(QStringLiteral("/"), name);
  form.AddDirectoryNode(QStringLiteral("/n200/"), QStringLiteral("inner"));
  Pump();
  QTreeWidgetItem* inner = form.DirectoryNode(QStringLiteral("/n200/inner/"));
  ASSERT_NE(inner, nullptr);
  const QRect viewport = tree->viewport()->rect();
  EXPECT_TRUE(viewport.contains(tree->visualItemRect(inner)));
  EXPECT_FALSE(viewport.intersects(tree->visualItemRect(form.DirectoryNode(QStringLiteral("/n000/")))));
  EXPECT_FALSE(viewport.intersects(tree->visualItemRect(form.DirectoryNode(QStringLiteral("/n399/")))));
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    EXPECT_EQ((*it)->isExpanded(), (*it)->childCount() > 0) << (*it)->data(0, kNodeKeyRole).toString().toStdString();

  // A folder added later through the add command opens its parent the same way.
  Write(Host("late/deeper/file.txt"));
  form.AddPathToLayout(Q(Host("late")));
  Pump();
  for (const char* key : {"/", "/late/"}) EXPECT_TRUE(form.DirectoryNode(QString::fromLatin1(key))->isExpanded()) << key;
  EXPECT_FALSE(form.DirectoryNode(QStringLiteral("/late/deeper/"))->isExpanded());
  EXPECT_TRUE(viewport.contains(tree->visualItemRect(form.DirectoryNode(QStringLiteral("/")))));
}

TEST_F(DataAreaTest, ARenamedDirectoryMovesToItsPlaceWithItsSubtreeOpenAndCurrent) {
  MainForm& form = Open();
  Tazol& image = form.mobjImageFile();
  MakeDirectories(image, {"a", "b", "b\\child", "c"});
  form.trvDirectory()->clear();
  form.RebuildDirectoryTree();
  form.trvDirectory()->setCurrentItem(form.DirectoryNode(QStringLiteral("/b/")));
  QString engine_name = QStringLiteral("zz");
  ASSERT_TRUE(image.RenameISOFile(QStringLiteral("b"), engine_name));
  form.RenameDirectoryNode(QStringLiteral("b"), engine_name);
  EXPECT_EQ(Outline(form.trvDirectory()), (QStringList{"/", " a", " c", " zz", "  child"}));
  EXPECT_EQ(NodeKeys(), (QStringList{"/", "/a/", "/c/", "/zz/", "/zz/child/"}));
  QTreeWidgetItem* renamed = form.DirectoryNode(QStringLiteral("/zz/"));
  ASSERT_NE(renamed, nullptr);
  EXPECT_TRUE(renamed->isExpanded());
  EXPECT_EQ(form.trvDirectory()->currentItem(), renamed);
  // To the front: capitals sort before small letters in the view's order.
  engine_name = QStringLiteral("B");
  ASSERT_TRUE(image.RenameISOFile(QStringLiteral("zz"), engine_name));
  form.RenameDirectoryNode(QStringLiteral("zz"), engine_name);
  EXPECT_EQ(Outline(form.trvDirectory()), (QStringList{"/", " B", "  child", " a", " c"}));
}

TEST_F(DataAreaTest, NodesAndRowsOfOneKindShareOneIcon) {
  MainForm& form = Open();
  Write(Host("top/one/a.txt"));
  Write(Host("top/two/b.txt"));
  Write(Host("top/c.txt"));
  Write(Host("top/d.txt"));
  form.AddPathToLayout(Q(Host("top")));
  ASSERT_TRUE(form.mobjImageFile().ChangeISODirectory(QStringLiteral("top")));
  Pump();
  ASSERT_TRUE(ui_.messages().isEmpty());
  auto key_of_node = [&](const char* key) { return form.DirectoryNode(QString::fromLatin1(key))->icon(0).cacheKey(); };
  auto key_of_row = [&](const char* text) { return Row(QString::fromUtf8(text))->icon(0).cacheKey(); };
  const qint64 dir = key_of_node("/top/");
  EXPECT_EQ(key_of_node("/top/one/"), dir);
  EXPECT_EQ(key_of_node("/top/two/"), dir);
  EXPECT_EQ(key_of_row("one"), dir);
  EXPECT_EQ(key_of_row("two"), dir);
  EXPECT_EQ(key_of_row("c.txt"), key_of_row("d.txt"));
  EXPECT_NE(key_of_row("c.txt"), dir);
  EXPECT_NE(key_of_node("/"), dir);
  EXPECT_NE(key_of_row("親ディレクトリ"), dir);
  // A rebuilt list takes the same objects again.
  form.RefreshFileList();
  EXPECT_EQ(key_of_row("one"), dir);
}

}  // namespace
}  // namespace sorvel
