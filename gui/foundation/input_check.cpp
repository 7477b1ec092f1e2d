#include "gui/foundation/input_check.h"

#include <string>

#include "gui/foundation/string_module.h"
#include "platform/text_encoding.h"

namespace sorvel {
namespace {

bool IsCp932LeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// True when every character of the text takes `width` bytes (1 or 2) in CP932.
// The text is converted once; unconvertible characters come back as "?".
bool EveryCharacterTakes(const QString& text, int width) {
  if (TrimSpaces(text).isEmpty()) return false;
  const std::string bytes = platform::Utf8ToCp932(text.toStdString());
  size_t i = 0;
  while (i < bytes.size()) {
    bool dbcs = IsCp932LeadByte(static_cast<unsigned char>(bytes[i])) && i + 1 < bytes.size();
    if ((dbcs ? 2 : 1) != width) return false;
    i += dbcs ? 2 : 1;
  }
  return true;
}

}  // namespace

int AnsiByteLength(const QString& text) {
  if (text.isEmpty()) return 0;
  return static_cast<int>(platform::Utf8ToCp932(text.toStdString()).size());
}

bool IsFullWidthOnly(const QString& text) { return EveryCharacterTakes(text, 2); }

bool IsHalfWidthOnly(const QString& text) { return EveryCharacterTakes(text, 1); }

bool IsNumericOnly(const QString& text) {
  if (TrimSpaces(text).isEmpty()) return false;
  for (QChar c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  return true;
}

}  // namespace sorvel
