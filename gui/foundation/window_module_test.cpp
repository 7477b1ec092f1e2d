#include "gui/foundation/window_module.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <memory>

#include "testing/manual_clock.h"

namespace sorvel {
namespace {

TEST(WindowRectTest, PartsOfTheRectangle) {
  QWidget window;
  window.setGeometry(120, 90, 300, 200);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QRect r = window.frameGeometry();
  const int expected[] = {r.y(), r.y() + r.height(), r.x(), r.x() + r.width(), r.width(), r.height(), 0, 0};
  const int parts[] = {0, 1, 2, 3, 4, 5, 6, -1};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(GetWindowRectPart(&window, parts[i]), expected[i]) << parts[i];
  for (int part = 0; part <= 6; ++part) EXPECT_EQ(GetWindowRectPart(nullptr, part), 0);
}

TEST(CenterFormTest, OnTheWindowOrTheScreen) {
  QWidget window;
  window.setGeometry(200, 150, 600, 400);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QWidget form;
  form.resize(200, 100);
  EXPECT_TRUE(CenterForm(&form, &window));
  QRect w = window.frameGeometry();
  EXPECT_EQ(form.pos(), QPoint(w.x() + (w.width() - 200) / 2, w.y() + (w.height() - 100) / 2));

  QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_FALSE(CenterForm(&form, static_cast<const QWidget*>(nullptr)));
  EXPECT_EQ(form.pos(), QPoint(screen.x() + (screen.width() - 200) / 2, screen.y() + (screen.height() - 100) / 2));
  window.hide();
  EXPECT_FALSE(CenterForm(&form, &window));
  EXPECT_TRUE(CenterForm(&form, QRect(0, 0, 400, 300)));
  EXPECT_EQ(form.pos(), QPoint(100, 100));
}

TEST(SetTopMostTest, KeepsTheRectangleAndShows) {
  QWidget window;
  window.setGeometry(50, 60, 320, 240);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QRect before = window.geometry();
  SetTopMost(&window, true);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.geometry(), before);
  SetTopMost(&window, false);
  EXPECT_FALSE(window.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.geometry(), before);
}

class PaintCounter : public QWidget {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent*) override { ++paints; }
};

TEST(PeekPendingMessageTest, RepaintsButRunsNoTimerOrPostedHandler) {
  PaintCounter window;
  window.resize(100, 100);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QCoreApplication::processEvents();
  int paints_before = window.paints;

  bool timer_ran = false;
  bool posted_ran = false;
  QTimer::singleShot(0, [&] { timer_ran = true; });
  QMetaObject::invokeMethod(&window, [&] { posted_ran = true; }, Qt::QueuedConnection);
  window.update();
  PeekPendingMessage();
  EXPECT_GT(window.paints, paints_before);
  EXPECT_FALSE(timer_ran);
  EXPECT_FALSE(posted_ran);
  // Nothing was removed from the queue: the next pass runs both.
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_TRUE(timer_ran);
  EXPECT_TRUE(posted_ran);
}

// Each step moves the manual clock, asks for a paced pass, and says whether a
// pass (a repaint, and the `before` work first) must have run.
TEST(PeekPendingMessageTest, PacedPassesRunOnlyAfterTheIntervalOnTheClock) {
  PaintCounter window;
  window.resize(100, 100);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QCoreApplication::processEvents();
  auto clock = std::make_unique<testing::ScopedManualClock>();
  // Whatever pass ran last before this test, one interval after this call the next one is due.
  PacedPeekPendingMessage();
  clock->clock().Advance(std::chrono::milliseconds(kPeekIntervalMs));

  struct Step {
    int advance_ms;
    bool pass;
  };
  const Step steps[] = {
      {0, true},  {0, false},  {1, false}, {kPeekIntervalMs - 2, false}, {1, true},
      {0, false}, {kPeekIntervalMs * 5, true}, {kPeekIntervalMs - 1, false}, {1, true},
  };
  bool timer_ran = false;
  QTimer::singleShot(0, [&] { timer_ran = true; });
  int i = 0;
  for (const Step& step : steps) {
    clock->clock().Advance(std::chrono::milliseconds(step.advance_ms));
    const int paints_before = window.paints;
    int before_calls = 0;
    // The work handed in runs first: the pass draws what it asks for.
    const bool ran = PacedPeekPendingMessage([&] {
      ++before_calls;
      window.update();
    });
    EXPECT_EQ(ran, step.pass) << "step " << i;
    EXPECT_EQ(before_calls, step.pass ? 1 : 0) << "step " << i;
    EXPECT_EQ(window.paints > paints_before, step.pass) << "step " << i;
    ++i;
  }
  EXPECT_FALSE(timer_ran);

  // A clock that went back (another clock installed) never blocks the passes.
  clock.reset();
  clock = std::make_unique<testing::ScopedManualClock>();
  EXPECT_TRUE(PacedPeekPendingMessage());
  EXPECT_FALSE(PacedPeekPendingMessage());
  clock.reset();
  QCoreApplication::processEvents();
  EXPECT_TRUE(timer_ran);
}

}  // namespace
}  // namespace sorvel
