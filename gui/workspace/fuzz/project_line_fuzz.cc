// Fuzz target: one line of a project file read as every kind of line. Reading
// what was written settles after one round: formatting the re-read line gives
// the same text again.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "gui/workspace/project_file.h"

namespace {

using namespace sorvel::project;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Time stamps are local times; a fixed zone keeps the round trip free of
  // daylight-saving gaps.
  setenv("TZ", "UTC", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QString line = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

  (void)ParseSectionHeader(line);
  (void)LeadingNumber(line);
  if (const auto stamp = ParseTimeStamp(line)) Check(FormatTimeStamp(*stamp) == line);

  if (const auto entry = ParseMasteringLine(line)) {
    Check(!entry->key.contains(u'='));
    const Texts texts = TextsFrom(SplitFields(entry->value), 0);
    const QString joined = JoinTexts(texts);
    Check(joined.count(u'\t') == kTextCount - 1);
    Check(JoinTexts(TextsFrom(SplitFields(joined), 0)) == joined);
  }

  const QString data_line = FormatDataLine(ParseDataLine(line));
  Check(FormatDataLine(ParseDataLine(data_line)) == data_line);

  const AudioLine audio = ParseAudioLine(line);
  const QString audio_line = FormatAudioLine(audio);
  const AudioLine again = ParseAudioLine(audio_line);
  Check(again.pregap == audio.pregap && again.postgap == audio.postgap && again.flags == audio.flags);
  Check(again.source == audio.source && again.texts.has_value() == audio.texts.has_value());
  Check(FormatAudioLine(again) == audio_line);
  return 0;
}
