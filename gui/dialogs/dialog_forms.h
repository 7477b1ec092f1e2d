// The disc dialogs that lower layers open through the form factories: the
// insert-disc prompt and the write-image dialog.
#pragma once

#include "gui/foundation/form_services.h"

namespace sorvel {

// The factories of the dialogs' forms (main window and layout write dialog
// left empty, for the workspace to fill in).
FormFactories DialogFormFactories();

}  // namespace sorvel
