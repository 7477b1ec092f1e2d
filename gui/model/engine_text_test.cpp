// Text across the engine boundary: cut copies and fixed-width code fields.
#include "gui/model/engine_text.h"

#include <gtest/gtest.h>

#include <QByteArray>

namespace sorvel {
namespace {

TEST(EngineTextTest, CopiesThatFilledTheBufferDropACutCharacter) {
  struct Case {
    QByteArray buffer;
    QString text;
  };
  const Case cases[] = {
      {QByteArray("abc\0\0", 5), QStringLiteral("abc")},
      {QByteArray("abcde", 5), QStringLiteral("abcde")},                   // full, no terminator
      {QByteArray("ab\xE5\x85", 4), QStringLiteral("ab")},                 // 3-byte character cut after 2
      {QByteArray("ab\xE5", 3), QStringLiteral("ab")},                     // cut after 1
      {QByteArray("\xE5\x85\x89", 3), QStringLiteral("光")},               // whole
      {QByteArray("a\xF0\x9F\x98", 4), QStringLiteral("a")},               // 4-byte character cut
      {QByteArray("a\xC3\xA9", 3), QStringLiteral("aé")},
      {QByteArray("a\xC3", 2), QStringLiteral("a")},
      {QByteArray("a\xE5\0\0", 4), QString::fromUtf8("a\xE5")},           // not cut: shown as invalid
      {QByteArray("x\0yz", 4), QStringLiteral("x")},
      {QByteArray(), QString()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextFromBuffer(c.buffer.constData(), static_cast<size_t>(c.buffer.size())), c.text)
        << c.buffer.toHex().toStdString();
  }
  EXPECT_EQ(TextFromBuffer(nullptr, 10), QString());
}

TEST(EngineTextTest, OutgoingTextIsUtf8UpToAnEmbeddedZero) {
  EXPECT_EQ(EngineText(QStringLiteral("像盤")), QByteArray("\xE5\x83\x8F\xE7\x9B\xA4"));
  EXPECT_EQ(EngineText(QStringLiteral("a") + QChar(0) + QStringLiteral("b")), QByteArray("a"));
}

TEST(EngineTextTest, CodeFieldsKeepEveryByte) {
  char bytes[13];
  CodeToBytes(QStringLiteral("49012345678941234"), bytes, sizeof bytes);
  EXPECT_EQ(QByteArray(bytes, 13), QByteArray("4901234567894"));
  CodeToBytes(QStringLiteral("12"), bytes, sizeof bytes);
  EXPECT_EQ(QByteArray(bytes, 13), QByteArray("12\0\0\0\0\0\0\0\0\0\0\0", 13));
  EXPECT_EQ(CodeFromBytes("\xFF" "A", 2), QString(QChar(0xFF)) + QLatin1Char('A'));
}

}  // namespace
}  // namespace sorvel
