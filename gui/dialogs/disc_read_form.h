// DiscReadForm: reads the disc of a local or remote drive into an image file
// with its descriptors and side files (DiscReader). Proposes the image name
// from the disc's volume label each time a drive is chosen.
#pragma once

#include "gui/dialogs/job_dialog.h"

class QGroupBox;
class QLineEdit;

namespace sorvel {

class DrivePanel;

class DiscReadForm : public JobDialog {
  Q_OBJECT

 public:
  explicit DiscReadForm(QWidget* parent = nullptr);
  ~DiscReadForm() override;

  DrivePanel* fraSend() const { return fraSend_; }
  QGroupBox* fraRecv() const { return fraRecv_; }
  QLineEdit* txtWriteFile() const { return txtWriteFile_; }
  QPushButton* cmdWriteFile() const { return cmdWriteFile_; }

  // The name proposed for the chosen drive: the folder of the current text
  // (the home folder when it has none), then the sanitised volume label with
  // ".img", or "Image.img" without a label and for a remote drive.
  void ProposeImageFileName();

 protected:
  void StartJob() override;
  void UnloadForm() override;

 private:
  void ChooseWriteFile();

  DrivePanel* fraSend_ = nullptr;
  QGroupBox* fraRecv_ = nullptr;
  QLineEdit* txtWriteFile_ = nullptr;
  QPushButton* cmdWriteFile_ = nullptr;
  bool skip_listing_proposal_ = false;
};

}  // namespace sorvel
