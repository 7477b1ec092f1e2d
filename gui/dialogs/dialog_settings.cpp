#include "gui/dialogs/dialog_settings.h"

#include <QSettings>

#include "gui/model/device_setting.h"

namespace sorvel {
namespace {

// Form and control names are plain identifiers; the group name goes through the
// same escaping as a drive's section so that no text can split it.
QString Key(const QString& form_name, const QString& key) {
  return DeviceSetting::SectionName(form_name) + QLatin1Char('/') + DeviceSetting::SectionName(key);
}

}  // namespace

QString GetDialogSetting(const QString& form_name, const QString& key, const QString& fallback) {
  // The store of DeviceSetting: $XDG_CONFIG_HOME/sorvel/user-settings.ini.
  QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("sorvel"), QStringLiteral("user-settings"));
  const QVariant value = store.value(Key(form_name, key));
  return value.isValid() ? value.toString() : fallback;
}

void SaveDialogSetting(const QString& form_name, const QString& key, const QString& value) {
  QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("sorvel"), QStringLiteral("user-settings"));
  store.setValue(Key(form_name, key), value);
  store.sync();
}

}  // namespace sorvel
