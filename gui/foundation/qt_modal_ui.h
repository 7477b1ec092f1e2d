// The program's real modal interface: Qt message boxes, file and folder
// dialogs, popup menus and the desktop's handlers, each shown modally.
#pragma once

#include "gui/foundation/modal_ui.h"

namespace sorvel {

class QtModalUi final : public ModalUi {
 public:
  int MessageBox(QWidget* owner, const QString& text, int style, const QString& caption) override;
  QStringList OpenFileNames(QWidget* owner, const QString& filter, const QString& default_path,
                            int flags) override;
  QString SaveFileName(QWidget* owner, const QString& filter, const QString& default_path, int flags) override;
  QString BrowseForFolder(QWidget* owner, const QString& title, int flags) override;
  int PopupMenu(const QList<MenuEntry>& entries, const QPoint& at) override;
  bool OpenDocument(const QString& path) override;
};

}  // namespace sorvel
