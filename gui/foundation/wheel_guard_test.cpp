// The wheel over a combo box that has no focus leaves its choice (the
// window system's wheel then goes on to what holds it, see the main window's
// tests under X); with the focus the box takes the wheel.
#include "gui/foundation/wheel_guard.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace sorvel {
namespace {

// One notch of the wheel over the middle of `widget`, as the window system sends it.
void Notch(QWidget* widget, int delta) {
  const QPointF at = QRectF(widget->rect()).center();
  QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(widget, &event);
}

TEST(WheelGuardTest, UnfocusedBoxesKeepTheirChoiceFocusedOnesTakeTheWheel) {
  WheelGuard::Install();
  WheelGuard::Install();  // once only
  QScrollArea area;
  auto* page = new QWidget;
  auto* column = new QVBoxLayout(page);
  auto* box = new QComboBox;
  box->addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
  box->setCurrentIndex(1);
  auto* other = new QComboBox;
  column->addWidget(box);
  column->addWidget(other);
  column->addSpacing(3000);
  area.setWidget(page);
  area.resize(300, 200);
  area.show();
  other->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(box->focusPolicy(), Qt::StrongFocus);  // the wheel gives no focus

  Notch(box, -120);
  Notch(box, 120);
  Notch(box, -120);
  EXPECT_EQ(box->currentIndex(), 1);
  EXPECT_FALSE(box->hasFocus());

  box->setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(box->hasFocus());
  Notch(box, -120);
  EXPECT_EQ(box->currentIndex(), 2);
}

}  // namespace
}  // namespace sorvel
