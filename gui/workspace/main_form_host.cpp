#include "gui/workspace/main_form_host.h"

namespace sorvel {

void MainFormHost::Show() {
  if (!form_) {
    form_ = new MainForm;
    form_->setAttribute(Qt::WA_DeleteOnClose);
  }
  form_->show();
}

bool MainFormHost::FileProjectLoad(const QString& file_name) {
  return form_ ? form_->FileProjectLoad(file_name) : false;
}

void MainFormHost::Unload() { delete form_; }

}  // namespace sorvel
