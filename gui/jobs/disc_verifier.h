// DiscVerifier: records a CRC of every data sector a writing job hands to the
// drive, and afterwards reads the disc back (reloading the medium first when
// the drive's settings ask for it): recorded sectors must match, every other
// sector must be readable.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <vector>

#include "gui/foundation/crc.h"
#include "gui/jobs/disc_job.h"

namespace sorvel {

class TOCInformation;
class Trelin;

class DiscVerifier : public DiscJob {
  Q_OBJECT

 public:
  explicit DiscVerifier(QObject* parent = nullptr);

  // Records the CRC of one sector's user data at `lngLBA`: data type 0 holds
  // 2,048-byte sectors (user data at 0), 1 and 2 raw sectors (user data at 16);
  // sector mode 1 covers 2,048 bytes, 2 covers 2,336, any other none. Another
  // data type records no CRC. Negative LBAs are ignored.
  void SetWriteData(int32_t lngInputData, const QByteArray& bytData, int32_t lngLBA, int16_t intSectorMode);

  // Verifies the medium in the opened drive against `objOriginalTOC` (the
  // drive's own TOC when null). True when every sector was read, none
  // differed and the pass was not stopped.
  bool StartVerify(Trelin& objControl, const TOCInformation* objOriginalTOC);
  void StopVerify() { RequestStop(); }

  // The recorded CRC at `lba`, -1 when none.
  int32_t RecordedCrc(int32_t lba) const;

 private:
  bool StartSession(Trelin& drive);

  Crc crc_;
  std::vector<int32_t> record_;
};

}  // namespace sorvel
