// The missing-files list: lines in order, the caption, the scroll extent and
// the one button.
#include "gui/dialogs/list_status_form.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QCoreApplication>
#include <QScrollBar>

#include "testing/gui/modal_answer.h"

namespace sorvel {
namespace {

const QString kCaption = QStringLiteral(
    "プロジェクトを読み込みましたが、以下のファイルについては存在が確認できないため、構造領域に配置できませんでした。");

TEST(ListStatusFormTest, LinesInOrderAndTheLongestSetsTheExtent) {
  const QStringList lines{QStringLiteral("/b/second.wav"), QStringLiteral("/a/一番目のファイル.wav"),
                          QStringLiteral("/c/x"), QStringLiteral("/b/same-length")};
  ListStatusForm form;
  form.Load(kCaption, lines);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Sorvel"));
  EXPECT_EQ(form.lblCaption()->text(), kCaption);
  ASSERT_EQ(form.lstStatusList()->count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(form.lstStatusList()->item(i)->text(), lines[i]);
  const QFontMetrics metrics(form.lstStatusList()->font());
  EXPECT_EQ(form.HorizontalExtent(), metrics.horizontalAdvance(lines[1]) + 16);
}

TEST(ListStatusFormTest, AnEmptyListShowsTheCaptionAndAnExtentOf16) {
  bool shown = false;
  testing::WhenModalShown([&shown](QWidget* w) {
    auto* form = qobject_cast<ListStatusForm*>(w);
    ASSERT_NE(form, nullptr);
    shown = true;
    EXPECT_EQ(form->lstStatusList()->count(), 0);
    EXPECT_EQ(form->lblCaption()->text(), kCaption);
    EXPECT_EQ(form->HorizontalExtent(), 16);
    form->cmdOK()->click();
  });
  ListStatusForm::ShowOpen(kCaption, {});
  EXPECT_TRUE(shown);
}

TEST(ListStatusFormTest, ALongLineScrollsToItsEndPlus16Pixels) {
  ListStatusForm form;
  form.resize(300, 200);
  const QString line = QStringLiteral("/media/") + QString(120, u'x') + QStringLiteral(".wav");
  form.Load(kCaption, {QStringLiteral("/short"), line});
  form.show();
  QCoreApplication::processEvents();
  QListWidget* list = form.lstStatusList();
  const int extent = QFontMetrics(list->font()).horizontalAdvance(line) + 16;
  EXPECT_EQ(form.HorizontalExtent(), extent);
  EXPECT_GT(extent, list->viewport()->width());
  EXPECT_NEAR(list->horizontalScrollBar()->maximum(), extent - list->viewport()->width(), 2);
}

TEST(ListStatusFormTest, TheCloseBoxEndsItToo) {
  testing::WhenModalShown([](QWidget* w) { w->close(); });
  ListStatusForm::ShowOpen(kCaption, {QStringLiteral("/x")});
  SUCCEED();
}

}  // namespace
}  // namespace sorvel
