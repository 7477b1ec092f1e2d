#include "gui/dialogs/dialog_forms.h"

#include "gui/dialogs/disc_write_form.h"
#include "gui/dialogs/is_ready_form.h"
#include "gui/dialogs/well_write_form.h"

namespace sorvel {

FormFactories DialogFormFactories() {
  FormFactories forms;
  forms.disc_write_form = [] { return std::make_unique<DiscWriteDialog>(); };
  forms.well_write_form = [] { return std::make_unique<WellWriteDialog>(); };
  forms.is_ready_form = [] { return std::make_unique<IsReadyPrompt>(); };
  return forms;
}

bool ShowDialogForm(QWidget* owner, const QString& form_name) {
  if (form_name == QLatin1String("DiscWriteForm")) {
    DiscWriteForm form(owner);
    form.ShowOpen(QString());
    return true;
  }
  return false;
}

}  // namespace sorvel
