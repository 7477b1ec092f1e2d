#include "gui/dialogs/dialog_buttons.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace sorvel {

QHBoxLayout* OkCancelRow(QDialog* dialog, QPushButton** ok, QPushButton** cancel) {
  auto* row = new QHBoxLayout;
  row->addStretch(1);
  *ok = new QPushButton(QStringLiteral("OK"), dialog);
  *cancel = new QPushButton(QStringLiteral("キャンセル"), dialog);
  (*ok)->setDefault(true);
  (*ok)->setAutoDefault(true);
  row->addWidget(*ok);
  row->addWidget(*cancel);
  QObject::connect(*cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  return row;
}

}  // namespace sorvel
