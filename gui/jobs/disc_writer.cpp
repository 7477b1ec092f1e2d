#include "gui/jobs/disc_writer.h"

#include <QByteArray>
#include <span>
#include <utility>
#include <vector>

#include "gui/foundation/file_io.h"
#include "gui/jobs/disc_verifier.h"
#include "gui/model/device_setting.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/toc_information.h"
#include "gui/model/toc_parts.h"
#include "gui/model/trelin.h"

namespace sorvel {
namespace {

constexpr int kRawSector = 2352;
constexpr int kSubchannel = 96;
constexpr int kFirstPregapSectors = 150;

int BcdToBinary(uint8_t value) { return (value & 15) + (value >> 4) * 10; }
bool IsBcd(uint8_t value) { return (value & 15) <= 9 && (value >> 4) <= 9; }

bool HasSync(const QByteArray& buffer) {
  static const uint8_t kSync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  return buffer.size() >= 16 && std::equal(kSync, kSync + 12, reinterpret_cast<const uint8_t*>(buffer.constData()));
}

bool IsRawWriteCommand(int32_t command) {
  return command == CCC_SAO_RAW || command == CCC_DAO_RAW16 || command == CCC_DAO_RAW96;
}

std::span<uint8_t> Span(QByteArray& buffer, int offset, int size) {
  return {reinterpret_cast<uint8_t*>(buffer.data()) + offset, static_cast<size_t>(size)};
}

// The error line of an image or side file that ends before the TOC does.
QString CutShortText(const QString& kind, const QString& path) {
  return QStringLiteral("%1 %2 が途切れています。").arg(kind, path);
}
const QString kImageFile = QStringLiteral("イメージファイル");
const QString kSubchannelFile = QStringLiteral("サブチャンネルファイル");
const QString kFirstPregapFile = QStringLiteral("ファーストプリギャップファイル");

}  // namespace

struct DiscWriter::Run {
  QString image;
  int32_t sector_size = 0;
  FileIO image_file;
  FileIO sub_file;
  FileIO pre_file;
  bool raw_write = false;
  bool error_first_pregap = false;
  QByteArray buffer = QByteArray(Trelin::kSectorBufferSize + 1, '\0');
};

DiscWriter::DiscWriter(QObject* parent) : DiscJob(parent), toc_(std::make_unique<TOCInformation>()) {
  connect(toc_.get(), &TOCInformation::StatusChangeEx, this, &DiscJob::StatusChange);
}

DiscWriter::~DiscWriter() = default;

int32_t DiscWriter::SectorHeaderLBA(const QByteArray& buffer) {
  if (!HasSync(buffer)) return 0;
  const auto* b = reinterpret_cast<const uint8_t*>(buffer.constData());
  return BcdToBinary(b[12]) * 4500 + BcdToBinary(b[13]) * 75 + BcdToBinary(b[14]) - 150;
}

void DiscWriter::CoverImageStart() {
  if (toc_->TOCCount() == 0 || toc_->TOC(1)->StartLBA <= 0) return;
  model::TOCTrack* first = toc_->TOC(1);
  if (first->IndexNo == 0) {
    first->StartLBA = 0;
    return;
  }
  std::vector<model::TOCTrack> entries;
  for (int i = 1; i <= toc_->TOCCount(); ++i) entries.push_back(*toc_->TOC(i));
  while (toc_->TOCCount() > 0) toc_->TOCDelete(toc_->TOCCount());
  const model::TOCTrack& head = entries.front();
  toc_->TOCAdd(head.SessionNo, head.TrackNo, 0, head.Flags, head.SectorMode, 0, head.StartLBA - 1);
  for (const model::TOCTrack& e : entries) {
    toc_->TOCAdd(e.SessionNo, e.TrackNo, e.IndexNo, e.Flags, e.SectorMode, e.StartLBA, e.EndLBA);
  }
}

bool DiscWriter::LoadDescriptor(const QString& file_name, Run& run) {
  const QString extension = file_name.right(4).toLower();
  if (extension == QLatin1String(".iso")) {
    run.image = file_name;
    return toc_->LoadISOFile(file_name, run.sector_size);
  }
  if (extension == QLatin1String(".cue")) return toc_->LoadCUEFile(file_name, run.image, run.sector_size);
  if (extension == QLatin1String(".ccd") || extension == QLatin1String(".tsn")) {
    run.image = ChangeExtension(file_name, QStringLiteral(".img"));
    run.sector_size = kRawSector;
    return toc_->LoadCCDFile(file_name);
  }
  return false;
}

bool DiscWriter::StartWriteCompatible(Trelin& objControl, const QString& strFileName, DiscVerifier* objVerifier) {
  ClearCancel();
  LogStart();
  toc_->Clear();
  Run run;
  const bool loaded = LoadDescriptor(strFileName, run);
  if (!loaded) {
    Report(kStatusError, QStringLiteral("ファイル %1 は開けないか、若しくは未対応の形式です。").arg(strFileName));
  } else {
    CoverImageStart();
  }
  DeviceSetting setting;
  setting.LoadSetting(objControl);
  bool state = false;
  // The image and its side files are opened and measured before the drive is
  // touched: files shorter than the descriptor never lock the tray nor start
  // a session.
  if (loaded && OpenSources(run, setting.ErrorFirstPregap) && FitsTheWrite()) {
    if (PrepareDrive(objControl)) {
      if (run.sub_file.IsOpened()) Report(kStatusInformation, QStringLiteral("サブチャンネルファイルを開きました。"));
      if (run.pre_file.IsOpened())
        Report(kStatusInformation, QStringLiteral("ファーストプリギャップファイルを開きました。"));
      objControl.SetTOCStructure(*toc_);
      Report(kStatusInformation, QStringLiteral("TOCを設定しました。"));
      run.raw_write = IsRawWriteCommand(setting.CDWriteCommand);
      run.error_first_pregap = setting.ErrorFirstPregap;
      const int32_t family = objControl.GetMediaFamilyType();
      const int32_t code = StartWriteSession(objControl, setting, toc_->CDTextCount());
      if (code == kUnsupportedFamily) {
        Report(kStatusError, QStringLiteral("未対応の媒体です。"));
        Report(kStatusError, WriteStartErrorText(code));
      } else if (code != CBR_OK) {
        Report(kStatusError, WriteStartErrorText(code));
      } else {
        state = WriteSectors(objControl, run, family == MFT_CDFAMILY, objVerifier);
        Report(kStatusInformation, QStringLiteral("キャッシュフラッシュ中。"));
        state = FlushWriteCache(objControl, state, *toc_);
        Report(kStatusInformation, QStringLiteral("ディスクを閉じています。"));
        if (!objControl.WriteEnd(!state)) {
          ReportDriveError(objControl);
          state = false;
        }
        if (state) state = WrittenTocOnDisc(objControl, *toc_, setting);
      }
      ReleaseDrive(objControl);
    }
  }
  run.sub_file.CloseFile();
  run.pre_file.CloseFile();
  run.image_file.CloseFile();
  ClearCancel();
  LogEnd(state);
  return state;
}

bool DiscWriter::FitsTheWrite() {
  const QString problem = TocWriteLimitText(*toc_);
  if (problem.isEmpty()) return true;
  Report(kStatusError, problem);
  return false;
}

bool DiscWriter::OpenSources(Run& run, bool error_first_pregap) {
  if (!run.image_file.OpenFile(run.image, kGenericRead, kOpenExisting, kFileShareRead)) {
    Report(kStatusError, FileProblemText(run.image, run.image_file.OpenProblem()));
    Report(kStatusError, QStringLiteral("イメージファイル %1 が開けません。").arg(run.image));
    return false;
  }
  if (run.sector_size == kRawSector) {
    // Each side file is optional; one that is there but cannot be read (a
    // FIFO, a device, a folder) stops the write before the drive is touched.
    for (auto [file, extension] : {std::pair{&run.sub_file, ".sub"}, std::pair{&run.pre_file, ".pre"}}) {
      const QString path = ChangeExtension(run.image, QLatin1String(extension));
      if (!file->OpenFile(path, kGenericRead, kOpenExisting, kFileShareRead) && !file->OpenProblem().Missing()) {
        Report(kStatusError, FileProblemText(path, file->OpenProblem()));
        return false;
      }
    }
  }
  // Files shorter than the TOC would run out in the middle of the disc.
  const int64_t sectors = toc_->SectorCount();
  if (run.image_file.GetSize() < sectors * run.sector_size) {
    Report(kStatusError, CutShortText(kImageFile, run.image));
    return false;
  }
  if (run.sub_file.IsOpened() && run.sub_file.GetSize() < sectors * kSubchannel) {
    Report(kStatusError, CutShortText(kSubchannelFile, ChangeExtension(run.image, QStringLiteral(".sub"))));
    return false;
  }
  // Error data replaces the first pregap: then its file is not read.
  if (!error_first_pregap && run.pre_file.IsOpened() && run.pre_file.GetSize() < kFirstPregapSectors * kRawSector) {
    Report(kStatusError, CutShortText(kFirstPregapFile, ChangeExtension(run.image, QStringLiteral(".pre"))));
    return false;
  }
  return true;
}

bool DiscWriter::WriteSectors(Trelin& drive, Run& run, bool cd, DiscVerifier* verifier) {
  Report(kStatusInformation, QStringLiteral("メインデータ書き込み中。"));
  Report(kStatusInformation, QStringLiteral("From %1 to %2").arg(drive.GetFirstLBA()).arg(drive.GetLastLBA()));
  const int count = toc_->TOCCount();
  const int32_t total = count > 0 ? toc_->TOC(count)->EndLBA : 0;
  QByteArray& buffer = run.buffer;
  // Any stop in the sector loops ends here, with the drive's error and the
  // last sector it took; a file that ends early is named instead, the drive
  // having done nothing wrong.
  auto fail = [&] {
    ReportWriteFailure(drive);
    return false;
  };
  auto cut_short = [&](const QString& kind, const QString& path) {
    Report(kStatusError, CutShortText(kind, path));
    return false;
  };

  if (cd) {
    if (run.error_first_pregap) {
      Report(kStatusInformation, QStringLiteral("不正なファーストプリギャップを書き込み中。"));
      buffer.fill('\0');
      for (int32_t lba = -150; lba <= -1; ++lba) {
        if (!drive.WriteLBA(CSD_ERRORDATA, buffer, lba) || ProgressAndPoll(lba, total)) return fail();
      }
    } else if (run.pre_file.IsOpened()) {
      Report(kStatusInformation, QStringLiteral("ファーストプリギャップを書き込み中。"));
      for (int32_t lba = -150; lba <= -1; ++lba) {
        if (run.pre_file.ReadFile(Span(buffer, 0, kRawSector)) != kRawSector) {
          return cut_short(kFirstPregapFile, ChangeExtension(run.image, QStringLiteral(".pre")));
        }
        if (!drive.WriteLBA(CSD_MAINCHANNEL, buffer, lba) || ProgressAndPoll(lba, total)) return fail();
      }
    }
  }

  // Addresses of the TOC written, each once: a sector written again after a
  // step back counts no new address, one skipped by a step forward none at all.
  int64_t written = 0;
  for (int i = 1; i <= count; ++i) {
    const model::TOCTrack entry = *toc_->TOC(i);
    TrackLine(entry);
    for (int32_t lba = entry.StartLBA; lba <= entry.EndLBA; ++lba) {
      int32_t data_type;
      if (!run.sub_file.IsOpened()) {
        if (run.image_file.ReadFile(Span(buffer, 0, run.sector_size)) != run.sector_size) {
          return cut_short(kImageFile, run.image);
        }
        data_type = run.sector_size >= kRawSector ? CSD_MAINCHANNEL : CSD_SECTORONLY;
      } else {
        if (run.image_file.ReadFile(Span(buffer, 0, kRawSector)) != kRawSector) {
          return cut_short(kImageFile, run.image);
        }
        if (run.sub_file.ReadFile(Span(buffer, kRawSector, kSubchannel)) != kSubchannel) {
          return cut_short(kSubchannelFile, ChangeExtension(run.image, QStringLiteral(".sub")));
        }
        if (entry.SectorMode != SMC_AUDIO) {
          const int32_t header = SectorHeaderLBA(buffer);
          if (header > 0 && header != lba) {
            Report(kStatusWarning, QStringLiteral("重複セクタによる差し戻し %1 to %2").arg(lba).arg(header));
            // Only a raw write puts the sector where its header says, and only
            // to a valid address inside this entry; anything else keeps the count.
            const auto* b = reinterpret_cast<const uint8_t*>(buffer.constData());
            if (run.raw_write && IsBcd(b[12]) && IsBcd(b[13]) && IsBcd(b[14]) && header >= entry.StartLBA &&
                header <= entry.EndLBA) {
              if (header < lba) written -= lba - header;
              lba = header;
            }
          }
        }
        data_type = CSD_MAINSUBCHANNEL;
      }
      if (verifier != nullptr) verifier->SetWriteData(data_type, buffer, lba, static_cast<int16_t>(entry.SectorMode));
      if (!drive.WriteLBA(data_type, buffer, lba)) return fail();
      ++written;
      if (ProgressAndPoll(lba, total)) return fail();
    }
  }
  // What the image holds past the TOC's last sector is not written; the log says how much.
  const int64_t left = run.image_file.GetSize() - run.image_file.GetPointer();
  if (left > 0) {
    Report(kStatusWarning, left % run.sector_size == 0
                               ? QStringLiteral("イメージファイル %1 の末尾 %2 セクタはTOCの範囲外のため書き込みません。")
                                     .arg(run.image)
                                     .arg(left / run.sector_size)
                               : QStringLiteral("イメージファイル %1 の末尾 %2 バイトはTOCの範囲外のため書き込みません。")
                                     .arg(run.image)
                                     .arg(left));
  }
  return WroteWholeToc(written, *toc_);
}

}  // namespace sorvel
