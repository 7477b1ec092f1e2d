#include "gui/controls/splitter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <cmath>
#include <memory>

#include "gui/controls/twips.h"

namespace sorvel {
namespace {

class SplitterTest : public ::testing::Test {
 protected:
  // A splitter of 300 x 400 pixels with `children` child widgets stacked in
  // creation order (each one lower and further right than the previous).
  void Make(int children, qint32 orientation = 0) {
    splitter = std::make_unique<Splitter>();
    splitter->resize(300, 400);
    for (int i = 0; i < children; ++i) {
      auto* child = new QWidget(splitter.get());
      child->setGeometry(10 * i, 10 * i, 20, 20);
      panes.push_back(child);
    }
    splitter->setOrientation(orientation);
    splitter->setSplitterSize(45);
    splitter->setSplitterPoint(orientation == 0 ? Twips(200) : Twips(150));
    splitter->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(splitter.get()));
  }
  double Twips(int pixels) const { return PixelsToTwipsY(splitter.get(), pixels); }
  int Pixels(double twips) const { return TwipsToPixelsY(splitter.get(), twips); }
  QRect Bar() const { return splitter->imgSplitter()->geometry(); }

  // Sends a mouse event to the bar at `splitter_pos` (splitter coordinates).
  void Mouse(QEvent::Type type, QPoint splitter_pos, Qt::MouseButtons buttons) {
    QWidget* bar = splitter->imgSplitter();
    QPointF local = bar->mapFromParent(QPointF(splitter_pos));
    QMouseEvent event(type, local, bar->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
    QApplication::sendEvent(bar, &event);
  }

  std::unique_ptr<Splitter> splitter;
  std::vector<QWidget*> panes;
};

TEST_F(SplitterTest, PanesAboveAndBelowTheBar) {
  Make(2);
  EXPECT_EQ(splitter->pane1(), panes[0]);
  EXPECT_EQ(splitter->pane2(), panes[1]);
  EXPECT_FLOAT_EQ(splitter->SplitterPoint(), static_cast<float>(Twips(200)));
  EXPECT_NEAR(Bar().top(), 200 - 1.5, 1);
  EXPECT_EQ(Bar().height(), 3);
  EXPECT_EQ(Bar().width(), 300);
  EXPECT_EQ(panes[0]->geometry(), QRect(0, 0, 300, Bar().top()));
  EXPECT_EQ(panes[1]->geometry().top(), Bar().bottom() + 1);
  EXPECT_NEAR(panes[1]->geometry().bottom(), 399, 1);
  EXPECT_TRUE(panes[0]->isVisible());
  EXPECT_TRUE(panes[1]->isVisible());
  EXPECT_EQ(splitter->imgSplitter()->cursor().shape(), Qt::SizeVerCursor);
  EXPECT_FALSE(splitter->speBox()->isVisible());
}

TEST_F(SplitterTest, PanesSideBySideForEveryOtherOrientation) {
  for (qint32 orientation : {1, 5, -2}) {
    panes.clear();
    Make(2, orientation);
    EXPECT_EQ(splitter->imgSplitter()->cursor().shape(), Qt::SizeHorCursor);
    EXPECT_NEAR(Bar().left(), 150 - 1.5, 1);
    EXPECT_EQ(Bar().height(), 400);
    EXPECT_EQ(panes[0]->geometry(), QRect(0, 0, Bar().left(), 400));
    EXPECT_EQ(panes[1]->geometry().left(), Bar().right() + 1);
  }
}

TEST_F(SplitterTest, LimitsClampThePointAndHideAPane) {
  Make(2);
  const double size = 45;
  const double extent = Twips(400);
  struct Case {
    double asked;
    double expected;
    bool pane1_visible, pane2_visible;
  };
  const Case cases[] = {
      {size, size, false, true},             // at the near limit
      {-100, size, false, true},             // beyond it
      {Twips(200), Twips(200), true, true},  // back in range shows both
      {extent - 2 * size, extent - 2 * size, true, false},
      {extent + 500, extent - 2 * size, true, false},
      {size + 1, size + 1, true, true},
  };
  for (const Case& c : cases) {
    splitter->setSplitterPoint(static_cast<float>(c.asked));
    EXPECT_FLOAT_EQ(splitter->SplitterPoint(), static_cast<float>(c.expected)) << c.asked;
    EXPECT_EQ(panes[0]->isVisible(), c.pane1_visible) << c.asked;
    EXPECT_EQ(panes[1]->isVisible(), c.pane2_visible) << c.asked;
  }
}

TEST_F(SplitterTest, FromBelowTheNearLimitToBeyondTheFarOneHidesBothUntilAResize) {
  Make(2);
  splitter->setSplitterPoint(0);
  splitter->setSplitterPoint(static_cast<float>(Twips(1000)));
  EXPECT_FALSE(panes[0]->isVisible());
  EXPECT_FALSE(panes[1]->isVisible());
  splitter->setSplitterPoint(static_cast<float>(Twips(1000)));
  EXPECT_FALSE(panes[0]->isVisible());
  splitter->resize(300, 420);  // the old far limit now lies in range
  QApplication::processEvents();
  EXPECT_TRUE(panes[0]->isVisible());
  EXPECT_TRUE(panes[1]->isVisible());
}

TEST_F(SplitterTest, WithoutExactlyTwoChildrenOnlyTheBarIsPlaced) {
  for (int count : {0, 1, 3}) {
    panes.clear();
    Make(count);
    EXPECT_EQ(splitter->pane1(), nullptr) << count;
    EXPECT_EQ(splitter->pane2(), nullptr) << count;
    EXPECT_NEAR(Bar().top(), 198.5, 1) << count;
    for (int i = 0; i < count; ++i) EXPECT_EQ(panes[i]->geometry(), QRect(10 * i, 10 * i, 20, 20));
  }
}

TEST_F(SplitterTest, ChildrenAtTheSameTopMakeTheSecondOneTheUpperPane) {
  splitter = std::make_unique<Splitter>();
  splitter->resize(300, 400);
  auto* first = new QWidget(splitter.get());
  auto* second = new QWidget(splitter.get());
  first->move(0, 50);
  second->move(100, 50);
  splitter->setSplitterSize(45);
  splitter->setSplitterPoint(3000);
  splitter->show();
  EXPECT_EQ(splitter->pane1(), second);
  EXPECT_EQ(splitter->pane2(), first);
}

TEST_F(SplitterTest, APointerHeldStillLeavesThePoint) {
  Make(2);
  const float before = splitter->SplitterPoint();
  const QPoint grab(150, Bar().top() + 1);
  Mouse(QEvent::MouseButtonPress, grab, Qt::LeftButton);
  for (int i = 0; i < 20; ++i) Mouse(QEvent::MouseMove, grab, Qt::LeftButton);
  EXPECT_NEAR(splitter->SplitterPoint(), before, 1);
  Mouse(QEvent::MouseButtonRelease, grab, Qt::NoButton);
  EXPECT_NEAR(splitter->SplitterPoint(), before, 1);
}

TEST_F(SplitterTest, ADragMovesThePointByThePointersDistance) {
  for (qint32 orientation : {0, 1}) {
    panes.clear();
    Make(2, orientation);
    const float before = splitter->SplitterPoint();
    const QRect bar = Bar();
    QPoint at = orientation == 0 ? QPoint(150, bar.top() + 2) : QPoint(bar.left() + 2, 200);
    const QPoint step = orientation == 0 ? QPoint(0, 10) : QPoint(10, 0);
    Mouse(QEvent::MouseButtonPress, at, Qt::LeftButton);
    const int steps = orientation == 0 ? 15 : 12;  // 150 / 120 pixels
    for (int i = 0; i < steps; ++i) {
      at += step;
      Mouse(QEvent::MouseMove, at, Qt::LeftButton);
    }
    Mouse(QEvent::MouseButtonRelease, at, Qt::NoButton);
    EXPECT_NEAR(splitter->SplitterPoint() - before, Twips(steps * 10), Twips(1)) << orientation;
    if (orientation == 0)
      EXPECT_NEAR(Bar().top() - bar.top(), steps * 10, 1);
    else
      EXPECT_NEAR(Bar().left() - bar.left(), steps * 10, 1);
  }
}

TEST_F(SplitterTest, A200PixelDragInSmallStepsRearrangesOnlyOnRelease) {
  splitter = std::make_unique<Splitter>();
  splitter->resize(300, 600);
  new QWidget(splitter.get());
  new QWidget(splitter.get());
  splitter->setSplitterSize(45);
  splitter->setSplitterPoint(static_cast<float>(Twips(100)));
  splitter->show();
  const float before = splitter->SplitterPoint();
  const QRect bar = Bar();
  QPoint at(100, bar.top() + 1);
  Mouse(QEvent::MouseButtonPress, at, Qt::LeftButton);
  // The first move compares with the point the last drag left (none yet), so
  // it may re-arrange; after it, one pixel (15 twips) a move stays below the
  // bar thickness.
  at += QPoint(0, 1);
  Mouse(QEvent::MouseMove, at, Qt::LeftButton);
  const QRect after_first = Bar();
  for (int i = 1; i < 200; ++i) {
    at += QPoint(0, 1);
    Mouse(QEvent::MouseMove, at, Qt::LeftButton);
    ASSERT_EQ(Bar(), after_first) << "re-arranged at move " << i;
  }
  Mouse(QEvent::MouseButtonRelease, at, Qt::NoButton);
  EXPECT_NEAR(splitter->SplitterPoint() - before, Twips(200), Twips(1));
  EXPECT_NEAR(Bar().top() - bar.top(), 200, 1);
}

TEST_F(SplitterTest, OtherButtonsDoNotDrag) {
  Make(2);
  const float before = splitter->SplitterPoint();
  QWidget* bar = splitter->imgSplitter();
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 1), bar->mapToGlobal(QPointF(5, 1)), Qt::RightButton,
                    Qt::RightButton, Qt::NoModifier);
  QApplication::sendEvent(bar, &press);
  Mouse(QEvent::MouseMove, QPoint(5, 300), Qt::RightButton);
  EXPECT_FLOAT_EQ(splitter->SplitterPoint(), before);
}

