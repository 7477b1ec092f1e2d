#include "mastering_engine/iso_name.h"

#include <algorithm>

#include "native_common/cp932.h"
#include "platform/text_encoding.h"

namespace sorvel {

namespace {

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Decodes one UTF-8 character at `i`; returns its code point, or -1 for an
// invalid sequence (then `*length` is 1).
long DecodeUtf8(std::string_view s, size_t i, size_t* length) {
  auto c = static_cast<unsigned char>(s[i]);
  *length = 1;
  if (c < 0x80) return c;
  size_t n = static_cast<size_t>(platform::Utf8CharLength(c));
  if (n == 1 || i + n > s.size()) return -1;
  if (!platform::IsValidUtf8(s.substr(i, n))) return -1;
  long cp = n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  *length = n;
  return cp;
}

// Control characters, invalid UTF-8 and characters outside the Basic
// Multilingual Plane become "_": none of them can be written as a disc name.
std::string SanitiseName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  size_t i = 0;
  while (i < name.size()) {
    size_t n;
    long cp = DecodeUtf8(name, i, &n);
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp > 0xFFFF) {
      out += '_';
    } else {
      out.append(name.substr(i, n));
    }
    i += n;
  }
  return out;
}

std::string TrimSpaces(std::string_view s) {
  size_t a = s.find_first_not_of(' ');
  if (a == std::string_view::npos) return {};
  size_t b = s.find_last_not_of(' ');
  return std::string(s.substr(a, b - a + 1));
}

std::string TrimTrailingSpaces(std::string_view s) {
  size_t b = s.find_last_not_of(' ');
  return b == std::string_view::npos ? std::string() : std::string(s.substr(0, b + 1));
}

constexpr std::string_view kForbiddenDos = "\"*:/;<>?\\| +,=[]";
constexpr std::string_view kForbiddenLong = "\"*:/;<>?\\|";

// Replaces the single-byte characters of `set` by "_", leaving double-byte characters alone.
std::string ReplaceCp932(std::string_view cp932, std::string_view set) {
  std::string out(cp932);
  for (size_t i = 0; i < out.size(); ++i) {
    if (IsCp932LeadByte(static_cast<uint8_t>(out[i])) && i + 1 < out.size()) {
      ++i;
      continue;
    }
    if (set.find(out[i]) != std::string_view::npos) out[i] = '_';
  }
  return out;
}

// Replaces ASCII characters of `set` in UTF-8 text (UTF-8 never hides ASCII bytes in a character).
std::string ReplaceAscii(std::string_view utf8, std::string_view set) {
  std::string out(utf8);
  for (char& c : out) {
    if (set.find(c) != std::string_view::npos) c = '_';
  }
  return out;
}

// The "~n" loop: the first candidate that is not taken.
std::string TildeName(const std::string& base, const std::string& ext, size_t budget, const NameTaken& taken,
                      TildeHints* hints) {
  // Candidates use at most budget - 2 bytes of the base, so names that agree
  // there share one sequence of candidates and one hint.
  std::string key = base.substr(0, Cp932CutLength(base, budget > 2 ? budget - 2 : 0));
  key += '\0';
  key += ext;
  key += '\0';
  key += std::to_string(budget);
  uint32_t start = 1;
  if (hints != nullptr) {
    auto it = hints->find(key);
    if (it != hints->end()) start = it->second;
  }
  std::string cut_ext = TrimTrailingSpaces(std::string_view(ext).substr(0, Cp932CutLength(ext, 4)));
  for (uint32_t i = start; i <= 999999; ++i) {
    std::string suffix(1, '~');
    suffix += std::to_string(i);
    size_t room = budget > suffix.size() ? budget - suffix.size() : 0;
    std::string cp = TrimTrailingSpaces(std::string_view(base).substr(0, Cp932CutLength(base, room)));
    cp += suffix;
    cp += cut_ext;
    std::string candidate = NameFromCp932(cp);
    if (!taken(candidate)) {
      if (hints != nullptr) (*hints)[key] = i;
      return candidate;
    }
  }
  return {};
}

