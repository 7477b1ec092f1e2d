#include "gui/jobs/disc_job.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QThread>
#include <algorithm>
#include <array>
#include <climits>
#include <map>
#include <memory>
#include <vector>

#include "gui/jobs/message_pump.h"
#include "gui/model/device_setting.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/toc_information.h"
#include "gui/model/toc_records.h"
#include "gui/model/trelin.h"

namespace sorvel {
namespace {

struct Era {
  QDate first_day;
  char letter;
};

// The eras of the Japanese calendar, newest first.
const std::array<Era, 5> kEras = {{
    {QDate(2019, 5, 1), 'R'},
    {QDate(1989, 1, 8), 'H'},
    {QDate(1926, 12, 25), 'S'},
    {QDate(1912, 7, 30), 'T'},
    {QDate(1868, 10, 23), 'M'},
}};

}  // namespace

QString FormatEraDateTime(const QDateTime& time) {
  const QDate date = time.date();
  QString era;
  int year = date.year();
  for (const Era& e : kEras) {
    if (date >= e.first_day) {
      era = QChar::fromLatin1(e.letter);
      year = date.year() - e.first_day.year() + 1;
      break;
    }
  }
  return era + QStringLiteral("%1").arg(year, 2, 10, QLatin1Char('0')) +
         time.toString(QStringLiteral("/MM/dd HH:mm:ss"));
}

QString ChangeExtension(const QString& path, const QString& extension) {
  QString base = path.trimmed();
  if (base.size() >= 4 && base[base.size() - 4] == QLatin1Char('.')) base.chop(4);
  return base + extension;
}

void DiscJob::LogStart() {
  Report(kStatusInformation,
         QStringLiteral("==== 開始 ") + FormatEraDateTime(QDateTime::currentDateTime()) + QStringLiteral(" ===="));
}

void DiscJob::LogEnd(bool result) {
  Report(kStatusInformation, QStringLiteral("==== ") + (result ? QStringLiteral("完了") : QStringLiteral("失敗")) +
                                 QLatin1Char(' ') + FormatEraDateTime(QDateTime::currentDateTime()) +
                                 QStringLiteral(" ===="));
}

void DiscJob::TrackLine(const model::TOCTrack& entry) {
  Report(kStatusInformation, QStringLiteral("Session=%1, Track=%2, Index=%3 From %4 to %5")
                                 .arg(entry.SessionNo)
                                 .arg(entry.TrackNo)
                                 .arg(entry.IndexNo)
                                 .arg(entry.StartLBA)
                                 .arg(entry.EndLBA));
}

std::function<bool()> DiscJob::RemoteWaitHandler() {
  return [this] {
    // The window system runs on its own thread only (a write cache's worker
    // waits on the drive too).
    if (QThread::currentThread() != QCoreApplication::instance()->thread()) return false;
    const int before = stop_requests_;
    PumpMessages();
    // A stop asked for while this command waits gives it up; one asked for
    // before lets the commands that end the job run.
    return stop_requests_ != before;
  };
}

DiscJob::RemoteWaitWatch::RemoteWaitWatch(DiscJob& job, Trelin& drive)
    : drive_(drive), previous_(drive.wait_handler()) {
  drive_.SetWaitHandler(job.RemoteWaitHandler());
}

DiscJob::RemoteWaitWatch::~RemoteWaitWatch() { drive_.SetWaitHandler(previous_); }

bool DiscJob::PrepareDrive(Trelin& drive) {
  drive.SetWaitHandler(RemoteWaitHandler());
  if (!drive.IsReady()) {
    drive.SetWaitHandler({});
    Report(kStatusError, QStringLiteral("装置の準備が出来ていません。"));
    return false;
  }
  drive.ResetSense();
  drive.LockUnlock(true);
  Report(kStatusInformation, QStringLiteral("扉を閉鎖しました。"));
  return true;
}

void DiscJob::ReleaseDrive(Trelin& drive) {
  drive.ResetSense();
  drive.LockUnlock(false);
  drive.SetWaitHandler({});
  Report(kStatusInformation, QStringLiteral("扉を開放しました。"));
}

void DiscJob::ReportReadFailure(Trelin& drive, int32_t lba) {
  if (drive.GetSCSIErrorStatus() == kDriveGone) {
    Report(kStatusError, drive.GetSCSIErrorDescription());
    RequestStop();
  }
  Report(kStatusWarning, QStringLiteral("セクタ %1 の読み込みに失敗しました。").arg(lba));
}

bool DiscJob::ReportUnreadableSectors(int64_t unreadable, int64_t read, bool finished) {
  if (unreadable > 0) Report(kStatusWarning, QStringLiteral("読み込みに失敗したセクタ数 : %1").arg(unreadable));
  if (!finished || read > 0) return true;
  Report(kStatusError, QStringLiteral("どのセクタも読み込めませんでした。"));
  return false;
}

void DiscJob::ReportWriteFailure(Trelin& drive) {
  ReportDriveError(drive);
  Report(kStatusError, QStringLiteral("セクタ %1 の書き込みに失敗しました。").arg(drive.GetLastWroteLBA()));
}

void DiscJob::ReportDriveError(Trelin& drive) {
  if (drive.GetSCSIErrorStatus() != 0) Report(kStatusError, drive.GetSCSIErrorDescription());
}

bool DiscJob::FlushWriteCache(Trelin& drive, bool written, const TOCInformation& toc) {
  // How long the job rests between two looks at the cache.
  constexpr unsigned long kFlushLookMs = 20;
  const int count = toc.TOCCount();
  const int32_t total = count > 0 ? toc.TOC(count)->EndLBA : 0;
  bool whole = written;
  // The last sectors are left to WriteFlush, whose wait for the worker lets
  // the window run too (the drive's wait handler).
  while (whole && drive.GetUsedWriteCacheBufferSize() > 0) {
    if (ProgressAndPoll(drive.GetLastWroteLBA(), total)) {
      whole = false;
    } else {
      QThread::msleep(kFlushLookMs);
    }
  }
  // A stop during the flush gives the rest of the pass up: it is reported as
  // a stop during the writes is.
  if (!drive.WriteFlush(!whole) || written != whole) {
    ReportWriteFailure(drive);
    return false;
  }
  // The progress went back to what the drive had taken: it ends where the pass ends.
  if (whole) emit Progress(total, total);
  return whole;
}

int32_t DiscJob::SkipBurstError(Trelin& drive, int32_t start, int32_t skip_unit, int32_t limit) {
  QByteArray probe(Trelin::kSectorBufferSize, '\0');
  const int32_t last_lba = std::min(drive.GetLastLBA(), limit);
  const int32_t step = std::max(skip_unit, 1);
  int32_t p = start;
  while (true) {
    if (drive.ReadLBA(probe, p)) break;
    Report(kStatusInformation, QStringLiteral("連続不良区画排除中 : %1").arg(p));
    PumpMessages();
    if (cancelled()) return start;
    p += step;
    if (p >= last_lba) {
      p = last_lba;
      break;
    }
  }
  Report(kStatusInformation, QStringLiteral("最終連続不良区画を検索中"));
  while (p >= start) {
    if (!drive.ReadLBA(probe, p)) break;
    PumpMessages();
    if (cancelled()) return start;
    if (p >= last_lba) {
      p = last_lba;
      break;
    }
    --p;
  }
  if (p < start) p = start;
  Report(kStatusInformation, QStringLiteral("連続不良区画 : %1～%2").arg(start).arg(p));
  Report(kStatusInformation, QStringLiteral("連続不良区画数 : %1").arg(p - start + 1));
  return p;
}

QString WriteStartErrorText(int32_t code) {
  switch (code) {
    case CBR_UNKNOWNMEDIA: return QStringLiteral("書き込み非対応のメディアです。");
    case CBR_IGNOREWRITECOMMAND: return QStringLiteral("指定された書き込みコマンドは利用できません。");
    case CBR_NOTEMPTY: return QStringLiteral("書き込み先のメディアは空ではありません。");
    case CBR_RWFORMATERROR: return QStringLiteral("RWの初期化に失敗しました。");
    case CBR_OVERCAPACITY: return QStringLiteral("書き込み対象のデータ容量はメディアの容量を超えています。");
    default: return QStringLiteral("書き込みを開始出来ませんでした。");
  }
}

int32_t DiscJob::StartWriteSession(Trelin& drive, const DeviceSetting& setting, int cdtext_packs) {
  drive.SetBufferingBlockLength(setting.WriteBlockLength);
  const int32_t cache_mib = setting.WriteCacheBufferSize();
  drive.SetWriteCacheBufferSize(static_cast<int32_t>(std::min<int64_t>(int64_t{cache_mib} * 1048576, INT32_MAX)));
  Report(kStatusInformation, cache_mib < 1 ? QStringLiteral("書き込み緩衝域は使用しません。")
                                            : QStringLiteral("書き込み緩衝域に %1 メビバイト使用します。").arg(cache_mib));
  int32_t flags = 0;
  if (setting.OverBurn) flags |= CDD_OVERBURN;
  if (setting.OPCOff) flags |= CDD_OPCOFF;
  if (setting.CollectSubPQWrite) flags |= CDD_COLLECTSUBPQ;
  switch (drive.GetMediaFamilyType()) {
    case MFT_CDFAMILY:
      Report(kStatusInformation, QStringLiteral("CDの書き込みを開始します。"));
      Report(kStatusInformation,
             QStringLiteral("書き込みコマンドに %1 を利用します。").arg(setting.CDWriteCommandName()));
      if (cdtext_packs > 0 && setting.CDWriteCommand != CCC_DAO_RAW96) {
        Report(kStatusWarning,
               QStringLiteral("警告：読込側にCD-TEXT情報が存在しますが、指定の書き込みコマンドでは破棄されます。"));
      }
      return drive.WriteStart(setting.CDWriteCommand, flags);
    case MFT_DVDFAMILY:
    case MFT_BDFAMILY:
    case MFT_HDDVDFAMILY:
      Report(kStatusInformation, QStringLiteral("DVD/BD/HDDVDの書き込みを開始します。"));
      return drive.WriteStart(setting.DVDWriteCommand, flags);
    default:
      return kUnsupportedFamily;
  }
}

bool DiscJob::WroteWholeToc(int64_t written, const TOCInformation& toc) {
  const int64_t sectors = toc.SectorCount();
  if (written == sectors) return true;
  Report(kStatusError, QStringLiteral("書き込んだセクタ数 %1 がTOCのセクタ数 %2 と一致しません。").arg(written).arg(sectors));
  return false;
}

namespace {

// What a TOC says of each session: its tracks (number and the start of the
// first index from 1 on) and its last LBA.
struct SessionOutline {
  std::map<int, int32_t> track_starts;
  int32_t last_lba = INT32_MIN;
  bool operator==(const SessionOutline&) const = default;
};

std::map<int, SessionOutline> OutlineOf(const TOCInformation& toc) {
  std::map<int, SessionOutline> sessions;
  std::map<std::pair<int, int>, int> first_index;
  for (int i = 1; i <= toc.TOCCount(); ++i) {
    const model::TOCTrack& e = *toc.TOC(i);
    SessionOutline& s = sessions[e.SessionNo];
    s.last_lba = std::max(s.last_lba, e.EndLBA);
    if (e.IndexNo < 1) continue;
    auto [at, added] = first_index.try_emplace({e.SessionNo, e.TrackNo}, e.IndexNo);
    if (added || e.IndexNo < at->second) {
      at->second = e.IndexNo;
      s.track_starts[e.TrackNo] = e.StartLBA;
    }
  }
  return sessions;
}

int TrackCount(const std::map<int, SessionOutline>& sessions) {
  int count = 0;
  for (const auto& [number, s] : sessions) count += static_cast<int>(s.track_starts.size());
  return count;
}

}  // namespace

bool DiscJob::WrittenTocOnDisc(Trelin& drive, const TOCInformation& written, const DeviceSetting& setting) {
  Report(kStatusInformation, QStringLiteral("ディスクのTOCを照合中。"));
  const int32_t family = drive.GetMediaFamilyType();
  const bool cd = family == MFT_CDFAMILY;
  // The TOC alone: no pregap search.
  const bool started = cd ? drive.ReadStart(CCC_RAW, CDD_NOPREGAP) == CBR_OK : drive.ReadStart(CCC_DATA, 0) == CBR_OK;
  std::unique_ptr<TOCInformation> read = started ? drive.GetTOCStructure() : nullptr;
  if (started) drive.ReadEnd();
  if (!read) {
    if (setting.ForceEject) {
      Report(kStatusInformation, QStringLiteral("ディスクのTOCは再挿入するまで読めないため、照合しません。"));
      return true;
    }
    Report(kStatusError, QStringLiteral("書き込んだディスクのTOCが読み込めません。"));
    return false;
  }
  const std::map<int, SessionOutline> want = OutlineOf(written);
  const std::map<int, SessionOutline> got = OutlineOf(*read);
  if (!cd) {
    // A DVD, BD or HD DVD is written as one track from LBA 0, whatever the
    // TOC's tracks: what counts is that the disc reaches the last sector
    // written (a formatted medium reads to its end).
    const int32_t want_last = want.empty() ? INT32_MIN : want.rbegin()->second.last_lba;
    const int32_t got_last = got.empty() ? INT32_MIN : got.rbegin()->second.last_lba;
    if (got_last >= want_last) return true;
    Report(kStatusError, QStringLiteral("ディスクの最終セクタ %1 が書き込んだ最終セクタ %2 に届きません。").arg(got_last).arg(want_last));
    return false;
  }
  if (want.size() != got.size() || TrackCount(want) != TrackCount(got)) {
    Report(kStatusError, QStringLiteral("ディスクのセッション数 %1・トラック数 %2 が書き込んだTOCのセッション数 %3・トラック数 %4 "
                                        "と一致しません。")
                             .arg(got.size())
                             .arg(TrackCount(got))
                             .arg(want.size())
                             .arg(TrackCount(want)));
    return false;
  }
  for (auto w = want.begin(), g = got.begin(); w != want.end(); ++w, ++g) {
    if (!(w->first == g->first && w->second == g->second)) {
      Report(kStatusError, QStringLiteral("ディスクのセッション %1 が書き込んだTOCと一致しません。").arg(w->first));
      return false;
    }
  }
  return true;
}

bool DiscJob::ProgressAndPoll(int32_t value, int32_t total) {
  emit Progress(value, total);
  PumpMessages();
  return cancel_;
}

}  // namespace sorvel
