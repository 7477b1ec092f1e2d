// WellWriteForm: writes the mastered layout to discs, either directly (the
// layout streamed to the drive) or through a temporary CUE image that is then
// burnt as many times as the user asks, optionally verifying each disc and
// running the power action after a long job. Counts the discs written.
#pragma once

#include "gui/dialogs/job_dialog.h"
#include "gui/foundation/form_services.h"

class QCheckBox;

namespace sorvel {

class DrivePanel;
class JobStartTime;
class Tazol;

class WellWriteForm : public JobDialog {
  Q_OBJECT

 public:
  explicit WellWriteForm(QWidget* parent = nullptr);
  ~WellWriteForm() override;

  // Writes `layout`: a `title` not blank after trimming captions the title
  // band, a non-empty `drive_name` (the text inside the parentheses of a
  // drive entry: "D:" or a remote path) preselects that drive. When no entry
  // matches, says so and returns 0 without showing the dialog. Returns the
  // number of discs written while shown; the dialog is unloaded on return.
  int ShowOpen(Tazol& layout, const QString& title, const QString& drive_name);

  DrivePanel* fraRecv() const { return fraRecv_; }
  QCheckBox* chkCreateTemporaryImage() const { return chkCreateTemporaryImage_; }
  QCheckBox* chkVerify() const { return chkVerify_; }
  QCheckBox* chkShutdown() const { return chkShutdown_; }
  int count() const { return count_; }

 protected:
  void StartJob() override;
  void UnloadForm() override;

 private:
  void WriteDirect();
  void WriteThroughImage();
  // One disc from the image `cue`; returns whether another pass shall follow.
  bool WritePass(const QString& cue, const JobStartTime& start);

  Tazol* layout_ = nullptr;
  DrivePanel* fraRecv_ = nullptr;
  QCheckBox* chkCreateTemporaryImage_ = nullptr;
  QCheckBox* chkVerify_ = nullptr;
  QCheckBox* chkShutdown_ = nullptr;
  int count_ = 0;
};

// The dialog behind the LayoutWriteDialog interface of the form services.
class WellWriteDialog final : public LayoutWriteDialog {
 public:
  QWidget* Form() override;
  int ShowOpen(Tazol& layout, const QString& title, const QString& drive_name) override;

 private:
  WellWriteForm form_;
};

}  // namespace sorvel
