#include "native_common/lib_string.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "native_common/cp932.h"
#include "platform/text_encoding.h"

namespace sorvel {
namespace {

uint8_t Byte(const std::string& s, size_t i) { return static_cast<uint8_t>(s[i]); }

// Bytes of the character that starts at `i` (a lone lead byte at the end is one byte).
size_t CharBytes(const std::string& s, size_t i) {
  return (IsCp932LeadByte(Byte(s, i)) && i + 1 < s.size()) ? 2 : 1;
}

Cp932ByteKind KindAt(const std::string& s, size_t i) { return Cp932KindAt(s.data(), s.size(), i); }

bool IsSeparator(const std::string& separators, uint8_t b) {
  return b != 0 && std::memchr(separators.data(), b, separators.size()) != nullptr;
}

}  // namespace

LibString::LibString(const char* text) {
  if (text != nullptr) AssignCut(std::string_view(text));
}

LibString::LibString(const char* bytes, int16_t length) {
  if (bytes == nullptr || length <= 0) return;
  const void* zero = std::memchr(bytes, 0, static_cast<size_t>(length));
  size_t n = zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : static_cast<size_t>(length);
  text_.assign(bytes, n);
}

LibString& LibString::operator=(const LibString& other) {
  if (this != &other) {
    text_ = other.text_;
    token_pos_ = 0;
  }
  return *this;
}

LibString& LibString::operator=(LibString&& other) noexcept {
  if (this != &other) {
    text_ = std::move(other.text_);
    token_pos_ = 0;
  }
  return *this;
}

LibString& LibString::operator=(const char* text) {
  // Through a copy: `text` may point into this string.
  LibString copy(text);
  text_ = std::move(copy.text_);
  token_pos_ = 0;
  return *this;
}

void LibString::AssignCut(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  size_t n = text.size();
  if (n > static_cast<size_t>(kMaxLength)) {
    n = kMaxLength;
    // Never keep the lead byte of a character whose second byte was cut off.
    if (Cp932KindAt(text.data(), text.size(), n) == Cp932ByteKind::kTrail) --n;
  }
  text_.assign(text.data(), n);
}

int LibString::Compare(const LibString& a, const LibString& b) {
  size_t n = std::min(a.text_.size(), b.text_.size());
  int c = std::memcmp(a.text_.data(), b.text_.data(), n);
  if (c != 0) return c;
  if (a.text_.size() == b.text_.size()) return 0;
  return a.text_.size() < b.text_.size() ? -1 : 1;
}

LibString LibString::Mid(int16_t start, int16_t length) const {
  LibString out;
  size_t size = text_.size();
  size_t first = start <= 0 ? 0 : static_cast<size_t>(start) - 1;
  if (first >= size) return out;
  size_t count = length < 0 ? size - first : static_cast<size_t>(length);
  if (count > size - first) count = size - first;
  if (count == 0) return out;
  out.text_.assign(text_, first, count);
  if (KindAt(text_, first) == Cp932ByteKind::kTrail) out.text_.front() = ' ';
  size_t last = first + count - 1;
  if (KindAt(text_, last) == Cp932ByteKind::kLead) out.text_.back() = ' ';
  return out;
}

LibString LibString::Right(int16_t n) const {
  int start = static_cast<int>(Length()) - n + 1;
  return Mid(static_cast<int16_t>(start < 1 ? 1 : start), n);
}

LibString LibString::ChangeCase(char from, char to) const {
  LibString out;
  out.text_ = text_;
  // Whole characters at a time, so second bytes that look like letters stay.
  for (size_t i = 0; i < out.text_.size(); i += CharBytes(out.text_, i)) {
    char& c = out.text_[i];
    if (c >= from && c <= from + 25) c = static_cast<char>(c - from + to);
  }
  return out;
}

LibString LibString::LowerCase() const { return ChangeCase('A', 'a'); }

LibString LibString::UpperCase() const { return ChangeCase('a', 'A'); }

int16_t LibString::Find(const LibString& needle, int16_t start) const {
  size_t from = start <= 1 ? 0 : static_cast<size_t>(start) - 1;
  size_t n = needle.text_.size();
  if (n == 0 || n > text_.size()) return 0;
  // Walk whole characters, so a match never begins on a second byte.
  for (size_t i = 0; i + n <= text_.size(); i += CharBytes(text_, i)) {
    if (i < from) continue;
    if (std::memcmp(text_.data() + i, needle.text_.data(), n) != 0) continue;
    // The match must not end on the lead byte of a character.
    if (i + n < text_.size() && KindAt(text_, i + n) == Cp932ByteKind::kTrail) continue;
    return static_cast<int16_t>(i + 1);
  }
  return 0;
}

LibString LibString::Token(const LibString& separators, bool from_start) {
  const std::string& seps = separators.text_;
  auto skip_separators = [&](size_t i) {
    while (i < text_.size() && !IsCp932LeadByte(Byte(text_, i)) && IsSeparator(seps, Byte(text_, i))) ++i;
    return i;
  };
  if (from_start) token_pos_ = skip_separators(0);
  if (token_pos_ > text_.size()) token_pos_ = text_.size();
  size_t end = token_pos_;
  while (end < text_.size()) {
    uint8_t b = Byte(text_, end);
    if (IsCp932LeadByte(b)) {
      end += CharBytes(text_, end);
    } else if (IsSeparator(seps, b)) {
      break;
    } else {
      ++end;
    }
  }
  LibString out;
  out.text_.assign(text_, token_pos_, end - token_pos_);
  token_pos_ = skip_separators(end);
  return out;
}

LibString LibString::Trim() const {
  size_t first = 0;
  while (first < text_.size() && text_[first] == ' ') ++first;
  size_t end = text_.size();
  while (end > first && text_[end - 1] == ' ' && KindAt(text_, end - 1) != Cp932ByteKind::kTrail) --end;
  std::printf("%ld, %ld\n", static_cast<long>(first), static_cast<long>(end - first));
  LibString out;
  out.text_.assign(text_, first, end - first);
  return out;
}

LibString operator+(const LibString& a, const LibString& b) {
  LibString out;
  if (a.text_.size() + b.text_.size() <= static_cast<size_t>(LibString::kMaxLength)) {
    out.text_.reserve(a.text_.size() + b.text_.size());
    out.text_.append(a.text_).append(b.text_);
  } else {
    out.AssignCut(a.text_ + b.text_);
  }
  return out;
}

bool LibString::FormatString(const char* format, ...) {
  if (format == nullptr) return false;
  try {
    // Grow by doubling until the output fits; the kept text is cut at
    // kMaxLength anyway, so the buffer never needs to pass kMaxLength + 2 bytes.
    std::vector<char> buffer(256);
    for (;;) {
      va_list args;
      va_start(args, format);
      int n = std::vsnprintf(buffer.data(), buffer.size(), format, args);
      va_end(args);
      if (n < 0) return false;
      if (static_cast<size_t>(n) < buffer.size() || buffer.size() > static_cast<size_t>(kMaxLength)) break;
      buffer.resize(buffer.size() * 2);
    }
    LibString formatted;
    formatted.AssignCut(std::string_view(buffer.data()));
    text_ = std::move(formatted.text_);
    token_pos_ = 0;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int LibString::WideLength() const { return static_cast<int>(platform::Cp932ToUcs2Be(text_).size() / 2); }

int LibString::ToUcs2(uint8_t* buffer, int max_bytes) const {
  std::string wide = platform::Cp932ToUcs2Be(text_);
  if (buffer == nullptr) return static_cast<int>(wide.size());
  if (max_bytes <= 0) return 0;
  size_t n = std::min(wide.size(), static_cast<size_t>(max_bytes) & ~static_cast<size_t>(1));
  std::memcpy(buffer, wide.data(), n);
  return static_cast<int>(n);
}

int LibString::DoubleBytePosition(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= text_.size()) return 0;
  return static_cast<int>(KindAt(text_, static_cast<size_t>(index)));
}

}  // namespace sorvel
