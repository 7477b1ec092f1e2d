#include "gui/dialogs/dialog_forms.h"

#include "gui/dialogs/disc_write_form.h"
#include "gui/dialogs/is_ready_form.h"

namespace sorvel {

FormFactories DialogFormFactories() {
  FormFactories forms;
  forms.disc_write_form = [] { return std::make_unique<DiscWriteDialog>(); };
  forms.is_ready_form = [] { return std::make_unique<IsReadyPrompt>(); };
  return forms;
}

}  // namespace sorvel
