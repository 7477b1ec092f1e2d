#include "gui/foundation/automation_host.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>

namespace sorvel {
namespace {

std::atomic<int> g_objects{0};
std::atomic<int> g_calls{0};
// Grows with every object made and call started, so that one that came and
// went between two looks still counts as activity.
std::atomic<unsigned> g_activity{0};
bool g_running = false;

bool Idle() { return g_objects.load() == 0 && g_calls.load() == 0; }

// One less, never below 0 (an end without a start is ignored).
void CountDown(std::atomic<int>& count) {
  int value = count.load();
  while (value > 0 && !count.compare_exchange_weak(value, value - 1)) {
  }
}

}  // namespace

bool IsAutomationStart(const QStringList& arguments) {
  return arguments.size() == 1 && arguments.first() == QLatin1String(kAutomationSwitch);
}

void AutomationObjectCreated() {
  ++g_objects;
  ++g_activity;
}

void AutomationObjectReleased() { CountDown(g_objects); }

int AutomationObjectCount() { return g_objects.load(); }

void AutomationCallStarted() {
  ++g_calls;
  ++g_activity;
}

void AutomationCallEnded() { CountDown(g_calls); }

int AutomationCallCount() { return g_calls.load(); }

void RunWhileAutomationObjectsLive(int idle_ms, int grace_ms) {
  if (g_running) return;
  if (Idle() && idle_ms <= 0) return;
  g_running = true;
  QEventLoop loop;
  QTimer poll;
  // Objects end and calls return on the workers' threads: the loop looks at
  // the counts a few times a second (and at least ten times a grace period)
  // instead of being told.
  poll.setInterval(std::clamp(std::min(idle_ms > 0 ? idle_ms : grace_ms, grace_ms) / 10, 1, 100));
  bool seen_object = !Idle();
  unsigned activity = g_activity.load();
  QElapsedTimer idle_for;
  idle_for.start();
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    const unsigned now = g_activity.load();
    if (!Idle() || now != activity) {
      activity = now;
      seen_object = true;
      idle_for.restart();
      return;
    }
    if (idle_for.elapsed() >= (seen_object ? grace_ms : idle_ms)) loop.quit();
  });
  poll.start();
  loop.exec();
  g_running = false;
}

}  // namespace sorvel
