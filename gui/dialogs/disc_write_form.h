// DiscWriteForm: writes an image file (".iso", ".cue", ".ccd" or the
// drive-bound ".tsn") to the disc of a local or remote drive with a
// DiscWriter, optionally verifies the disc with a DiscVerifier, and runs the
// power action after a long job when asked to.
#pragma once

#include "gui/dialogs/job_dialog.h"
#include "gui/foundation/form_services.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;

namespace sorvel {

class DrivePanel;

class DiscWriteForm : public JobDialog {
  Q_OBJECT

 public:
  explicit DiscWriteForm(QWidget* parent = nullptr);
  ~DiscWriteForm() override;

  // Shows `file_name` in the image box, shows the dialog modally and unloads
  // it when the showing ends.
  void ShowOpen(const QString& file_name);

  QGroupBox* fraSend() const { return fraSend_; }
  QLineEdit* txtReadFile() const { return txtReadFile_; }
  QPushButton* cmdReadFile() const { return cmdReadFile_; }
  DrivePanel* fraRecv() const { return fraRecv_; }
  QCheckBox* chkVerify() const { return chkVerify_; }
  QCheckBox* chkShutdown() const { return chkShutdown_; }

 protected:
  void StartJob() override;
  void UnloadForm() override;

 private:
  void ChooseReadFile();

  QGroupBox* fraSend_ = nullptr;
  QLineEdit* txtReadFile_ = nullptr;
  QPushButton* cmdReadFile_ = nullptr;
  DrivePanel* fraRecv_ = nullptr;
  QCheckBox* chkVerify_ = nullptr;
  QCheckBox* chkShutdown_ = nullptr;
};

// The dialog behind the ImageWriteDialog interface of the start procedure.
class DiscWriteDialog final : public ImageWriteDialog {
 public:
  void ShowOpen(const QString& image_file) override;
};

}  // namespace sorvel
