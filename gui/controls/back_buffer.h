// A persistent picture for surfaces that draw only when their content
// changes: paint events copy the buffer to the screen, so the last drawing
// stays until it is cleared, whatever covers or uncovers the widget.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QWidget>

namespace sorvel {

class BackBuffer {
 public:
  // Sizes the buffer to `logical_size` at `device_pixel_ratio`, keeping the
  // old picture at the top left and filling new area with `fill`.
  void Resize(QSize logical_size, qreal device_pixel_ratio, const QColor& fill);
  void Clear(const QColor& fill) { image_.fill(fill); }

  QImage& image() { return image_; }
  const QImage& image() const { return image_; }
  // Size in device pixels.
  QSize deviceSize() const { return image_.size(); }
  // Device pixels of a buffer for `logical_size` at `device_pixel_ratio`.
  static QSize DeviceSize(QSize logical_size, qreal device_pixel_ratio);

  // Copies the buffer to `painter` with its top left at `origin` (logical pixels).
  void PaintTo(QPainter& painter, QPoint origin = {}) const;

 private:
  QImage image_;
};

// A child widget that shows a BackBuffer: the picture box of controls that
// draw into a kept image.
class BufferedSurface : public QWidget {
 public:
  explicit BufferedSurface(QWidget* parent = nullptr);

  BackBuffer& buffer() { return buffer_; }
  const BackBuffer& buffer() const { return buffer_; }
  // The colour new area gets when the surface grows.
  void setFillColor(const QColor& color) { fill_ = color; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  BackBuffer buffer_;
  QColor fill_ = Qt::white;
};

}  // namespace sorvel
