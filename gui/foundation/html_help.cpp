#include "gui/foundation/html_help.h"

#include "gui/foundation/modal_ui.h"

namespace sorvel {

void HTMLHelp::OpenHelp(QWidget* owner, const QString& file_name) {
  if (owner_ != nullptr) CloseHelp();
  if (CurrentModalUi().OpenDocument(file_name)) owner_ = owner;
}

void HTMLHelp::CloseHelp() { owner_ = nullptr; }

}  // namespace sorvel
