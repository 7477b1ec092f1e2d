// Owned zero-terminated byte string in CP932 with double-byte-aware text
// operations. Lengths are 16-bit: assigned and concatenated texts are cut to
// kMaxLength bytes (never inside a double-byte character).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sorvel {

class LibString {
 public:
  static constexpr int kMaxLength = 32766;

  LibString() = default;
  LibString(const char* text);  // NOLINT: implicit like a C string
  // `length` bytes, up to the first zero byte; a length <= 0 gives an empty string.
  LibString(const char* bytes, int16_t length);
  LibString(const LibString&) = default;
  LibString(LibString&&) noexcept = default;
  LibString& operator=(const LibString& other);
  LibString& operator=(LibString&& other) noexcept;
  LibString& operator=(const char* text);

  int16_t Length() const { return static_cast<int16_t>(text_.size()); }
  const char* Text() const { return text_.c_str(); }
  std::string_view View() const { return text_; }

  friend bool operator==(const LibString& a, const LibString& b) { return a.text_ == b.text_; }
  friend bool operator!=(const LibString& a, const LibString& b) { return !(a == b); }
  // Unsigned byte order.
  friend bool operator<(const LibString& a, const LibString& b) { return Compare(a, b) < 0; }
  friend bool operator>=(const LibString& a, const LibString& b) { return !(a < b); }
  friend bool operator>(const LibString& a, const LibString& b) { return !(a == b) && !(a < b); }
  friend bool operator<=(const LibString& a, const LibString& b) { return !(a > b); }

  // `length` bytes from the 1-based `start` (<= 0 becomes 1); a negative length
  // (bit 15 set) takes the rest. A cut-off half of a double-byte character at
  // either end becomes a blank.
  LibString Mid(int16_t start, int16_t length) const;
  LibString Left(int16_t n) const { return Mid(1, n); }
  LibString Right(int16_t n) const;

  // ASCII letters changed; both bytes of double-byte characters left alone.
  LibString LowerCase() const;
  LibString UpperCase() const;

  // 1-based position of the first match at or after `start` that begins and
  // ends on character boundaries, 0 when there is none.
  int16_t Find(const LibString& needle, int16_t start = 1) const;

  // Next token up to the first single-byte character in `separators`; with
  // `from_start` the position first moves to the first non-separator of the text.
  // The position then moves past the token and the separators after it.
  LibString Token(const LibString& separators, bool from_start);

  // The text without leading and trailing blanks; prints the first kept index
  // and the kept length.
  LibString Trim() const;

  friend LibString operator+(const LibString& a, const LibString& b);

  // printf-style formatting; on failure (no memory, bad format) the string keeps
  // its old value and false is returned.
  bool FormatString(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Number of characters of the text as UCS-2.
  int WideLength() const;
  // Writes the text as UCS-2 big-endian, whole characters only, at most
  // `max_bytes`; returns the bytes written, or the bytes needed when `buffer` is null.
  int ToUcs2(uint8_t* buffer, int max_bytes) const;

  // 0 single-byte, 1 lead byte, 2 second byte of the byte at 0-based `index`
  // (0 outside the text).
  int DoubleBytePosition(int index) const;

 private:
  static int Compare(const LibString& a, const LibString& b);
  void AssignCut(std::string_view text);
  // Letters from..from+25 become to..to+25.
  LibString ChangeCase(char from, char to) const;

  std::string text_;
  size_t token_pos_ = 0;  // byte index of the next token, always on a character boundary
};

}  // namespace sorvel
