#include "platform/text_encoding.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace sorvel::platform {
namespace {

// One iconv descriptor per conversion; iconv_t is not shareable between threads.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert ") + from + " to " + to);
    }
  }
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts the whole input. On an invalid or unconvertible sequence the
  // replacement is appended and `skip(in, left)` input bytes are passed over.
  template <typename Skip>
  std::string Convert(std::string_view input, std::string_view replacement, Skip skip) {
    std::string out;
    out.reserve(input.size() * 2 + 4);
    char* in = const_cast<char*>(input.data());
    size_t in_left = input.size();
    char buffer[1024];
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    while (in_left > 0) {
      char* dst = buffer;
      size_t dst_left = sizeof buffer;
      size_t rc = iconv(cd_, &in, &in_left, &dst, &dst_left);
      out.append(buffer, static_cast<size_t>(dst - buffer));
      if (rc != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: replace one character and go on.
      size_t n = skip(reinterpret_cast<const unsigned char*>(in), in_left);
      if (n == 0 || n > in_left) n = 1;
      in += n;
      in_left -= n;
      out.append(replacement);
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buffer;
    size_t dst_left = sizeof buffer;
    iconv(cd_, nullptr, nullptr, &dst, &dst_left);
    out.append(buffer, static_cast<size_t>(dst - buffer));
    return out;
  }

 private:
  iconv_t cd_;
};

size_t SkipUtf8Char(const unsigned char* p, size_t left) {
  size_t n = static_cast<size_t>(Utf8CharLength(p[0]));
  if (n > left) n = left;
  for (size_t i = 1; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return i;
  }
  return n;
}

// A bad lead byte takes its second byte along only when that byte could trail
// it; otherwise the second byte starts the next character and is kept.
size_t SkipCp932Char(const unsigned char* p, size_t left) {
  unsigned char b = p[0];
  bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  if (!lead || left < 2) return 1;
  unsigned char t = p[1];
  bool trail = (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC);
  return trail ? 2 : 1;
}

const char kUcs2Question[] = {0x00, 0x3F};

}  // namespace

int Utf8CharLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

std::string Utf8ToCp932(std::string_view utf8) {
  Iconv cv("CP932", "UTF-8");
  return cv.Convert(utf8, "?", SkipUtf8Char);
}

std::string Cp932ToUtf8(std::string_view cp932) {
  Iconv cv("UTF-8", "CP932");
  return cv.Convert(cp932, "?", SkipCp932Char);
}

std::string Cp932ToUcs2Be(std::string_view cp932) {
  Iconv cv("UCS-2BE", "CP932");
  return cv.Convert(cp932, std::string_view(kUcs2Question, 2), SkipCp932Char);
}

std::string Utf8ToUcs2Be(std::string_view utf8) {
  Iconv cv("UCS-2BE", "UTF-8");
  return cv.Convert(utf8, std::string_view(kUcs2Question, 2), SkipUtf8Char);
}

size_t Utf8SequenceLength(std::string_view bytes) {
  if (bytes.empty()) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char c = p[0];
  if (c < 0x80) return 1;
  const int len = Utf8CharLength(c);
  if (len == 1 || c == 0xC0 || c == 0xC1 || c > 0xF4) return 0;
  if (static_cast<size_t>(len) > bytes.size()) return 0;
  for (int k = 1; k < len; ++k) {
    if ((p[k] & 0xC0) != 0x80) return 0;
  }
  const unsigned char c1 = p[1];
  if (c == 0xE0 && c1 < 0xA0) return 0;  // overlong
  if (c == 0xED && c1 >= 0xA0) return 0;  // surrogate
  if (c == 0xF0 && c1 < 0x90) return 0;  // overlong
  if (c == 0xF4 && c1 >= 0x90) return 0;  // above U+10FFFF
  return static_cast<size_t>(len);
}

bool IsValidUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t len = Utf8SequenceLength(bytes);
    if (len == 0) return false;
    bytes.remove_prefix(len);
  }
  return true;
}

std::string HostNameToUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  // Both readings with "_" for each byte they cannot decode; CP932 when it
  // leaves fewer such bytes (all of them decoded, at best).
  size_t cp932_misses = 0;
  Iconv cv("UTF-8", "CP932");
  std::string cp932 = cv.Convert(bytes, "_", [&cp932_misses](const unsigned char*, size_t) {
    ++cp932_misses;
    return size_t{1};
  });
  size_t utf8_misses = 0;
  std::string utf8;
  utf8.reserve(bytes.size());
  while (!bytes.empty()) {
    const size_t len = Utf8SequenceLength(bytes);
    if (len == 0) {
      utf8.push_back('_');
      ++utf8_misses;
      bytes.remove_prefix(1);
    } else {
      utf8.append(bytes.substr(0, len));
      bytes.remove_prefix(len);
    }
  }
  return cp932_misses < utf8_misses ? cp932 : utf8;
}

std::string DecodeTextFile(std::string_view bytes) {
  if (IsValidUtf8(bytes)) {
    if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
        static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF) {
      bytes.remove_prefix(3);
    }
    return std::string(bytes);
  }
  return Cp932ToUtf8(bytes);
}

}  // namespace sorvel::platform
