// The lines of a project file (".wpj"), as pure functions: a section header,
// a "[Mastering]" key and value, a "[Data]" entry and an "[Audio]" track are
// read from one line and written back as one line. Fields are separated by
// one TAB; nothing is quoted. The main window applies the results to its
// layout (main_form_project.cpp).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

namespace sorvel::project {

enum class Section { kMastering, kData, kAudio, kOther };

// Album and track texts: English Title, Performer, Songwriter, Composer,
// Arranger, Message, then the same six in Japanese.
inline constexpr int kTextCount = 12;
using Texts = std::array<QString, kTextCount>;

// A line of "[Data]": a directory or a file of the data area.
struct DataLine {
  bool is_directory = false;
  QString parent;  // the engine's path of the holding directory ("\" the root)
  QString name;
  QString source;  // host path of a file's data
  std::optional<QDateTime> time_stamp;  // none when the field is not a valid stamp
  int16_t attributes = 0;
};

// A line of "[Audio]": one track.
struct AudioLine {
  int32_t pregap = 0;
  int32_t postgap = 0;
  int32_t flags = 0;
  QString source;  // the file the user added (a WAV or an MP3 file)
  std::optional<Texts> texts;  // only when the line has a fifth field
};

// Lines and fields are trimmed of blanks only (TrimSpaces): TABs stay, so
// that empty trailing fields keep their count.

// A "[Mastering]" line split at its first "=": the key in upper case.
struct KeyValue {
  QString key;
  QString value;
};

// The section a header line starts ("[" ... "]" after trimming), told by the
// first blank-separated word of its name in any case; nullopt when the line
// is no header.
std::optional<Section> ParseSectionHeader(const QString& line);

// The line split at every TAB, empty fields kept.
QStringList SplitFields(const QString& line);

// The leading, optionally signed decimal number of a text (blanks before it
// skipped), clamped to the 32-bit range; 0 when there is none.
int32_t LeadingNumber(const QString& text);

// "yyyymmddhhnnss" (14 digits, hours 00-23) as a local date and time;
// nullopt for any other text or an impossible date.
std::optional<QDateTime> ParseTimeStamp(const QString& text);
QString FormatTimeStamp(const QDateTime& time_stamp);

// Key before the first "=", value from it to the end of the line, both
// trimmed; nullopt for a line without "=".
std::optional<KeyValue> ParseMasteringLine(const QString& line);
// Twelve fields from `fields` starting at `first`; missing ones are "".
Texts TextsFrom(const QStringList& fields, qsizetype first);

DataLine ParseDataLine(const QString& line);
AudioLine ParseAudioLine(const QString& line);

// A text as written into a line: TAB, CR and LF become a blank, so that the
// text cannot shift the fields after it or break the line.
QString CleanText(const QString& text);
// The texts joined by TABs, each cleaned.
QString JoinTexts(const Texts& texts);
QString FormatDataLine(const DataLine& line);

// A host path as a "[Data]" source field and back. A path that is UTF-8 and
// survives the line as it stands is written as it is (as every project file
// holds it); any other (a name that is not UTF-8, a blank at either end, a
// TAB or line break) is written "file://" and its bytes percent-encoded ("/"
// kept), which no absolute path starts with. A field without that start is
// a path in UTF-8.
QString SourceField(const QByteArray& path);
// The path a source field names; none for an escaped field whose escapes
// are not all "%" and two hex digits, or that holds a NUL byte.
std::optional<QByteArray> SourcePath(const QString& field);
QString FormatAudioLine(const AudioLine& line);

}  // namespace sorvel::project
