#include "gui/dialogs/about_information_form.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/controls/gradient_frame.h"
#include "gui/foundation/window_module.h"
#include "gui/model/tazol.h"
#include "gui/model/trelin.h"
#include "gui/program_version.h"

namespace sorvel {
namespace {

QFrame* NewSeparator(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

}  // namespace

QString ProgramVersionText(int major, int minor, int revision) {
  QString text = QStringLiteral("Version %1.%2.%3").arg(major).arg(minor).arg(revision);
  if (major < 1) {
    if (minor <= 4) {
      text += QStringLiteral(" Alpha Release");
    } else if (minor <= 9) {
      text += QStringLiteral(" Beta Release");
    } else {
      text += QStringLiteral(" Preview Release");
    }
  }
  return text;
}

QString EngineVersionText(int32_t version) {
  return QStringLiteral("%1.%2.%3").arg((version / 10000) % 100).arg((version / 100) % 100).arg(version % 100);
}

AboutInformationForm::AboutInformationForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutInformationForm"));
  setWindowTitle(QStringLiteral("バージョン情報"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  // Everything lies on the gradient surface, which covers the whole inner area.
  fraMain = new GradientFrame(this);
  fraMain->setObjectName(QStringLiteral("fraMain"));
  fraMain->initProperties();
  fraMain->setStartColor(0x00FFFFFF);
  fraMain->setEndColor(0x00E8C8A8);
  fraMain->setOrientation(2);
  fraMain->setPosition(0);

  auto* picture = new QLabel(fraMain);
  picture->setPixmap(style()->standardIcon(QStyle::SP_DriveCDIcon).pixmap(48, 48));
  picture->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
  lblTitle = new QLabel(QStringLiteral("Sorvel - 光学媒体の読み書きと作成"), fraMain);
  lblTitle->setObjectName(QStringLiteral("lblTitle"));
  QFont title_font = lblTitle->font();
  title_font.setPointSizeF(title_font.pointSizeF() * 1.4);
  title_font.setBold(true);
  lblTitle->setFont(title_font);
  lblVersion = new QLabel(fraMain);
  lblVersion->setObjectName(QStringLiteral("lblVersion"));
  lblLegalNotice = new QLabel(fraMain);
  lblLegalNotice->setObjectName(QStringLiteral("lblLegalNotice"));
  lblLegalNotice->setWordWrap(true);
  lblLegalNotice->setMinimumWidth(380);
  lblEngine = new QLabel(fraMain);
  lblEngine->setObjectName(QStringLiteral("lblEngine"));
  cmdOK = new QPushButton(QStringLiteral("OK"), fraMain);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setDefault(true);
  cmdOK->setMinimumWidth(90);

  auto* grid = new QGridLayout(fraMain);
  grid->setContentsMargins(16, 16, 16, 12);
  grid->setHorizontalSpacing(16);
  grid->addWidget(picture, 0, 0, 4, 1);
  grid->addWidget(lblTitle, 0, 1);
  grid->addWidget(lblVersion, 1, 1);
  grid->addWidget(NewSeparator(fraMain), 2, 1);
  grid->addWidget(lblLegalNotice, 3, 1);
  grid->addWidget(NewSeparator(fraMain), 4, 0, 1, 2);
  grid->addWidget(lblEngine, 5, 0, 1, 2);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cmdOK);
  grid->addLayout(buttons, 6, 0, 1, 2);
  connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

  lblVersion->setText(ProgramVersionText(kProgramVersionMajor, kProgramVersionMinor, kProgramVersionRevision));
  lblLegalNotice->setText(QString::fromUtf8(kProgramLegalNotice));
  ShowEngineVersions();

  const QSize size = fraMain->sizeHint().expandedTo(QSize(480, 0));
  setFixedSize(size);
  fraMain->setGeometry(0, 0, width(), height());
}

void AboutInformationForm::ShowModal(QWidget* main_window) {
  AboutInformationForm form(main_window);
  CenterForm(&form, main_window);
  form.exec();
}

void AboutInformationForm::ShowEngineVersions() {
  int32_t device_version = 0;
  int32_t mastering_version = 0;
  {
    Trelin device;
    device_version = device.GetEngineVersion();
  }
  {
    Tazol mastering;
    mastering_version = mastering.GetEngineVersion();
  }
  lblEngine->setText(QStringLiteral("Sorvel disc engines\n") +
                     QStringLiteral("DriveRelayEngine Trelin -TRELIN- Version ") + EngineVersionText(device_version) +
                     QStringLiteral("\nImageMasteringEngine Tazol -TAZOL- Version ") +
                     EngineVersionText(mastering_version));
}

void AboutInformationForm::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  fraMain->setGeometry(0, 0, event->size().width(), event->size().height());
}

}  // namespace sorvel
