// Points the per-user settings store (QSettings, INI format, user scope) at a
// scratch folder for one test, and back afterwards.
#pragma once

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <filesystem>

namespace sorvel::testing {

class UserSettingsFolder {
 public:
  explicit UserSettingsFolder(const std::filesystem::path& folder)
      : previous_(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)) {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(folder.string()));
  }
  ~UserSettingsFolder() { QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, previous_); }
  UserSettingsFolder(const UserSettingsFolder&) = delete;
  UserSettingsFolder& operator=(const UserSettingsFolder&) = delete;

 private:
  QString previous_;
};

}  // namespace sorvel::testing
