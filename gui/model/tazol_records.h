// The record classes the mastering engine binding hands out: one entry of a
// data-area directory, one track of the layout, and one language's CD-Text
// of a track or of the disc. Their fields change only the record.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>

namespace sorvel {

struct ISOFindFile {
  QString Name;              // the entry's name in the layout
  QString OriginalFileName;  // host path of its data
  QByteArray SourcePath;     // the same as the host's bytes, which open it where they are not UTF-8
  int16_t FileAttribute = 0;  // 2 = hidden
  int64_t Size = 0;  // the engine's unsigned 32-bit size, widened
  QDateTime TimeStamp;
  int32_t Time = 0;  // the same as the engine's time_t
  bool IsDirectory = false;
};

struct ISOTrackData {
  QString WaveFileName;  // "" for the data track
  int32_t PregapLBA = 0;
  int32_t PostgapLBA = 0;
  int32_t DataLBA = 0;  // the track's length
  int32_t TrackControlFlag = 0;

  // Lengths as "mm:ss:ff" (no 150-sector offset).
  QString PregapMSF() const;
  QString PostgapMSF() const;
  QString DataMSF() const;
};

struct ISOTrackText {
  QString Title, Performer, Songwriter, Composer, Arranger, Message;
  bool TitleEnabled = false, PerformerEnabled = false, SongwriterEnabled = false, ComposerEnabled = false,
       ArrangerEnabled = false, MessageEnabled = false;

  // The six texts and flags by information number (0 title .. 5 message).
  QString& Text(int information);
  const QString& Text(int information) const;
  bool& Enabled(int information);
  bool Enabled(int information) const;

  // True when the six texts joined are not blank and every character is a
  // single byte in CP932 (the foundation's half-width test).
  bool IsHalfWidth() const;
  // The OR of the six flags; setting false clears all six, true changes nothing.
  bool LanguageEnabled() const;
  void SetLanguageEnabled(bool enabled);
};

// "mm:ss:ff" of a length in sectors: minutes L / 4500, seconds (L / 75) mod 60,
// frames L mod 75, two digits at least each.
QString SectorsToMSF(int32_t sectors);

}  // namespace sorvel
