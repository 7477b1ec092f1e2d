// Byte length and width of text in the Japanese code page (CP932), and the
// digits-only check of typed numbers. A character CP932 cannot hold counts as
// the single "?" byte it becomes when the text is converted.
#pragma once

#include <QString>

namespace sorvel {

// Bytes of the text in CP932 (a double-byte character counts 2).
int AnsiByteLength(const QString& text);

// True when the text is not blank and every character (spaces included) is a
// double-byte character of CP932.
bool IsFullWidthOnly(const QString& text);

// True when the text is not blank and every character is a single byte in
// CP932 (ASCII, half-width katakana, and characters CP932 cannot hold).
bool IsHalfWidthOnly(const QString& text);

// True when the text is not blank and every character is an ASCII digit.
bool IsNumericOnly(const QString& text);

}  // namespace sorvel
