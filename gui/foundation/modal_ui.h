// Every modal interaction of the program (message boxes, file and folder
// dialogs) goes through one replaceable object, so that tests can record what
// was shown and script the answer while real widgets run offscreen.
#pragma once

#include <QList>
#include <QPoint>
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

  // One entry of a popup menu: its text and the identifier answered when it is chosen.
  struct MenuEntry {
    QString text;
    int id = 0;
    // A menu item's caption, as the menu bar shows it: "&" marks the
    // mnemonic ("&&" stands for "&"). Otherwise the text is shown as it is.
    bool caption = false;
    // A separator line; never chosen.
    bool separator = false;
  };
  // Shows a popup menu with its left edge at the screen point `at`; returns the
  // chosen entry's identifier, 0 when the menu was dismissed. The default
  // answers as dismissed.
  virtual int PopupMenu(const QList<MenuEntry>& entries, const QPoint& at);

  // Opens a file (the help file, a document) or an address ("https://...")
  // with the desktop's handler for it, without waiting. Returns whether a
  // handler was started. The default opens nothing.
  virtual bool OpenDocument(const QString& path);
};

// The process-wide instance. Until one is installed, every call answers as a
// cancelled dialog would (Cancel / empty), so headless code never blocks.
ModalUi& CurrentModalUi();

// Installs `ui` (not owned); null restores the headless default. Returns the
// previous instance.
ModalUi* InstallModalUi(ModalUi* ui);

}  // namespace sorvel
