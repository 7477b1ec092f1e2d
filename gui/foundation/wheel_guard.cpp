#include "gui/foundation/wheel_guard.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace sorvel {
namespace {

// The controls whose value a turn of the wheel changes.
bool TakesWheelAsChange(const QObject* object) {
  return qobject_cast<const QComboBox*>(object) != nullptr || qobject_cast<const QAbstractSpinBox*>(object) != nullptr;
}

}  // namespace

void WheelGuard::Install() {
  static QPointer<WheelGuard> installed;
  if (installed || qApp == nullptr) return;
  installed = new WheelGuard(qApp);
  qApp->installEventFilter(installed);
}

bool WheelGuard::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Polish && TakesWheelAsChange(watched)) {
    // The wheel gives no focus: a control is chosen by click or Tab only.
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->focusPolicy() == Qt::WheelFocus) widget->setFocusPolicy(Qt::StrongFocus);
  } else if (event->type() == QEvent::Wheel && TakesWheelAsChange(watched) &&
             !static_cast<QWidget*>(watched)->hasFocus()) {
    // Ignored and handled: the application passes the wheel on to the parent.
    event->ignore();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace sorvel
