#include "gui/dialogs/property_iso_file.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/controls/numeric_up_down.h"
#include "gui/dialogs/dialog_buttons.h"
#include "gui/foundation/dialog_module.h"
#include "gui/model/tazol_records.h"

namespace sorvel {

namespace {

const QString kCaption = QStringLiteral("ファイルのプロパティ");

QLineEdit* ReadOnlyBox(QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setReadOnly(true);
  // Button-face background, as read-only boxes of the forms have.
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  box->setPalette(palette);
  return box;
}

}  // namespace

QString FormatGrouped(qint64 value) {
  const bool negative = value < 0;
  QString digits = QString::number(negative ? -value : value);
  for (qsizetype at = digits.size() - 3; at > 0; at -= 3) digits.insert(at, u',');
  return negative ? QStringLiteral("-") + digits : digits;
}

QDateTime PropertyISOFile::EarliestTimeStamp() { return QDateTime(QDate(1601, 1, 1), QTime(0, 0), Qt::LocalTime); }

QDateTime PropertyISOFile::LatestTimeStamp() {
  return QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::LocalTime);
}

PropertyISOFile::PropertyISOFile(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PropertyISOFile"));
  setWindowTitle(kCaption);
  auto* outer = new QVBoxLayout(this);
  tabMain_ = new QTabWidget(this);
  auto* page = new QWidget;
  tabMain_->addTab(page, QStringLiteral("全般"));
  outer->addWidget(tabMain_);

  auto* grid = new QGridLayout(page);
  int row = 0;
  auto caption = [&](const QString& text, QWidget* control) {
    auto* label = new QLabel(text, page);
    grid->addWidget(label, row, 0);
    grid->addWidget(control, row, 1);
    ++row;
    return label;
  };
  txtFileName_ = ReadOnlyBox(page);
  caption(QStringLiteral("ファイル名:"), txtFileName_);
  lblFileType_ = new QLabel(page);
  caption(QStringLiteral("種類:"), lblFileType_);
  lblPath_ = new QLabel(page);
  caption(QStringLiteral("場所:"), lblPath_);
  txtOriginalFileName_ = ReadOnlyBox(page);
  caption(QStringLiteral("実ファイル名:"), txtOriginalFileName_);

  // The size label and the size box share one place; the box covers the label
  // in dummy mode.
  auto* size_place = new QWidget(page);
  auto* size_layout = new QHBoxLayout(size_place);
  size_layout->setContentsMargins(0, 0, 0, 0);
  lblFileSize_ = new QLabel(size_place);
  nudFileSize_ = new NumericUpDown(size_place);
  nudFileSize_->setMin(0);
  nudFileSize_->setMax(2147483647);
  nudFileSize_->setIncrement(1);
  nudFileSize_->setTextAlign(1);
  size_layout->addWidget(lblFileSize_);
  size_layout->addWidget(nudFileSize_);
  QLabel* size_caption = caption(QStringLiteral("サイズ(&S):"), size_place);
  size_caption->setBuddy(nudFileSize_);

  dtpFileTimestamp_ = new QDateTimeEdit(page);
  dtpFileTimestamp_->setDisplayFormat(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
  dtpFileTimestamp_->setCalendarPopup(true);
  dtpFileTimestamp_->setTimeSpec(Qt::LocalTime);
  dtpFileTimestamp_->setDateTimeRange(EarliestTimeStamp(), LatestTimeStamp());
  caption(QStringLiteral("更新日時(&T):"), dtpFileTimestamp_)->setBuddy(dtpFileTimestamp_);

  // The short name is never filled; its row stays hidden.
  chkHidden_ = new QCheckBox(QStringLiteral("隠しファイル(&H)"), page);
  caption(QStringLiteral("属性:"), chkHidden_);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(row, 1);

  // Cancel, Escape and the close box all reject; only OK confirms.
  outer->addLayout(OkCancelRow(this, &cmdOK_, &cmdCancel_));
  connect(cmdOK_, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
  resize(420, 360);
}

void PropertyISOFile::Load(bool dummy_file, const ISOFindFile& record, const QString& path) {
  dummy_ = dummy_file;
  confirmed_ = false;
  setWindowTitle(dummy_file ? QStringLiteral("ダミー") + kCaption : kCaption);
  txtFileName_->setText(record.Name);
  // A dummy entry has no name yet: the user gives it one here.
  txtFileName_->setReadOnly(!dummy_file);
  if (dummy_file) txtFileName_->setPalette(QPalette());
  lblFileType_->setText(record.IsDirectory ? QStringLiteral("ディレクトリ") : QStringLiteral("ファイル"));
  lblPath_->setText(path);
  txtOriginalFileName_->setText(record.OriginalFileName);
  lblFileSize_->setText(FormatGrouped(static_cast<uint32_t>(record.Size)) + QStringLiteral(" バイト"));
  nudFileSize_->setValue(record.Size);
  nudFileSize_->setEnabled(dummy_file);
  nudFileSize_->setVisible(dummy_file);
  lblFileSize_->setVisible(!dummy_file && !record.IsDirectory);
  const QDateTime stamp = dummy_file ? QDateTime::currentDateTime() : record.TimeStamp;
  dtpFileTimestamp_->setDateTime(stamp.isValid() ? stamp : EarliestTimeStamp());
  // What the picker shows for the record's stamp: while it still shows that,
  // the stamp is handed back exactly as it came (to the millisecond, in its
  // own time zone), whatever the picker makes of it.
  loaded_stamp_ = stamp;
  shown_stamp_ = dtpFileTimestamp_->dateTime();
  chkHidden_->setChecked((record.FileAttribute & 2) != 0);
}

void PropertyISOFile::Store(ISOFindFile& record) const {
  if (dummy_) {
    record.Name = txtFileName_->text().trimmed();
    record.Size = nudFileSize_->Value();
  }
  const QDateTime picked = dtpFileTimestamp_->dateTime();
  record.TimeStamp = picked == shown_stamp_ && loaded_stamp_.isValid() ? loaded_stamp_ : picked;
  record.FileAttribute = chkHidden_->isChecked() ? 2 : 0;
}

void PropertyISOFile::cmdOK_Click() {
  if (txtFileName_->text().trimmed().isEmpty()) {
    CenterMessageBox(this, QStringLiteral("ファイル名が入力されていません。"), 48, windowTitle());
    return;
  }
  confirmed_ = true;
  accept();
}

bool PropertyISOFile::ShowOpen(bool dummy_file, ISOFindFile& record, const QString& path, QWidget* parent) {
  PropertyISOFile form(parent);
  form.Load(dummy_file, record, path);
  form.exec();
  if (form.confirmed_) form.Store(record);
  return form.confirmed_;
}

}  // namespace sorvel
