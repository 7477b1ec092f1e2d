#include "gui/dialogs/dialog_forms.h"

#include "gui/dialogs/about_information_form.h"
#include "gui/dialogs/disc_analyze_form.h"
#include "gui/dialogs/disc_copy_form.h"
#include "gui/dialogs/disc_erase_form.h"
#include "gui/dialogs/disc_read_form.h"
#include "gui/dialogs/disc_write_form.h"
#include "gui/dialogs/is_ready_form.h"
#include "gui/dialogs/property_configuration_form.h"
#include "gui/dialogs/track_ripping_form.h"
#include "gui/dialogs/well_write_form.h"

namespace sorvel {

FormFactories DialogFormFactories() {
  FormFactories forms;
  forms.disc_write_form = [] { return std::make_unique<DiscWriteDialog>(); };
  forms.well_write_form = [] { return std::make_unique<WellWriteDialog>(); };
  forms.is_ready_form = [] { return std::make_unique<IsReadyPrompt>(); };
  return forms;
}

namespace {

// Shows a job dialog modally and unloads it (storing its settings) when it closes.
template <typename Form>
void ShowJobForm(QWidget* owner) {
  Form form(owner);
  form.exec();
  form.Unload();
}

}  // namespace

bool ShowDialogForm(QWidget* owner, const QString& form_name) {
  if (form_name == QLatin1String("DiscWriteForm")) {
    DiscWriteForm form(owner);
    form.ShowOpen(QString());
  } else if (form_name == QLatin1String("DiscReadForm")) {
    ShowJobForm<DiscReadForm>(owner);
  } else if (form_name == QLatin1String("DiscEraseForm")) {
    ShowJobForm<DiscEraseForm>(owner);
  } else if (form_name == QLatin1String("DiscCopyForm")) {
    ShowJobForm<DiscCopyForm>(owner);
  } else if (form_name == QLatin1String("DiscAnalyzeForm")) {
    DiscAnalyzeForm form(owner);  // unloads itself when it closes
    form.exec();
  } else if (form_name == QLatin1String("TrackRippingForm")) {
    TrackRippingForm form(owner);
    form.exec();
  } else if (form_name == QLatin1String("PropertyConfigurationForm")) {
    PropertyConfigurationForm::ShowModal(owner);
  } else if (form_name == QLatin1String("AboutInformationForm")) {
    AboutInformationForm::ShowModal(owner);
  } else {
    return false;
  }
  return true;
}

}  // namespace sorvel
