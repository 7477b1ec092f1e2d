#include "gui/foundation/string_module.h"

#include <QByteArray>
#include <charconv>
#include <cmath>
#include <limits>

namespace sorvel {
namespace {

// The tokenizer's remembered text. Null until the first call with a text.
QString g_tokenizer_text;

bool IsBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\n'; }

// The characters of `text` that can take part in a number (blanks removed).
QString WithoutBlanks(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (QChar c : text) {
    if (!IsBlank(c)) out.append(c);
  }
  return out;
}

double ReadRadixNumber(const QString& digits, int radix) {
  // Only as many digits as belong to the radix; at most 64 bits are kept.
  uint64_t value = 0;
  int count = 0;
  for (QChar c : digits) {
    int d = -1;
    if (c >= u'0' && c <= u'9') d = c.unicode() - u'0';
    else if (radix == 16 && c >= u'a' && c <= u'f') d = c.unicode() - u'a' + 10;
    else if (radix == 16 && c >= u'A' && c <= u'F') d = c.unicode() - u'A' + 10;
    if (d < 0 || d >= radix) break;
    if (value > (std::numeric_limits<uint64_t>::max() >> 4)) break;
    value = value * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
    ++count;
  }
  if (count == 0) return 0;
  // Like the literals they come from: a value of 16 bits is a signed 16-bit
  // number, one of 32 bits a signed 32-bit number.
  if (value <= 0xFFFF) return static_cast<int16_t>(static_cast<uint16_t>(value));
  if (value <= 0xFFFFFFFFu) return static_cast<int32_t>(static_cast<uint32_t>(value));
  return static_cast<double>(value);
}

}  // namespace

std::optional<QString> StrTok(const std::optional<QString>& text, const QString& delimiter) {
  if (text.has_value()) {
    g_tokenizer_text = *text;
    qsizetype end = delimiter.isEmpty() ? -1 : g_tokenizer_text.indexOf(delimiter);
    QString piece = end < 0 ? g_tokenizer_text : g_tokenizer_text.left(end);
    if (piece.isEmpty()) return std::nullopt;
    return piece;
  }
  qsizetype at = delimiter.isEmpty() ? -1 : g_tokenizer_text.indexOf(delimiter);
  if (at < 0) {
    g_tokenizer_text.clear();
    return std::nullopt;
  }
  g_tokenizer_text = g_tokenizer_text.mid(at + delimiter.size());
  qsizetype end = g_tokenizer_text.indexOf(delimiter);
  return end < 0 ? g_tokenizer_text : g_tokenizer_text.left(end);
}

QString ReplaceString(const QString& text, const QString& search, const QString& replacement) {
  if (search.isEmpty()) return text;
  QString out;
  qsizetype from = 0;
  for (;;) {
    qsizetype at = text.indexOf(search, from);
    if (at < 0) break;
    out.append(QStringView(text).mid(from, at - from));
    out.append(replacement);
    from = at + search.size();
  }
  out.append(QStringView(text).mid(from));
  return out;
}

int InStrLast(const QString& text, const QString& search) {
  if (search.isEmpty()) return 0;
  qsizetype at = text.lastIndexOf(search);
  return at < 0 ? 0 : static_cast<int>(at + 1);
}

QString TrimNull(const QString& text) {
  qsizetype at = text.indexOf(QChar(u'\0'));
  return at < 0 ? text : text.left(at);
}

QString TrimSpaces(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && text[begin] == u' ') ++begin;
  while (end > begin && text[end - 1] == u' ') --end;
  return text.mid(begin, end - begin);
}

double ReadLeadingNumber(const QString& text) {
  const QString s = WithoutBlanks(text);
  if (s.size() >= 2 && s[0] == u'&') {
    QChar kind = s[1].toUpper();
    if (kind == u'H') return ReadRadixNumber(s.mid(2), 16);
    if (kind == u'O') return ReadRadixNumber(s.mid(2), 8);
    return 0;
  }
  // Decimal: [sign] digits [. digits] [(E|D) [sign] digits]
  qsizetype i = 0;
  QString number;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) number.append(s[i++]);
  bool digits = false;
  while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
    number.append(s[i++]);
    digits = true;
  }
  if (i < s.size() && s[i] == u'.') {
    number.append(s[i++]);
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
      number.append(s[i++]);
      digits = true;
    }
  }
  if (!digits) return 0;
  if (i < s.size() && (s[i].toUpper() == u'E' || s[i].toUpper() == u'D')) {
    qsizetype j = i + 1;
    QString exponent = QStringLiteral("e");
    if (j < s.size() && (s[j] == u'+' || s[j] == u'-')) exponent.append(s[j++]);
    qsizetype first = j;
    while (j < s.size() && s[j] >= u'0' && s[j] <= u'9') exponent.append(s[j++]);
    if (j > first) number.append(exponent);
  }
  QByteArray ascii = number.toLatin1();
  if (ascii.startsWith('+')) ascii.remove(0, 1);  // from_chars takes no plus sign
  double value = 0;
  auto [end, ec] = std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), value);
  (void)end;
  if (ec == std::errc::result_out_of_range) {
    if (ascii.contains("e-")) return 0;  // underflow
    return ascii.startsWith('-') ? -std::numeric_limits<double>::infinity()
                                 : std::numeric_limits<double>::infinity();
  }
  return ec == std::errc() ? value : 0;
}

int32_t ReadInt32(const QString& text) {
  double value = ReadLeadingNumber(text);
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(std::nearbyint(value));  // default rounding: ties to even
}

}  // namespace sorvel
