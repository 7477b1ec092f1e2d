// Every modal interaction of the program (message boxes, file and folder
// dialogs) goes through one replaceable object, so that tests can record what
// was shown and script the answer while real widgets run offscreen.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace sorvel {

// Button identifiers returned by message boxes.
enum MessageBoxResult : int {
  kIdOk = 1,
  kIdCancel = 2,
  kIdAbort = 3,
  kIdRetry = 4,
  kIdIgnore = 5,
  kIdYes = 6,
  kIdNo = 7,
};

class ModalUi {
 public:
  virtual ~ModalUi() = default;

  // Shows a message box centred on `owner` (the screen when null). `style` is
  // the numeric box style (16 error, 48 exclamation, 64 information, 36 Yes/No,
  // 292 and 308 Yes/No with No as default). Returns the button pressed.
  virtual int MessageBox(QWidget* owner, const QString& text, int style, const QString& caption) = 0;

  // File dialogs. `filter` is "description|pattern|description|pattern...";
  // `default_path` a file name, optionally with a folder. An empty result
  // (or empty list) means the user cancelled.
  virtual QStringList OpenFileNames(QWidget* owner, const QString& filter, const QString& default_path,
                                    int flags) = 0;
  virtual QString SaveFileName(QWidget* owner, const QString& filter, const QString& default_path,
                               int flags) = 0;

  // Folder chooser; "" when cancelled.
  virtual QString BrowseForFolder(QWidget* owner, const QString& title, int flags) = 0;
};

// The process-wide instance. Until one is installed, every call answers as a
// cancelled dialog would (Cancel / empty), so headless code never blocks.
ModalUi& CurrentModalUi();

// Installs `ui` (not owned); null restores the headless default. Returns the
// previous instance.
ModalUi* InstallModalUi(ModalUi* ui);

}  // namespace sorvel
