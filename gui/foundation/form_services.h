// The forms that code below the workspace and the dialogs opens: the main
// window, the layout write dialog, the write-image dialog and the insert-disc
// prompt. The real forms register factories at start; until then, and in
// tests that install none, nothing is opened and each call answers as a
// user who closed the form at once would.
#pragma once

#include <QString>
#include <functional>
#include <memory>

class QWidget;

namespace sorvel {

class Tazol;
class Trelin;

// The main window of the mastering workspace.
class MainWindowForm {
 public:
  virtual ~MainWindowForm() = default;
  // Shows the window without blocking: modeless, no owner. It counts among
  // the open windows until the user closes it.
  virtual void Show() = 0;
  // Reads a project file into the workspace; false when it cannot be read.
  virtual bool FileProjectLoad(const QString& file_name) = 0;
  // Releases the window; harmless when it is already closed.
  virtual void Unload() = 0;
};

// The layout write dialog.
class LayoutWriteDialog {
 public:
  virtual ~LayoutWriteDialog() = default;
  // The dialog's window, to be placed (CenterForm) before ShowOpen.
  virtual QWidget* Form() = 0;
  // Writes `layout` to one disc or several in turn. A `title` not blank after
  // trimming captions the dialog; a non-empty `drive_name` preselects that
  // drive, and when no drive matches an exclamation box says so and the dialog
  // is not opened. Returns the number of discs written; the dialog is unloaded
  // before it returns.
  virtual int ShowOpen(Tazol& layout, const QString& title, const QString& drive_name) = 0;
};

// The write-image dialog: shows `image_file` in its image box, modally, and
// returns after it has closed and been unloaded.
class ImageWriteDialog {
 public:
  virtual ~ImageWriteDialog() = default;
  virtual void ShowOpen(const QString& image_file) = 0;
};

// The insert-disc prompt: waits, modally, until `drive` is ready (with a
// writable medium when `writable`). True when it is, false when the user gave up.
class InsertDiscPrompt {
 public:
  virtual ~InsertDiscPrompt() = default;
  virtual bool ShowOpen(Trelin& drive, bool writable) = 0;
};

struct FormFactories {
  std::function<std::unique_ptr<MainWindowForm>()> main_form;
  std::function<std::unique_ptr<LayoutWriteDialog>()> well_write_form;
  std::function<std::unique_ptr<ImageWriteDialog>()> disc_write_form;
  std::function<std::unique_ptr<InsertDiscPrompt>()> is_ready_form;
};

// The process-wide factories; every member empty until some are installed.
const FormFactories& CurrentFormFactories();
// Installs `factories` (not owned); null restores the empty set. Returns the previous.
const FormFactories* InstallFormFactories(const FormFactories* factories);

// The calls as their users make them, answering for a missing form: the
// prompt as given up (false), the layout write dialog as not opened (0).
bool ShowIsReadyForm(Trelin& drive, bool writable);
int ShowWellWriteForm(Tazol& layout, const QString& title, const QString& drive_name,
                      const std::function<void(QWidget*)>& place = {});

}  // namespace sorvel
