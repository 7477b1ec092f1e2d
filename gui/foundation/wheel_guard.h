// The mouse wheel changes a choice only where the user has put the focus: a
// combo box or a number box that the pointer merely passes over while the
// window scrolls keeps its value, and the wheel goes on to what holds it.
// One filter for the whole application, installed by the program (and by
// the test programs, so that every form is tested as it is used).
#pragma once

#include <QObject>

namespace sorvel {

class WheelGuard final : public QObject {
 public:
  explicit WheelGuard(QObject* parent = nullptr) : QObject(parent) {}

  // Installs one guard on the running application (once; later calls do nothing).
  static void Install();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace sorvel
