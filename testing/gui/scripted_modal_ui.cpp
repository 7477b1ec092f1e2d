#include "testing/gui/scripted_modal_ui.h"

namespace sorvel::testing {

ScriptedModalUi::ScriptedModalUi() : previous_(InstallModalUi(this)) {}

ScriptedModalUi::~ScriptedModalUi() { InstallModalUi(previous_); }

int ScriptedModalUi::MessageBox(QWidget* owner, const QString& text, int style, const QString& caption) {
  ShownMessage shown{text, style, caption, owner};
  messages_.append(shown);
  if (on_message) on_message(shown);
  if (!answers_.empty()) {
    int answer = answers_.front();
    answers_.pop_front();
    return answer;
  }
  return (style & 0xF) == 4 ? kIdNo : kIdOk;
}

QStringList ScriptedModalUi::OpenFileNames(QWidget*, const QString& filter, const QString& default_path,
                                           int flags) {
  dialogs_.append({ShownFileDialog::kOpen, filter, default_path, flags});
  if (open_answers_.empty()) return {};
  QStringList answer = open_answers_.front();
  open_answers_.pop_front();
  return answer;
}

QString ScriptedModalUi::SaveFileName(QWidget*, const QString& filter, const QString& default_path, int flags) {
  dialogs_.append({ShownFileDialog::kSave, filter, default_path, flags});
  if (save_answers_.empty()) return {};
  QString answer = save_answers_.front();
  save_answers_.pop_front();
  return answer;
}

QString ScriptedModalUi::BrowseForFolder(QWidget*, const QString& title, int flags) {
  dialogs_.append({ShownFileDialog::kFolder, title, QString(), flags});
  if (folder_answers_.empty()) return {};
  QString answer = folder_answers_.front();
  folder_answers_.pop_front();
  return answer;
}

int ScriptedModalUi::PopupMenu(const QList<MenuEntry>& entries, const QPoint& at) {
  menus_.append({entries, at});
  if (menu_answers_.empty()) return 0;
  int answer = menu_answers_.front();
  menu_answers_.pop_front();
  return answer;
}

bool ScriptedModalUi::OpenDocument(const QString& path) {
  opened_documents_.append(path);
  return documents_open_;
}

}  // namespace sorvel::testing
