#include "gui/automation/bus_enumerations.h"

#include "gui/model/public_enumerations.h"

namespace sorvel {

#define MEMBER(name) \
  { #name, name }

const std::vector<BusEnumeration>& BusEnumerations() {
  static const QString kEngine = QStringLiteral("ドライヴ中継エンジン");
  static const std::vector<BusEnumeration> kEnumerations = {
      {"MediaFamilyTypeConstants",
       kEngine,
       {MEMBER(MFT_CDFAMILY), MEMBER(MFT_DVDFAMILY), MEMBER(MFT_BDFAMILY), MEMBER(MFT_HDDVDFAMILY),
        MEMBER(MFT_UNKNOWN)}},
      {"MediaTypeConstants",
       kEngine,
       {MEMBER(MTC_CD_ROM),      MEMBER(MTC_CD_R),       MEMBER(MTC_CD_RW),       MEMBER(MTC_DVD_ROM),
        MEMBER(MTC_DVD_R),       MEMBER(MTC_DVD_RAM),    MEMBER(MTC_DVD_RW_OW),   MEMBER(MTC_DVD_RW),
        MEMBER(MTC_DVD_R_DL),    MEMBER(MTC_DVD_R_DL_JR), MEMBER(MTC_DVD_RW_DL),  MEMBER(MTC_DVD_DDR),
        MEMBER(MTC_PC_RW),       MEMBER(MTC_PC_R),       MEMBER(MTC_PC_RW_DL),    MEMBER(MTC_PC_R_DL),
        MEMBER(MTC_BD_ROM),      MEMBER(MTC_BD_R),       MEMBER(MTC_BD_R_RR),     MEMBER(MTC_BD_RE),
        MEMBER(MTC_HDDVD_ROM),   MEMBER(MTC_HDDVD_R),    MEMBER(MTC_HDDVD_RAM),   MEMBER(MTC_HDDVD_RW),
        MEMBER(MTC_HDDVD_R_DL),  MEMBER(MTC_HDDVD_RW_DL), MEMBER(MTC_ERROR)}},
      {"CDReadCommandConstants", kEngine, {MEMBER(CCC_DATA), MEMBER(CCC_RAW), MEMBER(CCC_RAW16), MEMBER(CCC_RAW96)}},
      {"CDWriteCommandConstants",
       kEngine,
       {MEMBER(CCC_SAO), MEMBER(CCC_SAO_RAW), MEMBER(CCC_DAO_RAW16), MEMBER(CCC_DAO_RAW96)}},
      {"SectorModeConstants", kEngine, {MEMBER(SMC_AUDIO), MEMBER(SMC_MODE1), MEMBER(SMC_MODE2)}},
      {"CDDiscDataConstants",
       kEngine,
       {MEMBER(CDD_MAINDATA), MEMBER(CDD_FIRSTPREGAP), MEMBER(CDD_NOPREGAP), MEMBER(CDD_FIRSTSESSIONONLY),
        MEMBER(CDD_OPCOFF), MEMBER(CDD_OVERBURN), MEMBER(CDD_COLLECTSUBPQ)}},
      {"CDSectorDataConstants",
       kEngine,
       {MEMBER(CSD_SECTORONLY), MEMBER(CSD_MAINCHANNEL), MEMBER(CSD_MAINSUBCHANNEL), MEMBER(CSD_ERRORDATA)}},
      {"TOCStructureTypeConstants",
       kEngine,
       {MEMBER(TST_TOC), MEMBER(TST_RAWTOC), MEMBER(TST_MCN), MEMBER(TST_ISRC), MEMBER(TST_CDTEXT)}},
      {"TrackControlFieldConstants",
       kEngine,
       {MEMBER(TCF_PREEMPHASIS), MEMBER(TCF_INCREMENTAL), MEMBER(TCF_COPYPERMITTED), MEMBER(TCF_DATATRACK)}},
      {"CDBIOSReturnConstants",
       kEngine,
       {MEMBER(CBR_OK), MEMBER(CBR_ALREADYRUNNING), MEMBER(CBR_UNKNOWNMEDIA), MEMBER(CBR_IGNOREDATAASSORTMENT),
        MEMBER(CBR_IGNOREREADCOMMAND), MEMBER(CBR_IGNOREWRITECOMMAND), MEMBER(CBR_TOCREADERROR),
        MEMBER(CBR_NOTEMPTY), MEMBER(CBR_RWFORMATERROR), MEMBER(CBR_OVERCAPACITY)}},
      {"DeviceNameConstants",
       kEngine,
       {MEMBER(DNC_VENDOR), MEMBER(DNC_NAME), MEMBER(DNC_VENDORNAME), MEMBER(DNC_REVISION), MEMBER(DNC_ALL)}},
      {"MasteringFileSystemConstants",
       QString(),
       {MEMBER(SORVEL_JISX0606_LEVEL1), MEMBER(SORVEL_JISX0606_DOS), MEMBER(SORVEL_JISX0606_LEVEL2),
        MEMBER(SORVEL_JISX0606_ROMEO), MEMBER(SORVEL_JISX0606_LEVEL4), MEMBER(SORVEL_JISX0606_JOLIET),
        MEMBER(SORVEL_JISX0606_JOLIET2)}},
      {"MasteringTrackControlFieldConstants", QString(), {MEMBER(SORVEL_PREEMPHASIS), MEMBER(SORVEL_COPYPERMITTED)}},
  };
  return kEnumerations;
}

#undef MEMBER

const BusEnumeration* FindBusEnumeration(const QString& name) {
  for (const BusEnumeration& enumeration : BusEnumerations()) {
    if (name == QLatin1String(enumeration.name)) return &enumeration;
  }
  return nullptr;
}

}  // namespace sorvel
