// Small text routines: the process-wide tokenizer, substring search and
// replacement, the NUL cut of fixed-size buffers, and the lenient leading-number
// reading that settings and descriptor values use.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace sorvel {

// Tokenizer with one remembered text for the whole process (GUI thread only,
// never interleave two loops). Called with a text: remembers it and returns the
// piece before the first delimiter, or nullopt when that piece is empty. Called
// with nullopt: moves past the next delimiter of the remembered text and
// returns the piece up to the following one ("" for an empty piece), or
// nullopt when no delimiter is left.
std::optional<QString> StrTok(const std::optional<QString>& text, const QString& delimiter);

// Replaces every occurrence of `search` (exact, left to right); searching goes
// on after each inserted replacement, so a replacement holding `search` is not
// replaced again. An empty `search` leaves the text unchanged.
QString ReplaceString(const QString& text, const QString& search, const QString& replacement);

// 1-based position of the last occurrence of `search` (occurrences may
// overlap), 0 when there is none or `search` is empty.
int InStrLast(const QString& text, const QString& search);

// The text up to its first NUL character; the whole text when it has none.
QString TrimNull(const QString& text);

// The text without leading and trailing spaces (spaces only, not tabs).
QString TrimSpaces(const QString& text);

// Reads the leading number of a text: blanks, tabs and line feeds are skipped
// wherever they stand; an optional sign, digits, a decimal point and an
// exponent (E or D); "&H" introduces a hexadecimal and "&O" an octal number
// (16-bit values such as &HFFFF read as signed 16-bit, longer ones as signed
// 32-bit). Reading stops at the first character that cannot continue the
// number; no number at all reads 0.
double ReadLeadingNumber(const QString& text);

// ReadLeadingNumber rounded to the nearest signed 32-bit integer, ties to the
// even neighbour; values beyond the 32-bit range are clamped to it.
int32_t ReadInt32(const QString& text);

}  // namespace sorvel
