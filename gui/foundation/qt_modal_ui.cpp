#include "gui/foundation/qt_modal_ui.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QUrl>

#include "gui/foundation/file_dialog.h"
#include "gui/foundation/message_box.h"

namespace sorvel {

int QtModalUi::MessageBox(QWidget* owner, const QString& text, int style, const QString& caption) {
  CenteredMessageBox box(owner, text, style, caption);
  box.exec();
  return box.Result();
}

QStringList QtModalUi::OpenFileNames(QWidget* owner, const QString& filter, const QString& default_path,
                                     int flags) {
  auto dialog = MakeFileDialog(owner, FileDialogKind::kOpen, filter, default_path, flags);
  if (dialog->exec() != QDialog::Accepted) return {};
  QStringList files;
  for (const QString& file : dialog->selectedFiles()) files << QDir::cleanPath(QFileInfo(file).absoluteFilePath());
  return files;
}

QString QtModalUi::SaveFileName(QWidget* owner, const QString& filter, const QString& default_path, int flags) {
  auto dialog = MakeFileDialog(owner, FileDialogKind::kSave, filter, default_path, flags);
  if (dialog->exec() != QDialog::Accepted) return {};
  QStringList files = dialog->selectedFiles();
  return files.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(files.first()).absoluteFilePath());
}

QString QtModalUi::BrowseForFolder(QWidget* owner, const QString& title, int) {
  auto dialog = MakeFolderDialog(owner, title);
  if (dialog->exec() != QDialog::Accepted) return {};
  QStringList folders = dialog->selectedFiles();
  return folders.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(folders.first()).absoluteFilePath());
}

int QtModalUi::PopupMenu(const QList<MenuEntry>& entries, const QPoint& at) {
  // Nothing to choose: the menu would close at once unchosen.
  if (entries.isEmpty()) return 0;
  QMenu menu(QApplication::activeWindow());
  for (const MenuEntry& entry : entries) {
    if (entry.separator) {
      menu.addSeparator();
      continue;
    }
    // A caption keeps its mnemonic; any other text is shown as it is.
    QString text = entry.text;
    if (!entry.caption) text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    menu.addAction(text)->setData(entry.id);
  }
  QAction* chosen = menu.exec(at);
  return chosen != nullptr ? chosen->data().toInt() : 0;
}

bool QtModalUi::OpenDocument(const QString& path) {
  if (path.isEmpty()) return false;
  // An address ("https://...", "mailto:...") goes to the desktop's handler of
  // its scheme; anything else is a local file that must exist.
  const QUrl url(path, QUrl::StrictMode);
  if (!path.startsWith(QLatin1Char('/')) && url.isValid() && url.scheme().size() > 1 && !url.isLocalFile())
    return QDesktopServices::openUrl(url);
  const QString file = url.isLocalFile() ? url.toLocalFile() : path;
  if (!QFileInfo::exists(file)) return false;
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
}

}  // namespace sorvel
