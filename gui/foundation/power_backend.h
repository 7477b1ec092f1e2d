// What the power and keep-awake actions need of the operating system, behind
// an interface: systemd-logind on the system bus by default, a fake in tests.
#pragma once

#include <QString>
#include <memory>

namespace sorvel {

class PowerBackend {
 public:
  virtual ~PowerBackend() = default;
  // Takes a "block" inhibitor for `what` ("sleep:idle"); true when one is held.
  virtual bool AcquireInhibitor(const QString& what, const QString& why) = 0;
  virtual void ReleaseInhibitor() = 0;
  virtual bool Suspend() = 0;
  virtual bool Hibernate() = 0;
  virtual bool PowerOff() = 0;
  virtual bool Reboot() = 0;
};

// Installs `backend` (not owned); null restores logind on the system bus.
// Returns the previous one.
PowerBackend* InstallPowerBackend(PowerBackend* backend);
PowerBackend& CurrentPowerBackend();

}  // namespace sorvel
