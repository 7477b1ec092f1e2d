#include "gui/foundation/list_popup.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QTest>
#include <memory>

#include "gui/foundation/qt_modal_ui.h"
#include "testing/gui/modal_answer.h"
#include "testing/gui/scripted_modal_ui.h"

namespace sorvel {
namespace {

TEST(ListPopupTest, ItemsBecomeNumberedEntriesObjectsNone) {
  testing::ScriptedModalUi ui;
  List<QVariant> list;
  list.AddNew(QStringLiteral("D: 光学ドライブ"));
  list.AddNew(QVariant::fromValue(std::make_shared<int>(5)));
  list.AddNew(48);
  list.AddNew(QVariant::fromValue(static_cast<QObject*>(nullptr)));
  list.AddNew(QStringLiteral("E:"));
  ui.QueueMenuChoice(5);
  EXPECT_EQ(ShowPopup(list, 30, 40), 5);
  ASSERT_EQ(ui.menus().size(), 1);
  const auto& entries = ui.menus()[0].entries;
  ASSERT_EQ(entries.size(), 3);
  EXPECT_EQ(entries[0].text, QStringLiteral("D: 光学ドライブ"));
  EXPECT_EQ(entries[0].id, 1);
  EXPECT_EQ(entries[1].text, QStringLiteral("48"));
  EXPECT_EQ(entries[1].id, 3);
  EXPECT_EQ(entries[2].id, 5);
  EXPECT_EQ(ui.menus()[0].at, QPoint(30, 40));
  // Dismissed: 0.
  EXPECT_EQ(ShowPopup(list, 0, 0), 0);
}

TEST(ListPopupTest, TypedListsOfTextAndNumbers) {
  testing::ScriptedModalUi ui;
  List<QString> hosts;
  hosts.AddNew(QStringLiteral("127.0.0.1"));
  List<double> speeds;
  speeds.AddNew(176.4);
  ShowPopup(hosts, 0, 0);
  ShowPopup(speeds, 0, 0);
  ASSERT_EQ(ui.menus().size(), 2);
  EXPECT_EQ(ui.menus()[0].entries[0].text, QStringLiteral("127.0.0.1"));
  EXPECT_EQ(ui.menus()[1].entries[0].text, QStringLiteral("176.4"));
}

TEST(QtPopupMenuTest, ChosenEntryAnswersItsNumber) {
  QtModalUi ui;
  QStringList shown;
  testing::WhenModalShown([&shown](QWidget* widget) {
    auto* menu = qobject_cast<QMenu*>(widget);
    ASSERT_NE(menu, nullptr);
    for (QAction* action : menu->actions()) shown << action->text();
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
  });
  EXPECT_EQ(ui.PopupMenu({{QStringLiteral("D:"), 1}, {QStringLiteral("R&D"), 4}}, QPoint(100, 100)), 4);
  EXPECT_EQ(shown, (QStringList{QStringLiteral("D:"), QStringLiteral("R&&D")}));

  // Captions keep their mnemonic, separators are lines: the "&R" of a caption
  // chooses it, the separator offers nothing.
  QList<bool> separators;
  shown.clear();
  testing::WhenModalShown([&](QWidget* widget) {
    auto* menu = qobject_cast<QMenu*>(widget);
    ASSERT_NE(menu, nullptr);
    for (QAction* action : menu->actions()) {
      shown << action->text();
      separators << action->isSeparator();
    }
    QTest::keyClick(menu, Qt::Key_R);
    if (menu->isVisible()) menu->close();
  });
  EXPECT_EQ(ui.PopupMenu({{QStringLiteral("上へ(&U)"), 1, true},
                          {QStringLiteral("-"), 0, false, true},
                          {QStringLiteral("R&&D (&R)"), 2, true}},
                         QPoint(100, 100)),
            2);
  EXPECT_EQ(shown, (QStringList{QStringLiteral("上へ(&U)"), QString(), QStringLiteral("R&&D (&R)")}));
  EXPECT_EQ(separators, (QList<bool>{false, true, false}));

  testing::WhenModalShown([](QWidget* widget) { QTest::keyClick(widget, Qt::Key_Escape); });
  EXPECT_EQ(ui.PopupMenu({{QStringLiteral("D:"), 1}}, QPoint(100, 100)), 0);
  EXPECT_EQ(ui.PopupMenu({}, QPoint(100, 100)), 0);
}

}  // namespace
}  // namespace sorvel
