#include "gui/controls/splitter.h"

#include <QMouseEvent>
#include <cmath>

#include "gui/controls/twips.h"

namespace sorvel {

Splitter::Splitter(QWidget* parent) : QWidget(parent), imgSplitter_(new QWidget(this)), speBox_(new QFrame(this)) {
  imgSplitter_->setObjectName(QStringLiteral("imgSplitter"));
  imgSplitter_->installEventFilter(this);
  speBox_->setObjectName(QStringLiteral("speBox"));
  speBox_->setFrameStyle(QFrame::Box | QFrame::Plain);
  speBox_->setAttribute(Qt::WA_TransparentForMouseEvents);
  // The host always runs in user mode: the design-time outline stays hidden
  // and the bar has no border.
  speBox_->hide();
  UpdateBarCursor();
}

void Splitter::setOrientation(qint32 orientation) {
  orientation_ = orientation;
  ArrangePanes();
  UpdateBarCursor();
}

void Splitter::setSplitterPoint(float point) {
  splitter_point_ = point;
  ArrangePanes();
}

void Splitter::setSplitterSize(float size) {
  splitter_size_ = size;
  ArrangePanes();
}

void Splitter::UpdateBarCursor() { imgSplitter_->setCursor(orientation_ != 0 ? Qt::SizeHorCursor : Qt::SizeVerCursor); }

QRect Splitter::TwipsRect(double left, double top, double width, double height) const {
  int x = TwipsToPixelsX(this, left);
  int y = TwipsToPixelsY(this, top);
  int right = TwipsToPixelsX(this, left + width);
  int bottom = TwipsToPixelsY(this, top + height);
  return QRect(x, y, std::max(right - x, 0), std::max(bottom - y, 0));
}

void Splitter::ArrangePanes() {
  if (busy_) return;
  busy_ = true;
  const double outer_width = PixelsToTwipsX(this, width());
  const double outer_height = PixelsToTwipsY(this, height());
  const double inner_width = outer_width;  // the control has no border
  const double inner_height = outer_height;
  speBox_->setGeometry(TwipsRect(0, 0, outer_width, outer_height));

  const bool vertical_stack = orientation_ == 0;
  const double extent = vertical_stack ? outer_height : outer_width;
  const double size = splitter_size_;
  if (splitter_point_ > size) {
    if (extent - 2 * size > splitter_point_) {
      if (pane1_) pane1_->show();
      if (pane2_) pane2_->show();
    } else {
      splitter_point_ = static_cast<float>(extent - 2 * size);
      if (pane2_) pane2_->hide();
    }
  } else {
    splitter_point_ = static_cast<float>(size);
    if (pane1_) pane1_->hide();
  }

  if (vertical_stack) {
    double bar_top = splitter_point_ - size / 2;
    imgSplitter_->setGeometry(TwipsRect(0, bar_top, outer_width, size));
    if (pane1_) {
      pane1_->setGeometry(TwipsRect(0, 0, inner_width, bar_top));
      if (pane2_) pane2_->setGeometry(TwipsRect(0, bar_top + size, inner_width, inner_height - bar_top - size));
    }
  } else {
    double bar_left = splitter_point_ - size / 2;
    imgSplitter_->setGeometry(TwipsRect(bar_left, 0, size, outer_height));
    if (pane1_) {
      pane1_->setGeometry(TwipsRect(0, 0, bar_left, inner_height));
      if (pane2_) pane2_->setGeometry(TwipsRect(bar_left + size, 0, inner_width - bar_left - size, inner_height));
    }
  }
  imgSplitter_->raise();
  busy_ = false;
}

void Splitter::ChoosePanes() {
  QList<QWidget*> children;
  for (QObject* child : this->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget == nullptr || widget == imgSplitter_ || widget == speBox_ || widget->isWindow()) continue;
    children << widget;
  }
  if (children.size() == 2) {
    QWidget* first = children[0];
    QWidget* second = children[1];
    bool first_is_near = orientation_ == 0 ? first->y() < second->y() : first->x() < second->x();
    pane1_ = first_is_near ? first : second;
    pane2_ = first_is_near ? second : first;
  } else {
    pane1_ = nullptr;
    pane2_ = nullptr;
  }
  ArrangePanes();
}

void Splitter::initProperties() {
  setOrientation(0);
  setSplitterPoint(static_cast<float>(std::floor(PixelsToTwipsY(this, height()) / 2)));
  setSplitterSize(45);
}

void Splitter::readProperties(const PropertyBag& bag) {
  if (auto v = bag.readInt32(QStringLiteral("Orientation"), orientation_)) setOrientation(*v);
  if (auto v = bag.readSingle(QStringLiteral("SplitterPoint"), splitter_point_)) setSplitterPoint(*v);
  if (auto v = bag.readSingle(QStringLiteral("SplitterSize"), splitter_size_)) setSplitterSize(*v);
}

void Splitter::writeProperties(PropertyBag& bag) const {
  bag.writeProperty(QStringLiteral("Orientation"), orientation_);
  bag.writeProperty(QStringLiteral("SplitterPoint"), splitter_point_);
  bag.writeProperty(QStringLiteral("SplitterSize"), splitter_size_);
}

void Splitter::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!event->spontaneous()) ChoosePanes();
}

void Splitter::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (pane1_) pane1_->show();
  if (pane2_) pane2_->show();
  ArrangePanes();
}

double Splitter::PointerAlongAxis(QPointF bar_local) const {
  QPointF in_splitter = bar_local + imgSplitter_->pos();
  return orientation_ == 0 ? PixelsToTwipsY(this, in_splitter.y()) : PixelsToTwipsX(this, in_splitter.x());
}

bool Splitter::eventFilter(QObject* watched, QEvent* event) {
  if (watched != imgSplitter_) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton) {
        dragging_ = true;
        grab_offset_ = PointerAlongAxis(mouse->position()) - (splitter_point_ - splitter_size_ / 2.0);
      }
      return true;
    }
    case QEvent::MouseMove: {
      if (!dragging_) return false;
      auto* mouse = static_cast<QMouseEvent*>(event);
      // The bar's centre follows the pointer at the offset where it was
      // grabbed, so a pointer held still leaves the point where it is.
      double point = PointerAlongAxis(mouse->position()) - grab_offset_ + splitter_size_ / 2.0;
      splitter_point_ = static_cast<float>(std::floor(point));
      if (std::fabs(last_drag_point_ - splitter_point_) >= splitter_size_) ArrangePanes();
      last_drag_point_ = splitter_point_;
      return true;
    }
    case QEvent::MouseButtonRelease: {
      if (!dragging_) return false;
      UpdateBarCursor();
      dragging_ = false;
      ArrangePanes();
      return true;
    }
    default:
      return false;
  }
}

}  // namespace sorvel
