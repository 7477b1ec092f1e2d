// What every disc job shares: the two events, the cancel flag, the log frame
// with its Japanese-era date, drive preparation and release, the sector
// failure reports, and the names of an image's side files.
#pragma once

#include <atomic>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

namespace sorvel {

class DeviceSetting;
class TOCInformation;
class Trelin;
namespace model {
struct TOCTrack;
}

// Status types of StatusChange.
enum JobStatusType : int32_t {
  kStatusInformation = 0,
  kStatusWarning = 1,  // one sector, or a warning: the job goes on
  kStatusError = 2,    // the job fails; the dialog keeps this text
};

// Sense status of a drive that is gone (closed, or its connection failed).
inline constexpr int32_t kDriveGone = 0xFFFFFF;

class DiscJob : public QObject {
  Q_OBJECT

 public:
  explicit DiscJob(QObject* parent = nullptr) : QObject(parent) {}

  bool cancelled() const { return cancel_; }

 signals:
  void StatusChange(int32_t lngStatusType, const QString& strStatus);
  void Progress(int32_t Value, int32_t Total);

 protected:
  void RequestStop() {
    cancel_ = true;
    ++stop_requests_;
  }
  void ClearCancel() { cancel_ = false; }

  void Report(int32_t type, const QString& text) { emit StatusChange(type, text); }
  // For OutputSet::Commit: the line that tells that the files are still
  // being written out to the disk, when their flush takes long.
  std::function<void()> SlowFlushReport() {
    return [this] { Report(kStatusInformation, QStringLiteral("イメージファイルをディスクに書き出しています。")); };
  }
  // "==== 開始 <date> ====" and "==== 完了|失敗 <date> ====".
  void LogStart();
  void LogEnd(bool result);
  // "Session=s, Track=t, Index=i From a to b".
  void TrackLine(const model::TOCTrack& entry);

  // For one scope: while a command of `drive` waits for its answer (a remote
  // drive), the window system runs and a stop asked for meanwhile gives the
  // command up; the drive's handler from before comes back after.
  class RemoteWaitWatch {
   public:
    RemoteWaitWatch(DiscJob& job, Trelin& drive);
    ~RemoteWaitWatch();
    RemoteWaitWatch(const RemoteWaitWatch&) = delete;
    RemoteWaitWatch& operator=(const RemoteWaitWatch&) = delete;

   private:
    Trelin& drive_;
    std::function<bool()> previous_;
  };

  // IsReady, then ResetSense and the tray locked. False (with the error line)
  // when the drive is not ready; nothing was touched then. From here to
  // ReleaseDrive the drive's waits are watched as by RemoteWaitWatch.
  bool PrepareDrive(Trelin& drive);
  // ResetSense and the tray unlocked; the waits are no longer watched.
  void ReleaseDrive(Trelin& drive);

  // After a failed ReadLBA: a gone drive is reported (type 2) and cancels the
  // job; then "セクタ n の読み込みに失敗しました。" (type 1).
  void ReportReadFailure(Trelin& drive, int32_t lba);
  // At the end of a pass over a disc's sectors: the count of the sectors
  // that could not be read (type 1: the failures scroll out of a long log,
  // this one line closes it), and, for a pass that went to its end,
  // "どのセクタも読み込めませんでした。" (type 2) when not one sector read.
  // False in that case: dummy sectors only are no copy of the disc.
  bool ReportUnreadableSectors(int64_t unreadable, int64_t read, bool finished);
  // After a failed WriteLBA or WriteFlush: the drive's error and
  // "セクタ n の書き込みに失敗しました。" with the last written LBA (type 2).
  void ReportWriteFailure(Trelin& drive);
  // After a failed WriteEnd: the drive's error, when it has one.
  void ReportDriveError(Trelin& drive);

  // The write cache's flush at the end of a pass (WriteFlush, dropping what
  // is queued unless `written`). While the cache still holds sectors of a
  // pass that went well, the progress follows the last sector the drive took
  // (up to the TOC's last) and the window system runs; a stop asked for
  // meanwhile gives the rest up; the progress ends at the TOC's last sector.
  // False, with the failure line when a sector was lost, unless everything
  // was written.
  bool FlushWriteCache(Trelin& drive, bool written, const TOCInformation& toc);

  // Write cache, block length, write flags and WriteStart with the drive's
  // settings, with their log lines (the CD-Text warning when `cdtext_packs`
  // would be dropped). Returns the start code, or kUnsupportedFamily when the
  // medium is of no family this writes (nothing started, nothing reported).
  static constexpr int32_t kUnsupportedFamily = -1;
  int32_t StartWriteSession(Trelin& drive, const DeviceSetting& setting, int cdtext_packs);

  // The last LBA of the unreadable run that begins at `start`, found by
  // probing forward in steps of `skip_unit` and walking back from the first
  // readable probe; never beyond `limit` (the end of the TOC entry, so a run
  // never reaches into the next one).
  int32_t SkipBurstError(Trelin& drive, int32_t start, int32_t skip_unit, int32_t limit);

  // True when `written` is the number of sectors the TOC's entries cover;
  // otherwise the disc holds something else than the TOC says, and the error
  // line is reported.
  bool WroteWholeToc(int64_t written, const TOCInformation& toc);

  // After a write: reads the disc's TOC back and compares its sessions and
  // their tracks (number and start) and ends with `written`. False, with the
  // error line, when they differ or the TOC cannot be read; a drive whose
  // settings say it sees a new disc only after a reload (`ForceEject`) is
  // left to the verification when its TOC cannot be read yet.
  bool WrittenTocOnDisc(Trelin& drive, const TOCInformation& written, const DeviceSetting& setting);

  // Progress, then the window system runs once; true when the job was asked to stop.
  bool ProgressAndPoll(int32_t value, int32_t total);

 private:
  // What a remote drive runs while a command waits: the window system, and
  // true (give the command up) when a stop was asked for meanwhile.
  std::function<bool()> RemoteWaitHandler();

  // Set by a stop request, which may come from another thread than the job's.
  std::atomic<bool> cancel_{false};
  std::atomic<int> stop_requests_{0};  // RequestStop calls; a change while a command waits gives it up
};

// The error line of a WriteStart code that did not start a session.
QString WriteStartErrorText(int32_t code);

// The date as "gee/mm/dd hh:nn:ss": the Japanese era's letter (M, T, S, H, R)
// and the two-digit year of the era. Dates before the first era use the
// Gregorian year.
QString FormatEraDateTime(const QDateTime& time);

// Replaces a three-letter extension (".xyz" as the last four characters of
// the trimmed path) by `extension`, or appends it.
QString ChangeExtension(const QString& path, const QString& extension);

}  // namespace sorvel
