#include "gui/dialogs/is_ready_form.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include "gui/foundation/window_module.h"
#include "gui/model/trelin.h"

namespace sorvel {

namespace {

constexpr int kPollMilliseconds = 100;
constexpr int kVendorProductRevision = 7;

QString RequestText(bool writable) {
  return QStringLiteral("以下の装置に、") + (writable ? QStringLiteral("新しい書き込み可能な") : QString()) +
         QStringLiteral("媒体を挿入してください。");
}

}  // namespace

IsReadyForm::IsReadyForm(Trelin& device, bool writable, QWidget* parent)
    : QDialog(parent), device_(device), writable_(writable) {
  setObjectName(QStringLiteral("IsReadyForm"));
  setWindowTitle(QStringLiteral("ディスクの交換"));
  setModal(true);

  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("imgPicture"));
  picture->setPixmap(style()->standardIcon(QStyle::SP_DriveCDIcon).pixmap(48, 48));
  picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  lblMessage_ = new QLabel(RequestText(writable), this);
  lblMessage_->setObjectName(QStringLiteral("lblMessage"));
  lblMessage_->setWordWrap(true);

  auto* drive_frame = new QFrame(this);
  drive_frame->setObjectName(QStringLiteral("fraDriveName"));
  drive_frame->setFrameShape(QFrame::StyledPanel);
  drive_frame->setFrameShadow(QFrame::Sunken);
  lblDriveName_ = new QLabel(device.GetDeviceName(kVendorProductRevision), drive_frame);
  lblDriveName_->setObjectName(QStringLiteral("lblDriveName"));
  auto* drive_layout = new QHBoxLayout(drive_frame);
  drive_layout->setContentsMargins(8, 6, 8, 6);
  drive_layout->addWidget(lblDriveName_);

  cmdCancel_ = new QPushButton(QStringLiteral("中止(&C)"), this);
  cmdCancel_->setObjectName(QStringLiteral("cmdCancel"));
  cmdCancel_->setDefault(true);
  connect(cmdCancel_, &QPushButton::clicked, this, &QDialog::reject);

  auto* text = new QVBoxLayout;
  text->addWidget(lblMessage_);
  text->addWidget(drive_frame);
  text->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(picture);
  top->addLayout(text, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cmdCancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  setMinimumWidth(500);

  tmrMessage_ = new QTimer(this);
  tmrMessage_->setObjectName(QStringLiteral("tmrMessage"));
  tmrMessage_->setInterval(kPollMilliseconds);
  connect(tmrMessage_, &QTimer::timeout, this, &IsReadyForm::Poll);
}

void IsReadyForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!tmrMessage_->isActive()) tmrMessage_->start();
}

void IsReadyForm::Poll() {
  // A poll's drive commands can pump events (a remote drive); a timer tick
  // meanwhile must not start a second poll.
  if (polling_ || !isVisible()) return;
  polling_ = true;
  ++polls_;
  if (device_.IsReady()) {
    if (!writable_ || device_.IsMediaWritable()) {
      tmrMessage_->stop();
      polling_ = false;
      accept();
      return;
    }
    // Not writable: out with it, and wait for the next disc.
    device_.LoadTray(false);
  }
  polling_ = false;
}

bool IsReadyForm::ShowOpen(Trelin& device, bool writable) {
  // The owner is the dialog whose job waits for the disc: the modal window on
  // top. The active window is no guide: right after a box of that dialog
  // closed, the window system may not have activated the dialog again.
  QWidget* owner = QApplication::activeModalWidget();
  if (owner == nullptr) owner = QApplication::activeWindow();
  IsReadyForm form(device, writable, owner);
  // Centred on its owner on every pass, whatever the window system does.
  form.adjustSize();
  CenterForm(&form, owner);
  // Close box and Escape both end in reject(): the user gave up.
  const bool found = form.exec() == QDialog::Accepted;
  form.tmrMessage_->stop();
  return found;
}

}  // namespace sorvel
