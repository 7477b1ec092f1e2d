#include "gui/dialogs/track_ripping_sub_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QTreeWidget>

#include "gui/controls/view_box.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/modal_ui.h"
#include "gui/foundation/termination.h"
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
  const bool result = !form->stopped_;
  delete form;
  return result;
}

TrackRippingSubForm::TrackRippingSubForm(const std::shared_ptr<Trelin>& device, QTreeWidget* list,
                                         bool read_pregap, const QString& folder, QWidget* parent)
    : JobDialog(QStringLiteral("TrackRippingSubForm"), QStringLiteral("取り込み"), parent),
      device_(device),
      list_(list),
      read_pregap_(read_pregap),
      folder_(folder),
      ripper_(std::make_unique<DiscRipper>()) {
  cmdEnd()->hide();
  // The frame's start button is this dialog's stop button.
  cmdStartStop()->disconnect(this);
  cmdStartStop()->setText(QStringLiteral("中止(&C)"));
  connect(cmdStartStop(), &QPushButton::clicked, this, &TrackRippingSubForm::AskToStop);
  connect(ripper_.get(), &DiscJob::StatusChange, this, &JobDialog::StatusChange);
  connect(ripper_.get(), &DiscJob::Progress, this, &JobDialog::Progress);
  resize(520, 360);
}

TrackRippingSubForm::~TrackRippingSubForm() = default;

void TrackRippingSubForm::showEvent(QShowEvent* event) {
  JobDialog::showEvent(event);
  // Qt shows and activates the dialog again after each message box: the run
  // starts once, when the event loop of the first showing runs.
  if (started_) return;
  started_ = true;
  QTimer::singleShot(0, this, &TrackRippingSubForm::Run);
}

void TrackRippingSubForm::Run() {
  // A terminating signal stops the rip as the close box does (its temporaries
  // removed, the tray unlocked), and the program ends after it.
  const Termination::JobScope signalled([this] {
    Stop();
    if (QWidget* box = QApplication::activeModalWidget(); asking_ && box != nullptr && box != this) box->close();
  });
  running_ = true;
  device_->LockUnlock(true);
  StatusChange(kStatusInformation, QStringLiteral("扉を閉鎖しました。"));
  bool result = false;
  if (!folder_.isEmpty()) {
    const RipStep& step = TestRipStep();
    for (int i = 0; i < list_->topLevelItemCount() && !stopped_; ++i) {
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
  StatusChange(kStatusInformation, QStringLiteral("扉を開放しました。"));
  if (!stopped_) {
    if (result) {
      Message(QStringLiteral("取り込みは正常終了しました。"), kStyleInformation);
    } else {
      Message(last_error().isEmpty() ? QStringLiteral("取り込みに失敗しました。") : last_error(), kStyleCritical);
    }
  }
  running_ = false;
  done(result ? QDialog::Accepted : QDialog::Rejected);
}

void TrackRippingSubForm::AskToStop() {
  // The question runs inside the job's event pump; a second click while it
  // is open asks nothing.
  if (!running_ || asking_) return;
  asking_ = true;
  const int answer = Message(QStringLiteral("取り込みを中断してよろしいですか。"), kStyleStopQuestion);
  asking_ = false;
  if (answer == kIdYes) Stop();
}

void TrackRippingSubForm::Stop() {
  ripper_->StopRead();
  stopped_ = true;
}

void TrackRippingSubForm::closeEvent(QCloseEvent* event) {
  if (running_ || !started_) {
    Stop();
    event->ignore();
    return;
  }
  JobDialog::closeEvent(event);
}

void TrackRippingSubForm::reject() {
  // Escape: as the close box.
  if (running_ || !started_) {
    Stop();
    return;
  }
  JobDialog::reject();
}

}  // namespace sorvel
