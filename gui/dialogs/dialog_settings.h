// Dialog state in the per-user settings store: one group per form, one key per
// control, values as text (the chosen text of a combo box, "1" or "0" for a
// check box). The store is the program's per-user INI file, the one that also
// keeps the per-drive settings.
#pragma once

#include <QString>

namespace sorvel {

// The stored text of `key` of `form_name`, `fallback` when nothing is stored.
QString GetDialogSetting(const QString& form_name, const QString& key, const QString& fallback = QString());
// Stores `value` under `key` of `form_name` and writes the store at once.
void SaveDialogSetting(const QString& form_name, const QString& key, const QString& value);

}  // namespace sorvel
