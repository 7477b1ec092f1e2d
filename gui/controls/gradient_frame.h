// A container surface painted with a two-part linear gradient between two
// colours, optionally animated: the title band of the job dialogs and the
// background of the about box. Child widgets are drawn above the gradient.
#pragma once

#include <QFrame>
#include <QTimer>
#include <optional>
#include <vector>

#include "gui/controls/back_buffer.h"
#include "gui/controls/color.h"
#include "gui/controls/property_bag.h"

namespace sorvel {

// One box of equal colour along the gradient's direction: device pixels
// [begin, end) across the whole other dimension.
struct GradientRun {
  int begin = 0;
  int end = 0;
  OleColor color = 0;  // &H00BBGGRR
  friend bool operator==(const GradientRun&, const GradientRun&) = default;
};

class GradientFrame : public QFrame {
  Q_OBJECT

 public:
  explicit GradientFrame(QWidget* parent = nullptr);

  OleColor StartColor() const { return start_color_; }
  void setStartColor(OleColor color);
  OleColor EndColor() const { return end_color_; }
  void setEndColor(OleColor color);
  // 1: colour varies along the width; 2: along the height; other: draws nothing.
  qint32 Orientation() const { return orientation_; }
  void setOrientation(qint32 orientation);
  qint32 BorderStyle() const { return border_style_; }
  void setBorderStyle(qint32 border_style);
  bool Enabled() const { return isEnabled(); }
  // Turning point of the static gradient in twips from the left or top edge.
  qint32 Position() const { return position_; }
  void setPosition(qint32 position);
  // Milliseconds between animation ticks; below 1 stops the animation.
  qint32 AnimationWait() const { return tmrAnimation_->interval(); }
  void setAnimationWait(qint32 wait);
  qint32 AnimationScale() const { return animation_scale_; }
  void setAnimationScale(qint32 scale) { animation_scale_ = scale; }

  QTimer* tmrAnimation() const { return tmrAnimation_; }

  // Values of a newly placed instance.
  void initProperties();
  void readProperties(const PropertyBag& bag);
  void writeProperties(PropertyBag& bag) const;

  // The boxes that paint the gradient over `extent` device pixels: colourB at
  // the near edge rising to colourA at `position`, falling back to colourB at
  // the far edge. Nothing for an orientation other than 1 or 2 (the surface
  // is then left as it was). Colours are resolved against `palette`.
  static std::optional<std::vector<GradientRun>> DrawGradient(OleColor color_a, OleColor color_b, int orientation,
                                                              int position, int extent, const QPalette& palette);

  // One animation step, as the timer runs it.
  void AnimationTick();

  // The picture as drawn (device pixels of the inner area).
  const QImage& picture() const { return buffer_.image(); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void RedrawStatic();
  void Paint(OleColor color_a, OleColor color_b, int position_pixels);
  int ExtentPixels() const;
  int TwipsToDevicePixels(qint32 twips) const;

  OleColor start_color_ = 0;
  OleColor end_color_ = 0;
  qint32 orientation_ = 0;
  qint32 border_style_ = 0;
  qint32 position_ = 0;
  qint32 animation_scale_ = 0;

  bool swapped_ = false;
  qint32 animation_position_ = 0;
  OleColor color_a_ = 0;
  OleColor color_b_ = 0;

  QTimer* tmrAnimation_;
  BackBuffer buffer_;
};

}  // namespace sorvel
