#include "gui/dialogs/disc_copy_form.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>

#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/dual_drive_panel.h"
#include "gui/dialogs/power_action.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/disk_module.h"
#include "gui/foundation/file_io.h"
#include "gui/foundation/form_services.h"
#include "gui/foundation/modal_ui.h"
#include "gui/jobs/disc_copier.h"
#include "gui/jobs/disc_reader.h"
#include "gui/jobs/disc_verifier.h"
#include "gui/jobs/disc_writer.h"
#include "gui/model/trelin.h"

namespace sorvel {
namespace {

const QString kCopyStopQuestion = QStringLiteral("複製中断してよろしいですか。");
const QString kSucceeded = QStringLiteral("複製は正常終了しました。");
const QString kVerifyFailed = QStringLiteral("複製は正常終了しましたが、検証に失敗しました。");
const QString kFailed = QStringLiteral("複製に失敗しました。");

const JobTexts kCopyTexts{kSucceeded, kFailed, kCopyStopQuestion};
const JobTexts kVerifyTexts{kSucceeded, kFailed, QStringLiteral("検証を中断してよろしいですか。")};

constexpr int kStyleYesNo = 4;
constexpr int kStyleDefaultSecond = 256;

bool VerifyCompare() { return Settings() != nullptr && Settings()->VerifyCompare(); }
bool EjectAfterMessage() { return Settings() != nullptr && Settings()->EjectAfterMessage(); }

// Whether `path` opens for input (a regular file only).
bool OpensForInput(const QString& path) {
  FileIO file;
  return file.OpenFile(path, kGenericRead, kOpenExisting, kFileShareRead);
}

// Sets `slot` to `job` for the life of the object, empty again afterwards.
template <typename Job>
class JobReference {
 public:
  JobReference(Job*& slot, Job& job) : slot_(slot) { slot_ = &job; }
  ~JobReference() { slot_ = nullptr; }
  JobReference(const JobReference&) = delete;
  JobReference& operator=(const JobReference&) = delete;

