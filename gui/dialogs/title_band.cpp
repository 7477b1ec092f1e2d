#include "gui/dialogs/title_band.h"

#include <QHBoxLayout>
#include <QLabel>

#include "gui/controls/gradient_frame.h"

namespace sorvel {

GradientFrame* MakeTitleBand(QWidget* parent, const QString& title, QLabel** label) {
  auto* band = new GradientFrame(parent);
  band->setObjectName(QStringLiteral("fraTitle"));
  band->setStartColor(0x8A4A1E);  // deep blue (&H00BBGGRR) behind the white title
  band->setEndColor(0xFFFFFF);
  band->setOrientation(1);
  band->setMinimumHeight(44);
  band->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  auto* text = new QLabel(title, band);
  text->setObjectName(QStringLiteral("lblTitle"));
  QFont font = text->font();
  font.setPointSizeF(font.pointSizeF() * 1.6);
  font.setBold(true);
  text->setFont(font);
  QPalette palette = text->palette();
  palette.setColor(QPalette::WindowText, Qt::white);
  text->setPalette(palette);
  auto* layout = new QHBoxLayout(band);
  layout->setContentsMargins(12, 4, 12, 4);
  layout->addWidget(text);
  layout->addStretch(1);
  if (label != nullptr) *label = text;
  return band;
}

}  // namespace sorvel
