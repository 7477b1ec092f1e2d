#include "gui/controls/view_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <algorithm>
#include <cmath>
#include <QFile>
#include <QRawFont>
#include <QTest>
#include <QWheelEvent>

#include "gui/controls/twips.h"
#include "testing/gui/scripted_modal_ui.h"
#include "testing/stand_in_file.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

class ViewBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QFont font = view.font();
    font.setPixelSize(12);
    view.setFont(font);
    view.setBorderStyle(0);
    line_height = std::max(QFontMetrics(font).height(), QFontMetrics(font).boundingRect(QStringLiteral("神")).height());
    Resize(10);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  }
  // Room for `lines` lines and a bit.
  void Resize(int lines) {
    view.resize(300, lines * line_height + line_height / 2);
    QApplication::processEvents();
    ASSERT_EQ(view.VisibleLineCount(), lines);
  }
  void Lines(int from, int to) {
    for (int i = from; i <= to; ++i) view.LineOut(QStringLiteral("行 %1").arg(i));
  }
  void Wheel(int delta, bool horizontal = false) {
    QPoint angle = horizontal ? QPoint(delta, 0) : QPoint(0, delta);
    QWheelEvent event(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), QPoint(), angle, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &event);
  }

  ViewBox view;
  int line_height = 0;
};

TEST_F(ViewBoxTest, KeepsTheNewestLinesUpToTheLimit) {
  view.setMaxLine(3);
  Lines(1, 4);
  EXPECT_EQ(view.lines(), QStringList({"行 2", "行 3", "行 4"}));
  // A lowered limit drops one line per new line, not down to the limit.
  view.setMaxLine(1);
  view.LineOut("行 5");
  EXPECT_EQ(view.lines(), QStringList({"行 3", "行 4", "行 5"}));
}

TEST_F(ViewBoxTest, LimitsBelowOneAreIgnored) {
  for (qint16 limit : {0, -1, -32768}) {
    view.setMaxLine(limit);
    EXPECT_EQ(view.MaxLine(), 1024);
  }
}

TEST_F(ViewBoxTest, ScrollRangeFollowsTheLinesAndShowsTheNewest) {
  QScrollBar* bar = view.sbLine();
  Lines(1, 4);
  EXPECT_EQ(bar->maximum(), 1);  // fewer lines than fit
  EXPECT_EQ(bar->minimum(), 1);
  EXPECT_EQ(bar->pageStep(), 10);
  Lines(5, 10);
  EXPECT_EQ(bar->maximum(), 1);  // exactly as many as fit
  Lines(11, 13);
  EXPECT_EQ(bar->maximum(), 4);
  EXPECT_EQ(bar->value(), 4);
}

TEST_F(ViewBoxTest, TheWheelStepsByHalfAPagePlusOne) {
  Lines(1, 40);  // Max 31, step 6
  QScrollBar* bar = view.sbLine();
  bar->setValue(3);
  Wheel(120);
  EXPECT_EQ(bar->value(), 1);
  bar->setValue(20);
  Wheel(120);
  EXPECT_EQ(bar->value(), 14);
  Wheel(-120);
  EXPECT_EQ(bar->value(), 20);
  bar->setValue(26);
  Wheel(-120);
  EXPECT_EQ(bar->value(), 31);
  Wheel(-240);
  EXPECT_EQ(bar->value(), 31);
  bar->setValue(10);
  Wheel(-120, true);  // a sideways wheel does not scroll
  Wheel(120, true);
  EXPECT_EQ(bar->value(), 10);
}

// Lines come faster than paints: the next paint shows the newest ones, as a
// box given only those shows them.
TEST_F(ViewBoxTest, ThePaintAfterManyLinesShowsTheNewest) {
  Lines(1, 500);
  const QImage painted = view.grab().toImage();
  ViewBox fresh;
  fresh.setFont(view.font());
  fresh.setBorderStyle(0);
  fresh.resize(view.size());
  fresh.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&fresh));
  for (int i = 491; i <= 500; ++i) fresh.LineOut(QStringLiteral("行 %1").arg(i));
  EXPECT_EQ(fresh.sbLine()->value(), 1);
  EXPECT_EQ(view.sbLine()->value(), 491);
  // The scroll bars differ (range and thumb); the lines' area is the same.
  const QRect lines(0, 0, view.width() - view.sbLine()->width(), view.height());
  EXPECT_EQ(fresh.grab().toImage().copy(lines), painted.copy(lines));
  EXPECT_EQ(view.picture(), fresh.picture());
}

