#include "gui/foundation/extend_event.h"

#include <QEvent>
#include <QWidget>

namespace sorvel {

ExtendEvent::ExtendEvent(QObject* parent) : QObject(parent) {}

ExtendEvent::~ExtendEvent() { UnHook(); }

void ExtendEvent::setHWnd(QWidget* window) {
  UnHook();
  if (window == nullptr) return;
  is_subclass_ = true;
  window_ = window;
  window->installEventFilter(this);
  destroyed_ = connect(window, &QObject::destroyed, this, [this] { UnHook(); });
}

void ExtendEvent::UnHook() {
  if (window_ != nullptr) window_->removeEventFilter(this);
  disconnect(destroyed_);
  window_ = nullptr;
  is_subclass_ = false;
}

bool ExtendEvent::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_ || !is_subclass_) return QObject::eventFilter(watched, event);
  // A handler may end the watch or delete the widget; later handlers then
  // see nothing more of it.
  QPointer<ExtendEvent> self(this);
  emit WindowProc(event);
  if (self == nullptr || watched != window_) return false;
  bool cancel = false;
  emit WindowProcEx(event, &cancel);
  if (cancel) {
    event->accept();
    return true;
  }
  return false;
}

}  // namespace sorvel
