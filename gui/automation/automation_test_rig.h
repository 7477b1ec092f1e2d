// Shared pieces of the automation server's tests: emulated drives mapped as
// D:, E:, ... for this process and the servers it starts, a private bus, and
// the server either as the built program or living in this process.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/automation/automation_service.h"
#include "gui/model/model_test_util.h"
#include "testing/emulated_drive_set.h"
#include "testing/gui/built_engines.h"
#include "testing/gui/dbus_client.h"
#include "testing/gui/private_bus.h"
#include "testing/gui/user_settings_folder.h"
#include "testing/scoped_env.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

// Emulated drives as D:, E:, ... (SORVEL_DRIVES, inherited by started
// programs), the per-user settings in the scratch folder, the built engines.
class AutomationDrives {
 public:
  AutomationDrives(const ScratchDir& dir, const std::vector<std::string>& settings)
      : config_("XDG_CONFIG_HOME", (dir.path() / "config").string()),
        user_settings_(dir.path() / "config"),
        drives_(dir, settings) {}
  const EmulatedDriveFixture& drive(size_t i = 0) const { return drives_.drive(i); }

 private:
  ScopedEnv config_;
  UserSettingsFolder user_settings_;
  EmulatedDriveSet drives_;
  BuiltEngines engines_;
};

// Lets the event loop run (a server in this process answering) until `done`
// holds or `timeout_ms` passed; whether `done` held.
inline bool ServeUntil(const std::function<bool()>& done, int timeout_ms) {
  QDeadlineTimer deadline(timeout_ms);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  return true;
}

inline const QString kServerName = QString::fromLatin1(kAutomationBusName);

// Starts the built program as the automation server on `bus`.
inline bool StartServer(PrivateBus& bus) {
  return bus.StartService(Q(BuiltLibraryPath("sorvel")), {QStringLiteral("--automation")}, kServerName);
}

// The server living in this process on `bus`: it answers while the event
// loop runs (a client in this process calls it with CallRunning, or from a
// script).
class InProcessServer {
 public:
  explicit InProcessServer(PrivateBus& bus) : service_(bus.Connect(QStringLiteral("in-process-server"))) {
    published_ = service_.Publish();
  }
  bool published() const { return published_; }
  AutomationService& service() { return service_; }

 private:
  AutomationService service_;
  bool published_ = false;
};

}  // namespace sorvel::testing
