#include "gui/dialogs/well_save_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include "gui/foundation/window_module.h"
#include "gui/jobs/well_writer.h"

namespace sorvel {

namespace {

const QString kCancelCaption = QStringLiteral("中止(&C)");
const JobTexts kSaveTexts{QStringLiteral("書き込みは正常終了しました。"), QStringLiteral("書き込みに失敗しました。"),
                          QStringLiteral("書き込み中断してよろしいですか。")};

}  // namespace

WellSaveForm::WellSaveForm(QWidget* parent) : JobDialog(QStringLiteral("WellSaveForm"), QStringLiteral("構造保存"), parent) {
  // The frame's start/stop button serves as the cancel button: while the job
  // runs it asks the stop question and stops the job. There is no end button.
  cmdStartStop()->setObjectName(QStringLiteral("cmdCancel"));
  cmdStartStop()->setText(kCancelCaption);
  cmdEnd()->hide();
  // Wide enough for the log's lines of file names and track numbers.
  resize(520, sizeHint().height());
}

WellSaveForm::~WellSaveForm() = default;

bool WellSaveForm::ShowOpen(Tazol& layout, const QString& image_file, const QString& title) {
  layout_ = &layout;
  image_file_ = image_file;
  saved_ = false;
  if (!title.trimmed().isEmpty()) lblTitle()->setText(title);
  exec();
  Unload();
  return saved_ && !cancelled();
}

void WellSaveForm::showEvent(QShowEvent* event) {
  JobDialog::showEvent(event);
  // The job starts once, after the first showing is on screen; the dialog is
  // shown again after every message box it opens.
  if (started_) return;
  started_ = true;
  QTimer::singleShot(0, this, [this] { RunSave(); });
}

void WellSaveForm::RunSave() {
  if (layout_ == nullptr) {
    hide();
    return;
  }
  WellWriter writer;
  // No execution-state call: the job only writes files.
  connect(&writer, &DiscJob::Progress, this, &JobDialog::Progress);
  connect(&writer, &DiscJob::StatusChange, this, &JobDialog::StatusChange);
  BeginRun();
  cmdCancel()->setDefault(true);
  SetStopTarget(&writer, kSaveTexts.stop_question, [&writer] { writer.StopWrite(); });
  saved_ = writer.StartWriteFile(image_file_, *layout_) && !cancelled();
  EndRun();
  cmdCancel()->setDefault(false);
  cmdCancel()->setText(kCancelCaption);
  ShowOutcome(saved_, kSaveTexts);
  // Ends the modal showing.
  done(saved_ ? QDialog::Accepted : QDialog::Rejected);
}

void WellSaveForm::reject() {
  // Escape: like the cancel button while the job runs; the dialog closes only
  // when the job has ended.
  if (running()) cmdCancel()->click();
}

void WellSaveForm::closeEvent(QCloseEvent* event) {
  event->ignore();
  if (running()) cmdCancel()->click();
}

bool ShowWellSaveDialog(QWidget* owner, Tazol& layout, const QString& image_file, const QString& title) {
  WellSaveForm form(owner);
  CenterForm(&form, owner != nullptr ? owner->window() : QApplication::activeWindow());
  return form.ShowOpen(layout, image_file, title);
}

}  // namespace sorvel
