#include "gui/dialogs/list_status_form.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace sorvel {

ListStatusForm::ListStatusForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("ListStatusForm"));
  setWindowTitle(QStringLiteral("Sorvel"));
  auto* layout = new QVBoxLayout(this);
  lblCaption_ = new QLabel(this);
  lblCaption_->setWordWrap(true);
  layout->addWidget(lblCaption_);
  lstStatusList_ = new QListWidget(this);
  lstStatusList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  lstStatusList_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  layout->addWidget(lstStatusList_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  cmdOK_ = new QPushButton(QStringLiteral("OK"), this);
  cmdOK_->setDefault(true);
  buttons->addWidget(cmdOK_);
  layout->addLayout(buttons);
  connect(cmdOK_, &QPushButton::clicked, this, &QDialog::accept);
  resize(480, 300);
}

void ListStatusForm::Load(const QString& caption, const QStringList& lines) {
  lblCaption_->setText(caption);
  lstStatusList_->clear();
  QString longest;
  for (const QString& line : lines) {
    lstStatusList_->addItem(line);
    if (line.size() > longest.size()) longest = line;  // the earlier one wins a tie
  }
  // The list scrolls so far that the longest line shows completely, plus 16 pixels.
  extent_ = QFontMetrics(lstStatusList_->font()).horizontalAdvance(longest) + 16;
  const int row_height = lstStatusList_->fontMetrics().height() + 2;
  for (int i = 0; i < lstStatusList_->count(); ++i) lstStatusList_->item(i)->setSizeHint(QSize(extent_, row_height));
}

void ListStatusForm::ShowOpen(const QString& caption, const QStringList& lines, QWidget* parent) {
  ListStatusForm form(parent);
  form.Load(caption, lines);
  form.exec();
}

}  // namespace sorvel
