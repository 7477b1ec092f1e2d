// DiscEraseForm: quick-erases the rewritable disc of a local or remote drive.
// The erase is one blocking call on the GUI thread: no job object, no stop.
#pragma once

#include <cstdint>

#include "gui/dialogs/job_dialog.h"

namespace sorvel {

class DrivePanel;

// Whether the dialog erases a disc of this current profile: CD-RW, DVD-RW
// (restricted overwrite and sequential), DVD+RW, DVD+RW DL, BD-RE, HD DVD-RW
// and HD DVD-RW DL.
bool IsErasableProfile(int32_t profile);

class DiscEraseForm : public JobDialog {
  Q_OBJECT

 public:
  explicit DiscEraseForm(QWidget* parent = nullptr);
  ~DiscEraseForm() override;

  DrivePanel* fraRecv() const { return fraRecv_; }

 protected:
  void StartJob() override;
  void UnloadForm() override;

 private:
  DrivePanel* fraRecv_ = nullptr;
};

}  // namespace sorvel