TEST_F(ViewBoxTest, LockedStoresLinesButChangesNeitherPictureNorScrollBar) {
  Lines(1, 4);
  const QImage picture = view.picture();
  view.setLocked(true);
  Lines(5, 14);
  view.update();
  QApplication::processEvents();
  EXPECT_EQ(view.picture(), picture);
  EXPECT_EQ(view.sbLine()->maximum(), 1);
  EXPECT_EQ(view.lines().size(), 14);
  // Unlocking redraws from the current position (lines 1 to 10 now) and
  // recomputes the range without scrolling to the newest line.
  view.setLocked(false);
  EXPECT_NE(view.picture(), picture);
  EXPECT_EQ(view.sbLine()->maximum(), 5);
  EXPECT_EQ(view.sbLine()->value(), 1);
}

TEST_F(ViewBoxTest, ClearAsksAndKeepsEveryLineOnNo) {
  testing::ScriptedModalUi ui;
  Lines(1, 5);
  ui.QueueAnswer(kIdNo);
  view.mnuLogClear()->trigger();
  ASSERT_EQ(ui.messages().size(), 1);
  EXPECT_EQ(ui.messages()[0].text, QStringLiteral("表示されているログを全て削除します。宜しいですか。"));
  EXPECT_EQ(ui.messages()[0].style, 36);
  EXPECT_EQ(ui.messages()[0].caption, QString());
  EXPECT_EQ(view.lines().size(), 5);
  const QImage with_lines = view.picture();
  ui.QueueAnswer(kIdYes);
  view.mnuLogClear()->trigger();
  EXPECT_TRUE(view.lines().isEmpty());
  EXPECT_NE(view.picture(), with_lines);
}

TEST_F(ViewBoxTest, MenuItemsAndNames) {
  EXPECT_EQ(view.mnuLog()->title(), QStringLiteral("ログ"));
  ASSERT_EQ(view.mnuLog()->actions().size(), 2);
  EXPECT_EQ(view.mnuLog()->actions()[0]->text(), QStringLiteral("ログの保存(&S)"));
  EXPECT_EQ(view.mnuLog()->actions()[1]->text(), QStringLiteral("クリア(&C)"));
  EXPECT_EQ(view.findChild<QScrollBar*>("sbLine"), view.sbLine());
  QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(20, 20));
  EXPECT_FALSE(view.mnuLog()->isVisible());
  QTest::mouseClick(&view, Qt::RightButton, Qt::NoModifier, QPoint(20, 20));
  EXPECT_TRUE(view.mnuLog()->isVisible());
  view.mnuLog()->hide();
}

