// Screenshots of forms for people to look at: build/screenshots/<FormName>.png.
#pragma once

#include <QString>

class QWidget;

namespace sorvel::testing {

// Shows `widget` (when hidden), lets it paint, and writes it as
// <SORVEL_SCREENSHOT_DIR or the build's screenshots folder>/<name>.png. Returns the file's path,
// or "" (with a test failure) when it could not be written.
QString SaveScreenshot(QWidget* widget, const QString& name);

}  // namespace sorvel::testing
