#include "gui/controls/gradient_frame.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

namespace sorvel {
namespace {

constexpr OleColor kRed = 0x0000FF;
constexpr OleColor kBlue = 0xFF0000;

OleColor ColorAt(const std::vector<GradientRun>& runs, int pixel) {
  for (const GradientRun& run : runs)
    if (pixel >= run.begin && pixel < run.end) return run.color;
  ADD_FAILURE() << "pixel " << pixel << " not covered";
  return 0xFFFFFFFF;
}

std::vector<GradientRun> Runs(OleColor a, OleColor b, int orientation, int position, int extent) {
  auto runs = GradientFrame::DrawGradient(a, b, orientation, position, extent, QApplication::palette());
  EXPECT_TRUE(runs.has_value());
  return runs.value_or(std::vector<GradientRun>{});
}

TEST(GradientFrameRunsTest, CoverTheExtentWithTheColoursAtTheEdgesAndTheTurningPoint) {
  for (int orientation : {1, 2}) {
    std::vector<GradientRun> runs = Runs(kRed, kBlue, orientation, 50, 100);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.front().begin, 0);
    EXPECT_EQ(runs.back().end, 100);
    for (size_t i = 1; i < runs.size(); ++i) {
      EXPECT_EQ(runs[i].begin, runs[i - 1].end);
      EXPECT_NE(runs[i].color, runs[i - 1].color);
    }
    EXPECT_EQ(ColorAt(runs, 0), kBlue);  // colourB at the near edge
    EXPECT_EQ(ColorAt(runs, 50), kRed);  // colourA at the position
    // Near colourB at the far edge: q = 49 / 51 of the way from A to B.
    EXPECT_EQ(ColorAt(runs, 99), ToOleColor(10, 0, 245));
  }
  // Position 0: colourA to colourB over the whole extent.
  std::vector<GradientRun> runs = Runs(kRed, kBlue, 1, 0, 256);
  EXPECT_EQ(ColorAt(runs, 0), kRed);
  EXPECT_EQ(ColorAt(runs, 128), ToOleColor(128, 0, 127));  // q = 128 / 257
}

TEST(GradientFrameRunsTest, PositionsOutOfRangeAreClampedToTheExtent) {
  EXPECT_EQ(Runs(kRed, kBlue, 1, 150, 100), Runs(kRed, kBlue, 1, 100, 100));
  EXPECT_EQ(Runs(kRed, kBlue, 2, -7, 100), Runs(kRed, kBlue, 2, 0, 100));
  // Position at the extent: one part only, colourB rising to colourA.
  std::vector<GradientRun> runs = Runs(kRed, kBlue, 1, 100, 100);
  EXPECT_EQ(ColorAt(runs, 0), kBlue);
  EXPECT_EQ(ColorAt(runs, 99), ToOleColor(250, 0, 5));  // q = 99 / 101
}

TEST(GradientFrameRunsTest, EqualColoursAndBlackMakeOneRun) {
  for (OleColor color : {0x336699u, 0u}) {
    std::vector<GradientRun> runs = Runs(color, color, 2, 40, 120);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (GradientRun{0, 120, color}));
  }
  EXPECT_TRUE(Runs(kRed, kBlue, 1, 0, 0).empty());
}

TEST(GradientFrameRunsTest, OtherOrientationsDrawNothing) {
  for (int orientation : {0, 3, -1})
    EXPECT_FALSE(GradientFrame::DrawGradient(kRed, kBlue, orientation, 0, 100, QApplication::palette()));
}

TEST(GradientFrameRunsTest, SystemColoursResolveAgainstThePalette) {
  QPalette palette;
  palette.setColor(QPalette::Active, QPalette::Text, QColor(1, 2, 3));
  palette.setColor(QPalette::Active, QPalette::Button, QColor(1, 2, 3));
  auto runs = GradientFrame::DrawGradient(0x80000008, 0x8000000F, 2, 0, 10, palette);
  ASSERT_TRUE(runs);
  ASSERT_EQ(runs->size(), 1u);
  EXPECT_EQ(runs->front().color, 0x030201u);
}

class GradientFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame.resize(200, 60);
    frame.initProperties();
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
  }
  QColor PixelOfPicture(int x, int y) { return frame.picture().pixelColor(x, y); }
  GradientFrame frame;
};

TEST_F(GradientFrameTest, TitleBandLightensDownwards) {
  frame.setOrientation(2);
  frame.setStartColor(0x80000008);
  frame.setEndColor(0x8000000F);
  QImage shot = frame.grab().toImage();
  ASSERT_EQ(shot.height(), 60);
  int previous = -1;
  for (int y = 0; y < shot.height(); ++y) {
    int lightness = shot.pixelColor(100, y).lightness();
    EXPECT_GE(lightness, previous) << "row " << y;
    previous = lightness;
  }
  EXPECT_EQ(shot.pixelColor(100, 0), QApplication::palette().color(QPalette::Text));
  EXPECT_GT(shot.pixelColor(100, 59).lightness(), shot.pixelColor(100, 0).lightness() + 100);
}

