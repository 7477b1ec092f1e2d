// A ModalUi for tests: records every box and dialog and answers from scripts.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>

#include "gui/foundation/modal_ui.h"

namespace sorvel::testing {

struct ShownMessage {
  QString text;
  int style = 0;
  QString caption;
  QWidget* owner = nullptr;
};

struct ShownPopupMenu {
  QList<ModalUi::MenuEntry> entries;
  QPoint at;
};

struct ShownFileDialog {
  enum Kind { kOpen, kSave, kFolder } kind = kOpen;
  QString filter;  // or the folder chooser's title
  QString default_path;
  int flags = 0;
};

// Installs itself on construction and restores the previous instance on destruction.
class ScriptedModalUi final : public ModalUi {
 public:
  ScriptedModalUi();
  ~ScriptedModalUi() override;

  // Answers of the next message boxes, in order; when none is queued, a box
  // answers OK, or No for a Yes/No question.
  void QueueAnswer(int button) { answers_.push_back(button); }
  // Runs while the box is "open" (for instance a nested event loop), before it answers.
  std::function<void(const ShownMessage&)> on_message;

  void QueueOpenFiles(QStringList files) { open_answers_.push_back(std::move(files)); }
  void QueueSaveFile(QString file) { save_answers_.push_back(std::move(file)); }
  void QueueFolder(QString folder) { folder_answers_.push_back(std::move(folder)); }
  // Identifier answered by the next popup menu (0 dismisses it); none queued dismisses.
  void QueueMenuChoice(int id) { menu_answers_.push_back(id); }
  // Whether OpenDocument reports a started handler (it never starts one).
  void set_documents_open(bool open) { documents_open_ = open; }

  const QList<ShownMessage>& messages() const { return messages_; }
  const QList<ShownFileDialog>& dialogs() const { return dialogs_; }
  const QList<ShownPopupMenu>& menus() const { return menus_; }
  const QStringList& opened_documents() const { return opened_documents_; }
  QString LastText() const { return messages_.isEmpty() ? QString() : messages_.last().text; }
  void Clear() {
    messages_.clear();
    dialogs_.clear();
    menus_.clear();
    opened_documents_.clear();
  }

  int MessageBox(QWidget* owner, const QString& text, int style, const QString& caption) override;
  QStringList OpenFileNames(QWidget* owner, const QString& filter, const QString& default_path,
                            int flags) override;
  QString SaveFileName(QWidget* owner, const QString& filter, const QString& default_path, int flags) override;
  QString BrowseForFolder(QWidget* owner, const QString& title, int flags) override;
  int PopupMenu(const QList<MenuEntry>& entries, const QPoint& at) override;
  bool OpenDocument(const QString& path) override;

 private:
  ModalUi* previous_;
  std::deque<int> answers_;
  std::deque<QStringList> open_answers_;
  std::deque<QString> save_answers_;
  std::deque<QString> folder_answers_;
  std::deque<int> menu_answers_;
  bool documents_open_ = true;
  QList<ShownPopupMenu> menus_;
  QStringList opened_documents_;
  QList<ShownMessage> messages_;
  QList<ShownFileDialog> dialogs_;
};

}  // namespace sorvel::testing
