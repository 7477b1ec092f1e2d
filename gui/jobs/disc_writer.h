// DiscWriter: an image described by a plain ISO file, a CUE sheet, a CCD or a
// ".tsn" descriptor onto the medium in a drive, with its ".sub" subchannel and
// ".pre" first pregap when they lie beside a 2,352-byte image.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

#include "gui/jobs/disc_job.h"

namespace sorvel {

class DiscVerifier;
class TOCInformation;
class Trelin;

class DiscWriter : public DiscJob {
  Q_OBJECT

 public:
  explicit DiscWriter(QObject* parent = nullptr);
  ~DiscWriter() override;

  // Writes the image `strFileName` describes to the medium in the opened
  // drive; every main-data sector is recorded in `objVerifier` (may be null)
  // first. True when every sector was written and the session flushed and closed.
  bool StartWriteCompatible(Trelin& objControl, const QString& strFileName, DiscVerifier* objVerifier);
  void StopWrite() { RequestStop(); }

  // The disc model of the last run.
  TOCInformation* LastTOC() const { return toc_.get(); }

  // The address in a raw data sector's header, 0 without a sync pattern.
  static int32_t SectorHeaderLBA(const QByteArray& buffer);

 private:
  struct Run;
  bool LoadDescriptor(const QString& file_name, Run& run);
  // The image's first sector is LBA 0 of the descriptor's TOC (CUE times and
  // CCD addresses count from it). A first track whose first index starts
  // after it ("INDEX 01 00:02:00" without an "INDEX 00", "INDEX 1=150"
  // without "INDEX 0") has the sectors before that index as its pregap: they
  // become (or join) its index 0 entry, so every image sector is written,
  // and verified, at the address the descriptor gives it.
  void CoverImageStart();
  // Opens the image (and, beside a raw one, ".sub" and ".pre", each optional
  // but refused when it is there and cannot be read) and checks that each
  // holds what the TOC needs (".pre" only when it will be read, not replaced
  // by error data); false, with the error line, when one does not.
  bool OpenSources(Run& run, bool error_first_pregap);
  // False, with the error line, for a TOC with more entries or CD-Text packs
  // than a write takes: it is refused whole rather than cut.
  bool FitsTheWrite();
  bool WriteSectors(Trelin& drive, Run& run, bool cd, DiscVerifier* verifier);

  std::unique_ptr<TOCInformation> toc_;
};

}  // namespace sorvel
