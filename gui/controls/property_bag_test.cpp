#include "gui/controls/property_bag.h"

#include <gtest/gtest.h>

#include "gui/controls/color.h"

namespace sorvel {
namespace {

TEST(PropertyBagTest, KeysCompareWithoutCaseAndKeepTheirFirstOrder) {
  PropertyBag bag{{"Max", 10}, {"Min", 1}};
  bag.writeProperty("MAX", 20);
  bag.writeProperty("Value", 5);
  EXPECT_EQ(bag.keys(), QStringList({"Max", "Min", "Value"}));
  EXPECT_EQ(bag.readProperty("max").toInt(), 20);
  EXPECT_TRUE(bag.contains("vALUE"));
  EXPECT_EQ(bag.readProperty("Missing", 7).toInt(), 7);
  EXPECT_EQ(bag.size(), 3);
}

TEST(PropertyBagTest, TypedReadsConvertOrRefuse) {
  PropertyBag bag{{"half", 2.5},   {"text", " 12 "}, {"word", "many"},     {"big", 3000000000.0}, {"short", 40000},
                  {"yes", "True"}, {"one", 1},       {"none", QVariant()}, {"single", 0.25f},     {"flag", false}};
  EXPECT_EQ(bag.readInt32("half", 0), 2);  // half to even
  EXPECT_EQ(bag.readInt32("text", 0), 12);
  EXPECT_EQ(bag.readInt32("word", 0), std::nullopt);
  EXPECT_EQ(bag.readInt32("big", 0), std::nullopt);
  EXPECT_EQ(bag.readInt32("absent", 9), 9);
  EXPECT_EQ(bag.readInt32("none", 9), std::nullopt);
  EXPECT_EQ(bag.readInt16("short", 0), std::nullopt);
  EXPECT_EQ(bag.readInt16("one", 0), 1);
  EXPECT_EQ(bag.readBool("yes", false), true);
  EXPECT_EQ(bag.readBool("one", false), true);
  EXPECT_EQ(bag.readBool("flag", true), false);
  EXPECT_EQ(bag.readBool("word", false), std::nullopt);
  EXPECT_EQ(bag.readSingle("single", 0), 0.25f);
  EXPECT_EQ(bag.readInt32("flag", 5), 0);
}

TEST(PropertyBagTest, ColoursReadSignedOrUnsigned) {
  PropertyBag bag{{"unsigned", 0x8000000F},
                  {"signed", static_cast<qint32>(0x80000012)},
                  {"plain", 0xC0C000},
                  {"too big", static_cast<qint64>(0x100000000)},
                  {"negative", static_cast<qint64>(-2147483649LL)}};
  EXPECT_EQ(bag.readColor("unsigned", 0), kSysButtonFace);
  EXPECT_EQ(bag.readColor("signed", 0), kSysButtonText);
  EXPECT_EQ(bag.readColor("plain", 0), 0xC0C000u);
  EXPECT_EQ(bag.readColor("absent", 0x8000000F), 0x8000000Fu);
  EXPECT_EQ(bag.readColor("too big", 0), std::nullopt);
  EXPECT_EQ(bag.readColor("negative", 0), std::nullopt);
}

TEST(PropertyBagTest, FontsAreStoredAsTheirDescription) {
  QFont font("Noto Sans CJK JP", 9);
  font.setBold(true);
  PropertyBag bag;
  bag.writeProperty("Font", font);
  EXPECT_EQ(bag.readProperty("font").metaType().id(), QMetaType::QString);
  EXPECT_EQ(bag.readProperty("font").toString(), font.toString());
  EXPECT_EQ(bag.readFont("FONT", QFont()), font);
  QFont fallback("Serif", 12);
  EXPECT_EQ(bag.readFont("absent", fallback), fallback);
  bag.writeProperty("Broken", "a,b,c");
  EXPECT_EQ(bag.readFont("broken", fallback), std::nullopt);
  bag.writeProperty("Number", 3);
  EXPECT_EQ(bag.readFont("number", fallback), std::nullopt);
}

TEST(ColorTest, SystemColoursFollowThePaletteAndPlainColoursIgnoreTheTopByte) {
  QPalette palette;
  palette.setColor(QPalette::Active, QPalette::Base, QColor(1, 1, 1));
  palette.setColor(QPalette::Active, QPalette::Text, QColor(2, 2, 2));
  palette.setColor(QPalette::Active, QPalette::Button, QColor(3, 3, 3));
  palette.setColor(QPalette::Active, QPalette::Dark, QColor(4, 4, 4));
  palette.setColor(QPalette::Disabled, QPalette::Text, QColor(5, 5, 5));
  palette.setColor(QPalette::Active, QPalette::ButtonText, QColor(6, 6, 6));
  const std::pair<OleColor, int> cases[] = {{0x80000005, 1}, {0x80000008, 2}, {0x8000000F, 3},
                                            {0x80000010, 4}, {0x80000011, 5}, {0x80000012, 6}};
  for (auto [color, grey] : cases) EXPECT_EQ(ResolveColor(color, palette), QColor(grey, grey, grey)) << color;
  EXPECT_EQ(ResolveColor(0x80000099, palette), QColor(0, 0, 0));
  EXPECT_EQ(ResolveColor(0x01563412, palette), QColor(0x12, 0x34, 0x56));
  EXPECT_EQ(ToOleColor(QColor(0x12, 0x34, 0x56)), 0x563412u);
}

}  // namespace
}  // namespace sorvel