TEST_F(SplitterTest, AbsurdSizesStillPlaceTheBar) {
  Make(2);
  for (float size : {3e38f, -3e38f, 0.0f}) {
    splitter->setSplitterSize(size);
    EXPECT_TRUE(std::isfinite(splitter->SplitterPoint())) << size;
    EXPECT_LE(Bar().height(), 100000000) << size;
  }
  splitter->setSplitterSize(45);
  splitter->setSplitterPoint(static_cast<float>(Twips(200)));
  EXPECT_TRUE(panes[0]->isVisible());
  EXPECT_TRUE(panes[1]->isVisible());
}

TEST(SplitterBagTest, RoundTripsAndReadsKeysInAnyCase) {
  Splitter source;
  source.resize(200, 300);
  source.initProperties();
  EXPECT_EQ(source.Orientation(), 0);
  EXPECT_FLOAT_EQ(source.SplitterSize(), 45);
  EXPECT_FLOAT_EQ(source.SplitterPoint(), static_cast<float>(std::floor(PixelsToTwipsY(&source, 300) / 2)));
  source.setOrientation(1);
  source.setSplitterSize(60);
  source.setSplitterPoint(1234.5f);
  PropertyBag bag;
  source.writeProperties(bag);
  EXPECT_EQ(bag.keys(), QStringList({"Orientation", "SplitterPoint", "SplitterSize"}));

  Splitter copy;
  copy.resize(200, 300);
  copy.readProperties(bag);
  EXPECT_EQ(copy.Orientation(), 1);
  EXPECT_FLOAT_EQ(copy.SplitterSize(), 60);
  EXPECT_FLOAT_EQ(copy.SplitterPoint(), 1234.5f);

  Splitter other;
  other.resize(200, 300);
  other.readProperties(PropertyBag{{"splitterpoint", 1000.0}, {"SPLITTERSIZE", 30}});
  EXPECT_EQ(other.Orientation(), 0);
  EXPECT_FLOAT_EQ(other.SplitterSize(), 30);
  // Read while the size was still 0, then re-clamped by the size's setter.
  EXPECT_FLOAT_EQ(other.SplitterPoint(), 1000);
}

}  // namespace
}  // namespace sorvel
