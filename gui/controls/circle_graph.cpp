#include "gui/controls/circle_graph.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QResizeEvent>
#include <cmath>

namespace sorvel {
namespace {

constexpr double kPi = 3.14159265358979;
constexpr float kMaxFontPoints = 1000;

}  // namespace

int CircleGraphPercentage(qint32 min, qint32 max, qint32 value) {
  double percentage = 100.0 / (static_cast<double>(max) - min) * (static_cast<double>(value) - min);
  return static_cast<int>(std::clamp(std::nearbyint(percentage), -32768.0, 32767.0));
}

int CircleGraphAngle(int percentage) {
  return static_cast<int>(std::nearbyint(360.0 - percentage * 360.0 / 100.0 + 90.0)) % 360;
}

CircleGraph::CircleGraph(QWidget* parent) : QWidget(parent), picMain_(new BufferedSurface(this)) {
  picMain_->setObjectName(QStringLiteral("picMain"));
}

void CircleGraph::setValue(qint32 value) {
  if (value < min_ || value > max_ || value == value_) return;
  value_ = value;
  if (max_ != min_) DrawGraph(CircleGraphPercentage(min_, max_, value_), false);
}

void CircleGraph::setMin(qint32 min) {
  if (!(min < max_)) return;
  min_ = min;
  value_ = min;
}

void CircleGraph::setMax(qint32 max) {
  if (!(min_ < max)) return;
  max_ = max;
  value_ = min_;
}

void CircleGraph::setForeColor(OleColor color) {
  fore_color_ = color;
  RedrawGraph();
}

void CircleGraph::setBackColor(OleColor color) {
  back_color_ = color;
  RedrawGraph();
}

void CircleGraph::setGraphTrueColor(OleColor color) {
  true_color_ = color;
  RedrawGraph();
}

void CircleGraph::setGraphFalseColor(OleColor color) {
  false_color_ = color;
  RedrawGraph();
}

void CircleGraph::initProperties() {
  setMin(0);
  setMax(100);
  setValue(0);
  setForeColor(kSysButtonText);
  setBackColor(kSysButtonFace);
  setGraphTrueColor(0xFF00);
  setGraphFalseColor(0xFF);
}

void CircleGraph::readProperties(const PropertyBag& bag) {
  if (auto v = bag.readInt32(QStringLiteral("Min"), min_)) setMin(*v);
  if (auto v = bag.readInt32(QStringLiteral("Max"), max_)) setMax(*v);
  if (auto v = bag.readInt32(QStringLiteral("Value"), value_)) setValue(*v);
  if (auto v = bag.readColor(QStringLiteral("ForeColor"), fore_color_)) setForeColor(*v);
  if (auto v = bag.readColor(QStringLiteral("BackColor"), back_color_)) setBackColor(*v);
  if (auto v = bag.readColor(QStringLiteral("GraphTrueColor"), true_color_)) setGraphTrueColor(*v);
  if (auto v = bag.readColor(QStringLiteral("GraphFalseColor"), false_color_)) setGraphFalseColor(*v);
}

void CircleGraph::writeProperties(PropertyBag& bag) const {
  bag.writeProperty(QStringLiteral("Min"), min_);
  bag.writeProperty(QStringLiteral("Max"), max_);
  bag.writeProperty(QStringLiteral("Value"), value_);
  bag.writeProperty(QStringLiteral("ForeColor"), static_cast<qint32>(fore_color_));
  bag.writeProperty(QStringLiteral("BackColor"), static_cast<qint32>(back_color_));
  bag.writeProperty(QStringLiteral("GraphTrueColor"), static_cast<qint32>(true_color_));
  bag.writeProperty(QStringLiteral("GraphFalseColor"), static_cast<qint32>(false_color_));
}

void CircleGraph::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  picMain_->setGeometry(0, 0, width(), height());
  if (max_ != min_) DrawGraph(CircleGraphPercentage(min_, max_, value_), true);
}

void CircleGraph::RedrawGraph() {
  // Without an accepted range there is no percentage to show.
  if (max_ == min_) return;
  DrawGraph(CircleGraphPercentage(min_, max_, value_), false);
}

void CircleGraph::DrawGraph(int percentage, bool fitting) {
  picMain_->buffer().Resize(picMain_->size(), picMain_->devicePixelRatioF(), ResolveColor(back_color_, palette()));
  QImage& image = picMain_->buffer().image();
  if (image.isNull()) return;
  percentage = std::clamp(percentage, 0, 100);
  const int angle = CircleGraphAngle(percentage);
  const double radians = angle * (kPi / 180.0);
  const double w = picMain_->width();
  const double h = picMain_->height();
  const QPointF centre(w / 2, h / 2);
  const QColor fore = ResolveColor(fore_color_, palette());
  const QColor back = ResolveColor(back_color_, palette());

  // An ellipse of `radius` and aspect ratio k (vertical to horizontal): the
  // radius is the horizontal one when k < 1, else the vertical one.
  auto ellipse = [&](double radius, double k) {
    double rx = k < 1 ? radius : radius / k;
    double ry = k < 1 ? radius * k : radius;
    return QRectF(centre.x() - rx, centre.y() - ry, 2 * rx, 2 * ry);
  };
  const double k = w > 0 ? h / w * 0.98 : 1;
  const QRectF ring = ellipse(w / 2 * 0.98, k);

  image.fill(back);
  QPainter painter(&image);
  painter.setPen(QPen(fore, 1));
  painter.setBrush(ResolveColor(true_color_, palette()));
  painter.drawEllipse(ring);
  painter.setBrush(ResolveColor(false_color_, palette()));
  if (percentage != 0) {
    // The unfilled part runs counter-clockwise from 12 o'clock to the angle.
    const double start = 1.5707964;
    double span = (radians + 0.00001) - start;
    if (span < 0) span += 2 * kPi;
    painter.drawPie(ring, static_cast<int>(std::lround(start * 180 / kPi * 16)),
                    static_cast<int>(std::lround(span * 180 / kPi * 16)));
  } else {
    painter.drawEllipse(ring);
  }
  painter.setBrush(back);
  painter.drawEllipse(ellipse(w / 4, k));

  QFont font = picMain_->font();
  font.setBold(true);
  if (fitting || cached_font_size_ == 0) {
    float size = 1;
    font.setPointSizeF(size);
    while (size < kMaxFontPoints &&
           w / 2 * 0.9 > QFontMetricsF(font, picMain_).horizontalAdvance(QStringLiteral("100%"))) {
      size += 1;
      font.setPointSizeF(size);
    }
    cached_font_size_ = size;
  }
  font.setPointSizeF(cached_font_size_);
  painter.setFont(font);
  painter.setPen(fore);
  const QString text = QStringLiteral("%1%").arg(percentage, 3);
  QFontMetricsF metrics(font, picMain_);
  const double text_width = metrics.horizontalAdvance(text);
  painter.drawText(QPointF(w / 2 - text_width / 2, h / 2 - metrics.height() / 2 + metrics.ascent()), text);
  painter.end();
  picMain_->update();
}

}  // namespace sorvel
