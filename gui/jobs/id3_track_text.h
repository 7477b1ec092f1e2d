// The CD-Text items an MP3 file's ID3v1 tag gives a track, in the order and
// with the names of the mastering engine's track-text record.
#pragma once

#include <QString>

namespace sorvel::jobs {

struct Id3TrackText {
  QString Title;
  QString Performer;
  QString Songwriter;
  QString Composer;
  QString Arranger;
  QString Message;
  bool TitleEnabled = false;
  bool PerformerEnabled = false;
  bool SongwriterEnabled = false;
  bool ComposerEnabled = false;
  bool ArrangerEnabled = false;
  bool MessageEnabled = false;

  // True when the six texts joined are not blank and every character is a
  // single byte in CP932 (so CD-Text can use the single-byte character set).
  bool IsHalfWidth() const;
};

// The full-width form of a text: ASCII letters, digits and signs become their
// full-width forms, the space the ideographic space, half-width katakana
// full-width katakana (a following voiced or semi-voiced mark joins its letter).
// Other characters stay.
QString ToFullWidth(const QString& text);

}  // namespace sorvel::jobs
