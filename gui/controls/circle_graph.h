// A ring gauge: how far a value lies between a minimum and a maximum, as a
// sector in one colour against the rest of the ring in another, with the
// percentage in bold in the hole.
#pragma once

#include <QWidget>

#include "gui/controls/back_buffer.h"
#include "gui/controls/color.h"
#include "gui/controls/property_bag.h"

namespace sorvel {

// The percentage of `value` in min..max, rounded half to even.
int CircleGraphPercentage(qint32 min, qint32 max, qint32 value);
// Where the unfilled sector ends, in whole degrees counter-clockwise from
// 3 o'clock, for a percentage of 0 to 100.
int CircleGraphAngle(int percentage);

class CircleGraph : public QWidget {
  Q_OBJECT

 public:
  explicit CircleGraph(QWidget* parent = nullptr);

  // Accepted only within Min..Max and when it differs; then drawn.
  qint32 Value() const { return value_; }
  void setValue(qint32 value);
  // Accepted only below Max; the value becomes the new minimum (no drawing).
  qint32 Min() const { return min_; }
  void setMin(qint32 min);
  // Accepted only above Min; the value becomes the minimum (no drawing).
  qint32 Max() const { return max_; }
  void setMax(qint32 max);
  OleColor ForeColor() const { return fore_color_; }
  void setForeColor(OleColor color);
  OleColor BackColor() const { return back_color_; }
  void setBackColor(OleColor color);
  OleColor GraphTrueColor() const { return true_color_; }
  void setGraphTrueColor(OleColor color);
  OleColor GraphFalseColor() const { return false_color_; }
  void setGraphFalseColor(OleColor color);

  BufferedSurface* picMain() const { return picMain_; }
  // Point size of the percentage text found by the last fitting.
  float cachedFontSize() const { return cached_font_size_; }

  // Values of a newly placed instance.
  void initProperties();
  void readProperties(const PropertyBag& bag);
  void writeProperties(PropertyBag& bag) const;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void RedrawGraph();
  void DrawGraph(int percentage, bool fitting);

  qint32 max_ = 0;
  qint32 min_ = 0;
  qint32 value_ = 0;
  OleColor fore_color_ = 0;
  OleColor back_color_ = 0;
  OleColor true_color_ = 0;
  OleColor false_color_ = 0;
  float cached_font_size_ = 0;

  BufferedSurface* picMain_;
};

}  // namespace sorvel
