#include "gui/dialogs/well_write_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QVBoxLayout>
#include <memory>

#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/power_action.h"
#include "gui/foundation/disk_module.h"
#include "gui/foundation/window_module.h"
#include "gui/jobs/disc_verifier.h"
#include "gui/jobs/disc_writer.h"
#include "gui/jobs/well_writer.h"
#include "gui/model/tazol.h"
#include "gui/model/trelin.h"

namespace sorvel {

namespace {

const QString kFormName = QStringLiteral("WellWriteForm");
const QString kTemporaryKey = QStringLiteral("chkCreateTemporaryImage");
const QString kVerifyKey = QStringLiteral("chkVerify");
const QString kOn = QStringLiteral("1");
const QString kOff = QStringLiteral("0");
const QString kRepeatQuestion = QStringLiteral("続けて書き込みますか。");
const QString kPassCancelled = QStringLiteral("書き込みはキャンセルされました。");
// A pass's failure, followed by the repeat question.
const QString kPassFailed = QStringLiteral("書き込みに失敗しました");
constexpr int kYesNoDefaultNo = 4 + 256;
constexpr int kYes = 6;

JobTexts WriteTexts() {
  return {QString::fromUtf8(kTextWriteSucceeded), QString::fromUtf8(kTextWriteFailed), QString::fromUtf8(kTextWriteStopQuestion)};
}

// The verifier of a job when `ticked`, its events going to `form`'s bar and log.
std::unique_ptr<DiscVerifier> NewVerifier(bool ticked, JobDialog* form) {
  if (!ticked) return nullptr;
  auto verifier = std::make_unique<DiscVerifier>();
  QObject::connect(verifier.get(), &DiscJob::Progress, form, &JobDialog::Progress);
  QObject::connect(verifier.get(), &DiscJob::StatusChange, form, &JobDialog::StatusChange);
  return verifier;
}

}  // namespace

WellWriteForm::WellWriteForm(QWidget* parent) : JobDialog(kFormName, QStringLiteral("構造書込"), parent) {
  fraRecv_ = new DrivePanel(DriveSide::kWrite, kFormName, this);
  fraRecv_->setTitle(QStringLiteral("書き込み装置(&D)"));
  body()->addWidget(fraRecv_);

  chkCreateTemporaryImage_ = new QCheckBox(QStringLiteral("ディスクイメージファイルを介して間接的に書き込む(&T)"), this);
  chkCreateTemporaryImage_->setObjectName(kTemporaryKey);
  chkVerify_ = new QCheckBox(QStringLiteral("読み取り検査を実施する(&V)"), this);
  chkVerify_->setObjectName(kVerifyKey);
  chkShutdown_ = new QCheckBox(QStringLiteral("書き込み後に計算機の電源を切る(&H)"), this);
  chkShutdown_->setObjectName(QStringLiteral("chkShutdown"));
  body()->addWidget(chkCreateTemporaryImage_);
  body()->addWidget(chkVerify_);
  body()->addWidget(chkShutdown_);
  AddPanel(fraRecv_);

  // Form_Load: the drive list with the stored drive (the first when that is
  // gone), the two boxes as stored, centred on the window active now.
  fraRecv_->Load();
  chkCreateTemporaryImage_->setChecked(LoadControlSetting(kTemporaryKey, kOff) == kOn);
  chkVerify_->setChecked(LoadControlSetting(kVerifyKey, kOn) == kOn);
  adjustSize();
  CenterForm(this, QApplication::activeWindow());
}

WellWriteForm::~WellWriteForm() { Unload(); }

int WellWriteForm::ShowOpen(Tazol& layout, const QString& title, const QString& drive_name) {
  layout_ = &layout;
  if (!drive_name.isEmpty()) {
    QComboBox* drives = fraRecv_->drive_combo();
    const QString wanted = QLatin1Char('(') + drive_name.toUpper() + QLatin1Char(')');
    int found = -1;
    for (int i = 0; i < drives->count(); ++i) {
      if (drives->itemText(i).contains(wanted, Qt::CaseSensitive)) found = i;
    }
    if (found < 0) {
      Message(QStringLiteral("ドライヴ ") + drive_name + QStringLiteral(" は書き込み対象として選択できません。"),
              kStyleExclamation);
      Unload();
      return 0;
    }
    if (found != drives->currentIndex()) {
      {
        QSignalBlocker block(drives);
        drives->setCurrentIndex(found);
      }
      fraRecv_->OpenChosenDrive();
    }
  }
  if (!title.trimmed().isEmpty()) lblTitle()->setText(title);
  count_ = 0;
  exec();
  Unload();
  return count_;
}

void WellWriteForm::StartJob() {
  if (layout_ == nullptr) return;
  if (chkCreateTemporaryImage_->isChecked()) {
    WriteThroughImage();
  } else {
    WriteDirect();
  }
}

void WellWriteForm::WriteDirect() {
  const std::shared_ptr<Trelin> device = fraRecv_->device();
  const bool eject_after_message = ReadAppSetting(&ApplicationSetting::EjectAfterMessage);
  const bool compare = ReadAppSetting(&ApplicationSetting::VerifyCompare);

  WellWriter writer;
  std::unique_ptr<DiscVerifier> verifier = NewVerifier(chkVerify_->isChecked(), this);
  bool written = false;
  bool verified = true;
  JobStartTime start;
  RunJob(writer, WriteTexts(), [&writer] { writer.StopWrite(); }, [&] {
    start.Restart();
    written = writer.StartWrite(*device, *layout_, compare ? verifier.get() : nullptr) && !cancelled();
    if (written && verifier) {
      DiscVerifier& check = *verifier;
      HandOverStop(QString::fromUtf8(kTextVerifyStopQuestion), [&check] { check.StopVerify(); });
      verified = check.StartVerify(*device, writer.LastTOC());
    }
    if (written) {
      if (!chkShutdown_->isChecked() && !eject_after_message) device->LoadTray(false);
      ++count_;
    }
    return written;
  });
  verifier.reset();
  FinishDiscWrite(written, verified, chkShutdown_->isChecked(), start, *device, eject_after_message);
}

void WellWriteForm::WriteThroughImage() {
  const QString cue = MakeTempFileName(QStringLiteral(".cue"));
  BeginRun();
  JobStartTime start;
  bool made = false;
  if (!cue.isEmpty()) {
    // Making the image only writes files: the system may sleep meanwhile.
    WellWriter maker;
    connect(&maker, &DiscJob::Progress, this, &JobDialog::Progress);
    connect(&maker, &DiscJob::StatusChange, this, &JobDialog::StatusChange);
    SetStopTarget(&maker, QString::fromUtf8(kTextWriteStopQuestion), [&maker] { maker.StopWrite(); });
    made = maker.StartWriteFile(cue, *layout_) && !cancelled();
    SetStopTarget(nullptr, QString(), nullptr);
  }
  if (!made) {
    if (!cancelled()) Message(last_error().isEmpty() ? QString::fromUtf8(kTextWriteFailed) : last_error(), kStyleCritical);
  } else {
    while (WritePass(cue, start)) {
    }
  }
  if (!cue.isEmpty()) DeleteFilesByPrefix(cue);
  EndRun();
}

bool WellWriteForm::WritePass(const QString& cue, const JobStartTime& start) {
  const std::shared_ptr<Trelin> device = fraRecv_->device();
  const bool eject_after_message = ReadAppSetting(&ApplicationSetting::EjectAfterMessage);
  const bool compare = ReadAppSetting(&ApplicationSetting::VerifyCompare);
  // Each pass reports its own failure only.
  ClearCancelled();
  ClearLastError();
  bool verified = true;
  bool written = true;
  if (!device->IsMediaWritable()) {
    device->LoadTray(false);
    written = ShowIsReadyForm(*device, true);
    repaint();
  }
  if (written) {
    fraRecv_->ApplySpeed();
    DiscWriter writer;
    connect(&writer, &DiscJob::Progress, this, &JobDialog::Progress);
    connect(&writer, &DiscJob::StatusChange, this, &JobDialog::StatusChange);
    std::unique_ptr<DiscVerifier> verifier = NewVerifier(chkVerify_->isChecked(), this);
    {
      KeepAwake awake;
      SetStopTarget(&writer, QString::fromUtf8(kTextWriteStopQuestion), [&writer] { writer.StopWrite(); });
      written = writer.StartWriteCompatible(*device, cue, compare ? verifier.get() : nullptr) && !cancelled();
    }
    if (written && verifier) {
      KeepAwake awake;
      DiscVerifier& check = *verifier;
      SetStopTarget(&check, QString::fromUtf8(kTextVerifyStopQuestion), [&check] { check.StopVerify(); });
      verified = check.StartVerify(*device, writer.LastTOC());
    }
    SetStopTarget(nullptr, QString(), nullptr);
    if (written) ++count_;
  }

  QString message;
  int icon = kStyleInformation;
  bool stopped = cancelled();
  const bool action_due = CheckShutdownAction(chkShutdown_->isChecked(), stopped, start, verified && written);
  if (!action_due && stopped) message = kPassCancelled;
  if (!stopped) {
    if (written && verified) {
      message = QString::fromUtf8(kTextWriteSucceeded);
    } else if (written) {
      message = QString::fromUtf8(kTextWriteVerifyFailed);
      icon = kStyleExclamation;
    } else {
      message = last_error().isEmpty() ? kPassFailed : last_error();
      icon = kStyleCritical;
    }
  }
  // Without a message the power action has ended the job.
  if (message.isEmpty()) return false;
  if (!eject_after_message) device->LoadTray(false);
  const int answer = Message(message + QStringLiteral("\r\n") + kRepeatQuestion, kYesNoDefaultNo + icon);
  repaint();
  if (eject_after_message) device->LoadTray(false);
  return answer == kYes;
}

void WellWriteForm::UnloadForm() {
  SaveControlSetting(kTemporaryKey,
                     chkCreateTemporaryImage_->isEnabled() && chkCreateTemporaryImage_->isChecked() ? kOn : kOff);
  SaveControlSetting(kVerifyKey, chkVerify_->isChecked() ? kOn : kOff);
  fraRecv_->Unload();
}

QWidget* WellWriteDialog::Form() { return &form_; }

int WellWriteDialog::ShowOpen(Tazol& layout, const QString& title, const QString& drive_name) {
  return form_.ShowOpen(layout, title, drive_name);
}

}  // namespace sorvel
