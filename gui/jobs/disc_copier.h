// DiscCopier: a disc copied on the fly from a source drive to a target drive,
// sector by sector, without an image file.
#pragma once

#include <memory>

#include "gui/jobs/disc_job.h"

namespace sorvel {

class DeviceSetting;
class DiscVerifier;
class TOCInformation;
class Trelin;

class DiscCopier : public DiscJob {
  Q_OBJECT

 public:
  explicit DiscCopier(QObject* parent = nullptr);
  ~DiscCopier() override;

  // Copies the disc in `objReader` to the medium in `objWriter`, recording
  // every copied sector in `objVerifier` (may be null). True when the target's
  // session was flushed and closed after the last sector. The two must be
  // different drives.
  bool StartCopy(Trelin& objReader, Trelin& objWriter, DiscVerifier* objVerifier);
  void StopCopy() { RequestStop(); }

  // The source's TOC of the last copy (null before the first).
  TOCInformation* LastTOC() const { return toc_.get(); }

 private:
  bool CopySectors(Trelin& reader, Trelin& writer, DiscVerifier* verifier, const DeviceSetting& source,
                   const DeviceSetting& target, int32_t data_type);

  std::unique_ptr<TOCInformation> toc_;
};

}  // namespace sorvel
