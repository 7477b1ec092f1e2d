// Power actions and inhibitors through org.freedesktop.login1.Manager.
#pragma once

#include <QDBusConnection>
#include <QString>

#include "gui/foundation/power_backend.h"

namespace sorvel {

class LogindPowerBackend final : public PowerBackend {
 public:
  // `connection` is the bus logind is reached on (the system bus normally).
  explicit LogindPowerBackend(QDBusConnection connection);
  ~LogindPowerBackend() override;
  LogindPowerBackend(const LogindPowerBackend&) = delete;
  LogindPowerBackend& operator=(const LogindPowerBackend&) = delete;

  bool AcquireInhibitor(const QString& what, const QString& why) override;
  void ReleaseInhibitor() override;
  bool Suspend() override;
  bool Hibernate() override;
  bool PowerOff() override;
  bool Reboot() override;

 private:
  bool CallAction(const char* method);

  QDBusConnection connection_;
  int inhibitor_fd_ = -1;
};

}  // namespace sorvel
