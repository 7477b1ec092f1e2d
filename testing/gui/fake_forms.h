// Doubles of the forms that lower layers open (main window, layout write
// dialog, write-image dialog, insert-disc prompt): installed on construction,
// they record every call and answer from a script. The main window is a real,
// empty top-level widget, so that it counts among the open windows.
#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <deque>
#include <functional>

#include "gui/foundation/form_services.h"

namespace sorvel::testing {

class FakeForms {
 public:
  FakeForms();
  ~FakeForms();
  FakeForms(const FakeForms&) = delete;
  FakeForms& operator=(const FakeForms&) = delete;

  // What happened, in order: "main:show", "main:load <file>", "main:unload",
  // "write-image <file>", "well-write <title>|<drive>", "is-ready <writable>".
  const QStringList& calls() const { return calls_; }

  // Runs when the main window has been shown (for instance to close it).
  std::function<void(QWidget* window)> on_main_shown;
  // Runs while the write-image dialog is "open".
  std::function<void(const QString& file)> on_write_image;
  // The main window while it exists.
  QWidget* main_window() const { return main_window_; }

  bool project_loads = true;
  void QueueWellWriteResult(int discs) { well_write_results_.push_back(discs); }
  void QueueIsReadyResult(bool ready) { is_ready_results_.push_back(ready); }

 private:
  class MainForm;
  class WellWriteForm;
  class DiscWriteForm;
  class IsReadyForm;

  FormFactories factories_;
  const FormFactories* previous_;
  QStringList calls_;
  QPointer<QWidget> main_window_;
  std::deque<int> well_write_results_;
  std::deque<bool> is_ready_results_;
};

}  // namespace sorvel::testing
