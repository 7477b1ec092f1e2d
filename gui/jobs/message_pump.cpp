#include "gui/jobs/message_pump.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace sorvel {
namespace {

std::function<void()>& Installed() {
  static std::function<void()> pump;
  return pump;
}

}  // namespace

void PumpMessages() {
  if (Installed()) {
    Installed()();
    return;
  }
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

std::function<void()> InstallMessagePump(std::function<void()> pump) {
  std::function<void()> previous = std::move(Installed());
  Installed() = std::move(pump);
  return previous;
}

}  // namespace sorvel
