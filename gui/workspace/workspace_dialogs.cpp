#include "gui/workspace/workspace_dialogs.h"

namespace sorvel {

namespace {
const WorkspaceDialogs kNone;
const WorkspaceDialogs* g_dialogs = nullptr;
}  // namespace

const WorkspaceDialogs& CurrentWorkspaceDialogs() { return g_dialogs != nullptr ? *g_dialogs : kNone; }

const WorkspaceDialogs* InstallWorkspaceDialogs(const WorkspaceDialogs* dialogs) {
  const WorkspaceDialogs* previous = g_dialogs;
  g_dialogs = dialogs;
  return previous;
}

bool ShowWellSaveForm(QWidget* owner, Tazol& layout, const QString& image_file, const QString& title) {
  const auto& save = CurrentWorkspaceDialogs().well_save;
  return save ? save(owner, layout, image_file, title) : false;
}

void ShowModalForm(QWidget* owner, const QString& form_name) {
  const auto& show = CurrentWorkspaceDialogs().show_modal;
  if (show) show(owner, form_name);
}

}  // namespace sorvel
