#include "gui/controls/elided_label.h"

#include <QPainter>
#include <algorithm>
#include <QStyle>
#include <QStyleOption>

namespace sorvel {

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setWordWrap(false);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize ElidedLabel::sizeHint() const { return minimumSizeHint(); }

QSize ElidedLabel::minimumSizeHint() const {
  // Room for the "…" alone; the height of one line.
  const QMargins margins = contentsMargins();
  return QSize(fontMetrics().horizontalAdvance(QStringLiteral("…")) + margins.left() + margins.right() + 2 * margin(),
               fontMetrics().height() + margins.top() + margins.bottom() + 2 * margin());
}

QString ElidedLabel::ShownText() const {
  // Only the first line is a panel's text.
  const QString line = text().section(u'\n', 0, 0);
  return fontMetrics().elidedText(line, Qt::ElideRight, std::max(0, contentsRect().width() - 2 * margin()));
}

void ElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  drawFrame(&painter);
  const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
  const QString shown = ShownText();
  QStyleOption option;
  option.initFrom(this);
  style()->drawItemText(&painter, room, QStyle::visualAlignment(layoutDirection(), alignment()) | Qt::TextSingleLine,
                        option.palette, isEnabled(), shown, foregroundRole());
}

}  // namespace sorvel
