// DiscRipper: one track of the disc in an open drive into a file: an audio
// track as a WAV file (44,100 Hz, 16-bit stereo), a data track as its user data.
#pragma once

#include <QString>
#include <cstdint>

#include "gui/jobs/disc_job.h"

namespace sorvel {

class Trelin;

class DiscRipper : public DiscJob {
  Q_OBJECT

 public:
  explicit DiscRipper(QObject* parent = nullptr) : DiscJob(parent) {}

  // Copies track `intTrackNo` of the drive's TOC (with its index-0 pregap when
  // `blnReadPregap` and the track is audio) into `strFileName`. True when every
  // sector was read or replaced and written; a failed or stopped rip leaves no
  // file of its own and the file that stood at the name as it was.
  bool StartRead(Trelin& objControl, const QString& strFileName, int intTrackNo, bool blnReadPregap);
  void StopRead() { RequestStop(); }
};

}  // namespace sorvel
