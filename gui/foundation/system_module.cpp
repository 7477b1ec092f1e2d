#include "gui/foundation/system_module.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>

#include "gui/foundation/power_backend.h"

namespace sorvel {
namespace {

uint32_t g_execution_state = kEsContinuous;

}  // namespace

uint32_t SetExecutionState(uint32_t flags) {
  PowerBackend& backend = CurrentPowerBackend();
  const uint32_t previous = g_execution_state;
  const bool keep_awake = (flags & (kEsSystemRequired | kEsDisplayRequired)) != 0;
  if (keep_awake) {
    if (!backend.AcquireInhibitor(QStringLiteral("sleep:idle"), QStringLiteral("ディスク処理中"))) return 0;
  } else if ((flags & kEsContinuous) != 0) {
    backend.ReleaseInhibitor();
  }
  if ((flags & kEsContinuous) != 0) g_execution_state = flags;
  return previous;
}

bool ShutdownSystem(int32_t flags) {
  PowerBackend& backend = CurrentPowerBackend();
  const int32_t action = flags & ~kPowerActionForce;
  if ((action & (kPowerActionStandby | kPowerActionHibernate)) != 0) {
    if ((action & ~(kPowerActionStandby | kPowerActionHibernate)) != 0) return false;
    return (action & kPowerActionStandby) != 0 ? backend.Suspend() : backend.Hibernate();
  }
  switch (action) {
    case kPowerActionShutdown:
    case kPowerActionPowerOff:
    case kPowerActionShutdown | kPowerActionPowerOff:
      return backend.PowerOff();
    case kPowerActionReboot:
      return backend.Reboot();
    default:
      return false;
  }
}

bool RunProcess(bool no_wait, const QString& command_line, int32_t /*creation_flags*/) {
  const QStringList words = QProcess::splitCommand(command_line.trimmed());
  if (words.isEmpty()) return false;
  const QString program = words.first();
  const QStringList arguments = words.mid(1);
  if (no_wait) return QProcess::startDetached(program, arguments);
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForStarted(-1)) return false;
  while (!process.waitForFinished(10)) {
    if (process.state() == QProcess::NotRunning) break;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

void RunCommand(bool no_wait, const QString& command_line) { RunProcess(no_wait, command_line, 0); }

}  // namespace sorvel
