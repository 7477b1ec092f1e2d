#include "gui/model/engine_text.h"

#include <cstring>

namespace sorvel {

QByteArray EngineText(const QString& text) {
  QByteArray bytes = text.toUtf8();
  const qsizetype zero = bytes.indexOf('\0');
  if (zero >= 0) bytes.truncate(zero);
  return bytes;
}

size_t WholeUtf8Length(const char* text, size_t length) {
  // Step back over at most three continuation bytes to the last lead byte.
  size_t lead = length;
  for (size_t back = 0; back < 4 && lead > 0; ++back) {
    const auto byte = static_cast<unsigned char>(text[lead - 1]);
    --lead;
    if ((byte & 0xC0) != 0x80) {
      size_t needed = 1;
      if ((byte & 0xE0) == 0xC0) needed = 2;
      else if ((byte & 0xF0) == 0xE0) needed = 3;
      else if ((byte & 0xF8) == 0xF0) needed = 4;
      return length - lead < needed ? lead : length;
    }
  }
  return length;  // no lead byte nearby: nothing that a cut could explain
}

QString TextFromBuffer(const char* buffer, size_t size) {
  if (buffer == nullptr) return {};
  const size_t length = strnlen(buffer, size);
  // Only a text that filled the buffer can have been cut.
  const size_t whole = length == size ? WholeUtf8Length(buffer, length) : length;
  return QString::fromUtf8(buffer, static_cast<qsizetype>(whole));
}

QString CodeFromBytes(const char* bytes, size_t size) {
  return QString::fromLatin1(bytes, static_cast<qsizetype>(size));
}

void CodeToBytes(const QString& code, char* bytes, size_t size) {
  std::memset(bytes, 0, size);
  const QByteArray latin = code.left(static_cast<qsizetype>(size)).toLatin1();
  std::memcpy(bytes, latin.constData(), static_cast<size_t>(latin.size()));
}

}  // namespace sorvel
