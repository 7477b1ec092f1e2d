#include "gui/foundation/form_services.h"

namespace sorvel {
namespace {

const FormFactories g_none;
const FormFactories* g_current = nullptr;

}  // namespace

const FormFactories& CurrentFormFactories() { return g_current != nullptr ? *g_current : g_none; }

const FormFactories* InstallFormFactories(const FormFactories* factories) {
  const FormFactories* previous = g_current;
  g_current = factories;
  return previous;
}

bool ShowIsReadyForm(Trelin& drive, bool writable) {
  const auto& make = CurrentFormFactories().is_ready_form;
  if (!make) return false;
  std::unique_ptr<InsertDiscPrompt> prompt = make();
  return prompt != nullptr && prompt->ShowOpen(drive, writable);
}

int ShowWellWriteForm(Tazol& layout, const QString& title, const QString& drive_name,
                      const std::function<void(QWidget*)>& place) {
  const auto& make = CurrentFormFactories().well_write_form;
  if (!make) return 0;
  std::unique_ptr<LayoutWriteDialog> dialog = make();
  if (dialog == nullptr) return 0;
  if (place) place(dialog->Form());
  return dialog->ShowOpen(layout, title, drive_name);
}

}  // namespace sorvel
