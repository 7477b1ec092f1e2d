// JobDialog: the frame of the disc dialogs. A title band, the form's own
// drive panels and targets, a progress bar, a log, a start/stop button and an
// end button. A job runs synchronously on the GUI thread inside RunJob and
// pumps window events, so the stop button and the job's events are handled
// while it runs; meanwhile the dialog refuses to close (close box and Escape)
// and its end button and frames are disabled.
//
// Use from a form:
//   body()->addWidget(panel);                       // its own controls
//   AddPanel(panel); AddJobFrame(fraRecv);          // what a job disables
//   void StartJob() override {                      // cmdStartStop while idle
//     ...check inputs...
//     DiscReader job;
//     const bool ok = RunJob(job, texts, [&] { job.StopRead(); },
//                            [&] { return job.StartReadCompatible(*device, path); });
//     ShowOutcome(ok, texts);
//   }
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "gui/foundation/application_setting.h"
#include "gui/foundation/termination.h"
#include "gui/jobs/disc_job.h"

class QCloseEvent;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace sorvel {


class DrivePanel;
class GradientFrame;
class JobStartTime;
class Trelin;
class ViewBox;

// Message box styles of the dialogs.
inline constexpr int kStyleInformation = 64;
inline constexpr int kStyleExclamation = 48;
inline constexpr int kStyleCritical = 16;
inline constexpr int kStyleStopQuestion = 292;  // Yes/No, question icon, No as default

// Texts of the write dialogs.
inline const char kTextWriteSucceeded[] = "書き込みは正常終了しました。";
inline const char kTextWriteFailed[] = "書き込みに失敗しました。";
inline const char kTextWriteStopQuestion[] = "書き込み中断してよろしいですか。";
inline const char kTextVerifyStopQuestion[] = "検証を中断してよろしいですか。";
inline const char kTextWriteVerifyFailed[] = "書き込みは正常終了しましたが、検証に失敗しました。";

// One value of the application settings, e.g. ReadAppSetting(&ApplicationSetting::VerifyCompare).
template <typename T>
T ReadAppSetting(T (ApplicationSetting::*read)() const) {
  ApplicationSetting* settings = AcquireSettings();
  const T value = (settings->*read)();
  ReleaseSettings();
  return value;
}

// The words of one kind of job.
struct JobTexts {
  QString success;        // information box after a successful run
  QString failure;        // critical box when no error line was logged
  QString stop_question;  // asked before a running job is stopped
};

// The execution state that keeps the system and the display awake for the
// life of the object (0x80000003), back to 0x80000000 at its end.
class KeepAwake {
 public:
  KeepAwake();
  ~KeepAwake();
  KeepAwake(const KeepAwake&) = delete;
  KeepAwake& operator=(const KeepAwake&) = delete;
};

class JobDialog : public QDialog {
  Q_OBJECT

 public:
  // `form_name` is the object name and the settings group; `title` the
  // text of the title band.
  JobDialog(const QString& form_name, const QString& title, QWidget* parent = nullptr);
  ~JobDialog() override;

  GradientFrame* fraTitle() const { return fraTitle_; }
  QLabel* lblTitle() const { return lblTitle_; }
  QProgressBar* prgMain() const { return prgMain_; }
  ViewBox* vbxMain() const { return vbxMain_; }
  QPushButton* cmdStartStop() const { return cmdStartStop_; }
  QPushButton* cmdEnd() const { return cmdEnd_; }

  // True while a job runs (the end button is disabled).
  bool running() const;
  const QString& last_error() const { return last_error_; }
  bool cancelled() const { return cancelled_; }
  DiscJob* job() const { return job_; }

  // Stored text of `control` of this form ("" when nothing is stored), and storing one.
  QString LoadControlSetting(const QString& control, const QString& fallback = QString()) const;
  void SaveControlSetting(const QString& control, const QString& value) const;

  // Form_Unload when not yet done: stores the form's values and releases its
  // drives. Runs when the dialog closes while idle, at the latest on destruction.
  void Unload();

 public slots:
  // The job's events.
  void Progress(int32_t Value, int32_t Total);
  void StatusChange(int32_t lngStatusType, const QString& strStatus);

 protected:
  // Where the form puts its own controls, between the title band and the progress bar.
  QVBoxLayout* body() const { return body_; }
  // Panels whose device a start needs, whose timer and frame a job turns off
  // and whose speed a job applies.
  void AddPanel(DrivePanel* panel);
  // Other frames (targets) that a job disables.
  void AddJobFrame(QWidget* frame);

  // Whether the dialog has a device to start on: every panel has one.
  virtual bool HasDevice() const;
  // cmdStartStop while idle and with a device: the form's inputs and its job.
  virtual void StartJob() = 0;
  // The form's values to store and release at unload.
  virtual void UnloadForm() {}

  // The start sequence around `start` (which calls the job's start method)
  // with `job` connected to the log and the bar; `stop` asks the job to stop.
  // Returns the job's result.
  bool RunJob(DiscJob& job, const JobTexts& texts, std::function<void()> stop, const std::function<bool()>& start);
  // RunJob's opening and closing, for a form whose run holds several jobs in
  // turn (each named by SetStopTarget) and that keeps the system awake only
  // around some of them. A terminating signal during the run stops the job
  // as the stop button does; the program ends at EndRun.
  void BeginRun();
  void EndRun();
  // The job the stop button now stops: `stop_question` asked, then `stop`
  // called and the cancelled flag set on Yes; with a null `job` the button
  // asks nothing.
  void SetStopTarget(DiscJob* job, const QString& stop_question, std::function<void()> stop);
  void ClearCancelled() { cancelled_ = false; }
  void ClearLastError() { last_error_.clear(); }
  // Inside `start`, when a second job follows the first in the same run (a
  // verification after a write): the stop button now asks `stop_question`
  // and calls `stop`. The form connects the second job's events itself.
  void HandOverStop(const QString& stop_question, std::function<void()> stop);
  // The outcome box of a run: nothing after a stop, else success or the last
  // error text (the fixed failure text when none was logged).
  void ShowOutcome(bool result, const JobTexts& texts);
  // The end of a disc write and its verification: the power action when
  // due, then, unless the run was stopped, the result box; the tray is opened
  // after the box when the write succeeded and `eject_after_message`.
  void FinishDiscWrite(bool written, bool verified, bool shutdown_ticked, const JobStartTime& start, Trelin& device,
                       bool eject_after_message);
  // A box with the form's caption.
  int Message(const QString& text, int style);

  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void StartStopClicked();
  void AskStop();

  GradientFrame* fraTitle_ = nullptr;
  QLabel* lblTitle_ = nullptr;
  QVBoxLayout* body_ = nullptr;
  QProgressBar* prgMain_ = nullptr;
  ViewBox* vbxMain_ = nullptr;
  QPushButton* cmdStartStop_ = nullptr;
  QPushButton* cmdEnd_ = nullptr;

  QList<DrivePanel*> panels_;
  QList<QWidget*> job_frames_;
  QPointer<DiscJob> job_;
  std::function<void()> stop_;
  QString stop_question_;
  QString last_error_;
  bool cancelled_ = false;
  bool asking_stop_ = false;
  bool unloaded_ = false;
  // While a run lasts: a terminating signal stops it as the stop button
  // does (without the question), and the program ends after it.
  std::unique_ptr<Termination::JobScope> termination_;
};

}  // namespace sorvel
