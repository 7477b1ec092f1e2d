#include "gui/jobs/disc_verifier.h"

#include <memory>
#include <span>

#include "gui/foundation/form_services.h"
#include "gui/jobs/message_pump.h"
#include "gui/model/device_setting.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/toc_information.h"
#include "gui/model/trelin.h"

namespace sorvel {
namespace {

constexpr int32_t kNoCrc = -1;
constexpr int kRawUserDataOffset = 16;
// Records grow past the highest LBA by this much, so sequential writes rarely reallocate.
constexpr int32_t kGrowth = 1000;

int SectorSizeOf(int32_t sector_mode) {
  switch (sector_mode) {
    case SMC_MODE1: return 2048;
    case SMC_MODE2: return 2336;
    default: return 0;
  }
}

std::span<const uint8_t> Span(const QByteArray& bytes) {
  return {reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size())};
}

}  // namespace

DiscVerifier::DiscVerifier(QObject* parent) : DiscJob(parent), record_(1, kNoCrc) { crc_.Initialize(0); }

void DiscVerifier::SetWriteData(int32_t lngInputData, const QByteArray& bytData, int32_t lngLBA,
                                int16_t intSectorMode) {
  if (lngLBA < 0) return;
  int32_t value = kNoCrc;
  if (lngInputData == CSD_SECTORONLY || lngInputData == CSD_MAINCHANNEL || lngInputData == CSD_MAINSUBCHANNEL) {
    crc_.Clear();
    const int offset = lngInputData == CSD_SECTORONLY ? 0 : kRawUserDataOffset;
    const int size = SectorSizeOf(intSectorMode);
    // A sector shorter than its user data records no CRC rather than a wrong one.
    if (size == 0 || crc_.CalcBlock(Span(bytData), offset, size)) value = static_cast<int32_t>(crc_.GetCRC() & 0xFFFF);
  }
  if (static_cast<size_t>(lngLBA) >= record_.size()) record_.resize(static_cast<size_t>(lngLBA) + kGrowth + 1, kNoCrc);
  record_[static_cast<size_t>(lngLBA)] = value;
}

int32_t DiscVerifier::RecordedCrc(int32_t lba) const {
  if (lba < 0 || static_cast<size_t>(lba) >= record_.size()) return kNoCrc;
  return record_[static_cast<size_t>(lba)];
}

bool DiscVerifier::StartSession(Trelin& drive) {
  switch (drive.GetMediaFamilyType()) {
    case MFT_CDFAMILY: return drive.ReadStart(CCC_RAW, 0) == CBR_OK;
    case MFT_DVDFAMILY:
    case MFT_BDFAMILY:
    case MFT_HDDVDFAMILY: return drive.ReadStart(CCC_DATA, 0) == CBR_OK;
    default: return false;
  }
}