TEST_F(GradientFrameTest, SystemColoursShowTheCurrentPaletteOnTheNextRedraw) {
  frame.setStartColor(0x80000008);
  frame.setEndColor(0x80000008);
  EXPECT_EQ(PixelOfPicture(10, 10), QApplication::palette().color(QPalette::Text));
  QPalette changed = frame.palette();
  changed.setColor(QPalette::Text, QColor(200, 10, 10));
  frame.setPalette(changed);
  frame.setPosition(0);
  EXPECT_EQ(PixelOfPicture(10, 10), QColor(200, 10, 10));
}

TEST_F(GradientFrameTest, AnOrientationThatDrawsNothingLeavesThePicture) {
  frame.setStartColor(kRed);
  frame.setEndColor(kBlue);
  QImage before = frame.picture();
  frame.setOrientation(3);
  EXPECT_EQ(frame.picture(), before);
  frame.setStartColor(0x00FF00);
  EXPECT_EQ(frame.picture(), before);
}

TEST_F(GradientFrameTest, ScaleZeroOrBeyondTheSizeSwapsTheColoursOnEveryTick) {
  frame.setStartColor(kRed);
  frame.setEndColor(kBlue);
  for (int scale : {0, -3, 100000}) {
    frame.setAnimationScale(scale);
    QColor first_pixel[4];
    for (QColor& pixel : first_pixel) {
      frame.AnimationTick();
      pixel = PixelOfPicture(0, 30);
    }
    EXPECT_NE(first_pixel[0], first_pixel[1]) << scale;
    EXPECT_EQ(first_pixel[0], first_pixel[2]) << scale;
    EXPECT_EQ(first_pixel[1], first_pixel[3]) << scale;
  }
}

TEST_F(GradientFrameTest, TheTurningPointTravelsAndStopsRestoreTheStaticGradient) {
  frame.setStartColor(kRed);
  frame.setEndColor(kBlue);
  frame.setAnimationScale(4);  // step 50 pixels
  QImage static_picture = frame.picture();
  frame.AnimationTick();  // position 50
  EXPECT_EQ(PixelOfPicture(50, 0), QColor(Qt::red));
  frame.AnimationTick();  // position 100
  EXPECT_EQ(PixelOfPicture(100, 0), QColor(Qt::red));
  frame.setAnimationScale(2);  // stored only
  EXPECT_EQ(PixelOfPicture(100, 0), QColor(Qt::red));
  frame.setAnimationWait(25);
  EXPECT_TRUE(frame.tmrAnimation()->isActive());
  EXPECT_EQ(frame.tmrAnimation()->interval(), 25);
  frame.setAnimationWait(0);
  EXPECT_FALSE(frame.tmrAnimation()->isActive());
  EXPECT_EQ(frame.picture(), static_picture);
}

TEST_F(GradientFrameTest, TheTimerAnimatesUntilStopped) {
  frame.setStartColor(kRed);
  frame.setEndColor(kBlue);
  const QImage static_picture = frame.picture();
  frame.setAnimationWait(5);
  EXPECT_TRUE(QTest::qWaitFor([&] { return frame.picture() != static_picture; }, 5000));
  frame.setAnimationWait(0);
  EXPECT_EQ(frame.picture(), static_picture);
}

TEST_F(GradientFrameTest, ATickWithoutExtentDoesNothing) {
  frame.setOrientation(2);
  frame.resize(200, 0);
  QApplication::processEvents();
  for (int i = 0; i < 3; ++i) frame.AnimationTick();
  frame.resize(200, 60);
  QApplication::processEvents();
  frame.AnimationTick();
  EXPECT_EQ(frame.picture().height(), 60);
}

TEST(GradientFrameBagTest, RoundTripsEveryPropertyInOrder) {
  GradientFrame source;
  source.initProperties();
  source.setStartColor(0x123456);
  source.setEndColor(0x8000000F);
  source.setOrientation(2);
  source.setBorderStyle(1);
  source.setEnabled(false);
  source.setPosition(300);
  source.setAnimationWait(40);
  source.setAnimationScale(7);
  PropertyBag bag;
  source.writeProperties(bag);
  EXPECT_EQ(bag.keys(), QStringList({"StartColor", "EndColor", "Orientation", "BorderStyle", "Enabled", "Position",
                                     "AnimationWait", "AnimationScale"}));
  GradientFrame copy;
  copy.readProperties(bag);
  EXPECT_EQ(copy.StartColor(), 0x123456u);
  EXPECT_EQ(copy.EndColor(), 0x8000000Fu);
  EXPECT_EQ(copy.Orientation(), 2);
  EXPECT_EQ(copy.BorderStyle(), 1);
  EXPECT_FALSE(copy.Enabled());
  EXPECT_EQ(copy.Position(), 300);
  EXPECT_EQ(copy.AnimationWait(), 40);
  EXPECT_TRUE(copy.tmrAnimation()->isActive());
  EXPECT_EQ(copy.AnimationScale(), 7);
}

TEST(GradientFrameBagTest, MissingKeysLeaveTheZeroFieldsAndKeysReadInAnyCase) {
  GradientFrame frame;
  frame.readProperties(PropertyBag{{"ORIENTATION", 2}, {"animationscale", "x"}, {"position", 1.5}});
  EXPECT_EQ(frame.StartColor(), 0u);
  EXPECT_EQ(frame.Orientation(), 2);
  EXPECT_EQ(frame.AnimationScale(), 0);  // a value of the wrong type is skipped
  EXPECT_EQ(frame.Position(), 2);        // whole numbers round half to even
}

}  // namespace
}  // namespace sorvel
