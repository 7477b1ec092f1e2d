// What the mastering history needs of a layout: its label, a walk over the
// data area, and its tracks with their texts. The mastering engine binding
// provides it.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>

namespace sorvel {

struct HistoryFileEntry {
  QString name;
  bool is_directory = false;
  QDateTime time_stamp;
  int64_t size = 0;
  QString original_file_name;
};

// One CD-Text language block of a track: title, performer, songwriter,
// composer, arranger and message, each with its enabled flag.
struct HistoryTrackText {
  bool language_enabled = false;
  std::array<bool, 6> enabled{};
  std::array<QString, 6> texts;
};

class HistoryLayout {
 public:
  virtual ~HistoryLayout() = default;
  virtual QString VolumeLabel() = 0;
  // "\" is the root, ".." the parent, any other text a child of the current directory.
  virtual bool ChangeISODirectory(const QString& name) = 0;
  virtual QString GetISOCurrentDirectory() = 0;
  // The current directory's entries in the engine's order, without "." and "..".
  virtual QList<HistoryFileEntry> ListCurrentDirectory() = 0;
  virtual int GetTrackCount() = 0;
  // The track's source file; empty for the data track.
  virtual QString TrackWaveFileName(int track) = 0;
  // `language` 0 is the English block, 1 the Japanese one.
  virtual HistoryTrackText TrackText(int track, int language) = 0;
};

}  // namespace sorvel
