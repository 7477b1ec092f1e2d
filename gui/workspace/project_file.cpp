#include "gui/workspace/project_file.h"

#include <QDate>
#include <QTime>
#include <algorithm>
#include <cctype>
#include <limits>

#include "gui/foundation/string_module.h"
#include "platform/text_encoding.h"

namespace sorvel::project {

namespace {

const QString kEscapedSource = QStringLiteral("file://");

QString FieldAt(const QStringList& fields, qsizetype index) {
  return index < fields.size() ? fields[index] : QString();
}

// `count` ASCII digits of `text` at `at` as a number (the caller checked them).
int Digits(const QString& text, qsizetype at, qsizetype count) {
  int value = 0;
  for (qsizetype i = at; i < at + count; ++i) value = value * 10 + (text[i].unicode() - u'0');
  return value;
}

}  // namespace

std::optional<Section> ParseSectionHeader(const QString& line) {
  const QString text = TrimSpaces(line);
  if (text.size() < 2 || !text.startsWith(u'[') || !text.endsWith(u']')) return std::nullopt;
  const QString name = text.mid(1, text.size() - 2).toUpper();
  const QString word = TrimSpaces(name).section(u' ', 0, 0);
  if (word == u"MASTERING") return Section::kMastering;
  if (word == u"DATA") return Section::kData;
  if (word == u"AUDIO") return Section::kAudio;
  return Section::kOther;
}

QStringList SplitFields(const QString& line) { return line.split(u'\t'); }

int32_t LeadingNumber(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  // Accumulated as a magnitude that stops growing past the 32-bit range.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
    magnitude = std::min<int64_t>(kLimit, magnitude * 10 + (text[i].unicode() - u'0'));
  const int64_t value = negative ? -magnitude : magnitude;
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

std::optional<QDateTime> ParseTimeStamp(const QString& text) {
  if (text.size() != 14) return std::nullopt;
  for (const QChar c : text)
    if (c < u'0' || c > u'9') return std::nullopt;
  const QDate date(Digits(text, 0, 4), Digits(text, 4, 2), Digits(text, 6, 2));
  const int hour = Digits(text, 8, 2);
  const int minute = Digits(text, 10, 2);
  const int second = Digits(text, 12, 2);
  if (!date.isValid() || !QTime::isValid(hour, minute, second)) return std::nullopt;
  return QDateTime(date, QTime(hour, minute, second));
}

QString FormatTimeStamp(const QDateTime& time_stamp) {
  const QDate date = time_stamp.date();
  const QTime time = time_stamp.time();
  // Years before 1000 keep four digits, as the reader expects.
  return QStringLiteral("%1%2%3%4%5%6")
      .arg(date.year(), 4, 10, QLatin1Char('0'))
      .arg(date.month(), 2, 10, QLatin1Char('0'))
      .arg(date.day(), 2, 10, QLatin1Char('0'))
      .arg(time.hour(), 2, 10, QLatin1Char('0'))
      .arg(time.minute(), 2, 10, QLatin1Char('0'))
      .arg(time.second(), 2, 10, QLatin1Char('0'));
}

std::optional<KeyValue> ParseMasteringLine(const QString& line) {
  const qsizetype equals = line.indexOf(u'=');
  if (equals < 0) return std::nullopt;
  return KeyValue{TrimSpaces(line.left(equals)).toUpper(), TrimSpaces(line.mid(equals + 1))};
}

Texts TextsFrom(const QStringList& fields, qsizetype first) {
  Texts texts;
  for (int i = 0; i < kTextCount; ++i) texts[i] = FieldAt(fields, first + i);
  return texts;
}

DataLine ParseDataLine(const QString& line) {
  const QStringList fields = SplitFields(line);
  DataLine data;
  data.is_directory = LeadingNumber(fields[0]) != 0;
  data.parent = TrimSpaces(FieldAt(fields, 1));
  data.name = TrimSpaces(FieldAt(fields, 2));
  data.source = TrimSpaces(FieldAt(fields, 3));
  data.time_stamp = ParseTimeStamp(TrimSpaces(FieldAt(fields, 4)));
  data.attributes = static_cast<int16_t>(std::clamp<int32_t>(LeadingNumber(FieldAt(fields, 5)),
                                                             std::numeric_limits<int16_t>::min(),
                                                             std::numeric_limits<int16_t>::max()));
  return data;
}

AudioLine ParseAudioLine(const QString& line) {
  const QStringList fields = SplitFields(line);
  AudioLine audio;
  audio.pregap = LeadingNumber(fields[0]);
  audio.postgap = LeadingNumber(FieldAt(fields, 1));
  audio.flags = LeadingNumber(FieldAt(fields, 2));
  audio.source = FieldAt(fields, 3);
  if (fields.size() > 4) audio.texts = TextsFrom(fields, 4);
  return audio;
}

QString CleanText(const QString& text) {
  QString clean = text;
  for (QChar& c : clean)
    if (c == u'\t' || c == u'\r' || c == u'\n') c = u' ';
  return clean;
}

QString JoinTexts(const Texts& texts) {
  QStringList cleaned;
  for (const QString& text : texts) cleaned << CleanText(text);
  return cleaned.join(u'\t');
}

QString FormatDataLine(const DataLine& line) {
  return QStringList{line.is_directory ? QStringLiteral("1") : QStringLiteral("0"), line.parent, line.name,
                     line.source, line.time_stamp ? FormatTimeStamp(*line.time_stamp) : QString(),
                     QString::number(line.attributes)}
      .join(u'\t');
}

QString FormatAudioLine(const AudioLine& line) {
  QString text = QStringList{QString::number(line.pregap), QString::number(line.postgap), QString::number(line.flags),
                             line.source}
                     .join(u'\t');
  if (line.texts) text += u'\t' + JoinTexts(*line.texts);
  return text;
}

QString SourceField(const QByteArray& path) {
  const bool plain =
      platform::IsValidUtf8(std::string_view(path.constData(), static_cast<size_t>(path.size()))) &&
      !path.contains('\t') && !path.contains('\r') && !path.contains('\n') && !path.contains('\0') &&
      !path.startsWith(' ') && !path.endsWith(' ') && !path.startsWith(kEscapedSource.toLatin1());
  if (plain) return QString::fromUtf8(path);
  return kEscapedSource + QString::fromLatin1(path.toPercentEncoding("/"));
}

std::optional<QByteArray> SourcePath(const QString& field) {
  if (!field.startsWith(kEscapedSource)) return field.toUtf8();
  const QByteArray escaped = field.mid(kEscapedSource.size()).toUtf8();
  QByteArray path;
  for (qsizetype i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '%') {
      path += escaped[i];
      continue;
    }
    // Two hex digits, and never a NUL byte: anything else names no file.
    const auto digit = [&escaped](qsizetype at) {
      return at < escaped.size() ? QByteArrayView("0123456789abcdef")
                                         .indexOf(static_cast<char>(std::tolower(static_cast<unsigned char>(escaped[at])))) : -1;
    };
    const qsizetype high = digit(i + 1);
    const qsizetype low = digit(i + 2);
    if (high < 0 || low < 0 || high * 16 + low == 0) return std::nullopt;
    path += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return path;
}

}  // namespace sorvel::project
