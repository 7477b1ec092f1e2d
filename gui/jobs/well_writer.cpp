#include "gui/jobs/well_writer.h"

#include <QByteArray>
#include <span>

#include "gui/foundation/file_io.h"
#include "gui/foundation/file_paths.h"
#include "gui/jobs/background_file_writer.h"
#include "gui/jobs/disc_verifier.h"
#include "gui/jobs/layout_sources.h"
#include "gui/jobs/output_set.h"
#include "gui/model/descriptor_files.h"
#include "gui/model/device_setting.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/tazol.h"
#include "gui/model/toc_information.h"
#include "gui/model/toc_parts.h"
#include "gui/model/trelin.h"
#include "platform/cd_text_blocks.h"

namespace sorvel {
namespace {

constexpr int kUserData = 2048;
constexpr int kRawSector = 2352;

const QString kEmptyLayout = QStringLiteral("書き込みしようとするからには、内容物を配置しなければ成りません。");

QString UnreadableLine(int32_t lba) { return QStringLiteral("構造読み込み不能 LBA=%1").arg(lba); }

// Why the layout's CD-Text cannot be written whole: a block whose texts need
// more packs than a block numbers, which the engine leaves out. Empty when
// every block fits or CD-Text is off.
QString CdTextLimitText(Tazol& image) {
  if (!image.EnabledTrackText()) return {};
  const QString blocks[] = {QStringLiteral("英語"), QStringLiteral("日本語")};
  for (int32_t language = 0; language < platform::kCdTextBlockCount; ++language) {
    const int32_t packs = image.CdTextPacks(language);
    if (packs > platform::kCdTextPacksPerBlock) {
      return QStringLiteral("CD-TEXTの%1ブロックのパックが多すぎます (%2 パック、1 ブロックに書き込めるのは %3 パックまでです)。")
          .arg(blocks[language])
          .arg(packs)
          .arg(platform::kCdTextPacksPerBlock);
    }
  }
  return {};
}

int32_t LastEnd(const TOCInformation& toc) {
  const int count = toc.TOCCount();
  return count > 0 ? toc.TOC(count)->EndLBA : 0;
}

}  // namespace

WellWriter::WellWriter(QObject* parent) : DiscJob(parent) {}

WellWriter::~WellWriter() = default;

void WellWriter::SetToc(std::unique_ptr<TOCInformation> toc) {
  toc_ = toc ? std::move(toc) : std::make_unique<TOCInformation>();
  // While a save writes its temporaries, what the model says of them names
  // the user's files.
  connect(toc_.get(), &TOCInformation::StatusChangeEx, this, [this](int32_t type, const QString& text) {
    Report(type, outputs_ ? outputs_->ShownText(text) : text);
  });
}

bool WellWriter::StartWrite(Trelin& objControl, Tazol& objImage, DiscVerifier* objVerifier) {
  RemoteWaitWatch waits(*this, objControl);
  ClearCancel();
  LogStart();
  Report(kStatusInformation, QStringLiteral("構造配置解析中"));
  const int32_t sectors = objImage.ReadStart();
  bool go_on = sectors > 0;
  if (!go_on) Report(kStatusError, kEmptyLayout);
  SetToc(objImage.GetTOCStructure());
  DeviceSetting setting;
  setting.LoadSetting(objControl);
  bool result = false;
  go_on = go_on && !Refuses(ChangedLayoutSource(objImage)) && !Refuses(TocWriteLimitText(*toc_)) &&
          !Refuses(CdTextLimitText(objImage));
  if (go_on) {
    if (!objControl.IsReady()) {
      Report(kStatusError, QStringLiteral("装置の準備が出来ていません。"));
      go_on = false;
    } else {
      const int32_t family = objControl.GetMediaFamilyType();
      if (family == MFT_DVDFAMILY || family == MFT_BDFAMILY || family == MFT_HDDVDFAMILY) {
        auto first = objImage.GetTrackInformation(1);
        if (objImage.GetTrackCount() != 1 || !first || (first->TrackControlFlag & TCF_DATATRACK) == 0) {
          Report(kStatusError, QStringLiteral("DVDに音楽トラックを書き込もうとしないでください。"));
          go_on = false;
        }
      }
    }
  }
  if (go_on) {
    objControl.ResetSense();
    objControl.LockUnlock(true);
    Report(kStatusInformation, QStringLiteral("扉を閉鎖しました。"));
    objControl.SetTOCStructure(*toc_);
    Report(kStatusInformation, QStringLiteral("TOCを設定しました。"));
    const int32_t code = StartWriteSession(objControl, setting, toc_->CDTextCount());
    if (code == kUnsupportedFamily) {
      Report(kStatusError, QStringLiteral("未対応の媒体です。"));
      Report(kStatusError, WriteStartErrorText(code));
    } else if (code != CBR_OK) {
      Report(kStatusError, WriteStartErrorText(code));
    } else {
      bool written = WriteSectors(objControl, objImage, objVerifier, setting.ErrorFirstPregap);
      Report(kStatusInformation, QStringLiteral("キャッシュフラッシュ中。"));
      const bool flushed = FlushWriteCache(objControl, written, *toc_);
      Report(kStatusInformation, QStringLiteral("ディスクを閉じています。"));
      const bool closed = objControl.WriteEnd(!written || !flushed);
      if (!closed) ReportDriveError(objControl);
      result = written && flushed && closed && WrittenTocOnDisc(objControl, *toc_, setting);
    }
    ReleaseDrive(objControl);
  }
  objImage.ReadEnd();
  ClearCancel();
  LogEnd(result);
  return result;
}

bool WellWriter::Refuses(const QString& problem) {
  if (problem.isEmpty()) return false;
  Report(kStatusError, problem);
  return true;
}

void WellWriter::ReportUnreadable(Tazol& image, int32_t lba) {
  Report(kStatusError, UnreadableLine(lba));
  const QString changed = ChangedLayoutSource(image);
  if (!changed.isEmpty()) Report(kStatusError, changed);
}

bool WellWriter::WriteSectors(Trelin& drive, Tazol& image, DiscVerifier* verifier, bool error_first_pregap) {
  Report(kStatusInformation, QStringLiteral("メインデータ書き込み中。"));
  Report(kStatusInformation, QStringLiteral("From %1 to %2").arg(drive.GetFirstLBA()).arg(drive.GetLastLBA()));
  const int32_t total = LastEnd(*toc_);
  QByteArray buffer(Trelin::kSectorBufferSize + 1, '\0');
  auto fail = [&] {
    ReportWriteFailure(drive);
    return false;
  };
  if (drive.GetMediaFamilyType() == MFT_CDFAMILY && error_first_pregap) {
    Report(kStatusInformation, QStringLiteral("Session=1, Track=1, Index=0 From -150 to -1 (ErrorData)"));
    for (int32_t lba = -150; lba <= -1; ++lba) {
      if (!drive.WriteLBA(CSD_ERRORDATA, buffer, lba) || ProgressAndPoll(lba, total)) return fail();
    }
  }
  for (int i = 1; i <= toc_->TOCCount(); ++i) {
    const model::TOCTrack entry = *toc_->TOC(i);
    TrackLine(entry);
    for (int32_t lba = entry.StartLBA; lba <= entry.EndLBA; ++lba) {
      // A sector the layout cannot produce (a source file gone or changed)
      // would leave a hole in the disc: the write fails there, naming the
      // source; the drive did nothing wrong, so no drive error follows.
      if (!image.Read(buffer, false)) {
        ReportUnreadable(image, lba);
        return false;
      }
      if (verifier != nullptr) verifier->SetWriteData(CSD_SECTORONLY, buffer, lba, static_cast<int16_t>(entry.SectorMode));
      if (!drive.WriteLBA(CSD_SECTORONLY, buffer, lba)) return fail();
      if (ProgressAndPoll(lba, total)) return fail();
    }
  }
  return true;
}

bool WellWriter::StartWriteFile(const QString& strFileName, Tazol& objImage) {
  const QString base = RemoveExtension(strFileName);
  const QString image_path = base + QStringLiteral(".img");
  const QString cue_path = base + QStringLiteral(".cue");
  const QString cdt_path = base + QStringLiteral(".cdt");
  ClearCancel();
  LogStart();
  Report(kStatusInformation, QStringLiteral("構造配置解析中"));
  const int32_t sectors = objImage.ReadStart();
  if (sectors < 1) Report(kStatusError, kEmptyLayout);
  SetToc(objImage.GetTOCStructure());
  bool result = false;
  // The sheet names the image and the pack file: a name it cannot hold is
  // refused before anything is written.
  const bool nameable = IsSheetFileName(image_path) && IsSheetFileName(cdt_path);
  if (!nameable) Report(kStatusError, SheetFileNameText(image_path));
  if (nameable && sectors > 0 && !Refuses(ChangedLayoutSource(objImage)) && !Refuses(CdTextLimitText(objImage))) {
    // The image, sheet and pack file are written under temporary names and
    // go in place together when whole: a failed or stopped save leaves the
    // files that stood at those names and removes only its own.
    OutputSet outputs;
    outputs_ = &outputs;
    const auto refused = [&](const QString& line) {
      Report(kStatusError, outputs.Problem().kind == FileProblem::kNotRegular ? outputs.ProblemText() : line);
      return false;
    };
    FileIO file;
    const bool opened =
        (!outputs.Add(image_path).isEmpty() || refused(QStringLiteral("ファイルが開けません - %1").arg(image_path))) &&
        (!outputs.Add(cue_path).isEmpty() || refused(QStringLiteral("TOCをファイルに書き込めません - %1").arg(cue_path))) &&
        (outputs.Replace(cdt_path) || refused(QStringLiteral("TOCをファイルに書き込めません - %1").arg(cdt_path))) &&
        (file.OpenFile(outputs.TemporaryOf(image_path), kGenericWrite, kOpenExisting, 0) ||
         refused(QStringLiteral("ファイルが開けません - %1").arg(image_path)));
    if (opened) {
      Report(kStatusInformation, QStringLiteral("メインデータ書き込み中。"));
      const bool single_data = toc_->TOCCount() == 1 && toc_->TOC(1)->SectorMode != SMC_AUDIO;
      const int size = single_data ? kUserData : kRawSector;
      const int32_t total = LastEnd(*toc_);
      // Sectors go to the file in large blocks written on a second thread: the
      // disk works while the layout makes the next sectors. The layout
      // fills each sector in its place in the block.
      // The blocks go to the file 32 KiB a write(): a whole 1 MiB block per
      // write() has the page cache of a disk file system take it into large
      // pages, and saving ten 400 MB files to ext4 then took twice as long
      // (the reader's image files, written while their predecessors are
      // truncated, measure the other way and keep whole blocks).
      BackgroundFileWriter output(file, 1 << 20, 32 * 1024);
      bool ok = true;
      for (int i = 1; ok && i <= toc_->TOCCount(); ++i) {
        const model::TOCTrack entry = *toc_->TOC(i);
        TrackLine(entry);
        for (int32_t lba = entry.StartLBA; ok && lba <= entry.EndLBA; ++lba) {
          if (!objImage.Read(output.Reserve(Tazol::kSectorSize), !single_data)) {
            ReportUnreadable(objImage, lba);
            ok = false;
          } else if (!output.Commit(size)) {
            Report(kStatusError, QStringLiteral("イメージをファイルに書き込めません - %1").arg(image_path));
            ok = false;
          }
          if (ProgressAndPoll(lba, total)) ok = false;
          if (!ok) Report(kStatusError, QStringLiteral("書き込みに失敗しました。"));
        }
      }
      if (!output.Finish() && ok) {
        Report(kStatusError, QStringLiteral("イメージをファイルに書き込めません - %1").arg(image_path));
        ok = false;
      }
      if (!file.CloseFile()) ok = false;
      if (ok) {
        const bool packs = toc_->CDTextCount() > 0 && !outputs.Add(cdt_path).isEmpty();
        if (toc_->SaveCUEFileTo(outputs.TemporaryOf(cue_path), packs ? outputs.TemporaryOf(cdt_path) : QString(),
                                image_path, cdt_path, size)) {
          result = true;
        } else {
          Report(kStatusError, QStringLiteral("TOCをファイルに書き込めません - %1").arg(cue_path));
        }
      }
      if (result && !outputs.Commit(SlowFlushReport())) {
        Report(kStatusError, outputs.ProblemText());
        result = false;
      }
    }
    outputs_ = nullptr;
  }
  objImage.ReadEnd();
  ClearCancel();
  LogEnd(result);
  return result;
}

}  // namespace sorvel