 private:
  Job*& slot_;
};

}  // namespace

DiscCopyForm::DiscCopyForm(QWidget* parent)
    : JobDialog(QStringLiteral("DiscCopyForm"), QStringLiteral("媒体複製"), parent) {
  chkCreateTemporaryImage_ =
      new QCheckBox(QStringLiteral("ディスクイメージファイルを介して間接的に書き込む(&T)"), this);
  chkCreateTemporaryImage_->setObjectName(QStringLiteral("chkCreateTemporaryImage"));
  chkVerify_ = new QCheckBox(QStringLiteral("読み取り検査を実施する(&V)"), this);
  chkVerify_->setObjectName(QStringLiteral("chkVerify"));
  chkShutdown_ = new QCheckBox(QStringLiteral("書き込み後に計算機の電源を切る(&H)"), this);
  chkShutdown_->setObjectName(QStringLiteral("chkShutdown"));

  panels_ = new DualDrivePanel(objectName(), this, chkCreateTemporaryImage_);
  fraSend()->setTitle(QStringLiteral("読み込み装置(&R)"));
  fraRecv()->setTitle(QStringLiteral("書き込み装置(&W)"));
  body()->addWidget(fraSend());
  body()->addWidget(fraRecv());
  body()->addWidget(chkCreateTemporaryImage_);
  body()->addWidget(chkVerify_);
  body()->addWidget(chkShutdown_);
  // The read side carries the one status timer and the read speed; the write
  // side's frame is only disabled while a job runs, its speed is set before
  // each write.
  AddPanel(fraSend());
  AddJobFrame(fraRecv());

  panels_->Load();
  if (chkCreateTemporaryImage_->isEnabled()) {
    chkCreateTemporaryImage_->setChecked(LoadControlSetting(chkCreateTemporaryImage_->objectName(),
                                                            QStringLiteral("0")) == QStringLiteral("1"));
  }
  chkVerify_->setChecked(LoadControlSetting(chkVerify_->objectName(), QStringLiteral("1")) == QStringLiteral("1"));
}

DiscCopyForm::~DiscCopyForm() { Unload(); }

DrivePanel* DiscCopyForm::fraSend() const { return panels_->read_panel(); }
DrivePanel* DiscCopyForm::fraRecv() const { return panels_->write_panel(); }

bool DiscCopyForm::HasDevice() const { return fraSend()->device() && fraRecv()->device(); }

void DiscCopyForm::UnloadForm() {
  const auto flag = [](const QCheckBox* box) { return box->isChecked() ? QStringLiteral("1") : QStringLiteral("0"); };
  SaveControlSetting(chkCreateTemporaryImage_->objectName(),
                     chkCreateTemporaryImage_->isEnabled() ? flag(chkCreateTemporaryImage_) : QStringLiteral("0"));
  SaveControlSetting(chkVerify_->objectName(), flag(chkVerify_));
  panels_->Unload();
}

void DiscCopyForm::HoldRunning(bool running) {
  panels_->SetJobRunning(running);
  cmdEnd()->setEnabled(!running);
  cmdStartStop()->setText(running ? QStringLiteral("中止(&C)") : QStringLiteral("開始(&S)"));
}

void DiscCopyForm::OpenTray(Trelin& device) { device.LoadTray(false); }

void DiscCopyForm::StartJob() {
  // Both objects are held for the whole copy, whatever the panels do meanwhile.
  const std::shared_ptr<Trelin> reader = fraSend()->device();
  const std::shared_ptr<Trelin> writer = fraRecv()->device();
  const bool same_object = reader == writer;
  HoldRunning(true);
  if (same_object || chkCreateTemporaryImage_->isChecked()) {
    CopyThroughImage(*reader, *writer, same_object);
  } else {
    CopyOnTheFly(*reader, *writer);
  }
  HoldRunning(false);
}

bool DiscCopyForm::Verify(DiscVerifier& verifier, Trelin& writer, const TOCInformation* toc) {
  JobReference<DiscVerifier> reference(mobjVerifier_, verifier);
  const bool verified =
      RunJob(verifier, kVerifyTexts, [&verifier] { verifier.StopVerify(); },
             [&] { return verifier.StartVerify(writer, toc); });
  HoldRunning(true);
  return verified;
}

void DiscCopyForm::CopyOnTheFly(Trelin& reader, Trelin& writer) {
  bool verified = true;
  fraRecv()->ApplySpeed();
  JobStartTime start;
  auto copier = std::make_unique<DiscCopier>();
  std::unique_ptr<DiscVerifier> verifier;
  if (chkVerify_->isChecked()) verifier = std::make_unique<DiscVerifier>();

  bool copied = false;
  {
    JobReference<DiscCopier> reference(mobjCopier_, *copier);
    DiscVerifier* recorder = VerifyCompare() ? verifier.get() : nullptr;
    copied = RunJob(*copier, kCopyTexts, [&copier] { copier->StopCopy(); },
                    [&] { return copier->StartCopy(reader, writer, recorder); }) &&
             !cancelled();
    HoldRunning(true);
  }
  bool stopped = cancelled();
  if (copied && verifier) {
    verified = Verify(*verifier, writer, copier->LastTOC());
    stopped = cancelled();
  }
  copier.reset();
  verifier.reset();
  if (copied && !chkShutdown_->isChecked() && !EjectAfterMessage()) OpenTray(writer);
  const QString error = last_error();
  HoldRunning(false);

  CheckShutdownAction(chkShutdown_->isChecked(), stopped, start, copied && verified);
  if (!stopped) {
    if (copied && verified) {
      Message(kSucceeded, kStyleInformation);
    } else if (copied) {
      Message(kVerifyFailed, kStyleExclamation);
    } else {
      Message(error.isEmpty() ? kFailed : error, kStyleCritical);
    }
    panels_->RefreshDriveStatus();
  }
  if (copied && EjectAfterMessage()) OpenTray(writer);
}

void DiscCopyForm::CopyThroughImage(Trelin& reader, Trelin& writer, bool same_object) {
  JobStartTime start;
  temporary_name_ = MakeTempFileName(QString());
  bool read = false;
  if (!temporary_name_.isEmpty()) {
    DiscReader job;
    JobReference<DiscReader> reference(mobjReader_, job);
    read = RunJob(job, kCopyTexts, [&job] { job.StopRead(); },
                  [&] { return job.StartReadCompatible(reader, temporary_name_); });
    HoldRunning(true);
  }
  // A CD leaves a ".tsn" descriptor beside its image; DVD, BD and HD DVD an ".iso".
  const QString tsn = temporary_name_ + QStringLiteral(".tsn");
  const QString image = OpensForInput(tsn) ? tsn : temporary_name_ + QStringLiteral(".iso");

  if (temporary_name_.isEmpty()) {
    // No free temporary name: no job ran, so no error line of this job exists.
    Message(kFailed, kStyleCritical);
  } else if (!read) {
    if (!cancelled()) Message(last_error().isEmpty() ? kFailed : last_error(), kStyleCritical);
  } else {
    if (same_object) OpenTray(reader);
    while (WritePass(writer, image, start)) {
    }
  }
  // Only the files of this job's name; the name carries no extension.
  if (!temporary_name_.isEmpty()) DeleteFilesByPrefix(temporary_name_);
}

bool DiscCopyForm::WritePass(Trelin& writer, const QString& image, JobStartTime& start) {
  bool stopped = false;
  bool verified = true;
  bool written = true;
  // The error text of this pass only: a pass whose prompt was given up ran no job.
  QString error;

  if (!writer.IsMediaWritable()) {
    OpenTray(writer);
    written = ShowIsReadyForm(writer, true);
    panels_->RefreshDriveStatus();
  }
  if (written) {
    fraRecv()->ApplySpeed();
    auto job = std::make_unique<DiscWriter>();
    std::unique_ptr<DiscVerifier> verifier;
    if (chkVerify_->isChecked()) verifier = std::make_unique<DiscVerifier>();
    {
      JobReference<DiscWriter> reference(mobjWriter_, *job);
      DiscVerifier* recorder = VerifyCompare() ? verifier.get() : nullptr;
      written = RunJob(*job, kCopyTexts, [&job] { job->StopWrite(); },
                       [&] { return job->StartWriteCompatible(writer, image, recorder); }) &&
                !cancelled();
      HoldRunning(true);
    }
    stopped = cancelled();
    if (written && verifier) {
      verified = Verify(*verifier, writer, job->LastTOC());
      stopped = cancelled();
    }
    error = last_error();
  }

  QString message;
  int icon = kStyleInformation;
  const bool due = CheckShutdownAction(chkShutdown_->isChecked(), stopped, start, written && verified);
  if (!due && stopped) message = QStringLiteral("複製はキャンセルされました。");
  if (!stopped) {
    if (written && verified) {
      message = kSucceeded;
    } else if (written) {
      message = kVerifyFailed;
      icon = kStyleExclamation;
    } else {
      message = error.isEmpty() ? QStringLiteral("複製に失敗しました") : error;
      icon = kStyleCritical;
    }
  }
  if (message.isEmpty()) return false;

  if (!EjectAfterMessage()) OpenTray(writer);
  const int answer =
      Message(message + QStringLiteral("\r\n続けて複製しますか。"), kStyleYesNo + kStyleDefaultSecond + icon);
  panels_->RefreshDriveStatus();
  if (EjectAfterMessage()) OpenTray(writer);
  return answer != kIdNo;
}

}  // namespace sorvel
