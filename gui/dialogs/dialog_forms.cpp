#include "gui/dialogs/dialog_forms.h"

#include "gui/dialogs/is_ready_form.h"

namespace sorvel {

FormFactories DialogFormFactories() {
  FormFactories forms;
  forms.is_ready_form = [] { return std::make_unique<IsReadyPrompt>(); };
  return forms;
}

}  // namespace sorvel
