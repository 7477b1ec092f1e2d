// The message box and the common dialogs as the forms call them. Every call
// goes through CurrentModalUi(), so tests record what was shown and script the
// answer.
#pragma once

#include <QString>

class QWidget;

namespace sorvel {

// Shows `text` with `style` (16 error, 48 exclamation, 64 information, 36
// Yes/No with Yes as default, 292 and 308 Yes/No with No as default) and
// `caption` as title, centred on `owner` (the screen when null). Returns the
// button pressed (kIdOk, kIdYes, kIdNo, ...).
int CenterMessageBox(QWidget* owner, const QString& text, int style, const QString& caption);

// File dialogs with a "description|pattern|..." filter. Return "" when
// cancelled, else the chosen full path; several chosen files are joined by "|".
QString ShowOpenFileDialog(QWidget* owner, const QString& filter, const QString& default_path, int flags);
QString ShowSaveFileDialog(QWidget* owner, const QString& filter, const QString& default_path, int flags);

// Folder chooser titled `title`; "" when cancelled.
QString BrowseForFolder(QWidget* owner, const QString& title, int flags);

}  // namespace sorvel
