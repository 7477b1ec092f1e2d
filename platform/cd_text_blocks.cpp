#include "platform/cd_text_blocks.h"

#include "platform/text_encoding.h"

namespace sorvel::platform {
namespace {

// UTF-8 to ISO 8859-1; a character outside it becomes "?".
std::string Utf8ToLatin1(std::string_view utf8) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t n = utf8.size();
  for (size_t i = 0; i < n;) {
    size_t len = static_cast<size_t>(Utf8CharLength(p[i]));
    if (len == 1) {
      out.push_back(p[i] < 0x80 ? static_cast<char>(p[i]) : '?');
      ++i;
      continue;
    }
    bool valid = i + len <= n;
    if (!valid) len = n - i;
    uint32_t code = p[i] & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) {
        valid = false;
        len = k;
        break;
      }
      code = code << 6 | (p[i + k] & 0x3F);
    }
    out.push_back(valid && code <= 0xFF ? static_cast<char>(code) : '?');
    i += len;
  }
  return out;
}

}  // namespace

std::string CdTextBlockBytes(int block, std::string_view utf8) {
  return block == 0 ? Utf8ToLatin1(utf8) : Utf8ToCp932(utf8);
}

int CdTextPacksOfBlock(int block, int tracks, const std::function<std::string(int entry, int kind)>& text) {
  // One byte a character and its terminator in block 0, two in block 1; the
  // blank of an empty text is one character.
  const size_t char_bytes = block == 0 ? 1 : 2;
  int packs = 0;
  for (int kind = 0; kind < kCdTextKinds; ++kind) {
    bool present = false;
    size_t bytes = 0;
    for (int entry = 0; entry <= tracks; ++entry) {
      const std::string utf8 = text(entry, kind);
      present = present || !utf8.empty();
      const size_t length = utf8.empty() ? 0 : CdTextBlockBytes(block, utf8).size();
      bytes += (length == 0 ? char_bytes : length) + char_bytes;
    }
    if (present) packs += static_cast<int>((bytes + kCdTextPackData - 1) / kCdTextPackData);
  }
  return packs == 0 ? 0 : packs + kCdTextSizePacks;
}

}  // namespace sorvel::platform
