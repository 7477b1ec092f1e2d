// WellWriter: the mastered layout (data area and audio tracks of a Tazol
// object) written to the disc in a drive, or to an image file with its CUE sheet.
#pragma once

#include <QString>
#include <memory>

#include "gui/jobs/disc_job.h"

namespace sorvel {

class DiscVerifier;
class OutputSet;
class Tazol;
class TOCInformation;
class Trelin;

class WellWriter : public DiscJob {
  Q_OBJECT

 public:
  explicit WellWriter(QObject* parent = nullptr);
  ~WellWriter() override;

  // The TOC of the layout of the last job (null before the first).
  TOCInformation* LastTOC() const { return toc_.get(); }
  void StopWrite() { RequestStop(); }

  // Writes the layout to the medium in the opened drive (which it neither
  // opens, closes nor ejects), recording every sector in `objVerifier` (may be
  // null). True when the whole layout was written and the disc closed; a
  // sector the layout cannot produce fails the write.
  bool StartWrite(Trelin& objControl, Tazol& objImage, DiscVerifier* objVerifier);

  // Writes the layout to "<name>.img" with "<name>.cue" (and ".cdt") beside
  // it, `strFileName` giving folder and name. True when both were written; a
  // failed or stopped job leaves neither behind.
  bool StartWriteFile(const QString& strFileName, Tazol& objImage);

 private:
  // True after the error line of a `problem` that stops the job (a changed
  // source, a TOC or CD-Text the write cannot hold); false when it is empty.
  bool Refuses(const QString& problem);
  // The error lines of a sector `image` could not produce: the address, then
  // the source that is no longer what was added, when one is found.
  void ReportUnreadable(Tazol& image, int32_t lba);
  bool WriteSectors(Trelin& drive, Tazol& image, DiscVerifier* verifier, bool error_first_pregap);
  void SetToc(std::unique_ptr<TOCInformation> toc);

  std::unique_ptr<TOCInformation> toc_;
  const OutputSet* outputs_ = nullptr;  // the files a save to files writes, while it runs
};

}  // namespace sorvel
