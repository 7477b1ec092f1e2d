// A container that divides its area between its two child widgets (panes)
// with a bar the user drags. Orientation 0: panes above and below each other;
// any other value: side by side. Positions and sizes are in twips.
#pragma once

#include <QFrame>
#include <QPointer>
#include <QWidget>

#include "gui/controls/property_bag.h"

namespace sorvel {

class Splitter : public QWidget {
  Q_OBJECT

 public:
  explicit Splitter(QWidget* parent = nullptr);

  qint32 Orientation() const { return orientation_; }
  void setOrientation(qint32 orientation);
  // Centre line of the bar from the top (orientation 0) or the left edge.
  float SplitterPoint() const { return splitter_point_; }
  void setSplitterPoint(float point);
  // Thickness of the bar; also the smallest point and the far margin.
  float SplitterSize() const { return splitter_size_; }
  void setSplitterSize(float size);

  QWidget* imgSplitter() const { return imgSplitter_; }
  QFrame* speBox() const { return speBox_; }
  // The upper or left pane and the other one (null until the control was
  // shown with exactly two children).
  QWidget* pane1() const { return pane1_; }
  QWidget* pane2() const { return pane2_; }

  // Values of a newly placed instance.
  void initProperties();
  void readProperties(const PropertyBag& bag);
  void writeProperties(PropertyBag& bag) const;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ArrangePanes();
  void ChoosePanes();
  void UpdateBarCursor();
  // The pointer's position along the drag direction in twips from the
  // splitter's near edge.
  double PointerAlongAxis(QPointF bar_local) const;
  QRect TwipsRect(double left, double top, double width, double height) const;

  qint32 orientation_ = 0;
  float splitter_point_ = 0;
  float splitter_size_ = 0;
  QPointer<QWidget> pane1_;
  QPointer<QWidget> pane2_;
  bool dragging_ = false;
  double grab_offset_ = 0;  // twips from the bar's near edge to the pointer at the press
  float last_drag_point_ = 0;
  bool busy_ = false;

  QWidget* imgSplitter_;
  QFrame* speBox_;
};

}  // namespace sorvel
