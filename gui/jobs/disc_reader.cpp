#include "gui/jobs/disc_reader.h"

#include <QByteArray>
#include <algorithm>
#include <span>
#include <utility>

#include "gui/foundation/file_io.h"
#include "gui/jobs/background_file_writer.h"
#include "gui/jobs/message_pump.h"
#include "gui/jobs/output_set.h"
#include "gui/model/descriptor_files.h"
#include "gui/model/device_setting.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/toc_information.h"
#include "gui/model/trelin.h"

namespace sorvel {
namespace {

constexpr int kRawSector = 2352;
constexpr int kUserData = 2048;
constexpr int kSubchannel = 96;
// More consecutive failures than this start the burst skip.
constexpr int kBurstThreshold = 5;

std::span<const uint8_t> Bytes(const QByteArray& buffer, int offset, int size) {
  return {reinterpret_cast<const uint8_t*>(buffer.constData()) + offset, static_cast<size_t>(size)};
}

}  // namespace

// The image files of one run: their final names, the output set that writes
// them under temporary names and puts them in place together, the writers
// that take the main data to the image and subchannel files in large blocks,
// and the buffer of the first pregap.
class DiscReader::Files {
 public:
  QString image, sub, pre, cue, cdt, ccd, tsn;
  bool subchannel = false;  // the read writes ".sub" and ".ccd"
  OutputSet outputs;
  FileIO image_file;
  FileIO sub_file;
  std::unique_ptr<BackgroundFileWriter> image_out;
  std::unique_ptr<BackgroundFileWriter> sub_out;
  QByteArray buffer = QByteArray(Trelin::kSectorBufferSize + 1, '\0');

  // Writes what the blocks still hold; true when every byte reached the files.
  bool FinishWriting() {
    const bool image_done = !image_out || image_out->Finish();
    const bool sub_done = !sub_out || sub_out->Finish();
    image_out.reset();
    sub_out.reset();
    return image_done && sub_done;
  }

