// In-memory table of contents of one disc or image: track entries, raw TOC
// descriptors, MCN, ISRC texts (entry k belongs to track k) and CD-Text packs.
// Lists are indexed from 1 (at most 32,767 entries each: the Add members
// answer false, adding nothing, to a full list), keep the order of appending
// and hand out the stored objects themselves. The descriptor members read and write CUE
// sheets, CCD / TSN descriptors and plain images.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "gui/foundation/list.h"
#include "gui/model/toc_records.h"
#include "platform/toc_extents.h"

namespace sorvel {

// What the drive-bound descriptor needs of the drive that read the disc; the
// device engine binding provides it.
class TOCDescriptorDrive {
 public:
  virtual ~TOCDescriptorDrive() = default;
  // Identification text of the open drive (DeviceNameConstants bits).
  virtual QString GetDeviceName(int32_t lngNameType) = 0;
  // First readable LBA of the open read session.
  virtual int32_t GetFirstLBA() = 0;
};

class TOCInformation : public QObject {
  Q_OBJECT

 public:
  static constexpr const char* kNoMCN = "0000000000000";
  static constexpr const char* kNoISRC = "000000000000";

  explicit TOCInformation(QObject* parent = nullptr);
  ~TOCInformation() override;

  // Empties the four lists; MCN becomes "no MCN".
  void Clear();

  int TOCCount() const { return tracks_.Count(); }
  // The entry at Index (1..TOCCount); null outside.
  model::TOCTrack* TOC(int Index);
  const model::TOCTrack* TOC(int Index) const;
  bool TOCAdd(uint8_t bytSessionNo, uint8_t bytTrackNo, uint8_t bytIndexNo, int32_t udcFlags, int32_t udcSectorMode,
              int32_t lngStartLBA, int32_t lngEndLBA);
  bool TOCDelete(int Index);
  // The stored entries shared, for holders that may outlive the list; null outside.
  std::shared_ptr<model::TOCTrack> SharedTOC(int Index) const { return tracks_.Item(Index).value_or(nullptr); }
  std::shared_ptr<model::TOCRawTrack> SharedRawTOC(int Index) const { return raw_.Item(Index).value_or(nullptr); }
  std::shared_ptr<model::TOCCDText> SharedCDText(int Index) const { return packs_.Item(Index).value_or(nullptr); }

  int RawTOCCount() const { return raw_.Count(); }
  model::TOCRawTrack* RawTOC(int Index);
  const model::TOCRawTrack* RawTOC(int Index) const;
  bool RawTOCAdd(uint8_t bytSessionNo, uint8_t bytAdrControl, uint8_t bytTrack, uint8_t bytPoint, uint8_t bytMinute,
                 uint8_t bytSecond, uint8_t bytFrame, uint8_t bytZero, uint8_t bytPMinute, uint8_t bytPSecond,
                 uint8_t bytPFrame);
  bool RawTOCDelete(int Index);

  QString MCN() const { return mcn_; }
  // Stores the first 13 characters, padded on the right with "0".
  void MCN(const QString& text);

  int ISRCCount() const { return isrc_.Count(); }
  // The ISRC of track Index; "000000000000" outside 1..ISRCCount.
  QString ISRC(int Index) const;
  // Appends the first 12 characters, padded on the right with "0".
  bool ISRCAdd(const QString& strISRC);
  bool ISRCDelete(int Index);

  int CDTextCount() const { return packs_.Count(); }
  model::TOCCDText* CDText(int Index);
  const model::TOCCDText* CDText(int Index) const;
  // Copies up to 12 data and 2 CRC bytes; missing bytes are 0.
  bool CDTextAdd(uint8_t bytPacketType, uint8_t bytTrackNo, uint8_t bytPacketNo, uint8_t bytFlags,
                 std::span<const uint8_t> bytData, std::span<const uint8_t> bytCrc);
  bool CDTextDelete(int Index);