// A time stamp is drawn in the control's font whether Latin or Japanese text
// follows it; only the Japanese characters come from a fallback font.
TEST(ViewBoxFontTest, DigitsBesideJapaneseKeepTheControlFont) {
  // The application font names a generic family: for Japanese text the font
  // matcher picks a CJK font as the first choice, not a fallback.
  ViewBox view;
  QFont font = view.font();
  font.setPixelSize(16);
  const QRawFont raw = QRawFont::fromFont(font);
  ASSERT_TRUE(raw.isValid());
  ASSERT_FALSE(raw.supportsCharacter(U'セ')) << raw.familyName().toStdString();  // Japanese really falls back
  view.setFont(font);
  view.setBorderStyle(0);
  view.resize(520, 120);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  view.LineOut(QStringLiteral("12:34:56 Reading sector 5 failed."));
  view.LineOut(QStringLiteral("12:34:56 セクタ 5 の読み込みに失敗しました。"));
  view.LineOut(QStringLiteral("12:34:56 Sector 5: 読み込みに失敗しました。"));
  const QImage image = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const int line_height = std::max(QFontMetrics(font).height(), QFontMetrics(font).boundingRect(QStringLiteral("神")).height());
  const int stamp = static_cast<int>(std::ceil(QFontMetricsF(font).horizontalAdvance(QStringLiteral("12:34:56"))));
  const QPoint origin = view.contentsRect().topLeft();
  auto band = [&](int line, int x, int width) {
    return image.copy(origin.x() + x, origin.y() + line * line_height, width, line_height);
  };
  const QImage latin = band(0, 0, stamp);
  QImage blank(latin.size(), latin.format());
  blank.fill(latin.pixel(0, 0));
  ASSERT_NE(latin, blank);
  EXPECT_TRUE(band(1, 0, stamp) == latin) << "the stamp before Japanese text is drawn differently";
  EXPECT_TRUE(band(2, 0, stamp) == latin) << "the stamp before mixed text is drawn differently";

  // The Japanese glyphs are drawn at the control's size too: their ink is
  // taller than that of the digits, as a full-width glyph is.
  auto ink_height = [&](const QImage& part) {
    int top = part.height(), bottom = -1;
    for (int y = 0; y < part.height(); ++y) {
      for (int x = 0; x < part.width(); ++x) {
        if (part.pixel(x, y) != blank.pixel(0, 0)) {
          top = std::min(top, y);
          bottom = std::max(bottom, y);
        }
      }
    }
    return bottom - top + 1;
  };
  const int japanese_x = stamp + static_cast<int>(QFontMetricsF(font).horizontalAdvance(QLatin1Char(' ')));
  EXPECT_GE(ink_height(band(1, japanese_x, 16 * 3)), ink_height(latin));
  EXPECT_GE(ink_height(band(1, japanese_x, 16 * 3)), 12);
}

TEST(ViewBoxNameTest, ProposedNameRepeatsTheMinute) {
  EXPECT_EQ(ViewBox::ProposedLogFileName(QDateTime(QDate(2011, 5, 3), QTime(14, 25, 9))), "20110503142525.log");
  EXPECT_EQ(ViewBox::ProposedLogFileName(QDateTime(QDate(2026, 1, 2), QTime(9, 5, 30))), "20260102090505.log");
}

class ViewBoxSaveTest : public ViewBoxTest {
 protected:
  void SetUp() override {
    ViewBoxTest::SetUp();
    view.setClock([] { return QDateTime(QDate(2026, 12, 8), QTime(9, 5, 30)); });
    path = QString::fromStdString((scratch.path() / "log.log").string());
  }
  QByteArray Saved() {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
  }
  sorvel::testing::ScratchDir scratch;
  QString path;
  testing::ScriptedModalUi ui;
};

TEST_F(ViewBoxSaveTest, WritesTheLinesOldestFirstInUtf8WithCrLf) {
  view.setMaxLine(3);
  view.LineOut("first");
  view.LineOut("二行目");
  view.LineOut("");
  view.LineOut("最後");
  ui.QueueSaveFile(path);
  view.mnuLogSave()->trigger();
  ASSERT_EQ(ui.dialogs().size(), 1);
  EXPECT_EQ(ui.dialogs()[0].kind, testing::ShownFileDialog::kSave);
  EXPECT_EQ(ui.dialogs()[0].filter, QStringLiteral("ログファイル(*.log)|*.log"));
  EXPECT_EQ(ui.dialogs()[0].default_path, "20261208090505.log");
  EXPECT_EQ(ui.dialogs()[0].flags, 0x806);
  EXPECT_EQ(Saved(), QByteArray("\xE4\xBA\x8C\xE8\xA1\x8C\xE7\x9B\xAE\r\n\r\n\xE6\x9C\x80\xE5\xBE\x8C\r\n"));
  EXPECT_TRUE(ui.messages().isEmpty());
}

TEST_F(ViewBoxSaveTest, AnEmptyLogTruncatesToAnEmptyFile) {
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("old contents");
  }
  ui.QueueSaveFile(path);
  view.mnuLogSave()->trigger();
  EXPECT_EQ(Saved(), QByteArray());
}

