// The rig of the job tests: a scratch folder, the per-user settings there, the
// built engines, an emulated drive mapped as D: and opened through the device
// engine binding, and a recorder of the job's events.
#pragma once

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/jobs/disc_job.h"
#include "gui/model/device_setting.h"
#include "gui/model/engine_library.h"
#include "gui/model/trelin.h"
#include "testing/emulated_drive_fixture.h"
#include "testing/gui/user_settings_folder.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

inline QString Q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

class ScopedDriveMap {
 public:
  explicit ScopedDriveMap(const std::string& map) {
    const char* old = std::getenv("SORVEL_DRIVES");
    if (old != nullptr) previous_ = old;
    had_ = old != nullptr;
    setenv("SORVEL_DRIVES", map.c_str(), 1);
  }
  ~ScopedDriveMap() {
    if (had_) {
      setenv("SORVEL_DRIVES", previous_.c_str(), 1);
    } else {
      unsetenv("SORVEL_DRIVES");
    }
  }

 private:
  std::string previous_;
  bool had_ = false;
};

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

class JobRig {
 public:
  // `settings` of the emulated drive, e.g. "image=/x/disc.cue" or "medium=cd-r".
  explicit JobRig(const ScratchDir& dir, const std::string& settings, const std::string& name = "drive")
      : user_settings_(dir.path() / "config"), drive_(dir, settings, name), map_("D:=" + drive_.device()) {
    SetEngineLibraryFolder(QFileInfo(Q(BuiltLibraryPath("libtrelin.so"))).path());
    device_ = std::make_unique<Trelin>();
    opened_ = device_->OpenDevice(3);
  }
  ~JobRig() {
    device_.reset();
    SetEngineLibraryFolder(QString());
  }
  bool opened() const { return opened_; }
  Trelin& device() { return *device_; }
  const EmulatedDriveFixture& drive() const { return drive_; }

  // Stores drive settings as the parameter dialogs would.
  template <typename Change>
  void ChangeSettings(Change&& change) {
    DeviceSetting setting;
    setting.LoadSetting(*device_);
    change(setting);
    setting.SaveSetting();
  }

 private:
  UserSettingsFolder user_settings_;
  EmulatedDriveFixture drive_;
  ScopedDriveMap map_;
  std::unique_ptr<Trelin> device_;
  bool opened_ = false;
};

}  // namespace sorvel::testing
