#include "gui/foundation/automation_host.h"

#include <QEventLoop>
#include <QTimer>

namespace sorvel {
namespace {

int g_objects = 0;
QEventLoop* g_loop = nullptr;

}  // namespace

bool IsAutomationStart(const QStringList& arguments) {
  return arguments.size() == 1 && arguments.first() == QLatin1String(kAutomationSwitch);
}

void AutomationObjectCreated() { ++g_objects; }

void AutomationObjectReleased() {
  if (g_objects > 0) --g_objects;
  if (g_objects == 0 && g_loop != nullptr) g_loop->quit();
}

int AutomationObjectCount() { return g_objects; }

void RunWhileAutomationObjectsLive(int idle_ms) {
  if (g_loop != nullptr) return;
  QEventLoop loop;
  QTimer idle;
  idle.setSingleShot(true);
  idle.setInterval(idle_ms);
  // Only a stretch without any object ends the wait; an object that lives
  // long past the first interval keeps the loop running.
  QObject::connect(&idle, &QTimer::timeout, &loop, [&] {
    if (g_objects == 0) loop.quit();
  });
  idle.start();
  if (g_objects == 0 && idle_ms <= 0) return;
  g_loop = &loop;
  loop.exec();
  g_loop = nullptr;
}

}  // namespace sorvel
