#include "gui/foundation/file_dialog.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QTest>

#include "gui/foundation/qt_modal_ui.h"
#include "testing/gui/modal_answer.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

struct FilterCase {
  const char* filter;
  QStringList expected;
};

class ConvertDialogFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(ConvertDialogFilterTest, Converts) {
  EXPECT_EQ(ConvertDialogFilter(QString::fromUtf8(GetParam().filter)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, ConvertDialogFilterTest,
    ::testing::Values(
        FilterCase{"ログファイル(*.log)|*.log", {QStringLiteral("ログファイル(*.log) (*.log)")}},
        FilterCase{"互換イメージ (*.img,*.iso)|*.img;*.iso|全てのファイル (*.*)|*.*",
                   {QStringLiteral("互換イメージ (*.img,*.iso) (*.img *.iso)"), QStringLiteral("全てのファイル (*.*) (*)")}},
        FilterCase{"", {}},
        // A description without its pattern shows every file.
        FilterCase{"音声|*.wav; *.mp3 |説明だけ", {QStringLiteral("音声 (*.wav *.mp3)"), QStringLiteral("説明だけ (*)")}},
        FilterCase{"|*.cue", {QStringLiteral("*.cue (*.cue)")}}));

TEST(DefaultSuffixTest, TakenFromTheNamePartOnly) {
  EXPECT_EQ(DefaultSuffixOf(QStringLiteral("Image.cue")), QStringLiteral("cue"));
  EXPECT_EQ(DefaultSuffixOf(QStringLiteral("/home/u/a.b/name")), QString());
  EXPECT_EQ(DefaultSuffixOf(QStringLiteral("/home/u/a.b/name.tar.gz")), QStringLiteral("gz"));
  EXPECT_EQ(DefaultSuffixOf(QStringLiteral("20110503142525.log")), QStringLiteral("log"));
  EXPECT_EQ(DefaultSuffixOf(QString()), QString());
}

// Choosing the second filter of a save dialog makes its suffix the one a bare
// name gets; a filter of every file keeps the last one.
TEST(DefaultSuffixTest, FollowsTheChosenFilter) {
  EXPECT_EQ(SuffixOfNameFilter(QStringLiteral("CCDファイル(*.ccd) (*.ccd)")), QStringLiteral("ccd"));
  EXPECT_EQ(SuffixOfNameFilter(QStringLiteral("all (*)")), QString());
  EXPECT_EQ(SuffixOfNameFilter(QStringLiteral("x (*.c?d)")), QString());
  EXPECT_EQ(SuffixOfNameFilter(QStringLiteral("none")), QString());
  auto dialog = MakeFileDialog(nullptr, FileDialogKind::kSave,
                               QStringLiteral("CUEファイル(*.cue)|*.cue|CCDファイル(*.ccd)|*.ccd|全て|*.*"),
                               QStringLiteral("Image.cue"), kOfnOverwritePrompt);
  EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("cue"));
  const QStringList filters = dialog->nameFilters();
  ASSERT_EQ(filters.size(), 3);
  dialog->selectNameFilter(filters[1]);
  emit dialog->filterSelected(filters[1]);
  EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("ccd"));
  emit dialog->filterSelected(filters[2]);
  EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("ccd"));
}