bool DiscVerifier::StartVerify(Trelin& objControl, const TOCInformation* objOriginalTOC) {
  ClearCancel();
  RemoteWaitWatch waits(*this, objControl);
  LogStart();
  int errors = 0;
  DeviceSetting setting;
  setting.LoadSetting(objControl);
  objControl.ResetSense();
  objControl.SetECCMode(true, 0);
  Report(kStatusInformation, QStringLiteral("読み取り検査を行います。"));
  objControl.LockUnlock(true);
  Report(kStatusInformation, QStringLiteral("扉を閉鎖しました。"));

  bool state = false;
  bool reloaded = false;
  bool started = false;
  while (true) {
    if (!setting.ForceEject || reloaded) started = StartSession(objControl);
    if (started) break;
    if (reloaded) {
      Report(kStatusError, QStringLiteral("ディスクが認識できません。ただのコースターのようです。"));
      break;
    }
    Report(kStatusInformation, QStringLiteral("ディスクを再挿入します。そのままお待ち下さい。"));
    objControl.LockUnlock(false);
    Report(kStatusInformation, QStringLiteral("扉を開放しました。"));
    objControl.LoadTray(false);
    objControl.LoadTray(true);
    if (!ShowIsReadyForm(objControl, false)) {
      Report(kStatusInformation, QStringLiteral("検証を中止しました。"));
      break;
    }
    objControl.LockUnlock(true);
    Report(kStatusInformation, QStringLiteral("扉を閉鎖しました。"));
    PumpMessages();
    reloaded = true;
  }

  if (started) {
    Report(kStatusInformation,
           QStringLiteral("From %1 to %2").arg(objControl.GetFirstLBA()).arg(objControl.GetLastLBA()));
    std::unique_ptr<TOCInformation> own;
    const TOCInformation* toc = objOriginalTOC;
    if (toc == nullptr) {
      own = objControl.GetTOCStructure();
      toc = own.get();
    }
    state = toc != nullptr;
    const int count = toc != nullptr ? toc->TOCCount() : 0;
    const int32_t total = count > 0 ? toc->TOC(count)->EndLBA : 0;
    const int user_offset = objControl.GetMediaFamilyType() == MFT_CDFAMILY ? kRawUserDataOffset : 0;
    QByteArray buffer(Trelin::kSectorBufferSize, '\0');
    enum class Kind { kNone, kCompare, kRead } kind = Kind::kNone;
    bool stopped = false;
    for (int e = 1; e <= count && !stopped; ++e) {
      const model::TOCTrack entry = *toc->TOC(e);
      const model::TOCTrack* next = e < count ? toc->TOC(e + 1) : nullptr;
      const model::TOCTrack* previous = e > 1 ? toc->TOC(e - 1) : nullptr;
      TrackLine(entry);
      const int size = SectorSizeOf(entry.SectorMode);
      for (int32_t j = entry.StartLBA; j <= entry.EndLBA; ++j) {
        const bool excluded =
            (next != nullptr && next->SectorMode != entry.SectorMode && j > entry.EndLBA + setting.VerifyPassFrom) ||
            (previous != nullptr && previous->SectorMode != entry.SectorMode &&
             j < entry.StartLBA + setting.VerifyPassTo);
        if (excluded) {
          Report(kStatusInformation, QStringLiteral("セクタ %1 検査外領域").arg(j));
        } else {
          const int32_t recorded = RecordedCrc(j);
          const Kind wanted =
              entry.SectorMode != SMC_AUDIO && size > 0 && recorded != kNoCrc ? Kind::kCompare : Kind::kRead;
          if (wanted != kind) {
            kind = wanted;
            Report(kStatusInformation, QStringLiteral("検証種別：%1 (%2-)")
                                           .arg(kind == Kind::kCompare ? QStringLiteral("比較検査")
                                                                       : QStringLiteral("読取検査"))
                                           .arg(j));
          }
          if (!objControl.ReadLBA(buffer, j)) {
            if (objControl.GetSCSIErrorStatus() == kDriveGone) {
              Report(kStatusError, objControl.GetSCSIErrorDescription());
              RequestStop();
            }
            Report(kStatusWarning, QStringLiteral("セクタ %1 読み取りエラー").arg(j));
            ++errors;
            state = false;
          } else if (kind == Kind::kCompare) {
            crc_.Clear();
            crc_.CalcBlock(Span(buffer), user_offset, size);
            if (static_cast<int32_t>(crc_.GetCRC() & 0xFFFF) != recorded) {
              Report(kStatusWarning, QStringLiteral("セクタ %1 のデータが異なります。").arg(j));
              ++errors;
              state = false;
            }
          }
        }
        if (cancelled()) {
          Report(kStatusInformation, QStringLiteral("検証を中止しました。"));
          state = false;  // a stopped pass verified nothing whole
          stopped = true;
          break;
        }
        ProgressAndPoll(j, total);
      }
    }
    if (!stopped && cancelled()) {  // asked to stop after the last sector
      Report(kStatusInformation, QStringLiteral("検証を中止しました。"));
      state = false;
      stopped = true;
    }
    if (!stopped) {
      if (errors == 0) {
        Report(kStatusInformation, QStringLiteral("ディスクは正常です。"));
      } else {
        Report(kStatusWarning, QStringLiteral("%1 個のエラーセクタが見つかりました。").arg(errors));
      }
    }
  }
  objControl.ReadEnd();
  objControl.LockUnlock(false);
  Report(kStatusInformation, QStringLiteral("扉を開放しました。"));
  LogEnd(state);
  ClearCancel();
  return state;
}

}  // namespace sorvel
