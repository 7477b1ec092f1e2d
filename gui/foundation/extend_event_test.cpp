#include "gui/foundation/extend_event.h"

#include <gtest/gtest.h>

#include <QEvent>
#include <QKeyEvent>
#include <QTest>
#include <QWidget>
#include <memory>

namespace sorvel {
namespace {

class KeyCounter : public QWidget {
 public:
  int keys = 0;

 protected:
  void keyPressEvent(QKeyEvent*) override { ++keys; }
};

TEST(ExtendEventTest, SecondWindowReplacesTheFirst) {
  KeyCounter first, second;
  ExtendEvent hook;
  int seen_first = 0, seen_second = 0;
  QObject::connect(&hook, &ExtendEvent::WindowProc, [&](QEvent* e) {
    if (e->type() != QEvent::KeyPress) return;
    (hook.hWnd() == &first ? seen_first : seen_second)++;
  });
  hook.setHWnd(&first);
  hook.setHWnd(&second);
  EXPECT_TRUE(hook.IsSubClass());
  EXPECT_EQ(hook.hWnd(), &second);
  QTest::keyClick(&first, Qt::Key_A);
  QTest::keyClick(&second, Qt::Key_A);
  EXPECT_EQ(seen_first, 0);
  EXPECT_EQ(seen_second, 1);
  EXPECT_EQ(first.keys, 1);
  EXPECT_EQ(second.keys, 1);
}

TEST(ExtendEventTest, CancelKeepsTheEventFromTheWindow) {
  KeyCounter window;
  ExtendEvent hook;
  QList<QEvent::Type> order;
  QObject::connect(&hook, &ExtendEvent::WindowProc, [&](QEvent* e) {
    if (e->type() == QEvent::KeyPress) order << e->type();
  });
  QObject::connect(&hook, &ExtendEvent::WindowProcEx, [&](QEvent* e, bool* cancel) {
    if (e->type() != QEvent::KeyPress) return;
    order << QEvent::None;
    *cancel = static_cast<QKeyEvent*>(e)->key() == Qt::Key_B;
  });
  hook.setHWnd(&window);
  QTest::keyClick(&window, Qt::Key_A);
  QTest::keyClick(&window, Qt::Key_B);
  EXPECT_EQ(window.keys, 1);
  // WindowProc comes before WindowProcEx for every event.
  EXPECT_EQ(order, (QList<QEvent::Type>{QEvent::KeyPress, QEvent::None, QEvent::KeyPress, QEvent::None}));
  hook.UnHook();
  EXPECT_FALSE(hook.IsSubClass());
  EXPECT_EQ(hook.hWnd(), nullptr);
  QTest::keyClick(&window, Qt::Key_B);
  EXPECT_EQ(window.keys, 2);
}

TEST(ExtendEventTest, DestroyedWindowEndsTheWatch) {
  auto window = std::make_unique<QWidget>();
  ExtendEvent hook;
  hook.setHWnd(window.get());
  window.reset();
  EXPECT_FALSE(hook.IsSubClass());
  EXPECT_EQ(hook.hWnd(), nullptr);
}

TEST(ExtendEventTest, ReleasedHookLeavesTheWindowAlone) {
  KeyCounter window;
  {
    ExtendEvent hook;
    QObject::connect(&hook, &ExtendEvent::WindowProcEx, [](QEvent*, bool* cancel) { *cancel = true; });
    hook.setHWnd(&window);
    QTest::keyClick(&window, Qt::Key_A);
    EXPECT_EQ(window.keys, 0);
  }
  QTest::keyClick(&window, Qt::Key_A);
  EXPECT_EQ(window.keys, 1);
}

}  // namespace
}  // namespace sorvel
