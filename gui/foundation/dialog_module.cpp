#include "gui/foundation/dialog_module.h"

#include <QStringList>

#include "gui/foundation/modal_ui.h"

namespace sorvel {

int CenterMessageBox(QWidget* owner, const QString& text, int style, const QString& caption) {
  return CurrentModalUi().MessageBox(owner, text, style, caption);
}

QString ShowOpenFileDialog(QWidget* owner, const QString& filter, const QString& default_path, int flags) {
  return CurrentModalUi().OpenFileNames(owner, filter, default_path, flags).join(QLatin1Char('|'));
}

QString ShowSaveFileDialog(QWidget* owner, const QString& filter, const QString& default_path, int flags) {
  return CurrentModalUi().SaveFileName(owner, filter, default_path, flags);
}

QString BrowseForFolder(QWidget* owner, const QString& title, int flags) {
  return CurrentModalUi().BrowseForFolder(owner, title, flags);
}

}  // namespace sorvel
