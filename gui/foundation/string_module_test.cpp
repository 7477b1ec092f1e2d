#include "gui/foundation/string_module.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace sorvel {
namespace {

// Runs a whole tokenizing loop: the pieces, with "<null>" for the final nullopt.
QStringList Tokenize(const QString& text, const QString& delimiter) {
  QStringList pieces;
  std::optional<QString> piece = StrTok(text, delimiter);
  for (int guard = 0; guard < 100; ++guard) {
    if (!piece) {
      pieces.append("<null>");
      return pieces;
    }
    pieces.append(*piece);
    piece = StrTok(std::nullopt, delimiter);
  }
  pieces.append("<endless>");
  return pieces;
}

TEST(StrTokTest, LoopsGiveEveryPieceThenNull) {
  struct Case {
    QString text, delimiter;
    QStringList expected;
  };
  const Case cases[] = {
      {"a\t\tb", "\t", {"a", "", "b", "<null>"}},
      {"\ta", "\t", {"<null>"}},
      {"", "\t", {"<null>"}},
      {"abc", "\t", {"abc", "<null>"}},
      {"a|b|", "|", {"a", "b", "", "<null>"}},
      {"C:\\dir\\file", "\\", {"C:", "dir", "file", "<null>"}},
      {"x--y--z", "--", {"x", "y", "z", "<null>"}},
      {QString("a") + QChar(0) + "b", QString(QChar(0)), {"a", "b", "<null>"}},
      {"abc", "", {"abc", "<null>"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Tokenize(c.text, c.delimiter), c.expected) << c.text.toStdString();
}

TEST(StrTokTest, NullBeforeAnyTextAndAfterTheEndStaysNull) {
  StrTok(QString("a"), "\t");
  EXPECT_FALSE(StrTok(std::nullopt, "\t").has_value());
  EXPECT_FALSE(StrTok(std::nullopt, "\t").has_value());
}

TEST(StringModuleTest, ReplaceStringNeverReplacesItsOwnInsertions) {
  struct Case {
    QString text, search, replacement, expected;
  };
  const Case cases[] = {
      {"a|b|", "|", QString(QChar(0)), QString("a") + QChar(0) + "b" + QChar(0)},
      {"aa", "a", "aa", "aaaa"},
      {"abc", "", "x", "abc"},
      {"abcabc", "bc", "", "aa"},
      {"aaa", "aa", "b", "ba"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplaceString(c.text, c.search, c.replacement), c.expected);
}

TEST(StringModuleTest, InStrLastAndTrimNull) {
  EXPECT_EQ(InStrLast("C:\\a\\b", "\\"), 5);
  EXPECT_EQ(InStrLast("C:\\a\\b", ":"), 2);
  EXPECT_EQ(InStrLast("C:\\a\\b", "x"), 0);
  EXPECT_EQ(InStrLast("aaa", "aa"), 2);
  EXPECT_EQ(InStrLast("abc", ""), 0);
  EXPECT_EQ(TrimNull(QString("ab") + QChar(0) + "cd"), "ab");
  EXPECT_EQ(TrimNull("abc"), "abc");
  EXPECT_EQ(TrimNull(QString(QChar(0))), "");
  EXPECT_EQ(TrimSpaces("  a b \t "), "a b \t");
}

TEST(StringModuleTest, LeadingNumbersReadAsSettingsExpect) {
  struct Case {
    const char* text;
    int32_t expected;
  };
  const Case cases[] = {
      {"8abc", 8},       {"abc", 0},        {"2.5", 2},          {"3.5", 4},          {"-2.5", -2},
      {"1 2", 12},       {" \t12\n3", 123}, {"32768", 32768},    {"&H8000", -32768},  {"&H10000", 65536},
      {"&HFFFF", -1},    {"&O17", 15},      {"&hff", 255},       {"&Hx", 0},          {"1e3", 1000},
      {"1D2", 100},      {"1e", 1},         {"+7", 7},           {"-", 0},            {".5", 0},
      {"1.5", 2},        {"", 0},           {"99999999999", 2147483647},              {"-99999999999", -2147483647 - 1},
      {"1e400", 2147483647},                {"1e-400", 0},       {"&HFFFFFFFF", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadInt32(QString::fromUtf8(c.text)), c.expected) << c.text;
}

}  // namespace
}  // namespace sorvel
