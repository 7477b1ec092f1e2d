// A PowerBackend for tests: records inhibitor calls and power actions and
// never reaches the real logind; an action answers `accept_actions` (refused
// unless a test says otherwise). Installs itself for its lifetime.
#pragma once

#include <QString>
#include <QStringList>

#include "gui/foundation/power_backend.h"

namespace sorvel::testing {

class RecordingPowerBackend final : public PowerBackend {
 public:
  RecordingPowerBackend() : previous_(InstallPowerBackend(this)) {}
  ~RecordingPowerBackend() override { InstallPowerBackend(previous_); }
  RecordingPowerBackend(const RecordingPowerBackend&) = delete;
  RecordingPowerBackend& operator=(const RecordingPowerBackend&) = delete;

  bool AcquireInhibitor(const QString& what, const QString&) override {
    calls << QStringLiteral("acquire ") + what;
    held = true;
    return true;
  }
  void ReleaseInhibitor() override {
    calls << QStringLiteral("release");
    held = false;
  }
  bool Suspend() override { return Refuse("suspend"); }
  bool Hibernate() override { return Refuse("hibernate"); }
  bool PowerOff() override { return Refuse("poweroff"); }
  bool Reboot() override { return Refuse("reboot"); }

  int Count(const QString& prefix) const {
    int n = 0;
    for (const QString& call : calls) n += call.startsWith(prefix) ? 1 : 0;
    return n;
  }

  QStringList calls;
  bool held = false;
  bool accept_actions = false;

 private:
  bool Refuse(const char* action) {
    calls << QString::fromLatin1(action);
    return accept_actions;
  }
  PowerBackend* previous_;
};

}  // namespace sorvel::testing
