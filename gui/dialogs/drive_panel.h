// DrivePanel: the drive side of a disc dialog. One frame with the drive list
// (local drives of the drive map, or the drives that remote kestrow services
// offer), the network box, eject and load buttons, the parameter button, the
// speed list and a status line that a 500 ms timer keeps current. The panel
// holds the opened drive for the dialog's job.
//
// Use from a form:
//   auto* panel = new DrivePanel(DriveSide::kRead, "DiscReadForm", this);
//   panel->hooks().drive_opening = [this] { ProposeImageFileName(); };
//   panel->Load();                  // at the form's load: list, restore, open
//   ... job: panel->SetJobRunning(true); panel->ApplySpeed(); run with *panel->device();
//   panel->SetJobRunning(false);
//   panel->Unload();                // at the form's unload: store, close, release
//
// Everything runs on the GUI thread. Only the user's actions run handlers:
// the network box acts on `clicked`, the drive and speed lists on
// `activated`; code that changes a selection calls the handler itself.
#pragma once

#include <QGroupBox>
#include <QList>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "gui/foundation/list.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

namespace sorvel {

class Trelin;

enum class DriveSide { kRead, kWrite };

// Item data of a speed entry: CAV (-1 or 0) × 65536 + the speed in kB/s, kept
// in 32 bits so that speeds above 32767 kB/s (BD 8x is 36000) stay positive
// in the low half. "Full Speed" is 0.
int32_t SpeedItemData(int32_t speed, bool cav);
inline int32_t SpeedOfItemData(int32_t data) { return data & 0xFFFF; }
inline bool CavOfItemData(int32_t data) { return (data >> 16) != 0; }
// The 1x rate in kB/s of a media family (1 CD 176.4, 2 DVD 1385, 3 BD and
// 4 HD DVD 4500), 0 for any other.
double OneXRate(int32_t media_family);
// "48x [8467KiB/s]": the speed over the 1x rate with one decimal, ".0"
// removed, then the speed in kB/s.
QString SpeedText(int32_t speed, double one_x_rate);
// "\\host:port\X:", the name under which a remote drive is opened.
QString RemoteDevicePath(const QString& host, int32_t port, QChar letter);

class DrivePanel : public QGroupBox {
  Q_OBJECT

 public:
  // What each form adds to the panel's handlers. Every member may be empty.
  struct Hooks {
    // Drive change, before the old device is closed (a kept DeviceSetting is cleared).
    std::function<void()> device_closing;
    // Drive change, with an item selected, before the new device is created
    // (the read dialog proposes an image file name).
    std::function<void()> drive_opening;
    // Drive change, after the open attempt and before the status refresh;
    // device() is the new device or null (a DeviceSetting is loaded here).
    std::function<void()> device_opened;
    // Drive change, after the status refresh (views that follow the drive).
    std::function<void()> drive_changed;
    // Every status refresh, after the status line is set: whether a device
    // is open and whether it is ready.
    std::function<void(bool has_device, bool ready)> status_refreshed;
  };

  // `form_name` is the settings group of the form (its speed texts and its
  // drive text). Controls take the side's names: cboReadDrive, chkReadNetwork,
  // cmdReadDriveEject, cmdReadSetting, cboReadSpeed, lblSendDriveStatus,
  // tmrSendDevice on the read side (frame fraSend), the Write/Recv names on
  // the write side (frame fraRecv). A form may rename a control (the erase
  // dialog's timer is tmrDevice); the stored texts follow the combo names.
  DrivePanel(DriveSide side, const QString& form_name, QWidget* parent = nullptr);
  ~DrivePanel() override;

  DriveSide side() const { return side_; }
  const QString& form_name() const { return form_name_; }
  Hooks& hooks() { return hooks_; }
  // The drive text is put back after a rebuild of the list (layout write
  // dialog); otherwise the first drive is chosen.
  void set_keep_drive_text(bool keep) { keep_drive_text_ = keep; }

  QComboBox* drive_combo() const { return drive_combo_; }
  QCheckBox* network_box() const { return network_box_; }
  // 0 "排出" (eject), 1 "挿入" (load).
  QPushButton* eject_button(int index) const { return eject_buttons_[index == 0 ? 0 : 1]; }
  QPushButton* setting_button() const { return setting_button_; }
  QComboBox* speed_combo() const { return speed_combo_; }
  QLabel* status_label() const { return status_label_; }
  QTimer* timer() const { return timer_; }

