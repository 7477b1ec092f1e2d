#include "gui/controls/back_buffer.h"

#include <QResizeEvent>
#include <cmath>

namespace sorvel {

QSize BackBuffer::DeviceSize(QSize logical_size, qreal device_pixel_ratio) {
  QSize device(static_cast<int>(std::ceil(logical_size.width() * device_pixel_ratio)),
               static_cast<int>(std::ceil(logical_size.height() * device_pixel_ratio)));
  return device.expandedTo(QSize(0, 0));
}

void BackBuffer::Resize(QSize logical_size, qreal device_pixel_ratio, const QColor& fill) {
  QSize device = DeviceSize(logical_size, device_pixel_ratio);
  if (device == image_.size() && image_.devicePixelRatio() == device_pixel_ratio) return;
  QImage next(device, QImage::Format_RGB32);
  next.setDevicePixelRatio(device_pixel_ratio);
  next.fill(fill);
  if (!image_.isNull()) {
    QPainter painter(&next);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    QImage old = image_;
    old.setDevicePixelRatio(device_pixel_ratio);
    painter.drawImage(QPoint(0, 0), old);
  }
  image_ = std::move(next);
}

void BackBuffer::PaintTo(QPainter& painter, QPoint origin) const {
  if (!image_.isNull()) painter.drawImage(origin, image_);
}

BufferedSurface::BufferedSurface(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void BufferedSurface::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  buffer_.PaintTo(painter);
}

void BufferedSurface::resizeEvent(QResizeEvent* event) {
  buffer_.Resize(event->size(), devicePixelRatioF(), fill_);
  QWidget::resizeEvent(event);
}

}  // namespace sorvel