void Touch(const std::filesystem::path& path) {
  QFile f(QString::fromStdString(path.string()));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

// Names the dialog's file list shows, once it has read the folder.
// The names the dialog lists once `expected` rows are there (the directory is
// read on a thread of its own), or after 5 s.
QSet<QString> ListedNames(QFileDialog& dialog, int expected) {
  auto* view = dialog.findChild<QAbstractItemView*>(QStringLiteral("listView"));
  EXPECT_NE(view, nullptr);
  QSet<QString> names;
  if (view == nullptr) return names;
  QAbstractItemModel* model = view->model();
  // The root is asked for each time: a filtering model's indexes do not
  // outlive a change of its rows.
  for (int attempt = 0; attempt < 500 && model->rowCount(view->rootIndex()) < expected; ++attempt) QTest::qWait(10);
  QTest::qWait(50);
  const QModelIndex root = view->rootIndex();
  for (int row = 0; row < model->rowCount(root); ++row) names.insert(model->index(row, 0, root).data().toString());
  return names;
}

TEST(FileDialogTest, PatternsMatchWithoutRegardToCase) {
  testing::ScratchDir dir;
  for (const char* name : {"a.iso", "B.ISO", "c.Iso", "d.img", "e.txt"}) Touch(dir / name);
  QString folder = QString::fromStdString(dir.path().string()) + QLatin1Char('/');
  auto dialog = MakeFileDialog(nullptr, FileDialogKind::kOpen,
                               QStringLiteral("互換イメージ (*.img,*.iso)|*.img;*.iso|全てのファイル (*.*)|*.*"),
                               folder + QStringLiteral("a.iso"), 0x1800);
  dialog->show();
  EXPECT_EQ(ListedNames(*dialog, 4), (QSet<QString>{"a.iso", "B.ISO", "c.Iso", "d.img"}));
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("ファイルを開く"));
  EXPECT_EQ(QDir(dialog->directory()).canonicalPath(), QDir(folder).canonicalPath());
  dialog->close();
}

