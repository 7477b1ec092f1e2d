// Mastering: the automation class through which another program builds a
// layout (data area and audio tracks) and burns it with the same engines and
// the same layout writer as the GUI. Each object owns its own Tazol engine and
// shares the process-wide settings object; the automation server
// (gui/automation/mastering_bus.h) publishes these objects to other programs.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>

#include "gui/model/tazol.h"

namespace sorvel {

class Trelin;
class WellWriter;

// The source of every error the class raises.
inline constexpr char kMasteringSource[] = "SORVEL.Mastering";

// Errors the class raises: a directory of AddFile cannot be made, a file of
// AddFile cannot be added, StartBurn failed (the text of the write's last error).
inline constexpr uint32_t kMasteringDirectoryError = 0x80040001u;
inline constexpr uint32_t kMasteringFileError = 0x80040002u;
inline constexpr uint32_t kMasteringBurnError = 0x80040003u;

class MasteringError : public std::exception {
 public:
  MasteringError(uint32_t number, QString description);
  uint32_t Number() const { return number_; }
  const QString& Description() const { return description_; }
  const char* what() const noexcept override { return what_.constData(); }

 private:
  uint32_t number_;
  QString description_;
  QByteArray what_;
};

class Mastering : public QObject {
  Q_OBJECT

 public:
  explicit Mastering(QObject* parent = nullptr);
  ~Mastering() override;

  // Layout members: forwarded to the own engine. While a burn runs they change
  // nothing and answer false.
  QString VolumeLabel() const;
  void SetVolumeLabel(const QString& label);  // trimmed
  bool InitISOFS(int32_t FileSystemType);
  void ClearISO();
  bool IsISOEmpty();
  // Adds the host entries matching `FileName` (wildcards allowed; directories
  // with their whole tree) to the data-area directory `DirectoryName` ("\"
  // separated, made where missing). False when the directory cannot be
  // entered or nothing matched; throws MasteringError 0x80040001 / 0x80040002
  // at the first entry that fails. Starts and ends at the root directory.
  bool AddFile(const QString& FileName, const QString& DirectoryName = QString());
  void ClearTrack();
  bool AddTrack(const QString& TrackFileName, int32_t PregapLength, int32_t PostgapLength,
                int32_t TrackControlFlag = 0);
  bool RemoveTrack(int32_t TrackNo);
  int32_t GetTrackCount();

  // Opens the layout write dialog centred on the window `hWnd`; the number of
  // discs written while it was open (0, not opened, while any burn of the
  // process runs). On the GUI thread.
  int32_t ShowBurnDialog(int32_t hWnd, const QString& Title = QString(), const QString& DriveName = QString());
  // Closes the dialog of ShowBurnDialog when it is open (its client has
  // gone), with every window it shows (its message boxes), now and until
  // ShowBurnDialog returns; on the GUI thread.
  void CloseBurnDialog();
  // Writes the layout to the disc in the drive named by the first letter of
  // `DriveName` (A to Z, either case), opening the tray afterwards when
  // `EjectAfterBurn`. Runs until the write ends, letting events run after each
  // sector. Throws MasteringError 0x80040003 with the last error text when the
  // write failed, and with the text of a drive that cannot be used, nothing
  // done, while a burn runs in the process (of this object or of another).
  // May run on a thread other than the GUI's: Progress is then emitted there.
  bool StartBurn(const QString& DriveName, bool EjectAfterBurn = true);
  // Asks the running burn to stop; false when none runs. From any thread.
  bool StopBurn();
  bool IsReady(const QString& DriveName);
  bool IsDiscWritable(const QString& DriveName);

  bool Burning() const { return writer_.load() != nullptr; }
  Tazol& Layout() { return layout_; }

  // The drive index a drive name stands for: its first letter, A to Z in
  // either case; -1 for anything else (an empty name included).
  static int32_t DriveIndex(const QString& DriveName);

 signals:
  void Progress(int32_t Value, int32_t Total);
  // A burn has ended (whatever its result).
  void BurnEnded();

 private:
  void AddEntry(const QByteArray& path, const QByteArray& name);
  bool QueryDrive(const QString& DriveName, bool (Trelin::*query)());

  Tazol layout_;
  // Set while StartBurn runs; StopBurn reaches it from another thread under
  // the lock, which StartBurn takes to clear it.
  std::atomic<WellWriter*> writer_{nullptr};
  std::mutex writer_lock_;
  QString last_error_;
  QPointer<QWidget> dialog_;
  // Set by CloseBurnDialog: closes the dialog's windows as they are shown.
  std::unique_ptr<QObject> closer_;
};

}  // namespace sorvel