  // CUE sheet of a single-session TOC naming the image file (its file name
  // only); the CD-Text packs go to the ".cdt" file `strCDTextFileName`, and the
  // sheet names that file only when it was written. False, writing nothing,
  // for an empty or multi-session TOC or one the sheet cannot express, and
  // (with a status, type 2) for an image or pack file name that a sheet
  // cannot hold (IsSheetFileName).
  // The sheet and pack file replace what stands at their names whole; a FIFO,
  // device, folder or write-protected file there is refused at once with a
  // status (type 2).
  bool SaveCUEFile(const QString& strFileName, const QString& strImageFileName, const QString& strCDTextFileName,
                   int32_t lngSectorSize = 2352);
  // SaveCUEFile writing the sheet and the pack file to `sheet_path` and
  // `packs_path` (a job's temporary files) while the sheet names the image
  // and the pack file by their final names.
  bool SaveCUEFileTo(const QString& sheet_path, const QString& packs_path, const QString& strImageFileName,
                     const QString& strCDTextFileName, int32_t lngSectorSize = 2352);
  // Whether the TOC has a CUE sheet at all (one session, entries from LBA 0,
  // CUE sector modes): SaveCUEFile of such a TOC fails only for the files.
  bool HasCUESheet() const;
  // Reads a CUE sheet of one BINARY image: `strImageFileName` (empty on entry)
  // receives the image path resolved against the sheet's folder,
  // `lngSectorSize` 2352, 2048 or 2336. Errors are reported through
  // RaiseStatus (type 2) and leave the model empty; an unreadable sheet only
  // returns false.
  bool LoadCUEFile(const QString& strFileName, QString& strImageFileName, int32_t& lngSectorSize);

  // The INI TOC descriptor without a drive (".ccd", version section "CloneCD").
  bool SaveCCDFile(const QString& strFileName);
  // With a drive, the drive-bound flavour (".tsn", version section
  // "Tessarine") carrying the drive's identification and, when the drive's
  // first readable LBA lies before 0 and `blnFirstPregap` is set, the
  // first-pregap marks. False, writing nothing, without track or raw entries.
  bool SaveCCDFileEx(const QString& strFileName, TOCDescriptorDrive* objDrive, bool blnFirstPregap);
  // Reads either flavour. Errors are reported through RaiseStatus (type 2); a
  // failed consistency check leaves the model as read, a malformed value
  // empties it. An unreadable file only returns false.
  bool LoadCCDFile(const QString& strFileName);
  // One-track TOC of a plain image of 2048-, 2352- or 2336-byte sectors, the
  // size found from the file's length (a length that fits 2048 and 2352 is
  // 2352 when the file begins with a sync pattern). `lngSectorSize` receives
  // the size or 0.
  bool LoadISOFile(const QString& strFileName, int32_t& lngSectorSize);

  // Raises StatusChangeEx(type, text), then StatusChange(text). Status type 0
  // is information, 2 an error.
  void RaiseStatus(int32_t lngStatusType, const QString& strStatus);

  // "0x" and two upper-case hexadecimal digits.
  static QString ByteToHexText(uint8_t value);
  // The byte of a "0x" text (either case, blanks around ignored, digits after
  // the first two ignored); 0 for any other text.
  static uint8_t HexTextToByte(const QString& text);
  // LBA of "mm:ss:ff" (up to six digits of minutes, seconds < 60, frames <
  // 75), computed in 64 bits; no value for anything else, nor for a time
  // whose frame count (the LBA + 150) lies beyond 32 bits. Nothing wraps at
  // 90 minutes.
  static std::optional<int32_t> MSFToLBA(const QString& text);
  static constexpr int64_t MSFToLBA(int64_t minutes, int64_t seconds, int64_t frames) {
    return minutes * 4500 + seconds * 75 + frames - 150;
  }

  // The track entries, in list order, as the extents the shared TOC check takes.
  std::vector<platform::TocExtent> TrackExtents() const;
  // The track entries checked whole against what the medium can address
  // (platform/toc_extents.h): numbering, order, lengths and bounds.
  platform::TocCheck CheckTrackExtents(const platform::TocBounds& bounds) const;
  // The sectors the track entries cover, counted in 64 bits.
  int64_t SectorCount() const { return platform::TocSectorCount(TrackExtents()); }

 signals:
  void StatusChange(const QString& strStatus);
  void StatusChangeEx(int32_t lngStatusType, const QString& strStatus);

 private:
  // False, with a status (type 2) for the user, when a save cannot write
  // `path`: something other than a regular file stands there, a
  // write-protected file, or a folder that takes no new files.
  bool CheckOutputPath(const QString& path);

  List<std::shared_ptr<model::TOCTrack>> tracks_;
  List<std::shared_ptr<model::TOCRawTrack>> raw_;
  QString mcn_;
  List<QString> isrc_;
  List<std::shared_ptr<model::TOCCDText>> packs_;
};

}  // namespace sorvel
