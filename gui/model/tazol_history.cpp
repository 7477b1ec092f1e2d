#include "gui/model/tazol_history.h"

#include "gui/foundation/history_database.h"
#include "gui/model/tazol.h"

namespace sorvel {

QString TazolHistoryLayout::VolumeLabel() { return image_.VolumeLabel; }

bool TazolHistoryLayout::ChangeISODirectory(const QString& name) { return image_.ChangeISODirectory(name); }

QString TazolHistoryLayout::GetISOCurrentDirectory() { return image_.GetISOCurrentDirectory(); }

QList<HistoryFileEntry> TazolHistoryLayout::ListCurrentDirectory() {
  QList<HistoryFileEntry> entries;
  for (auto found = image_.FindISOFirstFile(); found; found = image_.FindISONextFile()) {
    if (found->Name == QLatin1String(".") || found->Name == QLatin1String("..")) continue;
    HistoryFileEntry entry;
    entry.name = found->Name;
    entry.is_directory = found->IsDirectory;
    entry.time_stamp = found->TimeStamp;
    entry.size = static_cast<uint32_t>(found->Size);  // the engine's size is unsigned 32-bit
    entry.original_file_name = found->OriginalFileName;
    entries.append(entry);
  }
  return entries;
}

int TazolHistoryLayout::GetTrackCount() { return image_.GetTrackCount(); }

QString TazolHistoryLayout::TrackWaveFileName(int track) {
  auto data = image_.GetTrackInformation(track);
  return data ? data->WaveFileName : QString();
}

HistoryTrackText TazolHistoryLayout::TrackText(int track, int language) {
  HistoryTrackText result;
  auto text = image_.GetTrackTextEx(track, language);
  if (!text) return result;
  result.language_enabled = text->LanguageEnabled();
  for (int i = 0; i < 6; ++i) {
    result.enabled[static_cast<size_t>(i)] = text->Enabled(i);
    result.texts[static_cast<size_t>(i)] = text->Text(i);
  }
  return result;
}

bool WriteHistory(const QString& path, Tazol& image, const QDateTime& time) {
  TazolHistoryLayout layout(image);
  return WriteHistory(path, static_cast<HistoryLayout&>(layout), time);
}

}  // namespace sorvel
