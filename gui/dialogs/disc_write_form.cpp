#include "gui/dialogs/disc_write_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <memory>

#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/power_action.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/dialog_module.h"
#include "gui/jobs/disc_verifier.h"
#include "gui/jobs/disc_writer.h"
#include "gui/model/trelin.h"

namespace sorvel {

namespace {

const QString kFormName = QStringLiteral("DiscWriteForm");
const QString kVerifyKey = QStringLiteral("chkVerify");
const QString kFilter = QStringLiteral(
    "サポートしているイメージ (*.iso,*.cue,*.ccd,*.tsn)|*.iso;*.cue;*.ccd;*.tsn|全てのファイル (*.*)|*.*");
constexpr int kOpenFlags = 0x1800;  // path and file must exist

const JobTexts kWriteTexts{QStringLiteral("書き込みは正常終了しました。"), QStringLiteral("書き込みに失敗しました。"),
                           QStringLiteral("書き込み中断してよろしいですか。")};
const QString kVerifyStopQuestion = QStringLiteral("検証を中断してよろしいですか。");
const QString kVerifyFailed = QStringLiteral("書き込みは正常終了しましたが、検証に失敗しました。");

// Reads one application setting.
template <typename T>
T AppSetting(T (ApplicationSetting::*read)() const) {
  ApplicationSetting* settings = AcquireSettings();
  const T value = (settings->*read)();
  ReleaseSettings();
  return value;
}

}  // namespace

DiscWriteForm::DiscWriteForm(QWidget* parent) : JobDialog(kFormName, QStringLiteral("媒体書込"), parent) {
  fraSend_ = new QGroupBox(QStringLiteral("読み込みファイル(&F)"), this);
  fraSend_->setObjectName(QStringLiteral("fraSend"));
  txtReadFile_ = new QLineEdit(fraSend_);
  txtReadFile_->setObjectName(QStringLiteral("txtReadFile"));
  cmdReadFile_ = new QPushButton(fraSend_);
  cmdReadFile_->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  cmdReadFile_->setFixedWidth(cmdReadFile_->sizeHint().height() + 8);
  cmdReadFile_->setObjectName(QStringLiteral("cmdReadFile"));
  cmdReadFile_->setToolTip(QStringLiteral("読み込みファイルの参照"));
  cmdReadFile_->setAutoDefault(false);
  auto* file_row = new QHBoxLayout(fraSend_);
  file_row->addWidget(txtReadFile_, 1);
  file_row->addWidget(cmdReadFile_);
  body()->addWidget(fraSend_);

  fraRecv_ = new DrivePanel(DriveSide::kWrite, kFormName, this);
  fraRecv_->setTitle(QStringLiteral("書き込み装置(&D)"));
  body()->addWidget(fraRecv_);

  chkVerify_ = new QCheckBox(QStringLiteral("読み取り検査を実施する(&V)"), this);
  chkVerify_->setObjectName(kVerifyKey);
  chkShutdown_ = new QCheckBox(QStringLiteral("書き込み後に計算機の電源を切る(&H)"), this);
  chkShutdown_->setObjectName(QStringLiteral("chkShutdown"));
  body()->addWidget(chkVerify_);
  body()->addWidget(chkShutdown_);

  AddPanel(fraRecv_);
  AddJobFrame(fraSend_);
  connect(cmdReadFile_, &QPushButton::clicked, this, [this] { ChooseReadFile(); });

  // Form_Load: the drive list with the stored drive (the first when that is
  // gone), and the verification box as stored ("1" by default).
  fraRecv_->Load();
  chkVerify_->setChecked(LoadControlSetting(kVerifyKey, QStringLiteral("1")) == QStringLiteral("1"));
}

DiscWriteForm::~DiscWriteForm() { Unload(); }

void DiscWriteForm::ShowOpen(const QString& file_name) {
  txtReadFile_->setText(file_name);
  exec();
  Unload();
}

void DiscWriteForm::ChooseReadFile() {
  const QString chosen = ShowOpenFileDialog(this, kFilter, txtReadFile_->text(), kOpenFlags);
  if (!chosen.isEmpty()) txtReadFile_->setText(chosen);
}

void DiscWriteForm::StartJob() {
  if (txtReadFile_->text().trimmed().isEmpty()) {
    Message(QStringLiteral("読み込みファイルを指定してください。"), kStyleExclamation);
    return;
  }
  const std::shared_ptr<Trelin> device = fraRecv_->device();
  const QString path = txtReadFile_->text();
  const bool eject_after_message = AppSetting(&ApplicationSetting::EjectAfterMessage);
  const bool compare = AppSetting(&ApplicationSetting::VerifyCompare);

  DiscWriter writer;
  std::unique_ptr<DiscVerifier> verifier;
  if (chkVerify_->isChecked()) {
    verifier = std::make_unique<DiscVerifier>();
    connect(verifier.get(), &DiscJob::Progress, this, &JobDialog::Progress);
    connect(verifier.get(), &DiscJob::StatusChange, this, &JobDialog::StatusChange);
  }
  bool written = false;
  bool verified = true;
  JobStartTime start;
  RunJob(writer, kWriteTexts, [&writer] { writer.StopWrite(); }, [&] {
    start.Restart();
    written = writer.StartWriteCompatible(*device, path, compare ? verifier.get() : nullptr) && !cancelled();
    if (written && verifier) {
      DiscVerifier& check = *verifier;
      HandOverStop(kVerifyStopQuestion, [&check] { check.StopVerify(); });
      verified = check.StartVerify(*device, writer.LastTOC());
    }
    if (written && !chkShutdown_->isChecked() && !eject_after_message) device->LoadTray(false);
    return written;
  });
  verifier.reset();

  bool stopped = cancelled();
  CheckShutdownAction(chkShutdown_->isChecked(), stopped, start, verified && written);
  if (!stopped) {
    if (written && verified) {
      Message(kWriteTexts.success, kStyleInformation);
    } else if (written) {
      Message(kVerifyFailed, kStyleExclamation);
    } else {
      Message(last_error().isEmpty() ? kWriteTexts.failure : last_error(), kStyleCritical);
    }
    repaint();
  }
  if (written && eject_after_message) device->LoadTray(false);
}

void DiscWriteForm::UnloadForm() {
  SaveControlSetting(kVerifyKey, chkVerify_->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
  fraRecv_->Unload();
}

void DiscWriteDialog::ShowOpen(const QString& image_file) {
  DiscWriteForm form;
  form.ShowOpen(image_file);
}

}  // namespace sorvel
