// Conversions between UTF-8 (every string that crosses a boundary) and CP932
// (only where the disc format needs Japanese bytes), through glibc iconv "CP932".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sorvel::platform {

// UTF-8 to CP932, one character at a time: a character CP932 cannot hold becomes "?".
// Invalid UTF-8 bytes become "?" as well.
std::string Utf8ToCp932(std::string_view utf8);

// CP932 to UTF-8; a byte sequence that is not valid CP932 becomes "?".
std::string Cp932ToUtf8(std::string_view cp932);

// CP932 to UCS-2 big-endian (two bytes a character). An invalid sequence becomes "?".
std::string Cp932ToUcs2Be(std::string_view cp932);

// UTF-8 to UCS-2 big-endian; a character outside the Basic Multilingual Plane
// (or an invalid byte) becomes "?".
std::string Utf8ToUcs2Be(std::string_view utf8);

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates).
bool IsValidUtf8(std::string_view bytes);

// Length of the well-formed UTF-8 character that begins `bytes`, 0 when the
// bytes do not begin with one (or are empty).
size_t Utf8SequenceLength(std::string_view bytes);

// The text of a host file name, which Linux keeps as bytes: the bytes when
// they are UTF-8, else their CP932 reading when every byte decodes, else the
// reading of the two that decodes more bytes (UTF-8 when even), with "_" for
// each byte it cannot decode.
std::string HostNameToUtf8(std::string_view bytes);

// Decodes text read from a file: UTF-8 (a leading BOM is dropped) when the bytes
// are valid UTF-8, else CP932 converted to UTF-8.
std::string DecodeTextFile(std::string_view bytes);

// Length in bytes of the UTF-8 character that starts with `lead` (1 for invalid leads).
int Utf8CharLength(unsigned char lead);

}  // namespace sorvel::platform
