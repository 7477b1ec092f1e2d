#include "testing/gui/screenshot.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>
#include <QWidget>

namespace sorvel::testing {

QString SaveScreenshot(QWidget* widget, const QString& name) {
  if (!widget->isVisible()) widget->show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(widget));
  QTest::qWait(50);
  QApplication::processEvents();
  // Test programs live in build/tests: without the variable the pictures go
  // to build/screenshots, whatever folder the program was started from.
  QString dir = qEnvironmentVariable(
      "SORVEL_SCREENSHOT_DIR", QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../screenshots")));
  QDir().mkpath(dir);
  QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
  QPixmap pixmap = widget->window()->grab();
  if (pixmap.isNull() || !pixmap.save(path, "PNG")) {
    ADD_FAILURE() << "screenshot " << path.toStdString() << " could not be written";
    return {};
  }
  return path;
}

}  // namespace sorvel::testing
