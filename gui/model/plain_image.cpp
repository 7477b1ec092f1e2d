// A one-track TOC for a plain image: whole sectors, no header.
#include <array>

#include "gui/foundation/file_io.h"
#include "gui/model/descriptor_files.h"
#include "gui/model/toc_information.h"

namespace sorvel {

namespace {

// The 12-byte sync pattern that begins every raw CD sector.
constexpr std::array<uint8_t, 12> kSync = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

}  // namespace

bool TOCInformation::LoadISOFile(const QString& strFileName, int32_t& lngSectorSize) {
  FileIO file;
  if (!file.OpenFile(strFileName, kGenericRead, kOpenExisting, kFileShareRead)) return false;
  const int64_t size = file.GetSize();
  int32_t sector_size = 0;
  int32_t sector_mode = 0;
  if (size > 0) {
    const bool fits_2048 = size % 2048 == 0;
    const bool fits_2352 = size % 2352 == 0;
    if (fits_2048 && fits_2352) {
      // Both fit: raw sectors begin with the sync pattern, user data rarely does.
      std::array<uint8_t, 12> head{};
      const bool synced = file.ReadFile(head) == static_cast<int32_t>(head.size()) && head == kSync;
      sector_size = synced ? 2352 : 2048;
    } else if (fits_2048) {
      sector_size = 2048;
    } else if (fits_2352) {
      sector_size = 2352;
    } else if (size % 2336 == 0) {
      sector_size = 2336;
    }
    sector_mode = sector_size == 2336 ? 2 : 1;
  }
  const int64_t sectors = sector_size > 0 ? size / sector_size : 0;
  file.CloseFile();
  if (sector_size == 0) {
    lngSectorSize = 0;
    RaiseStatus(2, QStringLiteral("セクタサイズ判定に失敗"));
    return false;
  }
  // Raw and Mode 2 sectors go to a CD only; 2,048-byte ones to any medium.
  const platform::TocExtent whole{1, 1, 1, 0, sectors - 1};
  if (!platform::CheckTocExtents({&whole, 1}, platform::BoundsOfSectorSize(sector_size)).ok()) {
    lngSectorSize = 0;
    RaiseStatus(2, QStringLiteral("セクタ数 %1 はどの媒体にも収まりません。").arg(sectors));
    return false;
  }
  lngSectorSize = sector_size;
  RaiseStatus(0, QStringLiteral("セクタサイズは %1, セクタ数は %2 です。").arg(sector_size).arg(sectors));
  Clear();
  TOCAdd(1, 1, 1, 4, sector_mode, 0, static_cast<int32_t>(sectors - 1));
  return true;
}

}  // namespace sorvel
