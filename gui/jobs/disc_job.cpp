#include "gui/jobs/disc_job.h"

#include <array>

#include "gui/jobs/message_pump.h"
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

bool DiscJob::PrepareDrive(Trelin& drive) {
  if (!drive.IsReady()) {
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
  Report(kStatusInformation, QStringLiteral("扉を開放しました。"));
}

void DiscJob::ReportReadFailure(Trelin& drive, int32_t lba) {
  if (drive.GetSCSIErrorStatus() == kDriveGone) {
    Report(kStatusError, drive.GetSCSIErrorDescription());
    RequestStop();
  }
  Report(kStatusWarning, QStringLiteral("セクタ %1 の読み込みに失敗しました。").arg(lba));
}

void DiscJob::ReportWriteFailure(Trelin& drive) {
  ReportDriveError(drive);
  Report(kStatusError, QStringLiteral("セクタ %1 の書き込みに失敗しました。").arg(drive.GetLastWroteLBA()));
}

void DiscJob::ReportDriveError(Trelin& drive) {
  if (drive.GetSCSIErrorStatus() != 0) Report(kStatusError, drive.GetSCSIErrorDescription());
}

bool DiscJob::ProgressAndPoll(int32_t value, int32_t total) {
  emit Progress(value, total);
  PumpMessages();
  return cancel_;
}

}  // namespace sorvel
