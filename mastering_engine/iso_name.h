// Text rules behind the on-disc names: CP932 byte handling for ISO 9660
// identifiers, UTF-16 counting for Joliet, and the name conversion of each
// file-system variant. Names go in and come out as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace sorvel {

// File-system variant codes; bit 0x10 adds the Joliet supplementary descriptor.
enum IsoVariant : int {
  kIsoLevel1 = 0,
  kIsoDosCompatible = 1,
  kIsoLevel2 = 2,
  kIsoRomeo = 3,
  kIsoLevel4 = 4,
  kIsoJoliet = 16,
  kIsoJolietPlus = 17,
};

constexpr bool IsValidIsoVariant(int v) { return (v >= 0 && v <= 4) || v == 16 || v == 17; }
constexpr bool IsJolietVariant(int v) { return (v & 0x10) != 0; }

// UTF-8 to CP932 / UCS-2BE with a fast path for plain ASCII.
std::string NameToCp932(std::string_view utf8);
std::string NameFromCp932(std::string_view cp932);
std::string NameToUcs2Be(std::string_view utf8);

// Upper-cases single-byte ASCII letters; bytes of CP932 double-byte characters
// and of UTF-8 multi-byte characters stay as they are.
std::string UpperCp932(std::string_view cp932);
std::string UpperAscii(std::string_view utf8);

// Length of the longest prefix of `cp932` within `max_bytes` that ends at a character boundary.
size_t Cp932CutLength(std::string_view cp932, size_t max_bytes);
bool HasCp932DoubleByte(std::string_view cp932);

// Number of UTF-16 code units of valid UTF-8 text.
size_t Utf16Length(std::string_view utf8);

// Next free number per (base, extension, budget) of a directory, so that runs of
// similar names do not retry every taken number. Valid while the directory only grows.
using TildeHints = std::unordered_map<std::string, uint32_t>;

// Says whether a candidate (UTF-8, already upper-cased where the rule upper-cases) is taken.
using NameTaken = std::function<bool(std::string_view)>;

// The on-disc first name of `name` under `variant`; empty when the rule refuses it.
// `taken` and `hints` serve the "~n" numbering of variants 0, 1 and 2.
std::string ConvertIsoNameRule(std::string_view name, int variant, bool is_directory, const NameTaken& taken,
                               TildeHints* hints);

// The 8.3 second name of a Joliet entry, unique under `taken`; empty when no number is free.
std::string ConvertShortNameRule(std::string_view name, const NameTaken& taken, TildeHints* hints);

}  // namespace sorvel
