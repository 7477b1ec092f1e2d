// DiscCopyForm: copies a disc. Two different drives and no temporary image:
// one on-the-fly copy from the read drive to the write drive. One drive on
// both sides, or the temporary-image box ticked: the source is read once into
// a temporary image, which is then written once per blank disc for as long as
// the user asks for another copy; the image is deleted at the end.
#pragma once

#include <QString>

#include "gui/dialogs/job_dialog.h"

class QCheckBox;

namespace sorvel {

class DiscCopier;
class DiscReader;
class DiscVerifier;
class DiscWriter;
class DrivePanel;
class DualDrivePanel;
class Trelin;

class DiscCopyForm : public JobDialog {
  Q_OBJECT

 public:
  explicit DiscCopyForm(QWidget* parent = nullptr);
  ~DiscCopyForm() override;

  DualDrivePanel* panels() const { return panels_; }
  DrivePanel* fraSend() const;
  DrivePanel* fraRecv() const;
  QCheckBox* chkCreateTemporaryImage() const { return chkCreateTemporaryImage_; }
  QCheckBox* chkVerify() const { return chkVerify_; }
  QCheckBox* chkShutdown() const { return chkShutdown_; }

  // The job references; each is set only while its job runs.
  DiscReader* mobjReader() const { return mobjReader_; }
  DiscWriter* mobjWriter() const { return mobjWriter_; }
  DiscCopier* mobjCopier() const { return mobjCopier_; }
  DiscVerifier* mobjVerifier() const { return mobjVerifier_; }
  // The temporary name (without extension) of the last copy through an image.
  const QString& temporary_name() const { return temporary_name_; }

 protected:
  bool HasDevice() const override;
  void StartJob() override;
  void UnloadForm() override;

 private:
  void CopyOnTheFly(Trelin& reader, Trelin& writer);
  void CopyThroughImage(Trelin& reader, Trelin& writer, bool same_object);
  // One write pass of the image way; false when no further pass follows.
  bool WritePass(Trelin& writer, const QString& image, class JobStartTime& start);
  // Verification of `writer` against `toc` after a successful write.
  bool Verify(DiscVerifier& verifier, Trelin& writer, const class TOCInformation* toc);
  // Keeps the dialog in its running state across the jobs of one copy.
  void HoldRunning(bool running);
  // Opens the tray of the write drive.
  static void OpenTray(Trelin& device);

  DualDrivePanel* panels_ = nullptr;
  QCheckBox* chkCreateTemporaryImage_ = nullptr;
  QCheckBox* chkVerify_ = nullptr;
  QCheckBox* chkShutdown_ = nullptr;

  DiscReader* mobjReader_ = nullptr;
  DiscWriter* mobjWriter_ = nullptr;
  DiscCopier* mobjCopier_ = nullptr;
  DiscVerifier* mobjVerifier_ = nullptr;
  QString temporary_name_;
};

}  // namespace sorvel
