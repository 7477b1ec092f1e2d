// The public names of the codes that cross the device engine and mastering
// engine interfaces. Every member is a 32-bit signed constant; wherever one of
// these types is expected, any 32-bit value is accepted, so they travel as
// plain int32_t across the engine boundary.
#pragma once

#include <cstdint>

namespace sorvel {

enum MediaFamilyTypeConstants : int32_t {
  MFT_CDFAMILY = 1,
  MFT_DVDFAMILY = 2,
  MFT_BDFAMILY = 3,
  MFT_HDDVDFAMILY = 4,
  MFT_UNKNOWN = 255,
};

// MMC current profile numbers.
enum MediaTypeConstants : int32_t {
  MTC_CD_ROM = 8,
  MTC_CD_R = 9,
  MTC_CD_RW = 10,
  MTC_DVD_ROM = 16,
  MTC_DVD_R = 17,
  MTC_DVD_RAM = 18,
  MTC_DVD_RW_OW = 19,
  MTC_DVD_RW = 20,
  MTC_DVD_R_DL = 21,
  MTC_DVD_R_DL_JR = 22,
  MTC_DVD_RW_DL = 23,
  MTC_DVD_DDR = 24,
  MTC_PC_RW = 26,
  MTC_PC_R = 27,
  MTC_PC_RW_DL = 42,
  MTC_PC_R_DL = 43,
  MTC_BD_ROM = 64,
  MTC_BD_R = 65,
  MTC_BD_R_RR = 66,
  MTC_BD_RE = 67,
  MTC_HDDVD_ROM = 80,
  MTC_HDDVD_R = 81,
  MTC_HDDVD_RAM = 82,
  MTC_HDDVD_RW = 83,
  MTC_HDDVD_R_DL = 88,
  MTC_HDDVD_RW_DL = 90,
  MTC_ERROR = 65535,
};

enum CDReadCommandConstants : int32_t {
  CCC_DATA = 0,
  CCC_RAW = 1,
  CCC_RAW16 = 2,
  CCC_RAW96 = 3,
};

// Value 2, which the device engine also accepts, has no name.
enum CDWriteCommandConstants : int32_t {
  CCC_SAO = 0,
  CCC_SAO_RAW = 1,
  CCC_DAO_RAW16 = 3,
  CCC_DAO_RAW96 = 4,
};

enum SectorModeConstants : int32_t {
  SMC_AUDIO = 0,
  SMC_MODE1 = 1,
  SMC_MODE2 = 2,
};

// Flag bits of ReadStart and WriteStart, combined by OR.
enum CDDiscDataConstants : int32_t {
  CDD_MAINDATA = 0,
  CDD_FIRSTPREGAP = 0x4,
  CDD_NOPREGAP = 0x4000,
  CDD_FIRSTSESSIONONLY = 0x8000,
  CDD_OPCOFF = 0x40000,
  CDD_OVERBURN = 0x80000,
  CDD_COLLECTSUBPQ = 0x800000,
};

enum CDSectorDataConstants : int32_t {
  CSD_SECTORONLY = 0,
  CSD_MAINCHANNEL = 1,
  CSD_MAINSUBCHANNEL = 2,
  CSD_ERRORDATA = 0x8000,
};

enum TOCStructureTypeConstants : int32_t {
  TST_TOC = 0,
  TST_RAWTOC = 1,
  TST_MCN = 2,
  TST_ISRC = 3,
  TST_CDTEXT = 4,
};

// Bit 0 means pre-emphasis on an audio track and incremental recording on a
// data track.
enum TrackControlFieldConstants : int32_t {
  TCF_PREEMPHASIS = 1,
  TCF_INCREMENTAL = 1,
  TCF_COPYPERMITTED = 2,
  TCF_DATATRACK = 4,
};

enum CDBIOSReturnConstants : int32_t {
  CBR_OK = 0,
  CBR_ALREADYRUNNING = 1,
  CBR_UNKNOWNMEDIA = 2,
  CBR_IGNOREDATAASSORTMENT = 3,
  CBR_IGNOREREADCOMMAND = 4,
  CBR_IGNOREWRITECOMMAND = 5,
  CBR_TOCREADERROR = 6,
  CBR_NOTEMPTY = 7,
  CBR_RWFORMATERROR = 8,
  CBR_OVERCAPACITY = 9,
};

// Bits of GetDeviceName, combined by OR.
enum DeviceNameConstants : int32_t {
  DNC_VENDOR = 1,
  DNC_NAME = 2,
  DNC_VENDORNAME = 3,
  DNC_REVISION = 4,
  DNC_ALL = 7,
};

enum MasteringFileSystemConstants : int32_t {
  SORVEL_JISX0606_LEVEL1 = 0,
  SORVEL_JISX0606_DOS = 1,
  SORVEL_JISX0606_LEVEL2 = 2,
  SORVEL_JISX0606_ROMEO = 3,
  SORVEL_JISX0606_LEVEL4 = 4,
  SORVEL_JISX0606_JOLIET = 16,
  SORVEL_JISX0606_JOLIET2 = 17,
};

// The same bits as TrackControlFieldConstants.
enum MasteringTrackControlFieldConstants : int32_t {
  SORVEL_PREEMPHASIS = 1,
  SORVEL_COPYPERMITTED = 2,
};

}  // namespace sorvel
