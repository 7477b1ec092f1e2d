#include "gui/dialogs/dual_drive_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSignalBlocker>
#include <QTimer>
#include <optional>

#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/hourglass.h"
#include "gui/foundation/dialog_module.h"
#include "gui/model/trelin.h"

namespace sorvel {
DualDrivePanel::DualDrivePanel(const QString& form_name, QWidget* parent, QCheckBox* temporary_image_box)
    : QObject(parent),
      read_(new DrivePanel(DriveSide::kRead, form_name, parent)),
      write_(new DrivePanel(DriveSide::kWrite, form_name, parent)),
      temporary_image_box_(temporary_image_box) {
  for (DrivePanel* side : {read_, write_}) {
    side->routed_ = true;
    side->set_key_from_device_name(true);
    connect(side, &DrivePanel::NetworkClicked, this, [this, side] { RebuildDriveLists(side); });
    connect(side, &DrivePanel::DriveActivated, this, [this, side] { OpenChosenDrive(side); });
  }
  // One timer for both sides: the read side's.
  write_->timer()->stop();
  disconnect(read_->timer(), nullptr, read_, nullptr);
  connect(read_->timer(), &QTimer::timeout, this, [this] {
    if (!read_->busy_ && !write_->busy_) RefreshDriveStatus();
  });
}

DualDrivePanel::~DualDrivePanel() = default;

void DualDrivePanel::Release(DrivePanel* side) {
  if (!side->device_) return;
  if (side->hooks_.device_closing) side->hooks_.device_closing();
  if (side->device_ != Other(side)->device_) side->device_->CloseDevice();
  side->device_.reset();
}

void DualDrivePanel::RebuildDriveLists(DrivePanel* clicked) {
  if (read_->busy_ || write_->busy_) return;
  read_->busy_ = write_->busy_ = true;
  std::optional<HourglassCursor> wait(std::in_place);
  Release(read_);
  Release(write_);
  const int old_read = read_->drive_combo_->count();
  const int old_write = write_->drive_combo_->count();
  const QString read_text = read_->drive_combo_->currentText();
  const QString write_text = write_->drive_combo_->currentText();
  DrivePanel::ListDrives({read_, write_});

  const int old_clicked = clicked == read_ ? old_read : old_write;
  if (clicked != nullptr && clicked->network_box_->isChecked() && clicked->drive_combo_->count() <= old_clicked) {
    // Nothing remote for the clicked side: its old list stays; the other
    // side takes its new list.
    DrivePanel* other = Other(clicked);
    {
      QSignalBlocker block(other->drive_combo_);
      other->drive_combo_->setCurrentIndex(-1);
    }
    OpenChosenDrive(clicked);
    if (other->DropOldItems(other == read_ ? old_read : old_write, other == read_ ? read_text : write_text)) {
      OpenChosenDrive(other);
    }
    wait.reset();  // the normal pointer over the message
    CenterMessageBox(clicked->window(), QStringLiteral("現在利用可能な遠隔ドライヴは存在しません。"), 48,
                     clicked->window()->windowTitle());
    clicked->network_box_->setChecked(false);
  } else {
    read_->DropOldItems(old_read, read_text);
    write_->DropOldItems(old_write, write_text);
    OpenChosenDrive(read_);
    OpenChosenDrive(write_);
  }
  read_->busy_ = write_->busy_ = false;
}

void DualDrivePanel::OpenChosenDrive(DrivePanel* side) {
  HourglassCursor wait;
  DrivePanel* other = Other(side);
  if (temporary_image_box_ != nullptr) {
    temporary_image_box_->setChecked(false);
    temporary_image_box_->setEnabled(true);
  }
  Release(side);
  if (side->drive_combo_->currentIndex() >= 0) {
    if (side->hooks_.drive_opening) side->hooks_.drive_opening();
    if (other->drive_combo_->currentIndex() >= 0 &&
        other->drive_combo_->currentText() == side->drive_combo_->currentText()) {
      // One drive on both sides: one open object serves both.
      if (temporary_image_box_ != nullptr) {
        temporary_image_box_->setChecked(true);
        temporary_image_box_->setEnabled(false);
      }
      if (!other->device_) other->device_ = side->OpenSelected();
      side->device_ = other->device_;
    } else {
      side->device_ = side->OpenSelected();
    }
  }
  if (side->hooks_.device_opened) side->hooks_.device_opened();
  RefreshDriveStatus();
  if (side->hooks_.drive_changed) side->hooks_.drive_changed();
}

void DualDrivePanel::RefreshDriveStatus() {
  read_->RefreshDriveStatus();
  write_->RefreshDriveStatus();
}

void DualDrivePanel::Load() {
  RebuildDriveLists(nullptr);
  for (DrivePanel* side : {read_, write_}) {
    const QString stored = GetDialogSetting(side->form_name(), side->drive_combo_->objectName());
    const int index = stored.isEmpty() ? -1 : side->drive_combo_->findText(stored, Qt::MatchExactly);
    if (index >= 0 && index != side->drive_combo_->currentIndex()) {
      {
        QSignalBlocker block(side->drive_combo_);
        side->drive_combo_->setCurrentIndex(index);
      }
      OpenChosenDrive(side);
    }
  }
}

void DualDrivePanel::Unload() {
  read_->timer()->stop();
  for (DrivePanel* side : {read_, write_}) {
    SaveDialogSetting(side->form_name(), side->drive_combo_->objectName(), side->drive_combo_->currentText());
  }
  Release(read_);
  Release(write_);
  read_->ClearRemotePaths();
  write_->ClearRemotePaths();
}

void DualDrivePanel::SetJobRunning(bool running) {
  read_->SetJobRunning(running);
  write_->setEnabled(!running);
  write_->timer()->stop();
}

}  // namespace sorvel
