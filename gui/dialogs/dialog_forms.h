// The disc dialogs that lower layers open through the form factories: the
// insert-disc prompt, the write-image dialog and the layout write dialog.
#pragma once

#include "gui/foundation/form_services.h"

namespace sorvel {

// The factories of the dialogs' forms (the main window left empty, for the
// workspace to fill in).
FormFactories DialogFormFactories();

}  // namespace sorvel
