// Watches the events of one widget and hands each to its handlers first,
// which may keep it from reaching the widget.
#pragma once

#include <QObject>
#include <QPointer>

class QEvent;
class QWidget;

namespace sorvel {

class ExtendEvent final : public QObject {
  Q_OBJECT
 public:
  explicit ExtendEvent(QObject* parent = nullptr);
  ~ExtendEvent() override;

  // The watched widget; null when none.
  QWidget* hWnd() const { return window_; }
  // Watches `window`, after ending the watch of an earlier one. Null only ends it.
  void setHWnd(QWidget* window);
  bool IsSubClass() const { return is_subclass_; }
  // Ends the watch; the widget gets its events directly again.
  void UnHook();

 signals:
  // Raised for every event of the watched widget, WindowProc first. A handler
  // of WindowProcEx that sets *cancel keeps the event from the widget, which
  // then counts as handled. The widget's destruction raises neither and ends
  // the watch.
  void WindowProc(QEvent* event);
  void WindowProcEx(QEvent* event, bool* cancel);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> window_;
  QMetaObject::Connection destroyed_;
  bool is_subclass_ = false;
};

}  // namespace sorvel