// The program chooser lists the files the user may run, and folders to go
// through; other files are not offered.
TEST(FileDialogTest, ExecutablesOnlyWhenAsked) {
  testing::ScratchDir dir;
  for (const char* name : {"viewer", "notes.txt", "script.sh", "data.exe"}) Touch(dir / name);
  std::filesystem::create_directory(dir / "bin");
  namespace fs = std::filesystem;
  fs::permissions(dir / "viewer", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  fs::permissions(dir / "script.sh", fs::perms::owner_read | fs::perms::owner_exec);
  const QString folder = QString::fromStdString(dir.path().string()) + QLatin1Char('/');
  struct Case {
    int flags;
    QSet<QString> listed;
  };
  for (const Case& c : {Case{0x1800 | kFileDialogExecutables, {"bin", "viewer", "script.sh"}},
                        Case{0x1800, {"bin", "viewer", "script.sh", "notes.txt", "data.exe"}}}) {
    auto dialog = MakeFileDialog(nullptr, FileDialogKind::kOpen, QStringLiteral("マスタリング履歴閲覧プログラム|*"),
                                 folder, c.flags);
    dialog->show();
    EXPECT_EQ(ListedNames(*dialog, static_cast<int>(c.listed.size())), c.listed) << c.flags;
    EXPECT_EQ(dialog->nameFilters(), QStringList{QStringLiteral("マスタリング履歴閲覧プログラム (*)")});
    dialog->close();
  }
}

TEST(FileDialogTest, FlagsChooseTheMode) {
  auto open_one = MakeFileDialog(nullptr, FileDialogKind::kOpen, QStringLiteral("a|*.a"), QString(), 0x1800);
  EXPECT_EQ(open_one->fileMode(), QFileDialog::ExistingFile);
  auto open_many = MakeFileDialog(nullptr, FileDialogKind::kOpen, QStringLiteral("a|*.a"), QString(), 0x81A04);
  EXPECT_EQ(open_many->fileMode(), QFileDialog::ExistingFiles);
  auto save = MakeFileDialog(nullptr, FileDialogKind::kSave, QStringLiteral("CUE|*.cue"),
                             QStringLiteral("Image.cue"), 0x806);
  EXPECT_EQ(save->acceptMode(), QFileDialog::AcceptSave);
  EXPECT_EQ(save->windowTitle(), QStringLiteral("名前を付けて保存"));
  EXPECT_EQ(save->defaultSuffix(), QStringLiteral("cue"));
  EXPECT_FALSE(save->testOption(QFileDialog::DontConfirmOverwrite));
  auto save_silent = MakeFileDialog(nullptr, FileDialogKind::kSave, QString(), QStringLiteral("x"), 0);
  EXPECT_TRUE(save_silent->testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_EQ(save_silent->defaultSuffix(), QString());
}

// Types `text` into the dialog's file name box and accepts it.
void TypeAndAccept(QWidget* widget, const QString& text) {
  auto* dialog = qobject_cast<QFileDialog*>(widget);
  ASSERT_NE(dialog, nullptr);
  auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(edit, nullptr);
  edit->setText(text);
  QTest::keyClick(edit, Qt::Key_Return);
}

TEST(FileDialogTest, MultipleSelectionGivesEveryFullPath) {
  testing::ScratchDir dir;
  for (const char* name : {"a.wav", "b.wav", "c.wav"}) Touch(dir / name);
  QString folder = QString::fromStdString(dir.path().string());
  QtModalUi ui;
  testing::WhenModalShown([](QWidget* w) { TypeAndAccept(w, QStringLiteral("\"a.wav\" \"b.wav\"")); });
  QStringList files = ui.OpenFileNames(nullptr, QStringLiteral("WAV|*.wav"), folder + QStringLiteral("/"), 0x81A00);
  QStringList expected{folder + QStringLiteral("/a.wav"), folder + QStringLiteral("/b.wav")};
  files.sort();
  EXPECT_EQ(files, expected);

  testing::WhenModalShown([](QWidget* w) { TypeAndAccept(w, QStringLiteral("c.wav")); });
  EXPECT_EQ(ui.OpenFileNames(nullptr, QStringLiteral("WAV|*.wav"), folder + QStringLiteral("/"), 0x81A00),
            QStringList{folder + QStringLiteral("/c.wav")});
}

TEST(FileDialogTest, SaveAppendsTheDefaultExtension) {
  testing::ScratchDir dir;
  QString folder = QString::fromStdString(dir.path().string());
  QtModalUi ui;
  testing::WhenModalShown([](QWidget* w) { TypeAndAccept(w, QStringLiteral("out")); });
  EXPECT_EQ(ui.SaveFileName(nullptr, QStringLiteral("CUE|*.cue"), folder + QStringLiteral("/Image.cue"), 0x806),
            folder + QStringLiteral("/out.cue"));
}

TEST(FileDialogTest, CentredOnTheOwner) {
  QWidget owner;
  owner.setGeometry(300, 200, 900, 700);
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
  QPoint seen;
  testing::WhenModalShown([&seen](QWidget* w) {
    seen = w->frameGeometry().center();
    QTest::keyClick(w, Qt::Key_Escape);
  });
  QtModalUi ui;
  ui.OpenFileNames(&owner, QStringLiteral("a|*.a"), QString(), 0x1800);
  EXPECT_NEAR(seen.x(), owner.frameGeometry().center().x(), 2);
  EXPECT_NEAR(seen.y(), owner.frameGeometry().center().y(), 2);
}

TEST(FileDialogTest, CancelAnswersEmpty) {
  QtModalUi ui;
  auto reject = [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); };
  testing::WhenModalShown(reject);
  EXPECT_TRUE(ui.OpenFileNames(nullptr, QStringLiteral("a|*.a"), QString(), 0x1800).isEmpty());
  testing::WhenModalShown(reject);
  EXPECT_TRUE(ui.SaveFileName(nullptr, QStringLiteral("a|*.a"), QString(), 0x806).isEmpty());
  testing::WhenModalShown(reject);
  EXPECT_TRUE(ui.BrowseForFolder(nullptr, QStringLiteral("中間パスを指定してください。"), 1).isEmpty());
}

TEST(FileDialogTest, FolderChooserGivesTheFolder) {
  testing::ScratchDir dir;
  QDir(QString::fromStdString(dir.path().string())).mkdir(QStringLiteral("トラック"));
  QString folder = QString::fromStdString(dir.path().string());
  QtModalUi ui;
  testing::WhenModalShown([folder](QWidget* w) {
    auto* dialog = qobject_cast<QFileDialog*>(w);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("トラックを保存するディレクトリを選択してください。"));
    TypeAndAccept(w, folder + QStringLiteral("/トラック"));
  });
  EXPECT_EQ(ui.BrowseForFolder(nullptr, QStringLiteral("トラックを保存するディレクトリを選択してください。"), 1),
            folder + QStringLiteral("/トラック"));
}

}  // namespace
}  // namespace sorvel
