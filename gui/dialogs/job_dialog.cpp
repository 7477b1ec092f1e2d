#include "gui/dialogs/job_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

#include "gui/controls/gradient_frame.h"
#include "gui/controls/progress_value.h"
#include "gui/controls/view_box.h"
#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/power_action.h"
#include "gui/dialogs/title_band.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/modal_ui.h"
#include "gui/foundation/system_module.h"
#include "gui/jobs/disc_job.h"
#include "gui/model/trelin.h"

namespace sorvel {

namespace {

const QString kStartCaption = QStringLiteral("開始(&S)");
const QString kStopCaption = QStringLiteral("中止(&C)");
constexpr int kYes = 6;
constexpr qint16 kLogLines = 8192;
constexpr OleColor kLogBackColor = 0x000000;
constexpr OleColor kLogForeColor = 0xFFFFFF;

}  // namespace

KeepAwake::KeepAwake() { SetExecutionState(kEsContinuous | kEsSystemRequired | kEsDisplayRequired); }
KeepAwake::~KeepAwake() { SetExecutionState(kEsContinuous); }

JobDialog::JobDialog(const QString& form_name, const QString& title, QWidget* parent) : QDialog(parent) {
  setObjectName(form_name);
  setWindowTitle(QStringLiteral("Sorvel"));
  setModal(true);

  auto* layout = new QVBoxLayout(this);

  fraTitle_ = MakeTitleBand(this, title, &lblTitle_);
  layout->addWidget(fraTitle_);

  body_ = new QVBoxLayout;
  layout->addLayout(body_);

  prgMain_ = new QProgressBar(this);
  prgMain_->setObjectName(QStringLiteral("prgMain"));
  prgMain_->setRange(0, 100);
  prgMain_->setValue(0);
  prgMain_->setTextVisible(false);
  layout->addWidget(prgMain_);

  vbxMain_ = new ViewBox(this);
  vbxMain_->setObjectName(QStringLiteral("vbxMain"));
  // The job dialogs' log: 8,192 lines, white on black, a 9-point Japanese UI font.
  vbxMain_->setMaxLine(kLogLines);
  vbxMain_->setBackColor(kLogBackColor);
  vbxMain_->setForeColor(kLogForeColor);
  vbxMain_->setAppearance(1);
  vbxMain_->setBorderStyle(1);
  QFont log_font = vbxMain_->font();
  log_font.setFamilies({QStringLiteral("MS UI Gothic"), QStringLiteral("Noto Sans CJK JP"), log_font.family()});
  log_font.setPointSize(9);
  vbxMain_->setFont(log_font);
  vbxMain_->setMinimumHeight(140);
  layout->addWidget(vbxMain_, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  cmdStartStop_ = new QPushButton(kStartCaption, this);
  cmdStartStop_->setObjectName(QStringLiteral("cmdStartStop"));
  cmdStartStop_->setAutoDefault(false);
  cmdEnd_ = new QPushButton(QStringLiteral("終了(&Q)"), this);
  cmdEnd_->setObjectName(QStringLiteral("cmdEnd"));
  cmdEnd_->setAutoDefault(false);
  buttons->addWidget(cmdStartStop_);
  buttons->addWidget(cmdEnd_);
  layout->addLayout(buttons);

  connect(cmdStartStop_, &QPushButton::clicked, this, [this] { StartStopClicked(); });
  connect(cmdEnd_, &QPushButton::clicked, this, [this] { close(); });
}

JobDialog::~JobDialog() = default;

bool JobDialog::running() const { return !cmdEnd_->isEnabled(); }

QString JobDialog::LoadControlSetting(const QString& control, const QString& fallback) const {
  return GetDialogSetting(objectName(), control, fallback);
}

void JobDialog::SaveControlSetting(const QString& control, const QString& value) const {
  SaveDialogSetting(objectName(), control, value);
}

void JobDialog::AddPanel(DrivePanel* panel) { panels_ << panel; }
void JobDialog::AddJobFrame(QWidget* frame) { job_frames_ << frame; }

bool JobDialog::HasDevice() const {
  if (panels_.isEmpty()) return false;
  for (const DrivePanel* panel : panels_) {
    if (!panel->device()) return false;
  }
  return true;
}

void JobDialog::StartStopClicked() {
  if (running()) {
    AskStop();
  } else if (HasDevice()) {
    StartJob();
  }
}

void JobDialog::AskStop() {
  // The question runs inside the job's event pump; a second click while it
  // is open is ignored.
  if (!job_ || asking_stop_) return;
  asking_stop_ = true;
  const int answer = Message(stop_question_, kStyleStopQuestion);
  asking_stop_ = false;
  if (answer == kYes && job_) {
    if (stop_) stop_();
    cancelled_ = true;
  }
}

bool JobDialog::RunJob(DiscJob& job, const JobTexts& texts, std::function<void()> stop,
                       const std::function<bool()>& start) {
  const QMetaObject::Connection progress = connect(&job, &DiscJob::Progress, this, &JobDialog::Progress);
  const QMetaObject::Connection status = connect(&job, &DiscJob::StatusChange, this, &JobDialog::StatusChange);
  BeginRun();
  for (DrivePanel* panel : panels_) panel->ApplySpeed();
  SetStopTarget(&job, texts.stop_question, std::move(stop));

  bool result = false;
  {
    KeepAwake awake;
    result = start();
  }

  EndRun();
  disconnect(progress);
  disconnect(status);
  return result;
}

void JobDialog::BeginRun() {
  for (DrivePanel* panel : panels_) panel->SetJobRunning(true);
  cancelled_ = false;
  cmdEnd_->setEnabled(false);
  for (QWidget* frame : job_frames_) frame->setEnabled(false);
  cmdStartStop_->setText(kStopCaption);
  vbxMain_->LineOut(QString());
  last_error_.clear();
  termination_ = std::make_unique<Termination::JobScope>([this] {
    if (stop_) stop_();
    cancelled_ = true;
    // A box open meanwhile (a stop question, an erase's result) is closed:
    // the job is stopped already, and the box would hold the program's end.
    if (QWidget* box = QApplication::activeModalWidget(); box != nullptr && box != this) box->close();
  });
}

void JobDialog::EndRun() {
  cmdEnd_->setEnabled(true);
  for (QWidget* frame : job_frames_) frame->setEnabled(true);
  cmdStartStop_->setText(kStartCaption);
  prgMain_->setValue(0);
  for (DrivePanel* panel : panels_) panel->SetJobRunning(false);
  SetStopTarget(nullptr, QString(), nullptr);
  termination_.reset();
}

void JobDialog::SetStopTarget(DiscJob* job, const QString& stop_question, std::function<void()> stop) {
  job_ = job;
  stop_question_ = stop_question;
  stop_ = std::move(stop);
}

void JobDialog::HandOverStop(const QString& stop_question, std::function<void()> stop) {
  stop_question_ = stop_question;
  stop_ = std::move(stop);
}

void JobDialog::ShowOutcome(bool result, const JobTexts& texts) {
  if (cancelled_) return;
  if (result) {
    Message(texts.success, kStyleInformation);
  } else {
    Message(last_error_.isEmpty() ? texts.failure : last_error_, kStyleCritical);
  }
}

void JobDialog::FinishDiscWrite(bool written, bool verified, bool shutdown_ticked, const JobStartTime& start,
                                Trelin& device, bool eject_after_message) {
  bool stopped = cancelled_;
  CheckShutdownAction(shutdown_ticked, stopped, start, verified && written);
  if (!stopped) {
    if (written && verified) {
      Message(QString::fromUtf8(kTextWriteSucceeded), kStyleInformation);
    } else if (written) {
      Message(QString::fromUtf8(kTextWriteVerifyFailed), kStyleExclamation);
    } else {
      Message(last_error_.isEmpty() ? QString::fromUtf8(kTextWriteFailed) : last_error_, kStyleCritical);
    }
    repaint();
  }
  if (written && eject_after_message) device.LoadTray(false);
}

int JobDialog::Message(const QString& text, int style) {
  // Once a terminating signal came, no box waits for an answer that holds
  // the program's end: a question is answered No, any other box shown not.
  if (Termination::Instance().received() != 0) return (style & 7) == 4 ? kIdNo : kIdOk;
  return CenterMessageBox(this, text, style, windowTitle());
}

void JobDialog::Progress(int32_t Value, int32_t Total) {
  // A total of 0 or less would turn the bar into a busy bar: the maximum
  // stays; a value outside the range is ignored.
  if (Total > 0 && prgMain_->maximum() != Total) prgMain_->setMaximum(Total);
  SetProgressValue(*prgMain_, Value);
}

void JobDialog::StatusChange(int32_t lngStatusType, const QString& strStatus) {
  vbxMain_->LineOut(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QLatin1Char(' ') + strStatus);
  if (lngStatusType == kStatusError) last_error_ = strStatus;
}

void JobDialog::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  UnloadForm();
}

void JobDialog::reject() {
  // Escape and the close box while a job runs: the dialog stays.
  if (running()) return;
  Unload();
  QDialog::reject();
}

void JobDialog::closeEvent(QCloseEvent* event) {
  if (running()) {
    event->ignore();
    return;
  }
  Unload();  // also when the dialog closes without being shown
  QDialog::closeEvent(event);
}

}  // namespace sorvel
