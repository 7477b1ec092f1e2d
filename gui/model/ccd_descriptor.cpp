// The INI TOC descriptor: ".ccd" (version section "CloneCD") and the
// drive-bound ".tsn" (version section "Tessarine").
#include <algorithm>
#include <vector>

#include "gui/foundation/string_module.h"
#include "gui/foundation/super_ini.h"
#include "gui/model/descriptor_files.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/toc_information.h"

namespace sorvel {

namespace {

constexpr int kMaxRawEntries = 128;  // a 99-track disc has 102
constexpr int kMaxTracks = 99;
constexpr int kMaxIndexes = 100;
constexpr int kMaxPacks = 512;

QString Number(int64_t value) { return QString::number(value); }

// Strict reading of a value for the model: a decimal integer in [low, high]
// (blanks around it allowed).
std::optional<int64_t> DecimalValue(const QString& text, int64_t low, int64_t high) {
  bool ok = false;
  const qlonglong value = text.trimmed().toLongLong(&ok, 10);
  if (!ok || value < low || value > high) return std::nullopt;
  return value;
}

// The text naming a value of the descriptor that cannot stand.
QString InvalidValueText(const QString& section, const QString& key, const QString& value) {
  return QStringLiteral("Invalid value : [%1] %2=%3").arg(section, key, value);
}

}  // namespace

bool TOCInformation::SaveCCDFile(const QString& strFileName) { return SaveCCDFileEx(strFileName, nullptr, false); }

bool TOCInformation::SaveCCDFileEx(const QString& strFileName, TOCDescriptorDrive* objDrive, bool blnFirstPregap) {
  if (TOCCount() == 0 || RawTOCCount() == 0 || !CheckOutputPath(strFileName)) return false;
  SuperINI ini;
  const QString disc = QStringLiteral("Disc");
  if (objDrive == nullptr) {
    ini.SetSectionKey(QStringLiteral("CloneCD"), QStringLiteral("Version"), QStringLiteral("3"));
  } else {
    ini.SetSectionKey(QStringLiteral("Tessarine"), QStringLiteral("Version"), QStringLiteral("2"));
    const QString drive = QStringLiteral("ReadDrive");
    ini.SetSectionKey(drive, QStringLiteral("Vendor"), objDrive->GetDeviceName(DNC_VENDOR).trimmed());
    ini.SetSectionKey(drive, QStringLiteral("Product"), objDrive->GetDeviceName(DNC_NAME).trimmed());
    ini.SetSectionKey(drive, QStringLiteral("Revision"), objDrive->GetDeviceName(DNC_REVISION).trimmed());
    if (objDrive->GetFirstLBA() < 0 && blnFirstPregap) {
      ini.SetSectionKey(disc, QStringLiteral("PregapAnalyze"), QStringLiteral("1"));
      ini.SetSectionKey(disc, QStringLiteral("PregapDelta"), QStringLiteral("0"));
    }
  }
  ini.SetSectionKey(disc, QStringLiteral("TocEntries"), Number(RawTOCCount()));
  ini.SetSectionKey(disc, QStringLiteral("Sessions"), Number(TOC(TOCCount())->SessionNo));
  ini.SetSectionKey(disc, QStringLiteral("DataTracksScrambled"), QStringLiteral("0"));
  ini.SetSectionKey(disc, QStringLiteral("CDTextLength"), Number(int64_t{CDTextCount()} * 18));
  if (mcn_ != QLatin1String(kNoMCN)) ini.SetSectionKey(disc, QStringLiteral("CATALOG"), mcn_);

  if (CDTextCount() > 0) {
    const QString cd_text = QStringLiteral("CDText");
    ini.SetSectionKey(cd_text, QStringLiteral("Entries"), Number(CDTextCount()));
    for (int k = 0; k < CDTextCount(); ++k) {
      ini.SetSectionKey(cd_text, QStringLiteral("Entry %1").arg(k), CDText(k + 1)->PackText());
    }
  }

  for (int k = 0; k < RawTOCCount(); ++k) {
    const model::TOCRawTrack& raw = *RawTOC(k + 1);
    const QString section = QStringLiteral("Entry %1").arg(k);
    auto set = [&](const char* key, const QString& value) { ini.SetSectionKey(section, QLatin1String(key), value); };
    set("Session", Number(raw.SessionNo));
    set("Point", ByteToHexText(raw.Point));
    set("ADR", ByteToHexText(raw.AdrControl >> 4));
    set("Control", ByteToHexText(raw.AdrControl & 0x0F));
    set("TrackNo", Number(raw.Track));
    set("AMin", Number(raw.Minute));
    set("ASec", Number(raw.Second));
    set("AFrame", Number(raw.Frame));
    set("ALBA", Number(raw.LBA()));
    set("Zero", Number(raw.Zero));
    set("PMin", Number(raw.PMinute));
    set("PSec", Number(raw.PSecond));
    set("PFrame", Number(raw.PFrame));
    set("PLBA", Number(raw.PLBA()));
  }

  int current_session = 0;
  int current_track = 0;
  int64_t session_base = 0;
  QString track_section;
  for (int i = 1; i <= TOCCount(); ++i) {
    const model::TOCTrack& entry = *TOC(i);
    if (entry.SessionNo != current_session) {
      current_session = entry.SessionNo;
      const QString section = QStringLiteral("Session %1").arg(current_session);
      ini.SetSectionKey(section, QStringLiteral("PreGapMode"), Number(entry.SectorMode));
      ini.SetSectionKey(section, QStringLiteral("PreGapSubC"), QStringLiteral("0"));
      // INDEX values of a later session count from the start of its first track.
      session_base = 0;
      if (current_session != 1) {
        session_base = entry.StartLBA;
        for (int j = i; j <= TOCCount() && j <= i + 100; ++j) {
          if (TOC(j)->IndexNo == 1) {
            session_base = TOC(j)->StartLBA;
            break;
          }
        }
      }
    }
    if (entry.TrackNo != current_track) {
      current_track = entry.TrackNo;
      track_section = QStringLiteral("Track %1").arg(current_track);
      const QString isrc = ISRC(current_track);
      if (isrc != QLatin1String(kNoISRC)) ini.SetSectionKey(track_section, QStringLiteral("ISRC"), isrc);
    }
    ini.SetSectionKey(track_section, QStringLiteral("MODE"), Number(entry.SectorMode));
    ini.SetSectionKey(track_section, QStringLiteral("INDEX %1").arg(entry.IndexNo),
                      Number(entry.StartLBA - session_base));
  }
  // The descriptor goes where the caller named it, never beside the program.
  return ini.SaveFile(strFileName);
}

bool TOCInformation::LoadCCDFile(const QString& strFileName) {
  Clear();
  SuperINI ini;
  if (!ini.LoadFile(strFileName)) return false;

  // A value the model cannot hold ends the load with an empty model.
  bool malformed = false;
  auto refuse = [&](const QString& section, const QString& key, const QString& value) {
    RaiseStatus(2, QStringLiteral("CCDFileError: ") + InvalidValueText(section, key, value));
    malformed = true;
    Clear();
    return false;
  };

  // Raw entries, in file order.
  for (int k = 0; k < kMaxRawEntries && !malformed; ++k) {
    const QString section = QStringLiteral("Entry %1").arg(k);
    if (ini.SectionKey(section, QStringLiteral("Session")).isEmpty()) break;
    static const char* const kDecimalKeys[] = {"Session", "TrackNo", "AMin", "ASec",  "AFrame",
                                               "Zero",    "PMin",    "PSec", "PFrame"};
    uint8_t values[std::size(kDecimalKeys)] = {};
    for (size_t i = 0; i < std::size(kDecimalKeys); ++i) {
      const QString key = QLatin1String(kDecimalKeys[i]);
      const QString text = ini.SectionKey(section, key);
      const auto value = DecimalValue(text, 0, 255);
      if (!value) return refuse(section, key, text);
      values[i] = static_cast<uint8_t>(*value);
    }
    const uint8_t adr = HexTextToByte(ini.SectionKey(section, QStringLiteral("ADR")));
    const uint8_t control = HexTextToByte(ini.SectionKey(section, QStringLiteral("Control")));
    const uint8_t point = HexTextToByte(ini.SectionKey(section, QStringLiteral("Point")));
    RawTOCAdd(values[0], static_cast<uint8_t>((adr & 0x0F) << 4 | (control & 0x0F)), values[1], point, values[2],
              values[3], values[4], values[5], values[6], values[7], values[8]);
  }

  // Track entries: INDEX 0 may be missing, the first other missing index ends
  // a track. Each entry's key is kept for the messages of the checks below.
  struct EntryKey {
    QString section;
    QString key;
    QString value;
  };
  std::vector<EntryKey> entry_keys;
  for (int t = 1; t <= kMaxTracks; ++t) {
    const QString section = QStringLiteral("Track %1").arg(t);
    const QString mode_text = ini.SectionKey(section, QStringLiteral("MODE"));
    if (mode_text.isEmpty()) break;
    const auto mode = DecimalValue(mode_text, 0, 2);
    if (!mode) return refuse(section, QStringLiteral("MODE"), mode_text);
    ISRCAdd(ini.SectionKey(section, QStringLiteral("ISRC")));
    // The track's control bits come from its descriptor, so pre-emphasis and
    // copy permission survive; without one, the mode decides the data bit.
    int32_t flags = *mode != 0 ? 4 : 0;
    for (const auto& raw : raw_) {
      if (raw->Point == t && (raw->AdrControl >> 4) == 1) {
        flags = raw->AdrControl & 0x07;
        break;
      }
    }
    for (int i = 0; i < kMaxIndexes; ++i) {
      const QString key = QStringLiteral("INDEX %1").arg(i);
      const QString text = ini.SectionKey(section, key);
      if (text.isEmpty()) {
        if (i == 0) continue;
        break;
      }
      // Later sessions add their base to these values; keep well inside 32 bits.
      const auto start = DecimalValue(text, -1000000, 1000000000);
      if (!start) return refuse(section, key, text);
      TOCAdd(1, static_cast<uint8_t>(t), static_cast<uint8_t>(i), flags, static_cast<int32_t>(*mode),
             static_cast<int32_t>(*start), 0);
      entry_keys.push_back({section, key, text});
    }
  }

  // Sessions and lead-outs from the A0, A1 and A2 descriptors; the raw entry
  // (0-based) that ended each track entry, -1 for none.
  int first_track = 0;
  int last_track = 0;
  std::vector<int> lead_out_of(static_cast<size_t>(TOCCount()), -1);
  for (int k = 0; k < RawTOCCount(); ++k) {
    const model::TOCRawTrack* raw = RawTOC(k + 1);
    if (raw->Point == 0xA0) first_track = raw->PMinute;
    if (raw->Point == 0xA1) last_track = raw->PMinute;
    if (raw->Point != 0xA2) continue;
    for (const auto& entry : tracks_) {
      if (entry->TrackNo >= first_track && entry->TrackNo <= last_track) entry->SessionNo = raw->SessionNo;
    }
    for (int i = TOCCount(); i >= 1; --i) {
      if (TOC(i)->TrackNo == last_track) {
        TOC(i)->EndLBA = static_cast<int32_t>(MSFToLBA(raw->PMinute, raw->PSecond, raw->PFrame) - 1);
        lead_out_of[static_cast<size_t>(i - 1)] = k;
        break;
      }
    }
  }

  // INDEX values of a later session count from the start of its first track.
  int base_session = 0;
  for (const auto& raw : raw_) {
    if (raw->Point < 1 || raw->Point > 100 || raw->SessionNo == base_session) continue;
    base_session = raw->SessionNo;
    if (base_session <= 1) continue;
    const auto base = static_cast<int32_t>(MSFToLBA(raw->PMinute, raw->PSecond, raw->PFrame));
    for (const auto& entry : tracks_) {
      if (entry->SessionNo == base_session) entry->StartLBA += base;
    }
  }

  for (int k = 1; k < TOCCount(); ++k) {
    if (TOC(k)->EndLBA == 0) TOC(k)->EndLBA = TOC(k + 1)->StartLBA - 1;
  }

  MCN(ini.SectionKey(QStringLiteral("Disc"), QStringLiteral("CATALOG")));

  const QString cd_text = QStringLiteral("CDText");
  for (int k = 0; k < kMaxPacks; ++k) {
    const QString key = QStringLiteral("Entry %1").arg(k);
    const QString text = ini.SectionKey(cd_text, key);
    if (text.isEmpty()) break;
    model::TOCCDText pack;
    if (!pack.ParsePackText(text)) return refuse(cd_text, key, text);
    packs_.AddNew(std::make_shared<model::TOCCDText>(pack));
  }

  // Missing keys read as 0.
  auto disc_value = [&ini](const char* key) {
    return ReadInt32(ini.SectionKey(QStringLiteral("Disc"), QLatin1String(key)));
  };
  QString problem;
  if (TOCCount() == 0) {
    problem = QStringLiteral("TOC情報が見つかりません。");
  } else if (RawTOCCount() == 0) {
    problem = QStringLiteral("RawTOC情報が見つかりません。");
  } else if (disc_value("DataTracksScrambled") != 0) {
    problem = QStringLiteral("スクランブル化されたイメージには対応していません。");
  } else if (disc_value("TocEntries") != RawTOCCount()) {
    problem = QStringLiteral("RawTOC情報の数が不正です。");
  } else if (ReadInt32(ini.SectionKey(cd_text, QStringLiteral("Entries"))) != CDTextCount()) {
    problem = QStringLiteral("CD-TEXT情報の数が不正です。");
  } else if (disc_value("Sessions") != TOC(TOCCount())->SessionNo) {
    problem = QStringLiteral("セッション数が不正です。");
  }
  if (!problem.isEmpty()) {
    RaiseStatus(2, problem);
    return false;
  }

  // Every session ends at a lead-out, and the entries lie in order inside
  // what a CD can address; the model is left as built, as after the checks
  // above.
  auto report = [this](const QString& text) {
    RaiseStatus(2, QStringLiteral("CCDFileError: ") + text);
    return false;
  };
  for (int i = 1; i <= TOCCount(); ++i) {
    const bool last_of_session = i == TOCCount() || TOC(i + 1)->SessionNo != TOC(i)->SessionNo;
    if (last_of_session && lead_out_of[static_cast<size_t>(i - 1)] < 0) {
      return report(QStringLiteral("Missing lead-out : Session %1").arg(TOC(i)->SessionNo));
    }
  }
  const platform::TocCheck check = CheckTrackExtents(platform::kCdBounds);
  if (check.ok()) return true;
  const EntryKey& entry = entry_keys[check.entry];
  if (platform::IsStartFault(check.fault)) {
    return report(InvalidValueText(entry.section, entry.key, entry.value));
  }
  // Ends come from the next entry's start or from a lead-out; only a lead-out
  // can make one wrong (the entry's own, or the one before it for an overlap).
  const int lead_out =
      lead_out_of[check.fault == platform::TocFault::kOverlap ? check.entry - 1 : check.entry];
  const model::TOCRawTrack* raw = RawTOC(std::max(lead_out, 0) + 1);
  return report(QStringLiteral("Invalid lead-out : [Entry %1] %2:%3:%4")
                    .arg(lead_out)
                    .arg(raw->PMinute, 2, 10, QLatin1Char('0'))
                    .arg(raw->PSecond, 2, 10, QLatin1Char('0'))
                    .arg(raw->PFrame, 2, 10, QLatin1Char('0')));
}

}  // namespace sorvel
