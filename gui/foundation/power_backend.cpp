#include "gui/foundation/power_backend.h"

#include "gui/foundation/logind_power_backend.h"

namespace sorvel {
namespace {

PowerBackend* g_backend = nullptr;

}  // namespace

PowerBackend* InstallPowerBackend(PowerBackend* backend) {
  PowerBackend* previous = g_backend;
  g_backend = backend;
  return previous;
}

PowerBackend& CurrentPowerBackend() {
  if (g_backend != nullptr) return *g_backend;
  static LogindPowerBackend system_bus(QDBusConnection::systemBus());
  return system_bus;
}

}  // namespace sorvel
