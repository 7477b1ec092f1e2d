// The scrolling log view of the job dialogs: keeps the newest lines up to a
// limit, scrolls to the newest line on every new one, scrolls by scroll bar
// and wheel, and offers a context menu to save the lines or clear them.
#pragma once

#include <QAction>
#include <QDateTime>
#include <QFrame>
#include <QMenu>
#include <QScrollBar>
#include <QStringList>
#include <functional>

#include "gui/controls/back_buffer.h"
#include "gui/controls/color.h"
#include "gui/controls/property_bag.h"

namespace sorvel {

class ViewBox : public QFrame {
  Q_OBJECT

 public:
  explicit ViewBox(QWidget* parent = nullptr);

  // Line limit; values below 1 are ignored.
  qint16 MaxLine() const { return max_line_; }
  void setMaxLine(qint16 max_line);
  // While true, lines are stored but neither the picture nor the scroll
  // range changes; clearing it redraws from the current scroll position.
  bool Locked() const { return locked_; }
  void setLocked(bool locked);
  QFont Font() const { return font(); }
  OleColor BackColor() const { return back_color_; }
  void setBackColor(OleColor color);
  OleColor ForeColor() const { return fore_color_; }
  void setForeColor(OleColor color);
  qint32 Appearance() const { return appearance_; }
  void setAppearance(qint32 appearance);
  qint32 BorderStyle() const { return border_style_; }
  void setBorderStyle(qint32 border_style);

  // Appends one line, dropping the oldest one at the limit.
  void LineOut(const QString& line);

  // Stored lines, oldest first.
  const QStringList& lines() const { return lines_; }

  QScrollBar* sbLine() const { return sbLine_; }
  QMenu* mnuLog() const { return mnuLog_; }
  QAction* mnuLogSave() const { return mnuLogSave_; }
  QAction* mnuLogClear() const { return mnuLogClear_; }

  void readProperties(const PropertyBag& bag);
  void writeProperties(PropertyBag& bag) const;

  // The source of "now" for the proposed log file name.
  using Clock = std::function<QDateTime()>;
  void setClock(Clock clock) { clock_ = std::move(clock); }
  // The proposed name: year, month, day, hour and then the minute twice (the
  // log files' established "yyyymmddhhmmnn" pattern), with ".log".
  static QString ProposedLogFileName(const QDateTime& now);

  // Lines that fit in the view.
  int VisibleLineCount() const;
  // The picture as drawn (device pixels of the inner area).
  const QImage& picture() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Marks the picture for drawing; DrawIfStale draws it.
  void RedrawLines();
  void DrawIfStale() const;
  void UpdateScrollBar();
  void Layout();
  void Wheel(int delta);
  void SaveLog();
  void ClearLog();

  QStringList lines_;
  qint16 max_line_ = 1024;
  bool locked_ = false;
  OleColor back_color_ = kSysWindow;
  OleColor fore_color_ = kSysWindowText;
  qint32 appearance_ = 1;
  qint32 border_style_ = 1;
  Clock clock_;

  QScrollBar* sbLine_;
  QMenu* mnuLog_;
  QAction* mnuLogSave_;
  QAction* mnuLogClear_;
  // The picture, drawn on demand from the lines.
  mutable BackBuffer buffer_;
  mutable bool stale_ = true;
};

}  // namespace sorvel
