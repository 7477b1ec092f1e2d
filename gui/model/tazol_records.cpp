#include "gui/model/tazol_records.h"

#include "gui/foundation/input_check.h"

namespace sorvel {

QString SectorsToMSF(int32_t sectors) {
  const auto two = [](int64_t v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
  const int64_t l = sectors;
  return two(l / 4500) + QLatin1Char(':') + two((l / 75) % 60) + QLatin1Char(':') + two(l % 75);
}

QString ISOTrackData::PregapMSF() const { return SectorsToMSF(PregapLBA); }
QString ISOTrackData::PostgapMSF() const { return SectorsToMSF(PostgapLBA); }
QString ISOTrackData::DataMSF() const { return SectorsToMSF(DataLBA); }

QString& ISOTrackText::Text(int information) {
  QString* texts[] = {&Title, &Performer, &Songwriter, &Composer, &Arranger, &Message};
  return *texts[information];
}

const QString& ISOTrackText::Text(int information) const { return const_cast<ISOTrackText*>(this)->Text(information); }

bool& ISOTrackText::Enabled(int information) {
  bool* flags[] = {&TitleEnabled, &PerformerEnabled, &SongwriterEnabled,
                   &ComposerEnabled, &ArrangerEnabled, &MessageEnabled};
  return *flags[information];
}

bool ISOTrackText::Enabled(int information) const { return const_cast<ISOTrackText*>(this)->Enabled(information); }

bool ISOTrackText::IsHalfWidth() const {
  QString joined;
  for (int i = 0; i < 6; ++i) joined += Text(i);
  return IsHalfWidthOnly(joined);
}

bool ISOTrackText::LanguageEnabled() const {
  for (int i = 0; i < 6; ++i) {
    if (Enabled(i)) return true;
  }
  return false;
}

void ISOTrackText::SetLanguageEnabled(bool enabled) {
  if (enabled) return;
  for (int i = 0; i < 6; ++i) Enabled(i) = false;
}

}  // namespace sorvel
