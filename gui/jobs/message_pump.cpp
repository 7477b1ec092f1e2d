#include "gui/jobs/message_pump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <chrono>

namespace sorvel {
namespace {

std::function<void()>& Installed() {
  static std::function<void()> pump;
  return pump;
}

}  // namespace

void PumpMessages() {
  // A job running off the GUI thread (an automation burn on its worker) has
  // no window to keep alive, and must not run the GUI thread's events.
  const QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() != app->thread()) return;
  if (Installed()) {
    Installed()();
    return;
  }
  // A job calls this after every sector, tens of thousands of times a second;
  // the window system needs a turn only every few milliseconds to stay
  // responsive, so turns closer together than that are skipped.
  using Clock = std::chrono::steady_clock;
  static Clock::time_point last;
  const Clock::time_point now = Clock::now();
  if (now - last < std::chrono::milliseconds(4)) return;
  last = now;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::function<void()> InstallMessagePump(std::function<void()> pump) {
  std::function<void()> previous = std::move(Installed());
  Installed() = std::move(pump);
  return previous;
}

}  // namespace sorvel
