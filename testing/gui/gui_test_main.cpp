// Test main of the GUI test programs: one QApplication for the whole run,
// headless unless the environment chose a platform (the screenshot run uses
// xcb under Xvfb). Fusion style, so pixels do not depend on the desktop; the
// program's wheel guard and icon, so that forms behave and look as in the
// program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <cstdlib>

#include "gui/foundation/program_icon.h"
#include "gui/foundation/wheel_guard.h"

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QApplication::setPalette(QApplication::style()->standardPalette());
  // As the program: the wheel changes no control without the focus.
  sorvel::WheelGuard::Install();
  sorvel::SetProgramIcon();
  return RUN_ALL_TESTS();
}
