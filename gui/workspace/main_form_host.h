// The main window as the start procedure opens it: one MainForm, shown
// modeless, deleted when the user closes it.
#pragma once

#include <QPointer>

#include "gui/foundation/form_services.h"
#include "gui/workspace/main_form.h"

namespace sorvel {

class MainFormHost final : public MainWindowForm {
 public:
  ~MainFormHost() override { Unload(); }
  void Show() override;
  bool FileProjectLoad(const QString& file_name) override;
  void Unload() override;
  MainForm* form() const { return form_; }

 private:
  QPointer<MainForm> form_;
};

}  // namespace sorvel
