// WellSaveForm: writes the mastered layout to an image file (".img" with its
// ".cue" and ".cdt") as soon as the dialog is first shown, reports the result
// and closes itself. Its one button, Escape and the close box all ask before
// stopping the job.
#pragma once

#include "gui/dialogs/job_dialog.h"

class QShowEvent;

namespace sorvel {

class Tazol;

class WellSaveForm : public JobDialog {
  Q_OBJECT

 public:
  explicit WellSaveForm(QWidget* parent = nullptr);
  ~WellSaveForm() override;

  // Writes `layout` to `image_file` ("<name>.img"); a `title` not blank after
  // trimming captions the title band. True only when the image was written
  // completely and the user did not stop the job.
  bool ShowOpen(Tazol& layout, const QString& image_file, const QString& title);

  QPushButton* cmdCancel() const { return cmdStartStop(); }

 protected:
  void StartJob() override {}
  void showEvent(QShowEvent* event) override;
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void RunSave();

  Tazol* layout_ = nullptr;
  QString image_file_;
  bool started_ = false;
  bool saved_ = false;
};

// The layout save dialog as the main window opens it, centred on `owner`.
bool ShowWellSaveDialog(QWidget* owner, Tazol& layout, const QString& image_file, const QString& title);

}  // namespace sorvel
