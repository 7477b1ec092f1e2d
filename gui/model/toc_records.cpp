#include "gui/model/toc_records.h"

#include <QStringList>

namespace sorvel::model {

int HexDigitValue(QChar c) {
  const char16_t u = c.unicode();
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'a' && u <= u'f') return u - u'a' + 10;
  if (u >= u'A' && u <= u'F') return u - u'A' + 10;
  return -1;
}

QString FramesToMSFText(int64_t frames) {
  const bool negative = frames < 0;
  const int64_t n = negative ? -frames : frames;
  QString text = QStringLiteral("%1:%2:%3")
                     .arg(n / 4500, 2, 10, QLatin1Char('0'))
                     .arg((n / 75) % 60, 2, 10, QLatin1Char('0'))
                     .arg(n % 75, 2, 10, QLatin1Char('0'));
  return negative ? QLatin1Char('-') + text : text;
}

QString TOCCDText::PackText() const {
  QString text;
  text.reserve(47);
  auto append = [&text](uint8_t byte) {
    if (!text.isEmpty()) text += QLatin1Char(' ');
    text += QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
  };
  append(PacketType);
  append(TrackNo);
  append(PacketNo);
  append(Flags);
  for (uint8_t byte : Data) append(byte);
  return text;
}

bool TOCCDText::ParsePackText(const QString& text) {
  const QStringList pieces = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  if (pieces.size() != 16) return false;
  std::array<uint8_t, 16> bytes{};
  for (int i = 0; i < 16; ++i) {
    const QString piece = pieces[i].trimmed();
    if (piece.isEmpty() || piece.size() > 2) return false;
    int value = 0;
    for (QChar c : piece) {
      const int digit = HexDigitValue(c);
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(value);
  }
  PacketType = bytes[0];
  TrackNo = bytes[1];
  PacketNo = bytes[2];
  Flags = bytes[3];
  for (size_t i = 0; i < Data.size(); ++i) Data[i] = bytes[4 + i];
  Crc = {0, 0};
  return true;
}

}  // namespace sorvel::model
