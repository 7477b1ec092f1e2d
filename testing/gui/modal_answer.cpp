#include "testing/gui/modal_answer.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace sorvel::testing {
namespace {

void Poll(std::shared_ptr<std::function<void(QWidget*)>> act, std::shared_ptr<QElapsedTimer> clock,
          int timeout_ms) {
  QWidget* modal = QApplication::activePopupWidget();
  if (modal == nullptr) modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal->isVisible()) {
    (*act)(modal);
    return;
  }
  if (clock->elapsed() > timeout_ms) {
    ADD_FAILURE() << "no modal dialog was shown within " << timeout_ms << " ms";
    return;
  }
  QTimer::singleShot(10, [act, clock, timeout_ms] { Poll(act, clock, timeout_ms); });
}

}  // namespace

void WhenModalShown(std::function<void(QWidget*)> act, int timeout_ms) {
  auto shared = std::make_shared<std::function<void(QWidget*)>>(std::move(act));
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QTimer::singleShot(0, [shared, clock, timeout_ms] { Poll(shared, clock, timeout_ms); });
}

}  // namespace sorvel::testing
