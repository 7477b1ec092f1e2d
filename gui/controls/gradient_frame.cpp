#include "gui/controls/gradient_frame.h"

#include <QPainter>
#include <QResizeEvent>
#include <cmath>

#include "gui/controls/frame_style.h"
#include "gui/controls/twips.h"

namespace sorvel {
namespace {

int Channel(double value) { return static_cast<int>(std::nearbyint(value)); }

}  // namespace

GradientFrame::GradientFrame(QWidget* parent) : QFrame(parent), tmrAnimation_(new QTimer(this)) {
  tmrAnimation_->setObjectName(QStringLiteral("tmrAnimation"));
  tmrAnimation_->setInterval(0);
  connect(tmrAnimation_, &QTimer::timeout, this, &GradientFrame::AnimationTick);
  setAttribute(Qt::WA_OpaquePaintEvent);
  ApplyFrameStyle(this, 0, 1);
}

std::optional<std::vector<GradientRun>> GradientFrame::DrawGradient(OleColor color_a, OleColor color_b, int orientation,
                                                                    int position, int extent, const QPalette& palette) {
  if (orientation != 1 && orientation != 2) return std::nullopt;
  QColor a = ResolveColor(color_a, palette);
  QColor b = ResolveColor(color_b, palette);
  extent = std::max(extent, 0);
  position = std::clamp(position, 0, extent);

  // Boxes as painted one after the other: [start, i] inclusive, each one
  // overlapping its neighbour by one pixel.
  struct Box {
    int start, end;
    OleColor color;
  };
  std::vector<Box> boxes;
  OleColor run_color = 0;
  for (int part = 0; part < 2; ++part) {
    int from = part == 0 ? 0 : position;
    int to = part == 0 ? position : extent;
    int run_start = from;
    for (int i = from; i <= to; ++i) {
      double q = static_cast<double>(i - from) / (to - from + 1);
      int red, green, blue;
      if (part == 0) {
        red = Channel((a.red() - b.red()) * q + b.red());
        green = Channel((a.green() - b.green()) * q + b.green());
        blue = Channel((a.blue() - b.blue()) * q + b.blue());
      } else {
        red = Channel((b.red() - a.red()) * q + a.red());
        green = Channel((b.green() - a.green()) * q + a.green());
        blue = Channel((b.blue() - a.blue()) * q + a.blue());
      }
      OleColor color = ToOleColor(red, green, blue);
      if (color != run_color || i >= to) {
        boxes.push_back({run_start, i, run_color});
        run_color = color;
        run_start = i;
      }
    }
  }

  // What remains visible once every box is painted over the previous ones,
  // within the extent, equal neighbours merged.
  std::vector<GradientRun> runs;
  for (size_t k = 0; k < boxes.size(); ++k) {
    int begin = boxes[k].start;
    int end = boxes[k].end + 1;
    if (k + 1 < boxes.size()) end = std::min(end, boxes[k + 1].start);
    end = std::min(end, extent);
    if (end <= begin) continue;
    if (!runs.empty() && runs.back().color == boxes[k].color && runs.back().end == begin)
      runs.back().end = end;
    else
      runs.push_back({begin, end, boxes[k].color});
  }
  return runs;
}

void GradientFrame::setStartColor(OleColor color) {
  start_color_ = color;
  RedrawStatic();
}

void GradientFrame::setEndColor(OleColor color) {
  end_color_ = color;
  RedrawStatic();
}

void GradientFrame::setOrientation(qint32 orientation) {
  orientation_ = orientation;
  RedrawStatic();
}

void GradientFrame::setBorderStyle(qint32 border_style) {
  border_style_ = border_style;
  ApplyFrameStyle(this, border_style, 1);
  buffer_.Resize(contentsRect().size(), devicePixelRatioF(), palette().color(QPalette::Window));
  RedrawStatic();
}

void GradientFrame::setPosition(qint32 position) {
  position_ = position;
  RedrawStatic();
}

void GradientFrame::setAnimationWait(qint32 wait) {
  if (wait < 1) {
    tmrAnimation_->stop();
    tmrAnimation_->setInterval(0);
    RedrawStatic();
    return;
  }
  tmrAnimation_->setInterval(wait);
  tmrAnimation_->start();
}

void GradientFrame::initProperties() {
  setStartColor(kSysButtonShadow);
  setEndColor(kSysButtonFace);
  setOrientation(1);
  setBorderStyle(0);
  setEnabled(true);
  setPosition(0);
  setAnimationWait(0);
  setAnimationScale(50);
}

void GradientFrame::readProperties(const PropertyBag& bag) {
  if (auto v = bag.readColor(QStringLiteral("StartColor"), start_color_)) setStartColor(*v);
  if (auto v = bag.readColor(QStringLiteral("EndColor"), end_color_)) setEndColor(*v);
  if (auto v = bag.readInt32(QStringLiteral("Orientation"), orientation_)) setOrientation(*v);
  if (auto v = bag.readInt32(QStringLiteral("BorderStyle"), border_style_)) setBorderStyle(*v);
  if (auto v = bag.readBool(QStringLiteral("Enabled"), isEnabled())) setEnabled(*v);
  if (auto v = bag.readInt32(QStringLiteral("Position"), position_)) setPosition(*v);
  if (auto v = bag.readInt32(QStringLiteral("AnimationWait"), AnimationWait())) setAnimationWait(*v);
  if (auto v = bag.readInt32(QStringLiteral("AnimationScale"), animation_scale_)) setAnimationScale(*v);
}

void GradientFrame::writeProperties(PropertyBag& bag) const {
  bag.writeProperty(QStringLiteral("StartColor"), static_cast<qint32>(start_color_));
  bag.writeProperty(QStringLiteral("EndColor"), static_cast<qint32>(end_color_));
  bag.writeProperty(QStringLiteral("Orientation"), orientation_);
  bag.writeProperty(QStringLiteral("BorderStyle"), border_style_);
  bag.writeProperty(QStringLiteral("Enabled"), isEnabled());
  bag.writeProperty(QStringLiteral("Position"), position_);
  bag.writeProperty(QStringLiteral("AnimationWait"), AnimationWait());
  bag.writeProperty(QStringLiteral("AnimationScale"), animation_scale_);
}

int GradientFrame::ExtentPixels() const {
  QSize size = BackBuffer::DeviceSize(contentsRect().size(), devicePixelRatioF());
  return orientation_ == 1 ? size.width() : size.height();
}

int GradientFrame::TwipsToDevicePixels(qint32 twips) const {
  double tpp = orientation_ == 1 ? TwipsPerPixelX(this) : TwipsPerPixelY(this);
  double pixels = std::floor(twips / tpp * devicePixelRatioF());
  return static_cast<int>(std::clamp(pixels, -1.0, 1e9));
}

void GradientFrame::RedrawStatic() { Paint(start_color_, end_color_, TwipsToDevicePixels(position_)); }

void GradientFrame::AnimationTick() {
  int size = ExtentPixels();
  if (size <= 0) return;  // nothing to animate over; keep the state as it is
  int step = size / (animation_scale_ > 0 ? animation_scale_ : 1);
  animation_position_ = static_cast<qint32>((static_cast<qint64>(animation_position_) + step) % size);
  if (animation_position_ < 0) animation_position_ += size;
  if (animation_position_ <= step) {
    color_a_ = swapped_ ? end_color_ : start_color_;
    color_b_ = swapped_ ? start_color_ : end_color_;
    swapped_ = !swapped_;
  }
  Paint(color_a_, color_b_, animation_position_);
}

void GradientFrame::Paint(OleColor color_a, OleColor color_b, int position_pixels) {
  std::optional<std::vector<GradientRun>> runs =
      DrawGradient(color_a, color_b, orientation_, position_pixels, ExtentPixels(), palette());
  if (!runs) return;
  buffer_.Resize(contentsRect().size(), devicePixelRatioF(), palette().color(QPalette::Window));
  QImage& image = buffer_.image();
  if (image.isNull()) return;
  image.fill(palette().color(QPalette::Window));
  QPainter painter(&image);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  QTransform device;  // draw in device pixels
  painter.setWorldTransform(device.scale(1 / image.devicePixelRatio(), 1 / image.devicePixelRatio()));
  for (const GradientRun& run : *runs) {
    QColor color = ResolveColor(run.color);
    if (orientation_ == 1)
      painter.fillRect(QRect(run.begin, 0, run.end - run.begin, image.height()), color);
    else
      painter.fillRect(QRect(0, run.begin, image.width(), run.end - run.begin), color);
  }
  painter.end();
  update();
}

void GradientFrame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  buffer_.PaintTo(painter, contentsRect().topLeft());
  drawFrame(&painter);
}

void GradientFrame::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  buffer_.Resize(contentsRect().size(), devicePixelRatioF(), palette().color(QPalette::Window));
  RedrawStatic();
}

}  // namespace sorvel
