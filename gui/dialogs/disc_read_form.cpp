#include "gui/dialogs/disc_read_form.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/dialogs/drive_panel.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/file_paths.h"
#include "gui/jobs/disc_reader.h"
#include "gui/model/trelin.h"
#include "platform/volume_label.h"

namespace sorvel {

namespace {

const QString kFormName = QStringLiteral("DiscReadForm");
const QString kWriteFileKey = QStringLiteral("txtWriteFile");
const QString kFilter = QStringLiteral("互換イメージ (*.img,*.iso)|*.img;*.iso|全てのファイル (*.*)|*.*");
constexpr int kSaveFlags = 2054;  // overwrite prompt, hide read-only, path must exist

const JobTexts kReadTexts{QStringLiteral("読み込みは正常終了しました。"), QStringLiteral("読み込みに失敗しました。"),
                          QStringLiteral("読み取りを中断してよろしいですか。")};

// A name without a folder is taken in the home folder.
QString InHomeWhenBare(const QString& path) {
  QString drive, dir, name, ext;
  SplitPath(path, &drive, &dir, &name, &ext);
  if (!dir.isEmpty()) return path;
  return QDir::homePath() + QLatin1Char('/') + path;
}

}  // namespace

DiscReadForm::DiscReadForm(QWidget* parent) : JobDialog(kFormName, QStringLiteral("媒体読込"), parent) {
  fraSend_ = new DrivePanel(DriveSide::kRead, kFormName, this);
  fraSend_->setTitle(QStringLiteral("読み込み装置(&D)"));
  body()->addWidget(fraSend_);

  fraRecv_ = new QGroupBox(QStringLiteral("書き込みファイル(&F)"), this);
  fraRecv_->setObjectName(QStringLiteral("fraRecv"));
  txtWriteFile_ = new QLineEdit(fraRecv_);
  txtWriteFile_->setObjectName(kWriteFileKey);
  cmdWriteFile_ = new QPushButton(QStringLiteral("書き込みファイルの参照"), fraRecv_);
  cmdWriteFile_->setObjectName(QStringLiteral("cmdWriteFile"));
  cmdWriteFile_->setAutoDefault(false);
  auto* file_row = new QHBoxLayout(fraRecv_);
  file_row->addWidget(txtWriteFile_, 1);
  file_row->addWidget(cmdWriteFile_);
  body()->addWidget(fraRecv_);

  AddPanel(fraSend_);
  AddJobFrame(fraRecv_);
  connect(cmdWriteFile_, &QPushButton::clicked, this, [this] { ChooseWriteFile(); });

  // Form_Load. The name proposed while the list is built is replaced by the
  // stored path at once, so that proposal is skipped; restoring the stored
  // drive proposes again when it picks another drive.
  fraSend_->hooks().drive_opening = [this] {
    if (skip_listing_proposal_) {
      skip_listing_proposal_ = false;
      return;
    }
    ProposeImageFileName();
  };
  txtWriteFile_->setText(LoadControlSetting(kWriteFileKey));
  skip_listing_proposal_ = true;
  fraSend_->Load();
  skip_listing_proposal_ = false;
}

DiscReadForm::~DiscReadForm() { Unload(); }

void DiscReadForm::ProposeImageFileName() {
  QString drive, dir, name, ext;
  SplitPath(txtWriteFile_->text(), &drive, &dir, &name, &ext);
  QString proposed = QStringLiteral("Image.img");
  const QComboBox* drives = fraSend_->drive_combo();
  const int32_t data = drives->currentIndex() < 0 ? -1 : drives->currentData().toInt();
  if (data >= 0 && data < 26) {
    const QString label =
        QString::fromStdString(platform::VolumeLabel(static_cast<char>('A' + data)));
    if (!label.isEmpty()) proposed = SanitizeFileName(label, QStringLiteral(" ")) + QStringLiteral(".img");
  }
  if (drive.isEmpty() && dir.isEmpty()) dir = QDir::homePath() + QLatin1Char('/');
  txtWriteFile_->setText(drive + dir + proposed);
}

void DiscReadForm::ChooseWriteFile() {
  const QString chosen = ShowSaveFileDialog(this, kFilter, txtWriteFile_->text(), kSaveFlags);
  if (!chosen.isEmpty()) txtWriteFile_->setText(chosen);
}

void DiscReadForm::StartJob() {
  if (txtWriteFile_->text().trimmed().isEmpty()) {
    Message(QStringLiteral("書き込みファイルを指定してください。"), kStyleExclamation);
    return;
  }
  const std::shared_ptr<Trelin> device = fraSend_->device();
  const QString path = InHomeWhenBare(txtWriteFile_->text());
  DiscReader reader;
  const bool result = RunJob(reader, kReadTexts, [&reader] { reader.StopRead(); },
                             [&] { return reader.StartReadCompatible(*device, path); });
  ShowOutcome(result, kReadTexts);
}

void DiscReadForm::UnloadForm() {
  SaveControlSetting(kWriteFileKey, txtWriteFile_->text());
  fraSend_->Unload();
}

}  // namespace sorvel
