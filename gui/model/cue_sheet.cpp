// CUE sheets of one BINARY image and the ".cdt" CD-Text pack file beside them.
#include <QStringList>
#include <algorithm>
#include <climits>

#include "gui/foundation/file.h"
#include "gui/model/descriptor_files.h"
#include "gui/model/toc_information.h"

namespace sorvel {

namespace {

constexpr int kPackSize = 18;

QString CueModeText(int32_t sector_mode, int32_t sector_size) {
  if (sector_mode == 0) return QStringLiteral("AUDIO");
  return QStringLiteral("MODE%1/%2").arg(sector_mode).arg(sector_size);
}

// "DCP" when copying is permitted; "PRE" for pre-emphasis, which only audio
// tracks carry (bit 0 means incremental recording on a data track).
QString CueFlagsText(int32_t flags) {
  QStringList words;
  if (flags & 2) words << QStringLiteral("DCP");
  if (!(flags & 4) && (flags & 1)) words << QStringLiteral("PRE");
  return words.join(QLatin1Char(' '));
}

// What an accepted track mode gives an INDEX entry.
struct CueMode {
  const char* text;
  int32_t sector_mode;
  int32_t sector_size;
  bool takes_flags;  // false: flags are always 4
};

constexpr CueMode kCueModes[] = {
    {"AUDIO", 0, 2352, true},       {"MODE1/2352", 1, 2352, true},  {"MODE2/2352", 2, 2352, true},
    {"MODE1/2048", 1, 2048, false}, {"MODE2/2336", 2, 2336, false},
};

const CueMode* FindCueMode(const QString& text) {
  for (const CueMode& mode : kCueModes) {
    if (text == QLatin1String(mode.text)) return &mode;
  }
  return nullptr;
}

// A decimal number of one to three digits; nothing else.
std::optional<int> SmallNumber(const QString& text) {
  if (text.isEmpty() || text.size() > 3) return std::nullopt;
  int value = 0;
  for (QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + (c.unicode() - u'0');
  }
  return value;
}

// The fields of one trimmed sheet line. The keyword ends at the first blank;
// every further field runs up to the next single blank, so two blanks in a
// row give an empty field. A quoted name runs from the first to the second
// double quote, and what follows its closing quote, trimmed, is the rest. An
// unquoted name is the second field and the rest what follows it.
struct CueLine {
  QString keyword;
  QStringList fields;  // fields after the keyword
  QString name;
  QString rest;
};

CueLine SplitCueLine(const QString& line) {
  CueLine result;
  const qsizetype first_blank = line.indexOf(QLatin1Char(' '));
  result.keyword = first_blank < 0 ? line : line.left(first_blank);
  if (first_blank < 0) return result;
  const QString tail = line.mid(first_blank + 1);
  result.fields = tail.split(QLatin1Char(' '));
  const qsizetype open_quote = line.indexOf(QLatin1Char('"'));
  const qsizetype close_quote = open_quote < 0 ? -1 : line.indexOf(QLatin1Char('"'), open_quote + 1);
  if (close_quote > open_quote && open_quote > first_blank) {
    result.name = line.mid(open_quote + 1, close_quote - open_quote - 1);
    result.rest = line.mid(close_quote + 1).trimmed();
  } else {
    result.name = result.fields.value(0);
    result.rest = result.fields.size() > 1 ? tail.mid(result.name.size() + 1).trimmed() : QString();
  }
  return result;
}

}  // namespace

bool TOCInformation::CheckOutputPath(const QString& path) {
  const FileProblem problem = OutputPathProblem(path);
  if (!problem) return true;
  RaiseStatus(2, problem.kind == FileProblem::kNotRegular ? FileProblemText(path, problem)
                                                          : QStringLiteral("ファイル %1 が開けません。").arg(path));
  return false;
}

bool TOCInformation::HasCUESheet() const {
  if (TOCCount() == 0 || TOC(TOCCount())->SessionNo != 1) return false;
  // INDEX times count from the image's first sector and cannot go before it;
  // only the three sector modes have a CUE mode.
  for (const auto& entry : tracks_) {
    if (entry->StartLBA < 0 || entry->SectorMode < 0 || entry->SectorMode > 2) return false;
  }
  return true;
}

bool TOCInformation::SaveCUEFile(const QString& strFileName, const QString& strImageFileName,
                                 const QString& strCDTextFileName, int32_t lngSectorSize) {
  return SaveCUEFileTo(strFileName, strCDTextFileName, strImageFileName, strCDTextFileName, lngSectorSize);
}

bool TOCInformation::SaveCUEFileTo(const QString& sheet_path, const QString& packs_path,
                                   const QString& strImageFileName, const QString& strCDTextFileName,
                                   int32_t lngSectorSize) {
  if (!HasCUESheet()) return false;
  // A name the sheet cannot hold would end its line early or add lines.
  for (const QString& name : {strImageFileName, strCDTextFileName}) {
    if (!IsSheetFileName(name)) {
      RaiseStatus(2, SheetFileNameText(name));
      return false;
    }
  }
  // A sheet that cannot be written gets no pack file either.
  if (sheet_path.isEmpty() || !CheckOutputPath(sheet_path)) return false;
  // A pack file that cannot be written leaves the sheet without its line.
  const bool with_packs = CDTextCount() > 0 && !strCDTextFileName.isEmpty() && !packs_path.isEmpty() &&
                          CheckOutputPath(packs_path);
  QStringList lines;
  if (with_packs) {
    QByteArray bytes;
    bytes.reserve(qsizetype{CDTextCount()} * kPackSize);
    for (const auto& pack : packs_) {
      bytes.append(static_cast<char>(pack->PacketType));
      bytes.append(static_cast<char>(pack->TrackNo));
      bytes.append(static_cast<char>(pack->PacketNo));
      bytes.append(static_cast<char>(pack->Flags));
      for (uint8_t byte : pack->Data) bytes.append(static_cast<char>(byte));
      for (uint8_t byte : pack->Crc) bytes.append(static_cast<char>(byte));
    }
    if (ReplaceBinaryFile(packs_path, bytes)) {
      lines << QStringLiteral("CDTEXTFILE \"%1\"").arg(FileNameOfPath(strCDTextFileName));
    }
  }
  if (mcn_ != QLatin1String(kNoMCN)) lines << QStringLiteral("CATALOG ") + mcn_;
  lines << QStringLiteral("FILE \"%1\" BINARY").arg(FileNameOfPath(strImageFileName));

  int current_track = 0;
  for (const auto& entry : tracks_) {
    if (entry->TrackNo != current_track) {
      current_track = entry->TrackNo;
      lines << QStringLiteral("  TRACK %1 %2")
                   .arg(current_track, 2, 10, QLatin1Char('0'))
                   .arg(CueModeText(entry->SectorMode, lngSectorSize));
      const QString isrc = ISRC(current_track);
      if (isrc != QLatin1String(kNoISRC)) lines << QStringLiteral("    ISRC ") + isrc;
      const QString flags = CueFlagsText(entry->Flags);
      if (!flags.isEmpty()) lines << QStringLiteral("    FLAGS ") + flags;
    }
    lines << QStringLiteral("    INDEX %1 %2").arg(int{entry->IndexNo}, 2, 10, QLatin1Char('0')).arg(entry->CueTime());
  }
  return ReplaceFileContents(sheet_path, EncodeTextLines(lines), FileFlush::kToPageCache);
}

bool TOCInformation::LoadCUEFile(const QString& strFileName, QString& strImageFileName, int32_t& lngSectorSize) {
  lngSectorSize = 2352;
  Clear();
  QStringList lines;
  if (!ReadTextLines(strFileName, &lines)) return false;
  const QString sheet_folder = FolderOfPath(strFileName);

  bool failed = false;
  auto fail = [this, &failed](const QString& message) {
    RaiseStatus(2, QStringLiteral("CUEFileError: ") + message);
    failed = true;
  };

  int current_track = 0;
  int32_t current_flags = 0;
  QString current_mode;
  bool odd_sector_size = false;  // a 2048- or 2336-byte track was read
  QStringList index_lines;       // the INDEX line of each track entry
  for (const QString& line_as_read : lines) {
    const QString line = line_as_read.trimmed();
    const CueLine cue = SplitCueLine(line);
    const QString field2 = cue.fields.value(0);
    const QString field3 = cue.fields.value(1);
    if (cue.keyword == QLatin1String("CDTEXTFILE")) {
      const QString pack_path = ResolveAgainstFolder(cue.name, sheet_folder);
      QByteArray bytes;
      if (!ReadBinaryFile(pack_path, &bytes, kMaxPackFileBytes)) {
        fail(QStringLiteral("CDTextファイルが開けません - ") + pack_path);
        continue;
      }
      for (qsizetype at = 0; at + kPackSize <= bytes.size(); at += kPackSize) {
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData() + at);
        CDTextAdd(p[0], p[1], p[2], p[3], std::span<const uint8_t>(p + 4, 12), std::span<const uint8_t>(p + 16, 2));
      }
    } else if (cue.keyword == QLatin1String("FILE")) {
      if (!strImageFileName.isEmpty()) {
        fail(QStringLiteral("イメージファイルは複数指定できません"));
        break;
      }
      strImageFileName = cue.name;
      if (cue.rest != QLatin1String("BINARY")) {
        fail(QStringLiteral("BINARY形式以外未サポート"));
        break;
      }
      strImageFileName = ResolveAgainstFolder(cue.name, sheet_folder);
    } else if (cue.keyword == QLatin1String("CATALOG")) {
      MCN(field2);
    } else if (cue.keyword == QLatin1String("TRACK")) {
      const auto number = SmallNumber(field2);
      if (!number || *number < 1 || *number > 99 || *number <= current_track) {
        fail(QStringLiteral("Invalid track number : ") + line_as_read);
        break;
      }
      current_track = *number;
      current_mode = field3;
      current_flags = 0;
    } else if (cue.keyword == QLatin1String("ISRC")) {
      if (current_track == 0 || ISRCCount() >= current_track) {
        fail(QStringLiteral("Misplaced ISRC : ") + line_as_read);
        break;
      }
      while (ISRCCount() < current_track - 1) ISRCAdd(QString());
      ISRCAdd(field2);
    } else if (cue.keyword == QLatin1String("FLAGS")) {
      current_flags = (line.contains(QLatin1String("DCP")) ? 2 : 0) + (line.contains(QLatin1String("PRE")) ? 1 : 0);
    } else if (cue.keyword == QLatin1String("INDEX")) {
      const CueMode* mode = FindCueMode(current_mode);
      if (mode == nullptr) {
        fail(QStringLiteral("Unknown track mode : ") + current_mode);
        break;
      }
      // The order of the entries is checked with the whole sheet read.
      const auto number = SmallNumber(field2);
      const auto lba = MSFToLBA(field3);
      if (!number || *number > 99 || !lba) {
        fail(QStringLiteral("Invalid index : ") + line_as_read);
        break;
      }
      index_lines << line_as_read;
      lngSectorSize = mode->sector_size;
      odd_sector_size = odd_sector_size || mode->sector_size != 2352;
      TOCAdd(1, static_cast<uint8_t>(current_track), static_cast<uint8_t>(*number),
             mode->takes_flags ? current_flags + 4 * (mode->sector_mode != 0) : 4, mode->sector_mode, *lba + 150, 0);
    } else {
      fail(QStringLiteral("Unknown keyword : ") + line_as_read);
      break;
    }
  }

