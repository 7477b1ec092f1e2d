// The job that decodes an MP3 file into a 44,100 Hz, 16-bit, stereo WAV file,
// reporting through the job events StatusChange and Progress.
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

#include "gui/jobs/id3_track_text.h"

namespace sorvel::jobs {

class ACMDecoder : public QObject {
  Q_OBJECT

 public:
  explicit ACMDecoder(QObject* parent = nullptr);
  ~ACMDecoder() override;

  // Asks a running DecodeACM to stop after the current block.
  void StopRead();
  // Decodes strSourceFile into the new WAV file strDestFile. True when the
  // whole file was decoded, the final header written and the file put at its
  // name; a failed or stopped decode, or one whose name was taken meanwhile,
  // leaves no file and whatever stands at the name as it was.
  bool DecodeACM(const QString& strDestFile, const QString& strSourceFile);
  // Writes only a WAV header sized by the decoded-size estimate, as a new
  // file put at its name the same way.
  bool DecodeACMHeader(const QString& strDestFile, const QString& strSourceFile);
  // The tag texts of the last file opened; null before any.
  const Id3TrackText* TrackText() const { return track_text_.get(); }

 signals:
  void StatusChange(int lngStatusType, const QString& strStatus);
  void Progress(qint64 Value, qint64 Total);

 private:
  bool cancel_ = false;
  std::unique_ptr<Id3TrackText> track_text_;
};

}  // namespace sorvel::jobs
