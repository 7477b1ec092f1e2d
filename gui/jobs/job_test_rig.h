// The rig of the job tests: a scratch folder, the per-user settings there, the
// built engines, an emulated drive mapped as D: and opened through the device
// engine binding, and a recorder of the job's events.
#pragma once

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/jobs/disc_job.h"
#include "gui/model/device_setting.h"
#include "gui/model/engine_library.h"
#include "gui/model/model_test_util.h"
#include "gui/model/trelin.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/emulated_drive_set.h"
#include "testing/gui/user_settings_folder.h"
#include "testing/scoped_env.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

// The 2,048 bytes of user data of every raw Mode 1 sector of `raw`: the ISO
// image a CD read back as raw sectors holds.
inline std::string UserDataOfRawImage(const std::string& raw) {
  std::string user;
  for (size_t at = 0; at + 2352 <= raw.size(); at += 2352) user += raw.substr(at + 16, 2048);
  return user;
}

// Every StatusChange as "type:text" and the Progress events of a job.
class JobRecorder {
 public:
  explicit JobRecorder(DiscJob& job) {
    status_ = QObject::connect(&job, &DiscJob::StatusChange, [this](int32_t type, const QString& text) {
      lines << QStringLiteral("%1:%2").arg(type).arg(text);
    });
    progress_ = QObject::connect(&job, &DiscJob::Progress, [this](int32_t value, int32_t total) {
      ++progress;
      last_value = value;
      last_total = total;
    });
  }
  ~JobRecorder() {
    QObject::disconnect(status_);
    QObject::disconnect(progress_);
  }
  JobRecorder(const JobRecorder&) = delete;
  JobRecorder& operator=(const JobRecorder&) = delete;
  bool Has(const QString& line) const { return lines.contains(line); }
  QStringList WithPrefix(const QString& prefix) const {
    QStringList found;
    for (const QString& line : lines) {
      if (line.startsWith(prefix)) found << line;
    }
    return found;
  }
  QStringList lines;
  int progress = 0;
  int32_t last_value = 0;
  int32_t last_total = 0;

 private:
  QMetaObject::Connection status_;
  QMetaObject::Connection progress_;
};

// Stores drive settings of the drive open in `device` as the parameter dialogs would.
template <typename Change>
void ChangeDriveSettings(Trelin& device, Change&& change) {
  DeviceSetting setting;
  setting.LoadSetting(device);
  change(setting);
  setting.SaveSetting();
}

// Emulated drives mapped as D:, E:, ... in order, each opened through the
// device engine binding.
class DrivesRig {
 public:
  // `settings` per drive, e.g. "image=/x/disc.cue" or "medium=cd-r".
  DrivesRig(const ScratchDir& dir, const std::vector<std::string>& settings)
      : user_settings_(dir.path() / "config"), drives_(dir, settings) {
    SetEngineLibraryFolder(QFileInfo(Q(BuiltLibraryPath("libtrelin.so"))).path());
    for (size_t i = 0; i < settings.size(); ++i) {
      devices_.push_back(std::make_unique<Trelin>());
      opened_ = devices_.back()->OpenDevice(3 + static_cast<int32_t>(i)) && opened_;
    }
  }
  ~DrivesRig() {
    devices_.clear();
    SetEngineLibraryFolder(QString());
  }
  bool opened() const { return opened_; }
  Trelin& device(size_t i = 0) { return *devices_[i]; }
  const EmulatedDriveFixture& drive(size_t i = 0) const { return drives_.drive(i); }
  template <typename Change>
  void ChangeSettings(Change&& change, size_t i = 0) {
    ChangeDriveSettings(*devices_[i], std::forward<Change>(change));
  }

 private:
  UserSettingsFolder user_settings_;
  EmulatedDriveSet drives_;
  std::vector<std::unique_ptr<Trelin>> devices_;
  bool opened_ = true;
};

// One emulated drive as D:.
class JobRig : public DrivesRig {
 public:
  JobRig(const ScratchDir& dir, const std::string& settings) : DrivesRig(dir, {settings}) {}
};

}  // namespace sorvel::testing