  if (TOCCount() > 0) {
    for (int k = 1; k < TOCCount(); ++k) TOC(k)->EndLBA = TOC(k + 1)->StartLBA - 1;
    model::TOCTrack* last = TOC(TOCCount());
    const int64_t sectors = FileSizeOfPath(strImageFileName) / lngSectorSize;
    const int64_t end_lba = sectors - 1;
    last->EndLBA = static_cast<int32_t>(std::clamp<int64_t>(end_lba, INT32_MIN, INT32_MAX));
    // The entries in order and inside what a medium of this sector size can
    // address, the image's end included.
    const platform::TocCheck check =
        failed ? platform::TocCheck{} : CheckTrackExtents(platform::BoundsOfSectorSize(lngSectorSize));
    if (platform::IsStartFault(check.fault)) {
      fail(QStringLiteral("Invalid index : ") + index_lines.value(static_cast<qsizetype>(check.entry)));
    } else if (end_lba <= 0) {
      fail(QStringLiteral("イメージファイルが開けません - ") + strImageFileName);
    } else if (last->StartLBA >= end_lba || !check.ok()) {
      fail(QStringLiteral("最終LBAが不正"));
    }
  }
  // A 2048- or 2336-byte image holds that one track only.
  if (odd_sector_size && TOCCount() > 1) fail(QStringLiteral("非RAWセクタトラックが混在しています。"));

  if (failed) Clear();
  return !failed;
}

}  // namespace sorvel
