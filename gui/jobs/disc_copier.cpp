#include "gui/jobs/disc_copier.h"

#include <QByteArray>
#include <algorithm>

#include "gui/jobs/disc_verifier.h"
#include "gui/model/device_setting.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/toc_information.h"
#include "gui/model/trelin.h"

namespace sorvel {
namespace {

constexpr int kBurstThreshold = 5;

}  // namespace

DiscCopier::DiscCopier(QObject* parent) : DiscJob(parent) {}

DiscCopier::~DiscCopier() = default;

bool DiscCopier::StartCopy(Trelin& objReader, Trelin& objWriter, DiscVerifier* objVerifier) {
  ClearCancel();
  RemoteWaitWatch reader_waits(*this, objReader);
  RemoteWaitWatch writer_waits(*this, objWriter);
  LogStart();
  DeviceSetting source;
  DeviceSetting target;
  source.LoadSetting(objReader);
  target.LoadSetting(objWriter);
  bool result = false;
  // One drive cannot be read and written in the same pass (the dialogs hand
  // both sides one object when they name the same drive).
  if (&objReader == &objWriter) {
    Report(kStatusError, QStringLiteral("読み込み装置と書き込み装置に同じ装置は指定できません。"));
    LogEnd(false);
    ClearCancel();
    return false;
  }
  if (!objReader.IsReady() || !objWriter.IsReady()) {
    Report(kStatusError, QStringLiteral("装置の準備が出来ていません。"));
    LogEnd(false);
    ClearCancel();
    return false;
  }
  objReader.ResetSense();
  objWriter.ResetSense();
  objReader.LockUnlock(true);
  objWriter.LockUnlock(true);
  Report(kStatusInformation, QStringLiteral("扉を閉鎖しました。"));

  objReader.SetBufferingBlockLength(source.ReadBlockLength);
  int32_t flags = 0;
  if (source.ReadFirstPregap) flags |= CDD_FIRSTPREGAP;
  if (source.OnlyFirstSession) flags |= CDD_FIRSTSESSIONONLY;
  if (source.UnableToAnalizePregap) flags |= CDD_NOPREGAP;
  if (source.CollectSubPQRead) flags |= CDD_COLLECTSUBPQ;
  const int32_t source_family = objReader.GetMediaFamilyType();
  bool started = false;
  int32_t data_type = CSD_SECTORONLY;
  if (source_family == MFT_CDFAMILY) {
    Report(kStatusInformation, QStringLiteral("CDの読み込みを開始します。"));
    if (objReader.SetECCMode(!source.IgnoreError, source.RetryCount)) {
      Report(kStatusInformation,
             source.IgnoreError
                 ? QStringLiteral("誤り訂正機構を停止しました。再試行回数は %1 回です。").arg(source.RetryCount)
                 : QStringLiteral("誤り訂正機構を有効にしました。"));
    }
    Report(kStatusInformation, QStringLiteral("読み込みコマンドに %1 を利用します。").arg(source.CDReadCommandName()));
    started = objReader.ReadStart(source.CDReadCommand, flags) == CBR_OK;
    if (!started) Report(kStatusError, QStringLiteral("CDの読み込み開始に失敗しました。"));
    data_type = source.CDReadCommand == CCC_RAW16 || source.CDReadCommand == CCC_RAW96 ? CSD_MAINSUBCHANNEL
                                                                                      : CSD_MAINCHANNEL;
  } else if (source_family == MFT_DVDFAMILY || source_family == MFT_BDFAMILY || source_family == MFT_HDDVDFAMILY) {
    Report(kStatusInformation, QStringLiteral("DVD/BD/HDDVDの読み込みを開始します。"));
    started = objReader.ReadStart(source.DVDReadCommand, 0) == CBR_OK;
    if (!started) Report(kStatusError, QStringLiteral("DVD/BD/HDDVDの読み込み開始に失敗しました。"));
  } else {
    Report(kStatusError, QStringLiteral("非対応の媒体です"));
  }

  if (started) {
    Report(kStatusInformation, QStringLiteral("TOCの分析を完了しました。"));
    toc_ = objReader.GetTOCStructure();
    if (!toc_) toc_ = std::make_unique<TOCInformation>();
    // A TOC no disc can have (as a damaged disc or a hostile drive may
    // answer) would write something else than the source: the target's
    // session is never started.
    const platform::TocBounds bounds = source_family == MFT_CDFAMILY ? platform::kCdBounds : platform::kAnyDiscBounds;
    const bool whole = toc_->CheckTrackExtents(bounds).ok();
    if (whole) objWriter.SetTOCStructure(*toc_);
    const int32_t target_family = objWriter.GetMediaFamilyType();
    const int32_t code = whole ? StartWriteSession(objWriter, target, toc_->CDTextCount()) : CBR_OK;
    if (!whole) {
      Report(kStatusError, QStringLiteral("読み込み側のTOC情報が不正です。"));
    } else if (code == kUnsupportedFamily) {
      Report(kStatusError, QStringLiteral("非対応の媒体です"));
    } else if (code != CBR_OK) {
      Report(kStatusError, target_family == MFT_CDFAMILY ? QStringLiteral("CDの書き込み開始に失敗しました。")
                                                         : QStringLiteral("DVD/BD/HDDVDの書き込み開始に失敗しました。"));
      Report(kStatusError, WriteStartErrorText(code));
    } else {
      result = CopySectors(objReader, objWriter, objVerifier, source, target, data_type);
      Report(kStatusInformation, QStringLiteral("キャッシュフラッシュ中。"));
      objReader.ReadEnd();
      started = false;
      result = FlushWriteCache(objWriter, result, *toc_);
      Report(kStatusInformation, QStringLiteral("ディスクを閉じています。"));
      if (!objWriter.WriteEnd(!result)) {
        ReportDriveError(objWriter);
        result = false;
      }
      if (result) result = WrittenTocOnDisc(objWriter, *toc_, target);
    }
    // The source's read pass ends whenever it was started.
    if (started) objReader.ReadEnd();
  }
  objReader.ResetSense();
  objWriter.ResetSense();
  objReader.LockUnlock(false);
  objWriter.LockUnlock(false);
  Report(kStatusInformation, QStringLiteral("扉を開放しました。"));
  LogEnd(result);
  ClearCancel();
  return result;
}

bool DiscCopier::CopySectors(Trelin& reader, Trelin& writer, DiscVerifier* verifier, const DeviceSetting& source,
                             const DeviceSetting& target, int32_t data_type) {
  const int count = toc_->TOCCount();
  const int32_t total = count > 0 ? toc_->TOC(count)->EndLBA : 0;
  QByteArray buffer(Trelin::kSectorBufferSize + 1, '\0');
  auto write = [&](int32_t type, int32_t lba) {
    if (writer.WriteLBA(type, buffer, lba)) return true;
    ReportWriteFailure(writer);
    RequestStop();
    return false;
  };

  int64_t unreadable = 0;
  int64_t read = 0;
  if (writer.GetMediaFamilyType() == MFT_CDFAMILY) {
    if (target.ErrorFirstPregap) {
      Report(kStatusInformation, QStringLiteral("Session=1, Track=1, Index=0 From -150 to -1 (ErrorData)"));
      buffer.fill('\0');
      for (int32_t lba = -150; lba <= -1; ++lba) {
        write(CSD_ERRORDATA, lba);
        if (ProgressAndPoll(lba, total)) return false;
      }
    } else if (source.ReadFirstPregap && reader.GetFirstLBA() < 0 && reader.GetMediaFamilyType() == MFT_CDFAMILY) {
      Report(kStatusInformation, QStringLiteral("Session=1, Track=1, Index=0 From -150 to -1"));
      for (int32_t lba = -150; lba <= -1; ++lba) {
        if (!reader.ReadLBA(buffer, lba)) {
          // An unreadable pregap sector goes over as the engine's dummy sector.
          reader.ReadLBADummy(buffer, lba);
          ReportReadFailure(reader, lba);
          ++unreadable;
        }
        write(data_type, lba);
        if (ProgressAndPoll(lba, total)) return false;
      }
    }
  }

  const int32_t last_lba = reader.GetLastLBA();
  // Only a CD can hold a sector marked unreadable; on the DVD family a
  // skipped run goes over as dummy sectors of the normal type, as single
  // failures do.
  const int32_t skipped_type = writer.GetMediaFamilyType() == MFT_CDFAMILY ? CSD_ERRORDATA : data_type;
  int failures = 0;
  int64_t written = 0;
  for (int i = 1; i <= count; ++i) {
    const model::TOCTrack entry = *toc_->TOC(i);
    TrackLine(entry);
    int32_t lba = entry.StartLBA;
    while (lba <= entry.EndLBA) {
      if (reader.ReadLBA(buffer, lba)) {
        failures = 0;
        ++read;
      } else {
        reader.ReadLBADummy(buffer, lba);
        ReportReadFailure(reader, lba);
        ++failures;
        ++unreadable;
      }
      int32_t run = 1;
      if (source.BurstErrorSkip && failures > kBurstThreshold) {
        failures = 0;
        run = SkipBurstError(reader, lba, source.SkipUnit, std::min(entry.EndLBA, last_lba)) - lba + 1;
      }
      for (int32_t k = 0; k < run; ++k) {
        if (run == 1) {
          if (verifier != nullptr) verifier->SetWriteData(data_type, buffer, lba, static_cast<int16_t>(entry.SectorMode));
          write(data_type, lba);
        } else {
          if (k > 0) {
            reader.ReadLBADummy(buffer, lba + k);
            ++unreadable;
          }
          if (verifier != nullptr) verifier->SetWriteData(skipped_type, buffer, lba + k, static_cast<int16_t>(entry.SectorMode));
          write(skipped_type, lba + k);
        }
        ++written;
        if (ProgressAndPoll(lba + k, total)) return false;
      }
      lba += run;
    }
  }
  return ReportUnreadableSectors(unreadable, read, true) && WroteWholeToc(written, *toc_);
}

}  // namespace sorvel
