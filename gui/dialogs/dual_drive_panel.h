// DualDrivePanel: the read and the write side of the copy dialog. One
// probing pass lists both sides; when both name the same drive they share one
// opened object and the temporary-image box is ticked and locked.
#pragma once

#include <QObject>
#include <QString>

#include "gui/dialogs/drive_panel.h"

class QCheckBox;

namespace sorvel {

class DualDrivePanel : public QObject {
  Q_OBJECT

 public:
  // Creates both panels as children of `parent` (to be placed by the form);
  // `temporary_image_box` is the form's chkCreateTemporaryImage (not owned).
  DualDrivePanel(const QString& form_name, QWidget* parent, QCheckBox* temporary_image_box);
  ~DualDrivePanel() override;

  DrivePanel* read_panel() const { return read_; }
  DrivePanel* write_panel() const { return write_; }

  // The form's load: both lists in one pass, the stored drive texts restored.
  void Load();
  // The form's unload: both drive texts stored, the device(s) closed once.
  void Unload();
  // Rebuilds both drive lists in one pass; `clicked` is the side whose network
  // box the user clicked (null at load).
  void RebuildDriveLists(DrivePanel* clicked);
  // Opens the drive chosen on `side`, sharing the other side's object when
  // both name the same drive.
  void OpenChosenDrive(DrivePanel* side);
  // The timer procedure: the read side, then the write side.
  void RefreshDriveStatus();
  void SetJobRunning(bool running);

 private:
  DrivePanel* Other(DrivePanel* side) const { return side == read_ ? write_ : read_; }
  // Releases the side's device; closes it when no other side holds it.
  void Release(DrivePanel* side);

  DrivePanel* read_;
  DrivePanel* write_;
  QCheckBox* temporary_image_box_;
};

}  // namespace sorvel
