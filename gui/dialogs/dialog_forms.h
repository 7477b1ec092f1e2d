// The disc dialogs that lower layers open through the form factories: the
// insert-disc prompt and the write-image dialog.
#pragma once

#include <QString>

#include "gui/foundation/form_services.h"

class QWidget;

namespace sorvel {

// The factories of the dialogs' forms (main window and layout write dialog
// left empty, for the workspace to fill in).
FormFactories DialogFormFactories();

// Shows the dialog named `form_name` ("DiscWriteForm") modally over `owner`,
// without a file, as the main window's tool menu does. False when the name
// is not one of these dialogs.
bool ShowDialogForm(QWidget* owner, const QString& form_name);

}  // namespace sorvel