// Whether `base` ends in "~" and a number from 1, as the "~n" loop makes it.
bool HasTildeSuffix(const std::string& base) {
  const size_t tilde = base.rfind('~');
  if (tilde == std::string::npos || tilde + 1 >= base.size() || base[tilde + 1] == '0') return false;
  return std::all_of(base.begin() + static_cast<std::ptrdiff_t>(tilde) + 1, base.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// Steps shared by the 8.3 rules: replace, upper-case, split, dots of the base to "_".
void DosParts(const std::string& cp932, std::string* base, std::string* ext) {
  std::string s = UpperCp932(ReplaceCp932(cp932, kForbiddenDos));
  size_t dot = s.rfind('.');  // 0x2E is never a CP932 trail byte
  *base = dot == std::string::npos ? s : s.substr(0, dot);
  *ext = dot == std::string::npos ? std::string() : s.substr(dot);
  for (char& c : *base) {
    if (c == '.') c = '_';
  }
}

}  // namespace

std::string NameToCp932(std::string_view utf8) {
  return IsAscii(utf8) ? std::string(utf8) : platform::Utf8ToCp932(utf8);
}

std::string NameFromCp932(std::string_view cp932) {
  return IsAscii(cp932) ? std::string(cp932) : platform::Cp932ToUtf8(cp932);
}

std::string NameToUcs2Be(std::string_view utf8) {
  if (!IsAscii(utf8)) return platform::Utf8ToUcs2Be(utf8);
  std::string out(utf8.size() * 2, '\0');
  for (size_t i = 0; i < utf8.size(); ++i) out[2 * i + 1] = utf8[i];
  return out;
}

std::string UpperCp932(std::string_view cp932) {
  std::string out(cp932);
  for (size_t i = 0; i < out.size(); ++i) {
    if (IsCp932LeadByte(static_cast<uint8_t>(out[i]))) {
      ++i;
      continue;
    }
    if (out[i] >= 'a' && out[i] <= 'z') out[i] = static_cast<char>(out[i] - 'a' + 'A');
  }
  return out;
}

std::string UpperAscii(std::string_view utf8) {
  std::string out(utf8);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

size_t Cp932CutLength(std::string_view cp932, size_t max_bytes) {
  size_t i = 0;
  while (i < cp932.size()) {
    size_t n = IsCp932LeadByte(static_cast<uint8_t>(cp932[i])) && i + 1 < cp932.size() ? 2 : 1;
    if (i + n > max_bytes) break;
    i += n;
  }
  return i;
}

bool HasCp932DoubleByte(std::string_view cp932) {
  for (char c : cp932) {
    if (IsCp932LeadByte(static_cast<uint8_t>(c))) return true;
  }
  return false;
}

size_t Utf16Length(std::string_view utf8) {
  size_t units = 0;
  size_t i = 0;
  while (i < utf8.size()) {
    size_t n;
    long cp = DecodeUtf8(utf8, i, &n);
    units += cp > 0xFFFF ? 2 : 1;
    i += n;
  }
  return units;
}

std::string ConvertIsoNameRule(std::string_view name, int variant, bool is_directory, const NameTaken& taken,
                               TildeHints* hints) {
  std::string clean = TrimSpaces(SanitiseName(name));
  if (clean.empty()) return {};  // no name at all is refused under every variant
  switch (variant) {
    case kIsoLevel1:
    case kIsoDosCompatible:
    case kIsoLevel2: {
      std::string cp = NameToCp932(clean);
      bool strict = variant != kIsoDosCompatible;
      if (strict && HasCp932DoubleByte(cp)) return {};
      std::string base, ext;
      if (strict && is_directory) {
        // A directory identifier has no extension: cut at the last dot, and
        // any dot left becomes "_".
        size_t dot = cp.rfind('.');
        if (dot != std::string::npos) cp.resize(dot);
        base = UpperCp932(ReplaceCp932(cp, kForbiddenDos));
        for (char& c : base) {
          if (c == '.') c = '_';
        }
      } else {
        DosParts(cp, &base, &ext);
      }
      if (!base.empty() && base.size() <= 8 && ext.size() <= 4) return NameFromCp932(base + ext);
      size_t budget = variant == kIsoLevel2 ? (is_directory ? 31 : 27) : 8;
      // A level 2 name that already is such a candidate (a project's saved
      // name loaded again) stays as it is, rather than gaining a "~1" at
      // every load.
      if (variant == kIsoLevel2 && base.size() <= budget && ext.size() <= 4 && HasTildeSuffix(base)) {
        std::string kept = NameFromCp932(base + ext);
        if (!taken(kept)) return kept;
      }
      return TildeName(base, ext, budget, taken, hints);
    }
    case kIsoRomeo:
    case kIsoLevel4: {
      std::string cp = NameToCp932(clean);
      if (variant == kIsoRomeo) cp = UpperCp932(cp);
      cp = ReplaceCp932(cp, kForbiddenLong);
      size_t limit = variant == kIsoRomeo ? 128 : 219;
      if (cp.empty() || cp.size() > limit || cp == "." || cp == "..") return {};
      return NameFromCp932(cp);
    }
    case kIsoJoliet:
    case kIsoJolietPlus: {
      std::string s = ReplaceAscii(clean, kForbiddenLong);
      size_t units = Utf16Length(s);
      size_t limit = variant == kIsoJoliet ? 64 : 107;
      if (units == 0 || units > limit || s == "." || s == "..") return {};
      return s;
    }
    default:
      return {};
  }
}

std::string ConvertShortNameRule(std::string_view name, const NameTaken& taken, TildeHints* hints) {
  std::string cp = NameToCp932(TrimSpaces(SanitiseName(name)));
  std::string base, ext;
  DosParts(cp, &base, &ext);
  if (!base.empty() && base.size() <= 8 && ext.size() <= 4) {
    std::string fit = NameFromCp932(base + ext);
    if (!taken(fit)) return fit;
  }
  return TildeName(base, ext, 8, taken, hints);
}

}  // namespace sorvel
