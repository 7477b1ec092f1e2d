#include "gui/foundation/input_check.h"

#include <gtest/gtest.h>

#include <fstream>

#include "testing/test_paths.h"

namespace sorvel {
namespace {

// What iconv's CP932 makes of one character: its byte count, or 0 when it
// cannot hold the character.
int IconvCp932Bytes(const QString& character, const std::filesystem::path& scratch) {
  const std::string in = (scratch / "in.txt").string();
  const std::string out = (scratch / "out.bin").string();
  std::ofstream(in, std::ios::binary) << character.toStdString();
  if (sorvel::testing::RunCommand("iconv -f UTF-8 -t CP932 " + in + " > " + out + " 2>/dev/null") != 0) return 0;
  std::ifstream result(out, std::ios::binary | std::ios::ate);
  return static_cast<int>(result.tellg());
}

TEST(InputCheckTest, ByteLengthAndWidthAgreeWithIconvPerCharacter) {
  if (!sorvel::testing::RequireTool("iconv")) return;
  sorvel::testing::ScratchDir dir;
  const QString characters[] = {
      "A", "\\", "~", "?", " ", "ｱ", "ﾟ", "｡", "漢", "あ", "ア", "Ａ", "１", "～", "＼", "￥", "¥", "‾", "−", "－",
      "∥", "≒", "①", "Ⅰ", "髙", "é", "€", "한", "😀", "\t",
  };
  for (const QString& c : characters) {
    const int bytes = IconvCp932Bytes(c, dir.path());
    // A character CP932 cannot hold becomes one "?" byte.
    const int expected = bytes == 0 ? 1 : bytes;
    EXPECT_EQ(AnsiByteLength(c), expected) << c.toStdString();
    if (c == " " || c == "\t") continue;  // blank alone: neither check holds
    EXPECT_EQ(IsFullWidthOnly(c), expected == 2) << c.toStdString();
    EXPECT_EQ(IsHalfWidthOnly(c), expected == 1) << c.toStdString();
  }
}

TEST(InputCheckTest, WholeTexts) {
  struct Case {
    QString text;
    int bytes;
    bool full, half, numeric;
  };
  const Case cases[] = {
      {"", 0, false, false, false},
      {"   ", 3, false, false, false},
      {"abc", 3, false, true, false},
      {"漢字列", 6, true, false, false},
      {"ＡＢ", 4, true, false, false},
      {"ＡＢ ", 5, false, false, false},
      {" ＡＢ", 5, false, false, false},
      {"ab漢", 4, false, false, false},
      {"ｶﾀｶﾅ", 4, false, true, false},
      {"0123", 4, false, true, true},
      {"12a", 3, false, true, false},
      {"-12", 3, false, true, false},
      {"1.5", 3, false, true, false},
      {"1 2", 3, false, true, false},
      {" 12", 3, false, true, false},
      {"１２", 4, true, false, false},
      {"😀", 1, false, true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnsiByteLength(c.text), c.bytes) << c.text.toStdString();
    EXPECT_EQ(IsFullWidthOnly(c.text), c.full) << c.text.toStdString();
    EXPECT_EQ(IsHalfWidthOnly(c.text), c.half) << c.text.toStdString();
    EXPECT_EQ(IsNumericOnly(c.text), c.numeric) << c.text.toStdString();
  }
  EXPECT_EQ(AnsiByteLength(QString()), 0);
}

}  // namespace
}  // namespace sorvel
