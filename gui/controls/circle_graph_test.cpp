#include "gui/controls/circle_graph.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <cmath>

namespace sorvel {
namespace {

constexpr OleColor kTrue = 0x00FF00;   // green
constexpr OleColor kFalse = 0x0000FF;  // red
constexpr OleColor kBack = 0xFFFFFF;   // white

TEST(CircleGraphMathTest, PercentagesAndAnglesRoundHalfToEven) {
  EXPECT_EQ(CircleGraphPercentage(0, 100, 25), 25);
  EXPECT_EQ(CircleGraphPercentage(0, 3, 1), 33);
  EXPECT_EQ(CircleGraphPercentage(0, 8, 1), 12);  // 12.5
  EXPECT_EQ(CircleGraphPercentage(-100, 100, 0), 50);
  // The widest range: its span does not fit 32 bits and must not overflow.
  EXPECT_EQ(CircleGraphPercentage(-2147483647 - 1, 2147483647, 0), 50);
  EXPECT_EQ(CircleGraphPercentage(-2147483647 - 1, 2147483647, 2147483647), 100);
  EXPECT_EQ(CircleGraphAngle(1), 86);  // 446.4 -> 446
  EXPECT_EQ(CircleGraphAngle(0), 90);
  EXPECT_EQ(CircleGraphAngle(25), 0);
  EXPECT_EQ(CircleGraphAngle(50), 270);
  EXPECT_EQ(CircleGraphAngle(100), 90);
}

TEST(CircleGraphTest, RangeAndValueRules) {
  CircleGraph graph;
  graph.initProperties();
  graph.setValue(101);
  EXPECT_EQ(graph.Value(), 0);
  graph.setValue(-1);
  EXPECT_EQ(graph.Value(), 0);
  graph.setValue(70);
  EXPECT_EQ(graph.Value(), 70);
  graph.setMin(50);  // accepted, the value follows
  EXPECT_EQ(graph.Min(), 50);
  EXPECT_EQ(graph.Value(), 50);
  graph.setMin(100);  // not below Max
  EXPECT_EQ(graph.Min(), 50);
  graph.setMin(0);
  graph.setValue(7);
  graph.setMax(10);
  EXPECT_EQ(graph.Max(), 10);
  EXPECT_EQ(graph.Value(), 0);
  graph.setMax(0);
  EXPECT_EQ(graph.Max(), 10);
}

class CircleGraphPixelTest : public ::testing::TestWithParam<int> {};

// The colour at 0.75 of the ring's radius toward 1:30 (upper right) and 7:30
// (lower left), and at the centre.
TEST_P(CircleGraphPixelTest, ShowsTheTrueColourOverTheValuesShare) {
  CircleGraph graph;
  graph.resize(200, 200);
  graph.initProperties();
  graph.setGraphTrueColor(kTrue);
  graph.setGraphFalseColor(kFalse);
  graph.setBackColor(kBack);
  graph.setForeColor(0);
  graph.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&graph));
  const int value = GetParam();
  graph.setValue(value);
  QImage shot = graph.grab().toImage();
  const double r = 100 * 0.98 * 0.98 * 0.75;  // vertical radius of the ring, k = 0.98
  const double d = r / std::sqrt(2.0);
  QColor upper_right = shot.pixelColor(static_cast<int>(100 + d), static_cast<int>(100 - d));
  QColor lower_left = shot.pixelColor(static_cast<int>(100 - d), static_cast<int>(100 + d));
  const QColor true_color(0, 255, 0), false_color(255, 0, 0);
  EXPECT_EQ(upper_right, value >= 25 ? true_color : false_color);
  EXPECT_EQ(lower_left, value == 100 ? true_color : false_color);
  // The hole in the back colour (left of the centred text).
  EXPECT_EQ(shot.pixelColor(100, 100 - 40), QColor(Qt::white));
  EXPECT_EQ(shot.pixelColor(2, 2), QColor(Qt::white));
}

INSTANTIATE_TEST_SUITE_P(Values, CircleGraphPixelTest, ::testing::Values(0, 25, 50, 100));

TEST(CircleGraphTest, RejectedValuesDrawNothingAndNoRangeDrawsNothing) {
  CircleGraph graph;
  graph.resize(100, 80);
  graph.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&graph));
  // No range yet: colours are stored but nothing is drawn.
  const QImage blank = graph.picMain()->buffer().image();
  graph.setBackColor(0x123456);
  graph.setValue(0);
  EXPECT_EQ(graph.picMain()->buffer().image(), blank);
  graph.setMax(100);
  graph.setValue(40);
  const QImage drawn = graph.picMain()->buffer().image();
  EXPECT_NE(drawn, blank);
  graph.setBackColor(0x123456);
  graph.setValue(40);
  graph.setValue(101);
  EXPECT_EQ(graph.picMain()->buffer().image(), drawn);
}

TEST(CircleGraphTest, FontFittingIsCachedAndBounded) {
  CircleGraph graph;
  graph.resize(120, 120);
  graph.initProperties();
  graph.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&graph));
  const float fitted = graph.cachedFontSize();
  EXPECT_GT(fitted, 1);
  graph.setValue(50);
  EXPECT_EQ(graph.cachedFontSize(), fitted);
  graph.resize(100000, 120);  // the fitting loop stops at 1000 points
  QApplication::processEvents();
  EXPECT_LE(graph.cachedFontSize(), 1000);
}

TEST(CircleGraphBagTest, RoundTripsAndAStoredMinAboveZeroIsRejectedByAFreshControl) {
  CircleGraph source;
  source.initProperties();
  source.setMax(333000);
  source.setValue(1000);
  source.setForeColor(0xC0C000);
  source.setGraphTrueColor(0xC0C000);
  source.setGraphFalseColor(0xFFFF80);
  PropertyBag bag;
  source.writeProperties(bag);
  EXPECT_EQ(bag.keys(),
            QStringList({"Min", "Max", "Value", "ForeColor", "BackColor", "GraphTrueColor", "GraphFalseColor"}));
  CircleGraph copy;
  copy.readProperties(bag);
  EXPECT_EQ(copy.Min(), 0);
  EXPECT_EQ(copy.Max(), 333000);
  EXPECT_EQ(copy.Value(), 1000);
  EXPECT_EQ(copy.ForeColor(), 0xC0C000u);
  EXPECT_EQ(copy.BackColor(), 0x8000000Fu);
  EXPECT_EQ(copy.GraphTrueColor(), 0xC0C000u);
  EXPECT_EQ(copy.GraphFalseColor(), 0xFFFF80u);

  CircleGraph fresh;
  fresh.readProperties(PropertyBag{{"min", 50}, {"MAX", 100}, {"value", 60}});
  EXPECT_EQ(fresh.Min(), 0);
  EXPECT_EQ(fresh.Max(), 100);
  EXPECT_EQ(fresh.Value(), 60);
}

}  // namespace
}  // namespace sorvel
