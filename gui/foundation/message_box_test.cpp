#include "gui/foundation/message_box.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "gui/foundation/modal_ui.h"
#include "gui/foundation/qt_modal_ui.h"
#include "gui/foundation/qt_translations.h"
#include "testing/gui/modal_answer.h"
#include "testing/gui/screenshot.h"

namespace sorvel {
namespace {

struct StyleCase {
  int style;
  QList<int> buttons;
  QMessageBox::Icon icon;
  int default_button;
  int escape_button;
};

class MessageBoxStyleTest : public ::testing::TestWithParam<StyleCase> {};

TEST_P(MessageBoxStyleTest, MapsToButtonsIconAndDefault) {
  const StyleCase& c = GetParam();
  MessageBoxLayout layout = LayoutOfMessageBoxStyle(c.style);
  EXPECT_EQ(layout.buttons, c.buttons);
  EXPECT_EQ(layout.icon, c.icon);
  EXPECT_EQ(layout.default_button, c.default_button);
  EXPECT_EQ(layout.escape_button, c.escape_button);

  // The real box carries the same buttons, icon and default.
  CenteredMessageBox box(nullptr, QStringLiteral("本文"), c.style, QStringLiteral("題"));
  EXPECT_EQ(box.icon(), c.icon);
  ASSERT_EQ(box.buttons().size(), c.buttons.size());
  for (int id : c.buttons) EXPECT_NE(box.ButtonOf(id), nullptr) << id;
  EXPECT_EQ(box.defaultButton(), box.ButtonOf(c.default_button));
  EXPECT_EQ(box.windowTitle(), QStringLiteral("題"));
}

INSTANTIATE_TEST_SUITE_P(
    Styles, MessageBoxStyleTest,
    ::testing::Values(StyleCase{16, {kIdOk}, QMessageBox::Critical, kIdOk, kIdOk},
                      StyleCase{48, {kIdOk}, QMessageBox::Warning, kIdOk, kIdOk},
                      StyleCase{64, {kIdOk}, QMessageBox::Information, kIdOk, kIdOk},
                      StyleCase{0, {kIdOk}, QMessageBox::NoIcon, kIdOk, kIdOk},
                      StyleCase{36, {kIdYes, kIdNo}, QMessageBox::Question, kIdYes, kIdNo},
                      StyleCase{292, {kIdYes, kIdNo}, QMessageBox::Question, kIdNo, kIdNo},
                      StyleCase{308, {kIdYes, kIdNo}, QMessageBox::Warning, kIdNo, kIdNo},
                      StyleCase{1, {kIdOk, kIdCancel}, QMessageBox::NoIcon, kIdOk, kIdCancel},
                      StyleCase{0x123, {kIdYes, kIdNo, kIdCancel}, QMessageBox::Question, kIdNo, kIdCancel},
                      StyleCase{0x223, {kIdYes, kIdNo, kIdCancel}, QMessageBox::Question, kIdCancel, kIdCancel},
                      StyleCase{0x35, {kIdRetry, kIdCancel}, QMessageBox::Warning, kIdRetry, kIdCancel},
                      // A default beyond the buttons falls back to the first.
                      StyleCase{0x300, {kIdOk}, QMessageBox::NoIcon, kIdOk, kIdOk},
                      StyleCase{0x204, {kIdYes, kIdNo}, QMessageBox::NoIcon, kIdYes, kIdNo}));

// Shows a box through the real modal interface and answers it with one key.
int AnswerWithKey(int style, Qt::Key key, QWidget* owner = nullptr) {
  testing::WhenModalShown([key](QWidget* box) { QTest::keyClick(box, key); });
  QtModalUi ui;
  return ui.MessageBox(owner, QStringLiteral("処理を中止しますか。"), style, QStringLiteral("Sorvel"));
}

TEST(QtMessageBoxTest, EnterPressesTheDefaultButton) {
  EXPECT_EQ(AnswerWithKey(36, Qt::Key_Return), kIdYes);
  EXPECT_EQ(AnswerWithKey(292, Qt::Key_Return), kIdNo);
  EXPECT_EQ(AnswerWithKey(308, Qt::Key_Return), kIdNo);
  EXPECT_EQ(AnswerWithKey(16, Qt::Key_Return), kIdOk);
  EXPECT_EQ(AnswerWithKey(64, Qt::Key_Return), kIdOk);
}

TEST(QtMessageBoxTest, EscapeAnswersTheSafeChoice) {
  EXPECT_EQ(AnswerWithKey(36, Qt::Key_Escape), kIdNo);
  EXPECT_EQ(AnswerWithKey(308, Qt::Key_Escape), kIdNo);
  EXPECT_EQ(AnswerWithKey(48, Qt::Key_Escape), kIdOk);
  EXPECT_EQ(AnswerWithKey(3, Qt::Key_Escape), kIdCancel);
}

TEST(QtMessageBoxTest, ClickedButtonIsReturned) {
  testing::WhenModalShown([](QWidget* widget) {
    auto* box = qobject_cast<CenteredMessageBox*>(widget);
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box->ButtonOf(kIdYes), Qt::LeftButton);
  });
  QtModalUi ui;
  EXPECT_EQ(ui.MessageBox(nullptr, QStringLiteral("x"), 292, QString()), kIdYes);
}

TEST(QtMessageBoxTest, EmptyCaptionLeavesTheTitleBlank) {
  CenteredMessageBox box(nullptr, QStringLiteral("x"), 36, QString());
  EXPECT_TRUE(box.windowTitle().trimmed().isEmpty());
  EXPECT_FALSE(box.windowTitle().isEmpty());
}

TEST(QtMessageBoxTest, TextIsNeverMarkup) {
  CenteredMessageBox box(nullptr, QStringLiteral("<b>a&b</b>.iso"), 64, QString());
  EXPECT_EQ(box.textFormat(), Qt::PlainText);
  EXPECT_EQ(box.text(), QStringLiteral("<b>a&b</b>.iso"));
}

QPoint CentreOf(const QRect& r) { return {r.x() + r.width() / 2, r.y() + r.height() / 2}; }

TEST(QtMessageBoxTest, CentredOnTheOwnerEvenPastTheScreenEdge) {
  QScreen* screen = QGuiApplication::primaryScreen();
  ASSERT_NE(screen, nullptr);
  QRect area = screen->geometry();
  for (QPoint owner_pos : {QPoint(area.x() + 100, area.y() + 80), QPoint(area.right() - 150, area.y() + 40)}) {
    QMainWindow owner;
    owner.setGeometry(QRect(owner_pos, QSize(420, 300)));
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QPoint expected = CentreOf(owner.frameGeometry());
    QPoint seen;
    testing::WhenModalShown([&seen](QWidget* box) {
      seen = CentreOf(box->frameGeometry());
      QTest::keyClick(box, Qt::Key_Return);
    });
    QtModalUi ui;
    ui.MessageBox(&owner, QStringLiteral("中央に表示"), 64, QStringLiteral("Sorvel"));
    EXPECT_NEAR(seen.x(), expected.x(), 1) << owner_pos.x();
    EXPECT_NEAR(seen.y(), expected.y(), 1) << owner_pos.y();
  }
}

TEST(QtMessageBoxTest, WithoutOwnerCentredOnTheScreen) {
  QRect screen = QGuiApplication::primaryScreen()->geometry();
  QPoint seen;
  testing::WhenModalShown([&seen](QWidget* box) {
    seen = CentreOf(box->frameGeometry());
    QTest::keyClick(box, Qt::Key_Return);
  });
  QtModalUi ui;
  ui.MessageBox(nullptr, QStringLiteral("画面中央"), 48, QString());
  EXPECT_NEAR(seen.x(), CentreOf(screen).x(), 1);
  EXPECT_NEAR(seen.y(), CentreOf(screen).y(), 1);
}

// Long texts are cut where they go into the box: a line keeps its start and
// end around "…", 1,024 characters in all; a long list keeps its first and
// last lines. A pair of surrogates is never split.
TEST(MessageBoxTextTest, LongLinesAndLongListsAreCut) {
  const QString smile = QString::fromUcs4(U"\U0001F600");
  const QString path = QStringLiteral("/") + QString(5 * 1024 * 1024, QLatin1Char('p')) + QStringLiteral("/end.m3u");
  QStringList many;
  for (int i = 1; i <= 1000; ++i) many << QStringLiteral("line %1").arg(i);
  const struct {
    const char* name;
    QString text;
    QString start;
    QString end;
    qsizetype length;
  } cases[] = {
      {"short", QStringLiteral("ファイルが開けません。"), QStringLiteral("ファイル"), QStringLiteral("せん。"), 11},
      {"exactly 1024", QString(1024, QLatin1Char('a')), QStringLiteral("a"), QStringLiteral("a"), 1024},
      {"1025", QStringLiteral("S") + QString(1023, QLatin1Char('x')) + QStringLiteral("E"), QStringLiteral("Sx"),
       QStringLiteral("xE"), 1024},
      {"a path of 5 MiB in a message", QStringLiteral("ファイル ") + path + QStringLiteral(" は開けません。"),
       QStringLiteral("ファイル /ppp"), QStringLiteral("ppp/end.m3u は開けません。"), 1024},
      {"surrogate pairs", QString(smile).repeated(1000), smile, smile, 1023},
      {"1000 lines", many.join(QLatin1Char('\n')), QStringLiteral("line 1\nline 2\n"),
       QStringLiteral("line 999\nline 1000"), -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString shown = TextForMessageBox(c.text);
    EXPECT_TRUE(shown.startsWith(c.start));
    EXPECT_TRUE(shown.endsWith(c.end));
    if (c.length >= 0) {
      EXPECT_EQ(shown.size(), c.length);
    }
    EXPECT_TRUE(QStringView(shown).isValidUtf16());
    const QStringList lines = shown.split(QLatin1Char('\n'));
    EXPECT_LE(lines.size(), 100);
    for (const QString& line : lines) EXPECT_LE(line.size(), 1024);
    EXPECT_EQ(shown.contains(QStringLiteral("…")), c.text.size() > 1024);
  }
  const QStringList cut = TextForMessageBox(many.join(QLatin1Char('\n'))).split(QLatin1Char('\n'));
  ASSERT_EQ(cut.size(), 100);
  EXPECT_EQ(cut[49], QStringLiteral("line 50"));
  EXPECT_EQ(cut[50], QStringLiteral("…"));
  EXPECT_EQ(cut[51], QStringLiteral("line 952"));
  // Lines of a short text keep their length, only the long one is cut.
  const QStringList mixed =
      TextForMessageBox(QStringLiteral("上\n") + path + QStringLiteral("\n下")).split(QLatin1Char('\n'));
  EXPECT_EQ(mixed, (QStringList{QStringLiteral("上"), mixed.value(1), QStringLiteral("下")}));
  EXPECT_EQ(mixed.value(1).size(), 1024);

  // The box itself holds the cut text.
  CenteredMessageBox box(nullptr, QStringLiteral("ファイル ") + path + QStringLiteral(" は開けません。"), kMbOk,
                         QStringLiteral("題"));
  EXPECT_EQ(box.text().size(), 1024);
  EXPECT_TRUE(box.text().endsWith(QStringLiteral("/end.m3u は開けません。")));
}

// A long path (no blank to wrap at) never makes the box wider than the
// screen: the text wraps inside it, every character still shown.
TEST(QtMessageBoxTest, LongPathsKeepTheBoxWithinTheScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  for (int length : {240, 600, 1000, 3000}) {
    SCOPED_TRACE(length);
    const QString path = QStringLiteral("/home/user/") + QString(length, QLatin1Char('w')) + QStringLiteral(".txt");
    QRect seen;
    QString shown;
    testing::WhenModalShown([&](QWidget* box) {
      seen = box->frameGeometry();
      if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) shown = label->text();
      QTest::keyClick(box, Qt::Key_Return);
    });
    QtModalUi ui;
    ui.MessageBox(nullptr, QStringLiteral("ファイル ") + path + QStringLiteral(" は見つかりません。"), 48, QString());
    EXPECT_LE(seen.width(), screen.width());
    EXPECT_EQ(shown, TextForMessageBox(QStringLiteral("ファイル ") + path + QStringLiteral(" は見つかりません。")));
  }
}

TEST(MessageBoxScreenshot, CenterMessageBox) {
  // Qt's texts in Japanese, as the program shows them.
  QtJapaneseTexts texts;
  ASSERT_TRUE(texts.installed());
  QMainWindow owner;
  owner.setWindowTitle(QStringLiteral("Sorvel"));
  owner.resize(640, 420);
  owner.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
  CenteredMessageBox box(&owner,
                         QStringLiteral("書き込みを中止しますか。\n中止すると媒体は使用できなくなる場合があります。"),
                         308, QStringLiteral("ディスク書き込み"));
  QString path = testing::SaveScreenshot(&box, QStringLiteral("CenterMessageBox"));
  EXPECT_FALSE(path.isEmpty());
  QPoint box_centre = CentreOf(box.frameGeometry());
  QPoint owner_centre = CentreOf(owner.frameGeometry());
  EXPECT_NEAR(box_centre.x(), owner_centre.x(), 40);
  EXPECT_NEAR(box_centre.y(), owner_centre.y(), 40);
  box.close();

  // A long path wraps inside a box no wider than the screen.
  CenteredMessageBox long_box(&owner,
                              QStringLiteral("ファイル /home/user/") + QString(240, QLatin1Char('n')) +
                                  QStringLiteral(".txt は見つかりません。"),
                              48, QStringLiteral("Sorvel"));
  EXPECT_FALSE(testing::SaveScreenshot(&long_box, QStringLiteral("CenterMessageBox-LongPath")).isEmpty());
  EXPECT_LE(long_box.frameGeometry().width(), long_box.screen()->availableGeometry().width());
  long_box.close();
}

}  // namespace
}  // namespace sorvel