  // The opened drive, or null: no usable drive.
  const std::shared_ptr<Trelin>& device() const { return device_; }
  // One "\\host:port\X:" per remote entry of the drive list, from 1.
  const List<QString>& remote_paths() const { return remote_paths_; }
  bool busy() const { return busy_; }
  const QString& status_key() const { return status_key_; }

  // The form's load: a local listing that opens the first drive, then the
  // stored drive text (a drive no longer listed is ignored).
  void Load();
  // The form's unload: stores the drive text, closes and releases the device.
  void Unload();

  // The handlers, as the user's actions run them.
  void RebuildDriveList();                // network box
  void OpenChosenDrive();                 // drive list
  void RememberSpeed();                   // speed list
  void EjectOrLoad(int index);            // 排出 / 挿入
  void ShowParameters();                  // 設定
  void RefreshDriveStatus();              // timer, and after each drive change
  void FillSpeedList();

  // While a job runs: frame and timer off; on again at its end.
  void SetJobRunning(bool running);
  // Sets the chosen speed on the device (read or write speed by side);
  // false without a device or when the drive refuses.
  bool ApplySpeed();
  // The chosen speed in kB/s (0: the drive's maximum) and its CAV flag.
  int32_t ChosenSpeed() const;
  bool ChosenCav() const;

  // Building blocks for a form that lists two panels in one pass (copy dialog).
  // Whether `probe` (an opened drive) serves this side.
  bool Supports(Trelin& probe) const;
  // Appends the entry of the opened `probe` when it serves this side: a local
  // drive of `letter`, or, with `remote_path` not empty, a remote drive of
  // `host`. Returns whether it was appended.
  bool AddProbedDrive(Trelin& probe, QChar letter, const QString& host = QString(),
                      const QString& remote_path = QString());
  // The same with what was learnt of the drive: whether it reads and writes
  // CDs or DVDs, and its vendor name.
  bool AddProbedDrive(bool reads, bool writes, const QString& name, QChar letter, const QString& host,
                      const QString& remote_path);
  // A new device on the selected entry, or null (nothing selected, open failed).
  std::shared_ptr<Trelin> OpenSelected() const;
  // Replaces the device; the old one is closed first when `close_old`.
  void SetDevice(std::shared_ptr<Trelin> device, bool close_old);
  // Status key: built from the drive's full name instead of the list text
  // and kept in the status label's "Tag" property as well (copy dialog).
  void set_key_from_device_name(bool on) { key_from_device_name_ = on; }
  // Removes the first `old_count` items without running handlers and
  // restores `text` (when given and listed), else selects the first item.
  // Returns whether an item is selected.
  bool DropOldItems(int old_count, const QString& text);
  // Lists with one probing object the drives that serve each of `sides`
  // (appended after their current items): the local drives of the drive map
  // for a side whose network box is clear, the drives of every discovered
  // remote service for a ticked one. Clears their remote path lists first.
  // The remote drives are opened on worker threads, a few at a time, while the
  // window keeps being drawn (user input waits until the list is done).
  static void ListDrives(const QList<DrivePanel*>& sides);
  // Clears the remote path list (start of a rebuild).
  void ClearRemotePaths() { remote_paths_.Clear(); }

 signals:
  // The network box was clicked by the user (a form of two panels rebuilds both).
  void NetworkClicked();
  // The user picked a drive.
  void DriveActivated();

 private:
  void BuildControls();
  QString SpeedKey(int32_t family) const;
  QString Caption() const;

  DriveSide side_;
  QString form_name_;
  Hooks hooks_;
  bool keep_drive_text_ = false;
  bool key_from_device_name_ = false;
  bool routed_ = false;

  QComboBox* drive_combo_ = nullptr;
  QCheckBox* network_box_ = nullptr;
  QPushButton* eject_buttons_[2] = {nullptr, nullptr};
  QPushButton* setting_button_ = nullptr;
  QComboBox* speed_combo_ = nullptr;
  QLabel* status_label_ = nullptr;
  QTimer* timer_ = nullptr;

  std::shared_ptr<Trelin> device_;
  List<QString> remote_paths_;
  bool busy_ = false;
  QString status_key_;

  friend class DualDrivePanel;
};

}  // namespace sorvel
