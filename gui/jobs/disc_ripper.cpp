#include "gui/jobs/disc_ripper.h"

#include <QByteArray>
#include <QCoreApplication>
#include <limits>
#include <span>

#include "gui/foundation/file_io.h"
#include "gui/foundation/modal_ui.h"
#include "gui/foundation/wave_header.h"
#include "gui/jobs/output_set.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/toc_information.h"
#include "gui/model/trelin.h"

namespace sorvel {
namespace {

constexpr int kRawSector = 2352;

struct Form {
  int offset = 0;
  int size = 0;  // 0: nothing can be written
};

Form FormOf(int32_t family, int32_t sector_mode) {
  if (family == MFT_CDFAMILY) {
    if (sector_mode == SMC_MODE1) return {16, 2048};
    if (sector_mode != SMC_AUDIO) return {16, 2336};
    return {0, kRawSector};
  }
  if (family == MFT_DVDFAMILY || family == MFT_BDFAMILY || family == MFT_HDDVDFAMILY) return {0, 2048};
  return {};
}

QString FormatLine(int32_t family, int32_t sector_mode) {
  switch (family) {
    case MFT_CDFAMILY:
      if (sector_mode == SMC_MODE1) return QStringLiteral("CD-ROM Mode1 2048 byte/sector");
      if (sector_mode != SMC_AUDIO) return QStringLiteral("CD-ROM Mode2 2336 byte/sector");
      return QStringLiteral("CD-DA 2352 byte/sector");
    case MFT_DVDFAMILY: return QStringLiteral("DVD-ROM 2048 byte/sector");
    case MFT_BDFAMILY: return QStringLiteral("BD-ROM 2048 byte/sector");
    case MFT_HDDVDFAMILY: return QStringLiteral("HD DVD-ROM 2048 byte/sector");
    default: return {};
  }
}

}  // namespace

bool DiscRipper::StartRead(Trelin& objControl, const QString& strFileName, int intTrackNo, bool blnReadPregap) {
  RemoteWaitWatch waits(*this, objControl);
  // The range comes from the TOC alone, so it does not depend on an open read pass.
  int32_t start = std::numeric_limits<int32_t>::max();
  int32_t end = std::numeric_limits<int32_t>::min();
  bool result = false;
  // The track is written under a temporary name and takes the file's name
  // only when whole: a failed or stopped rip leaves the file that stood
  // there (a write-protected one is refused) and removes only its own.
  OutputSet outputs;
  const QString temporary = outputs.Add(strFileName);
  FileIO output;
  if (temporary.isEmpty() || !output.OpenFile(temporary, kGenericWrite, kOpenExisting, 0)) {
    const QString text = temporary.isEmpty() ? outputs.ProblemText()
                                             : QStringLiteral("ファイル %1 が開けません。").arg(strFileName);
    CurrentModalUi().MessageBox(nullptr, text, 16, QCoreApplication::applicationName());
  } else {
    bool audio = false;
    int32_t sector_mode = SMC_AUDIO;
    if (std::unique_ptr<TOCInformation> toc = objControl.GetTOCStructure()) {
      for (int i = 1; i <= toc->TOCCount(); ++i) {
        const model::TOCTrack* e = toc->TOC(i);
        if (e->TrackNo != intTrackNo) continue;
        const bool counts = e->IndexNo >= 1 || (e->IndexNo == 0 && e->SectorMode == SMC_AUDIO && blnReadPregap);
        if (counts) {
          start = std::min(start, e->StartLBA);
          end = std::max(end, e->EndLBA);
          audio = e->SectorMode == SMC_AUDIO;
        }
        if (e->IndexNo == 1) sector_mode = e->SectorMode;
      }
    }
    const bool found = start <= end;
    const int32_t family = objControl.GetMediaFamilyType();
    Report(kStatusInformation, QStringLiteral("Track %1 From %2 To %3")
                                   .arg(intTrackNo)
                                   .arg(found ? start : objControl.GetLastLBA())
                                   .arg(found ? end : objControl.GetFirstLBA()));
    const QString format = FormatLine(family, sector_mode);
    if (!format.isEmpty()) Report(kStatusInformation, format);
    const Form form = FormOf(family, sector_mode);
    bool header_ok = true;
    if (found && audio) {
      const int64_t data_size = (int64_t{end} - start + 1) * kRawSector;
      const auto header = data_size <= std::numeric_limits<uint32_t>::max()
                              ? MakeWaveHeader(static_cast<uint32_t>(data_size), 44100, 16, true)
                              : std::nullopt;
      header_ok = header.has_value() &&
                  output.WriteFile({reinterpret_cast<const uint8_t*>(header->data()), static_cast<size_t>(header->size())}) ==
                      header->size();
      if (!header_ok) Report(kStatusError, QStringLiteral("ファイルに書き込めません。"));
    }
    if (found && header_ok && form.size > 0) {
      QByteArray buffer(Trelin::kSectorBufferSize + 1, '\0');
      result = true;
      for (int32_t lba = start; lba <= end; ++lba) {
        if (!objControl.ReadLBA(buffer, lba)) {
          objControl.ReadLBADummy(buffer, lba);
          ReportReadFailure(objControl, lba);
        }
        const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(buffer.constData()) + form.offset,
                                             static_cast<size_t>(form.size));
        if (output.WriteFile(bytes) != form.size) {
          Report(kStatusError, QStringLiteral("ファイルに書き込めません。"));
          RequestStop();
        }
        if (ProgressAndPoll(lba - start, end - start)) {
          result = false;
          break;
        }
      }
    }
    if (!output.CloseFile() && result) {
      Report(kStatusError, QStringLiteral("ファイルに書き込めません。"));
      result = false;
    }
    if (result && !outputs.Commit(SlowFlushReport())) {
      Report(kStatusError, outputs.ProblemText());
      result = false;
    }
  }
  ClearCancel();
  return result;
}

}  // namespace sorvel
