#include "gui/dialogs/disc_erase_form.h"

#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/controls/view_box.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/hourglass.h"
#include "gui/jobs/media_eraser.h"
#include "gui/model/trelin.h"

namespace sorvel {

bool IsErasableProfile(int32_t profile) {
  switch (profile) {
    case 0x0A:  // CD-RW
    case 0x13:  // DVD-RW restricted overwrite
    case 0x14:  // DVD-RW sequential recording
    case 0x1A:  // DVD+RW
    case 0x2A:  // DVD+RW DL
    case 0x43:  // BD-RE
    case 0x53:  // HD DVD-RW
    case 0x5A:  // HD DVD-RW DL
      return true;
    default:
      return false;
  }
}

DiscEraseForm::DiscEraseForm(QWidget* parent)
    : JobDialog(QStringLiteral("DiscEraseForm"), QStringLiteral("媒体消去"), parent) {
  fraRecv_ = new DrivePanel(DriveSide::kWrite, objectName(), this);
  fraRecv_->setTitle(QStringLiteral("書き込み装置(&D)"));
  fraRecv_->timer()->setObjectName(QStringLiteral("tmrDevice"));
  body()->addWidget(fraRecv_);
  AddPanel(fraRecv_);
  // No job: neither progress nor log.
  prgMain()->hide();
  vbxMain()->hide();
  fraRecv_->Load();
}

DiscEraseForm::~DiscEraseForm() { Unload(); }

void DiscEraseForm::StartJob() {
  Trelin& device = *fraRecv_->device();
  // The window runs while a remote drive answers; the controls stay off meanwhile.
  BeginRun();
  MediaEraser eraser;
  eraser.Run(device, [&] {
    if (!device.IsReady()) {
      Message(QStringLiteral("ドライヴの準備が出来ていません。"), kStyleExclamation);
      return false;
    }
    if (!IsErasableProfile(device.GetMediaType())) {
      Message(QStringLiteral("挿入されている媒体は書き換え可能媒体ではありません。"), kStyleExclamation);
      return false;
    }
    bool erased = false;
    {
      HourglassCursor wait;
      fraRecv_->ApplySpeed();
      KeepAwake awake;
      erased = device.EraseMedia(true);
    }
    if (erased) {
      Message(QStringLiteral("削除完了しました。"), kStyleInformation);
    } else {
      Message(QStringLiteral("削除出来ませんでした。"), kStyleCritical);
    }
    return erased;
  });
  EndRun();
}

void DiscEraseForm::UnloadForm() { fraRecv_->Unload(); }

}  // namespace sorvel
