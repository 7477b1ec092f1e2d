// DiscReader: a whole disc into image files. A CD gives ".img" (2,352-byte
// sectors), optionally ".sub" and ".pre", and the descriptors ".cue" (with
// ".cdt"), ".ccd" and ".tsn"; a DVD, BD or HD DVD gives ".iso". Unreadable
// sectors become the engine's dummy sectors; long unreadable runs can be
// skipped by a forward probe.
#pragma once

#include <QString>
#include <cstdint>

#include "gui/jobs/disc_job.h"

namespace sorvel {

class DeviceSetting;
class Trelin;

class DiscReader : public DiscJob {
  Q_OBJECT

 public:
  explicit DiscReader(QObject* parent = nullptr) : DiscJob(parent) {}

  // Reads the disc in the opened drive into files named after `strFileName`.
  // True when the image and (CD) every descriptor the TOC has are complete
  // and in place. The files go in place together when all are written; a
  // failed or stopped run leaves none of its files behind and the files
  // that stood at those names as they were.
  bool StartReadCompatible(Trelin& objControl, const QString& strFileName);
  void StopRead() { RequestStop(); }

 private:
  // Checks every name of the run and makes the temporaries it writes;
  // false with the user's message on the first name refused.
  bool OpenOutputs(bool first_pregap);
  bool ReadFirstPregap(Trelin& drive, const QString& name);
  // The main data, then the count of unreadable sectors (type 1); false
  // also when not one sector of the disc could be read.
  bool ReadMainData(Trelin& drive, const DeviceSetting& setting, bool cd);
  // True when every entry of the TOC was read (or replaced by dummy
  // sectors); `read` counts the sectors that read.
  bool ReadMainSectors(Trelin& drive, const DeviceSetting& setting, bool cd, int64_t* read);
  bool WriteDescriptors(Trelin& drive, bool first_pregap);
  bool WriteSector(bool cd, const uint8_t* sector);
  // "イメージファイルの書き込みに失敗" and the job stops.
  void ReportImageWriteFailure();

  class Files;
  Files* files_ = nullptr;
  // Sectors of this run replaced by dummy sectors (first pregap included).
  int64_t unreadable_ = 0;
};

}  // namespace sorvel
