// Double-byte rules of CP932 text. Only for CP932 bytes, never for UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sorvel {

// 0x81-0x9F and 0xE0-0xFC begin a double-byte character.
constexpr bool IsCp932LeadByte(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

enum class Cp932ByteKind { kSingle = 0, kLead = 1, kTrail = 2 };

// Kind of the byte at `pos` of `text` (length `length`): a byte in the lead range
// is a lead byte unless the byte before it is itself a lead byte, so the text is
// walked from its start. A lead byte at the very end still counts as a lead byte.
inline Cp932ByteKind Cp932KindAt(const char* text, size_t length, size_t pos) {
  size_t i = 0;
  while (i < pos && i < length) {
    i += IsCp932LeadByte(static_cast<uint8_t>(text[i])) ? 2 : 1;
  }
  if (i > pos) return Cp932ByteKind::kTrail;
  if (pos < length && IsCp932LeadByte(static_cast<uint8_t>(text[pos]))) return Cp932ByteKind::kLead;
  return Cp932ByteKind::kSingle;
}

}  // namespace sorvel
