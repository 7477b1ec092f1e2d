// The mastering history of a layout held by the mastering engine binding.
#pragma once

#include <QDateTime>
#include <QString>

#include "gui/foundation/history_layout.h"

namespace sorvel {

class Tazol;

// Reads what the history records of a layout from a Tazol object.
class TazolHistoryLayout final : public HistoryLayout {
 public:
  explicit TazolHistoryLayout(Tazol& image) : image_(image) {}

  QString VolumeLabel() override;
  bool ChangeISODirectory(const QString& name) override;
  QString GetISOCurrentDirectory() override;
  QList<HistoryFileEntry> ListCurrentDirectory() override;
  int GetTrackCount() override;
  QString TrackWaveFileName(int track) override;
  HistoryTrackText TrackText(int track, int language) override;

 private:
  Tazol& image_;
};

// WriteHistory of the layout in `image`.
bool WriteHistory(const QString& path, Tazol& image, const QDateTime& time);

}  // namespace sorvel