TEST_F(ViewBoxSaveTest, CancellingWritesNothingAndAFileThatWillNotOpenIsReported) {
  view.LineOut("x");
  view.mnuLogSave()->trigger();  // no answer queued: cancelled
  EXPECT_FALSE(QFile::exists(path));
  const QString folder = QString::fromStdString((scratch.path() / "missing" / "log.log").string());
  ui.QueueSaveFile(folder);
  view.mnuLogSave()->trigger();
  ASSERT_EQ(ui.messages().size(), 1);
  EXPECT_EQ(ui.messages()[0].text, QStringLiteral("ファイル ") + folder + QStringLiteral(" が開けません。"));
  EXPECT_EQ(ui.messages()[0].style, 16);
  EXPECT_EQ(ui.messages()[0].caption, QString());
  EXPECT_EQ(view.lines(), QStringList({"x"}));
}

// A log saved over something that is no file, or a write-protected or
// earlier log: told at once (a FIFO never waited on), the earlier file kept
// as it was unless the save completes, and no file of the save left behind.
TEST_F(ViewBoxSaveTest, ForeignOrProtectedFilesAreToldAndKept) {
  view.LineOut("new line");
  const std::filesystem::path file = path.toStdString();
  struct Case {
    testing::StandIn stand_in;
    bool protect;
    const char* text;  // "" for a save that goes through
  };
  for (const Case& c : {Case{testing::StandIn::kFifo, false, "は通常のファイルではありません。"},
                        Case{testing::StandIn::kZeroDevice, false, "は通常のファイルではありません。"},
                        Case{testing::StandIn::kFolder, false, "は通常のファイルではありません。"},
                        Case{testing::StandIn::kRegular, true, "が開けません。"},
                        Case{testing::StandIn::kRegular, false, ""}}) {
    std::filesystem::remove_all(file);
    testing::StandInFile stand_in(file, c.stand_in, "earlier log");
    if (c.protect) std::filesystem::permissions(file, std::filesystem::perms(0444));
    testing::ScriptedModalUi modal;
    modal.QueueSaveFile(path);
    view.mnuLogSave()->trigger();
    EXPECT_FALSE(stand_in.Blocked());
    if (*c.text) {
      ASSERT_EQ(modal.messages().size(), 1);
      EXPECT_EQ(modal.messages()[0].text, QStringLiteral("ファイル %1 %2").arg(path, QString::fromUtf8(c.text)));
      if (c.stand_in == testing::StandIn::kRegular) {
        EXPECT_EQ(Saved(), QByteArray("earlier log"));
      }
    } else {
      EXPECT_TRUE(modal.messages().isEmpty());
      EXPECT_EQ(Saved(), QByteArray("new line\r\n"));
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()), std::filesystem::directory_iterator()),
              1);
  }
}

TEST(ViewBoxBagTest, RoundTripsAndKeepsTheLimitForZero) {
  ViewBox source;
  QFont font = source.font();
  font.setPointSize(9);
  font.setFamily("Noto Sans CJK JP");
  source.setFont(font);
  source.setMaxLine(8192);
  source.setBackColor(0);
  source.setForeColor(0xFFFFFF);
  source.setAppearance(0);
  source.setBorderStyle(0);
  PropertyBag bag;
  source.writeProperties(bag);
  EXPECT_EQ(bag.keys(),
            QStringList({"MaxLine", "Locked", "Font", "BackColor", "ForeColor", "Appearance", "BorderStyle"}));
  EXPECT_EQ(bag.readProperty("font").toString(), font.toString());
  ViewBox copy;
  copy.readProperties(bag);
  EXPECT_EQ(copy.MaxLine(), 8192);
  EXPECT_FALSE(copy.Locked());
  EXPECT_EQ(copy.Font(), font);
  EXPECT_EQ(copy.BackColor(), 0u);
  EXPECT_EQ(copy.ForeColor(), 0xFFFFFFu);
  EXPECT_EQ(copy.Appearance(), 0);
  EXPECT_EQ(copy.BorderStyle(), 0);

  ViewBox other;
  other.readProperties(PropertyBag{{"maxline", 0}, {"LOCKED", true}, {"font", "Sans,9,x"}});
  EXPECT_EQ(other.MaxLine(), 1024);
  EXPECT_TRUE(other.Locked());
  EXPECT_EQ(other.Font(), ViewBox().Font());
}

}  // namespace
}  // namespace sorvel
