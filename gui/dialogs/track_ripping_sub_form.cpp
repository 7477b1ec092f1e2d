#include "gui/dialogs/track_ripping_sub_form.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/controls/gradient_frame.h"
#include "gui/controls/view_box.h"
#include "gui/dialogs/title_band.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/modal_ui.h"
#include "gui/jobs/disc_ripper.h"
#include "gui/model/trelin.h"

namespace sorvel {

namespace {

TrackRippingSubForm::RipStep& TestRipStep() {
  static TrackRippingSubForm::RipStep step;
  return step;
}

}  // namespace

void TrackRippingSubForm::SetRipStepForTesting(RipStep step) { TestRipStep() = std::move(step); }

bool TrackRippingSubForm::ShowOpen(const std::shared_ptr<Trelin>& device, QTreeWidget* list, bool read_pregap,
                                   const QString& folder, QWidget* parent) {
  if (!device || list == nullptr) return false;
  auto* form = new TrackRippingSubForm(device, list, read_pregap, folder, parent);
  form->exec();
  const bool result = !form->cancelled_;
  delete form;
  return result;
}

TrackRippingSubForm::TrackRippingSubForm(const std::shared_ptr<Trelin>& device, QTreeWidget* list,
                                         bool read_pregap, const QString& folder, QWidget* parent)
    : QDialog(parent),
      device_(device),
      list_(list),
      read_pregap_(read_pregap),
      folder_(folder),
      ripper_(std::make_unique<DiscRipper>()) {
  setObjectName(QStringLiteral("TrackRippingSubForm"));
  setWindowTitle(QStringLiteral("Sorvel"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  fraTitle_ = MakeTitleBand(this, QStringLiteral("取り込み"), &lblTitle_);
  layout->addWidget(fraTitle_);
  auto* body = new QVBoxLayout;
  body->setContentsMargins(9, 6, 9, 9);
  layout->addLayout(body, 1);
  prgMain_ = new QProgressBar(this);
  prgMain_->setObjectName(QStringLiteral("prgMain"));
  prgMain_->setRange(0, 100);
  prgMain_->setValue(0);
  body->addWidget(prgMain_);
  vbxMain_ = new ViewBox(this);
  vbxMain_->setObjectName(QStringLiteral("vbxMain"));
  vbxMain_->setMaxLine(8192);
  vbxMain_->setBackColor(0x000000);
  vbxMain_->setForeColor(0xFFFFFF);
  vbxMain_->setMinimumHeight(180);
  body->addWidget(vbxMain_, 1);
  auto* buttons = new QHBoxLayout;
  cmdCancel_ = new QPushButton(QStringLiteral("中止(&C)"), this);
  cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
  cmdCancel_->setAutoDefault(false);
  buttons->addStretch(1);
  buttons->addWidget(cmdCancel_);
  body->addLayout(buttons);
  resize(520, 360);

  connect(cmdCancel_, &QPushButton::clicked, this, &TrackRippingSubForm::AskToStop);
  connect(ripper_.get(), &DiscJob::StatusChange, this, &TrackRippingSubForm::OnStatus);
  connect(ripper_.get(), &DiscJob::Progress, this, &TrackRippingSubForm::OnProgress);
}

TrackRippingSubForm::~TrackRippingSubForm() = default;

void TrackRippingSubForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Qt shows and activates the dialog again after each message box: the run
  // starts once, when the event loop of the first showing runs.
  if (started_) return;
  started_ = true;
  QTimer::singleShot(0, this, &TrackRippingSubForm::Run);
}

void TrackRippingSubForm::Run() {
  running_ = true;
  device_->LockUnlock(true);
  OnStatus(0, QStringLiteral("扉を閉鎖しました。"));
  last_error_.clear();
  bool result = false;
  if (!folder_.isEmpty()) {
    const RipStep& step = TestRipStep();
    for (int i = 0; i < list_->topLevelItemCount() && !cancelled_; ++i) {
      const QTreeWidgetItem* row = list_->topLevelItem(i);
      if (row->checkState(0) != Qt::Checked) continue;
      const QString path = GetFullPath(row->text(0), folder_);
      const int track = row->data(1, kTrackNumberRole).toInt();
      result = step ? step(*ripper_, *device_, path, track, read_pregap_)
                    : ripper_->StartRead(*device_, path, track, read_pregap_);
      if (!result) break;
    }
  }
  device_->LockUnlock(false);
  OnStatus(0, QStringLiteral("扉を開放しました。"));
  if (!cancelled_) {
    if (result) {
      CenterMessageBox(this, QStringLiteral("取り込みは正常終了しました。"), 64, windowTitle());
    } else {
      CenterMessageBox(this, last_error_.isEmpty() ? QStringLiteral("取り込みに失敗しました。") : last_error_, 16,
                       windowTitle());
    }
  }
  running_ = false;
  done(result ? QDialog::Accepted : QDialog::Rejected);
}

void TrackRippingSubForm::AskToStop() {
  if (!running_) return;
  if (CenterMessageBox(this, QStringLiteral("取り込みを中断してよろしいですか。"), 292, windowTitle()) != kIdYes)
    return;
  Stop();
}

void TrackRippingSubForm::Stop() {
  ripper_->StopRead();
  cancelled_ = true;
}

void TrackRippingSubForm::closeEvent(QCloseEvent* event) {
  if (running_ || !started_) {
    Stop();
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TrackRippingSubForm::reject() {
  // Escape: as the close box.
  if (running_ || !started_) {
    Stop();
    return;
  }
  QDialog::reject();
}

void TrackRippingSubForm::OnStatus(int32_t type, const QString& text) {
  vbxMain_->LineOut(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss")) + QLatin1Char(' ') + text);
  if (type == 2) last_error_ = text;
}

void TrackRippingSubForm::OnProgress(int32_t value, int32_t total) {
  if (total < 0 || value < 0) return;
  prgMain_->setMaximum(total);
  prgMain_->setValue(std::min(value, total));
}

}  // namespace sorvel