  QString Temporary(const QString& name) const { return outputs.TemporaryOf(name); }
};

bool DiscReader::OpenOutputs(bool first_pregap) {
  Files& files = *files_;
  // Every file a read into this name can make: those this run writes get
  // temporaries now, the others are files of an earlier set that the commit
  // removes (a ".sub" of a read with subchannel, say), so a FIFO or a
  // write-protected file at any of them stops the job before the disc is read.
  const QString* all[] = {&files.image, &files.sub, &files.pre, &files.cue, &files.cdt, &files.ccd, &files.tsn};
  for (const QString* name : all) {
    if (name->isEmpty()) continue;
    const bool writes = name == &files.image || name == &files.cue || name == &files.tsn ||
                        ((name == &files.sub || name == &files.ccd) && files.subchannel) ||
                        (name == &files.pre && first_pregap);
    if (writes ? files.outputs.Add(*name).isEmpty() : !files.outputs.Replace(*name)) {
      Report(kStatusError, files.outputs.ProblemText());
      return false;
    }
  }
  for (auto [file, name] : {std::pair{&files.image_file, files.image}, std::pair{&files.sub_file, files.sub}}) {
    const QString temporary = files.Temporary(name);
    if (temporary.isEmpty()) continue;
    if (!file->OpenFile(temporary, kGenericWrite, kOpenExisting, 0)) {
      Report(kStatusError, QStringLiteral("ファイル %1 が開けません。").arg(name));
      return false;
    }
  }
  return true;
}

bool DiscReader::StartReadCompatible(Trelin& objControl, const QString& strFileName) {
  ClearCancel();
  LogStart();
  unreadable_ = 0;
  DeviceSetting setting;
  setting.LoadSetting(objControl);
  bool result = false;
  if (PrepareDrive(objControl)) {
    objControl.SetBufferingBlockLength(setting.ReadBlockLength);
    const int32_t flags = setting.CDReadFlags();

    Files files;
    files_ = &files;
    bool started = false;
    const int32_t family = objControl.GetMediaFamilyType();
    const bool cd = family == MFT_CDFAMILY;
    // A CD's sheet names its image: a name it cannot hold is refused before
    // anything is read.
    const QString sheet_named = ChangeExtension(strFileName, QStringLiteral(".img"));
    const bool refused = cd && !IsSheetFileName(sheet_named);
    if (refused) {
      Report(kStatusError, SheetFileNameText(sheet_named));
    } else if (cd) {
      Report(kStatusInformation, QStringLiteral("CDの読み込みを開始します。"));
      if (objControl.SetECCMode(!setting.IgnoreError, setting.RetryCount)) {
        Report(kStatusInformation,
               setting.IgnoreError
                   ? QStringLiteral("誤り訂正機構を停止しました。再試行回数は %1 回です。").arg(setting.RetryCount)
                   : QStringLiteral("誤り訂正機構を有効にしました。"));
      }
      Report(kStatusInformation,
             QStringLiteral("読み込みコマンドに %1 を利用します。").arg(setting.CDReadCommandName()));
      started = objControl.ReadStart(setting.CDReadCommand, flags) == CBR_OK;
      files.image = ChangeExtension(strFileName, QStringLiteral(".img"));
      files.cue = ChangeExtension(strFileName, QStringLiteral(".cue"));
      files.cdt = ChangeExtension(strFileName, QStringLiteral(".cdt"));
      files.pre = ChangeExtension(strFileName, QStringLiteral(".pre"));
      files.tsn = ChangeExtension(strFileName, QStringLiteral(".tsn"));
      // A read without subchannel writes no ".sub" and ".ccd"; an earlier
      // set's ones are replaced (removed) all the same.
      files.sub = ChangeExtension(strFileName, QStringLiteral(".sub"));
      files.ccd = ChangeExtension(strFileName, QStringLiteral(".ccd"));
      files.subchannel = setting.CDReadCommand == CCC_RAW16 || setting.CDReadCommand == CCC_RAW96;
    } else if (family == MFT_DVDFAMILY || family == MFT_BDFAMILY || family == MFT_HDDVDFAMILY) {
      Report(kStatusInformation, QStringLiteral("DVD/BD/HDDVDの読み込みを開始します。"));
      started = objControl.ReadStart(setting.DVDReadCommand, 0) == CBR_OK;
      files.image = ChangeExtension(strFileName, QStringLiteral(".iso"));
    } else {
      Report(kStatusError, QStringLiteral("非対応の媒体です"));
    }

    if (!started) {
      if (!refused) Report(kStatusError, QStringLiteral("読み込み開始に失敗しました。"));
    } else {
      Report(kStatusInformation, QStringLiteral("TOCの分析を完了しました。"));
      bool complete = false;
      const bool first_pregap = cd && setting.ReadFirstPregap && objControl.GetFirstLBA() < 0;
      if (OpenOutputs(first_pregap)) {
        if (first_pregap) ReadFirstPregap(objControl, files.pre);
        files.image_out = std::make_unique<BackgroundFileWriter>(files.image_file);
        if (files.sub_file.IsOpened()) files.sub_out = std::make_unique<BackgroundFileWriter>(files.sub_file);
        complete = ReadMainData(objControl, setting, cd);
        // A write that failed after the last sector was handed over shows here.
        if (!files.FinishWriting() && complete) {
          ReportImageWriteFailure();
          complete = false;
        }
      }
      if (!files.image_file.CloseFile() && complete) {
        ReportImageWriteFailure();
        complete = false;
      }
      files.sub_file.CloseFile();
      result = complete;
      if (complete && cd) result = WriteDescriptors(objControl, setting.ReadFirstPregap);
      // The new set replaces the earlier one only whole; a failed or stopped
      // run removes its own temporaries and nothing else.
      if (result && !files.outputs.Commit(SlowFlushReport())) {
        Report(kStatusError, files.outputs.ProblemText());
        result = false;
      }
      files.outputs.Discard();
      objControl.ReadEnd();
    }
    files_ = nullptr;
    ReleaseDrive(objControl);
  }
  LogEnd(result);
  ClearCancel();
  return result;
}

bool DiscReader::ReadFirstPregap(Trelin& drive, const QString& name) {
  Report(kStatusInformation,
         QStringLiteral("ファーストプリギャップを %1 セクタ読み込みます。").arg(-drive.GetFirstLBA()));
  FileIO pre;
  if (!pre.OpenFile(files_->Temporary(name), kGenericWrite, kCreateAlways, 0)) {
    Report(kStatusError, QStringLiteral("ファイル %1 が開けません。").arg(name));
    RequestStop();
    return false;
  }
  QByteArray& buffer = files_->buffer;
  for (int32_t lba = -150; lba <= -1; ++lba) {
    if (!drive.ReadLBA(buffer, lba)) {
      drive.ReadLBADummy(buffer, lba);
      ReportReadFailure(drive, lba);
      ++unreadable_;
    }
    if (pre.WriteFile(Bytes(buffer, 0, kRawSector)) != kRawSector) {
      ReportImageWriteFailure();
      return false;
    }
  }
  return true;
}

void DiscReader::ReportImageWriteFailure() {
  Report(kStatusError, QStringLiteral("イメージファイルの書き込みに失敗"));
  RequestStop();
}

bool DiscReader::WriteSector(bool cd, const uint8_t* sector) {
  // The sector lies in the image's block already (see ReadMainData): the
  // subchannel after it is copied out before the block can be handed on.
  bool ok = true;
  if (cd && files_->sub_out) ok = files_->sub_out->Append(sector + kRawSector, kSubchannel);
  if (ok) ok = files_->image_out->Commit(cd ? kRawSector : kUserData);
  // A failed block write shows at the next sector handed over, or at the end.
  if (!ok) ReportImageWriteFailure();
  return ok;
}

bool DiscReader::ReadMainData(Trelin& drive, const DeviceSetting& setting, bool cd) {
  int64_t read = 0;
  const bool complete = ReadMainSectors(drive, setting, cd, &read);
  return ReportUnreadableSectors(unreadable_, read, complete) && complete;
}

bool DiscReader::ReadMainSectors(Trelin& drive, const DeviceSetting& setting, bool cd, int64_t* read) {
  std::unique_ptr<TOCInformation> toc = drive.GetTOCStructure();
  if (!toc) return false;
  connect(toc.get(), &TOCInformation::StatusChangeEx, this, &DiscJob::StatusChange);
  const int32_t total = drive.GetLastLBA();
  int failures = 0;
  for (int i = 1; i <= toc->TOCCount(); ++i) {
    const model::TOCTrack entry = *toc->TOC(i);
    TrackLine(entry);
    int32_t lba = entry.StartLBA;
    while (lba <= entry.EndLBA) {
      // Each sector is read straight into its place in the image's block.
      uint8_t* sector = files_->image_out->Reserve(Trelin::kSectorBufferSize);
      if (drive.ReadLBA(sector, lba)) {
        failures = 0;
        ++*read;
      } else {
        drive.ReadLBADummy(sector, lba);
        ReportReadFailure(drive, lba);
        ++failures;
        ++unreadable_;
      }
      int32_t run = 1;
      if (setting.BurstErrorSkip && failures > kBurstThreshold) {
        failures = 0;
        // The run stays inside this entry: the next entry starts its own.
        const int32_t last = SkipBurstError(drive, lba, setting.SkipUnit, std::min(entry.EndLBA, total));
        run = last - lba + 1;
      }
      for (int32_t k = 0; k < run; ++k) {
        if (k > 0) {
          sector = files_->image_out->Reserve(Trelin::kSectorBufferSize);
          drive.ReadLBADummy(sector, lba + k);
          ++unreadable_;
        }
        if (!WriteSector(cd, sector)) return false;
        if (ProgressAndPoll(lba + k, total)) return false;
      }
      lba += run;
    }
  }
  return true;
}

bool DiscReader::WriteDescriptors(Trelin& drive, bool first_pregap) {
  std::unique_ptr<TOCInformation> read = drive.GetTOCStructure();
  const auto fail = [this] {
    Report(kStatusError, QStringLiteral("TOCファイルが出力できませんでした。"));
    return false;
  };
  if (!read) return fail();
  Files& files = *files_;
  // The descriptors are written under the set's temporary names; what the
  // writers say names the user's files.
  connect(read.get(), &TOCInformation::StatusChangeEx, this,
          [this, &files](int32_t type, const QString& text) { Report(type, files.outputs.ShownText(text)); });
  // A descriptor the TOC has is written or the job fails: no set goes in
  // place with one missing, nor beside an earlier disc's. One the TOC cannot
  // express (a CUE sheet of several sessions) is left out, as is its
  // predecessor.
  bool any = false;
  const bool raw = read->TOCCount() > 0 && read->RawTOCCount() > 0;
  if (read->HasCUESheet()) {
    if (read->CDTextCount() > 0 && files.outputs.Add(files.cdt).isEmpty()) {
      Report(kStatusError, files.outputs.ProblemText());
      return fail();
    }
    if (!read->SaveCUEFileTo(files.Temporary(files.cue), files.Temporary(files.cdt), files.image, files.cdt,
                             kRawSector)) {
      return fail();
    }
    Report(kStatusInformation, QStringLiteral("CUE互換ファイルを出力しました。"));
    any = true;
  } else {
    files.outputs.Drop(files.cue);
  }
  if (files.subchannel) {
    if (raw) {
      if (!read->SaveCCDFile(files.Temporary(files.ccd))) return fail();
      Report(kStatusInformation, QStringLiteral("CCD互換ファイルを出力しました。"));
      any = true;
    } else {
      files.outputs.Drop(files.ccd);
    }
  } else {
    Report(kStatusInformation, QStringLiteral("サブチャンネルファイルは作成されません。"));
  }
  if (raw) {
    if (!read->SaveCCDFileEx(files.Temporary(files.tsn), &drive, first_pregap)) return fail();
    Report(kStatusInformation, QStringLiteral("TSN互換ファイルを出力しました。"));
    any = true;
  } else {
    files.outputs.Drop(files.tsn);
  }
  return any || fail();
}

}  // namespace sorvel
