#include "gui/dialogs/disc_analyze_form.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/controls/color.h"
#include "gui/controls/gradient_frame.h"
#include "gui/controls/numeric_up_down.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/hourglass.h"
#include "gui/dialogs/read_session.h"
#include "gui/dialogs/title_band.h"
#include "gui/dialogs/track_icons.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/file_dialog.h"
#include "gui/foundation/file_paths.h"
#include "gui/model/descriptor_files.h"
#include "gui/model/device_setting.h"
#include "gui/model/toc_information.h"
#include "gui/model/trelin.h"

namespace sorvel {

namespace {

constexpr int kSectorBuffer = 2449;
constexpr int kSubchannelOffset = 2352;
constexpr OleColor kRed = 0x0000FF;

QTreeWidget* MakeReportView(QWidget* parent, const char* name, const QStringList& columns) {
  auto* view = new QTreeWidget(parent);
  view->setObjectName(QString::fromLatin1(name));
  view->setRootIsDecorated(false);
  view->setUniformRowHeights(true);
  view->setAllColumnsShowFocus(true);
  view->setHeaderLabels(columns);
  view->header()->setStretchLastSection(true);
  return view;
}

QFont DumpFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("Noto Sans Mono CJK JP"), font.family()});
  font.setStyleHint(QFont::Monospace);
  return font;
}

void SetTextColor(QTreeWidget* view, OleColor color) {
  QPalette palette = view->palette();
  palette.setColor(QPalette::Text, ResolveColor(color, QApplication::palette(view)));
  view->setPalette(palette);
}

// "150 (00:04:00)".
QString AddressText(int32_t lba, const QString& msf) {
  return QString::number(lba) + QStringLiteral(" (") + msf + QLatin1Char(')');
}

}  // namespace

QString HexDumpData(const unsigned char* bytes, int count) {
  QString text;
  text.reserve(count * 3);
  for (int i = 0; i < count; ++i) text += QStringLiteral("%1 ").arg(bytes[i], 2, 16, QLatin1Char('0')).toUpper();
  return text;
}

QString HexDumpAscii(const unsigned char* bytes, int count) {
  QString text;
  text.reserve(count);
  for (int i = 0; i < count; ++i) text += (bytes[i] >= 0x20 && bytes[i] <= 0x7F) ? QChar(bytes[i]) : QChar(u'.');
  return text;
}

DiscAnalyzeForm::DiscAnalyzeForm(QWidget* parent) : QDialog(parent), setting_(std::make_unique<DeviceSetting>()) {
  setObjectName(QStringLiteral("DiscAnalyzeForm"));
  setWindowTitle(QStringLiteral("Sorvel"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  fraTitle_ = MakeTitleBand(this, QStringLiteral("分析"), &lblTitle_);
  layout->addWidget(fraTitle_);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(9, 6, 9, 6);
  layout->addLayout(body, 1);
  panel_ = new DrivePanel(DriveSide::kRead, objectName(), this);
  body->addWidget(panel_);

  tabMain_ = new QTabBar(this);
  tabMain_->setObjectName(QStringLiteral("tabMain"));
  tabMain_->addTab(QStringLiteral("TOC"));
  tabMain_->addTab(QStringLiteral("MainChannel"));
  tabMain_->addTab(QStringLiteral("SubChannel"));
  body->addWidget(tabMain_);
  lsvTOC_ = MakeReportView(this, "lsvTOC",
                           {QStringLiteral("!"), QStringLiteral("Session"), QStringLiteral("Track"),
                            QStringLiteral("Index"), QStringLiteral("StartLBA"), QStringLiteral("EndLBA")});
  for (int column = 1; column <= 5; ++column)
    lsvTOC_->headerItem()->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
  lsvTOC_->setColumnWidth(0, 90);
  for (int column = 1; column <= 3; ++column) lsvTOC_->setColumnWidth(column, 64);
  lsvTOC_->setColumnWidth(4, 130);
  lsvMainChannel_ = MakeReportView(this, "lsvMainChannel",
                                   {QStringLiteral("Address"), QStringLiteral("Data"), QStringLiteral("ASCII")});
  lsvSubChannel_ = MakeReportView(this, "lsvSubChannel",
                                  {QStringLiteral("Channel"), QStringLiteral("Data"), QStringLiteral("ASCII")});
  const QFont dump_font = DumpFont();
  for (QTreeWidget* view : {lsvMainChannel_, lsvSubChannel_}) {
    view->setFont(dump_font);
    view->setColumnWidth(0, 90);
    view->setColumnWidth(1, QFontMetrics(dump_font).horizontalAdvance(QString(48, QLatin1Char('0'))) + 12);
  }
  for (QTreeWidget* view : {lsvTOC_, lsvMainChannel_, lsvSubChannel_}) body->addWidget(view, 1);

  auto* lba_row = new QHBoxLayout;
  auto* lba_label = new QLabel(QStringLiteral("LBA"), this);
  nudLBA_ = new NumericUpDown(this);
  nudLBA_->setObjectName(QStringLiteral("nudLBA"));
  nudLBA_->setMin(0);
  nudLBA_->setMax(10);
  nudLBA_->setValue(0);
  nudLBA_->setMinimumWidth(100);
  sldLBA_ = new QSlider(Qt::Horizontal, this);
  sldLBA_->setObjectName(QStringLiteral("sldLBA"));
  sldLBA_->setRange(0, 10);
  lba_row->addWidget(lba_label);
  lba_row->addWidget(nudLBA_);
  lba_row->addWidget(sldLBA_, 1);
  body->addLayout(lba_row);

  auto* buttons = new QHBoxLayout;
  cmdStartStop_ = new QPushButton(QStringLiteral("開始(&S)"), this);
  cmdStartStop_->setObjectName(QStringLiteral("cmdStartStop"));
  cmdSaveTOC_ = new QPushButton(QStringLiteral("TOC保存(&S)"), this);
  cmdSaveTOC_->setObjectName(QStringLiteral("cmdSaveTOC"));
  cmdEnd_ = new QPushButton(QStringLiteral("終了(&Q)"), this);
  cmdEnd_->setObjectName(QStringLiteral("cmdEnd"));
  for (QPushButton* button : {cmdStartStop_, cmdSaveTOC_, cmdEnd_}) button->setAutoDefault(false);
  buttons->addStretch(1);
  buttons->addWidget(cmdStartStop_);
  buttons->addWidget(cmdSaveTOC_);
  buttons->addWidget(cmdEnd_);
  body->addLayout(buttons);

  stbMain_ = new QStatusBar(this);
  stbMain_->setObjectName(QStringLiteral("stbMain"));
  stbMain_->setSizeGripEnabled(false);
  layout->addWidget(stbMain_);

  // Slider moves are applied once the event loop runs again, to the latest
  // position only: a drag reads one sector, not one per step.
  slider_timer_ = new QTimer(this);
  slider_timer_->setSingleShot(true);
  slider_timer_->setInterval(0);
  connect(slider_timer_, &QTimer::timeout, this, &DiscAnalyzeForm::ApplySliderMove);
  connect(sldLBA_, &QSlider::valueChanged, this, &DiscAnalyzeForm::SliderMoved);
  connect(nudLBA_, &NumericUpDown::Change, this, &DiscAnalyzeForm::LBAChanged);
  connect(tabMain_, &QTabBar::currentChanged, this, &DiscAnalyzeForm::ShowTab);
  connect(cmdStartStop_, &QPushButton::clicked, this, &DiscAnalyzeForm::StartAnalysis);
  connect(cmdSaveTOC_, &QPushButton::clicked, this, &DiscAnalyzeForm::SaveTOC);
  connect(cmdEnd_, &QPushButton::clicked, this, &QDialog::accept);
  ShowTab(0);
  resize(720, 640);

  panel_->hooks().device_opened = [this] {
    if (panel_->device()) setting_->LoadSetting(*panel_->device());
  };
  panel_->hooks().drive_changed = [this] { ClearAnalyzeViews(); };
  panel_->hooks().status_refreshed = [this](bool has_device, bool ready) {
    if (!has_device || !ready) ClearAnalyzeViews();
  };
  panel_->Load();
}

DiscAnalyzeForm::~DiscAnalyzeForm() { Unload(); }

QString DiscAnalyzeForm::StatusText() const { return stbMain_->currentMessage(); }

void DiscAnalyzeForm::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() != QEvent::ActivationChange) return;
  if (!isActiveWindow()) {
    // Left for another window of this program (a box, a file dialog), or for
    // another program, which hands the focus back where it was.
    deactivated_within_program_ = QApplication::activeWindow() != nullptr;
    return;
  }
  // Activated on showing or coming back from one of the program's windows:
  // the slider takes the focus (a disabled slider cannot; nothing happens then).
  if (!activated_once_ || deactivated_within_program_) sldLBA_->setFocus(Qt::ActiveWindowFocusReason);
  activated_once_ = true;
  deactivated_within_program_ = false;
}

void DiscAnalyzeForm::done(int result) {
  Unload();
  QDialog::done(result);
}

void DiscAnalyzeForm::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  slider_timer_->stop();
  panel_->Unload();
}

void DiscAnalyzeForm::ShowTab(int index) {
  lsvTOC_->setVisible(index == 0);
  lsvMainChannel_->setVisible(index == 1);
  lsvSubChannel_->setVisible(index == 2);
}

void DiscAnalyzeForm::ClearAnalyzeViews() {
  for (QTreeWidget* view : {lsvTOC_, lsvMainChannel_, lsvSubChannel_}) {
    if (view->topLevelItemCount() > 0) view->clear();
  }
  nudLBA_->setEnabled(false);
  sldLBA_->setEnabled(false);
  slider_timer_->stop();
  stbMain_->clearMessage();
}

void DiscAnalyzeForm::StartAnalysis() {
  const std::shared_ptr<Trelin> device = panel_->device();
  if (!device) return;
  {
    HourglassCursor hourglass;
    const ReadSessionStart start = StartReadSession(*device, *setting_, *panel_);
    if (start.family == 1) {
      nudLBA_->setMin(-150);
    } else if (start.started) {
      nudLBA_->setMin(0);
    }
    ShowTOCList();
  }
  // Qt clamps a range whose end lies below its start; such a range is
  // refused here instead, and the LBA controls stay disabled.
  const int32_t last = device->GetLastLBA();
  const bool usable = last >= nudLBA_->Min();
  if (usable) {
    nudLBA_->setMax(last);
    QSignalBlocker block(sldLBA_);
    sldLBA_->setRange(nudLBA_->Min(), nudLBA_->Max());
    sldLBA_->setPageStep(std::max(1, (nudLBA_->Max() - nudLBA_->Min()) / 20));
  }
  nudLBA_->setEnabled(usable);
  sldLBA_->setEnabled(usable);
  {
    QSignalBlocker block(nudLBA_);
    nudLBA_->setValue(0);
  }
  LBAChanged();
}

void DiscAnalyzeForm::ShowTOCList() {
  const std::shared_ptr<Trelin> device = panel_->device();
  if (!device) return;
  std::unique_ptr<TOCInformation> toc = device->GetTOCStructure();
  lsvTOC_->clear();
  if (!toc) return;
  QList<QTreeWidgetItem*> rows;
  for (int i = 1; i <= toc->TOCCount(); ++i) {
    const model::TOCTrack* entry = toc->TOC(i);
    auto* row = new QTreeWidgetItem;
    const bool audio = entry->SectorMode == 0;
    row->setText(0, audio ? QStringLiteral("Audio") : QStringLiteral("Mode") + QString::number(entry->SectorMode));
    row->setIcon(0, TrackTypeIcon(audio ? QStringLiteral("Audio") : QStringLiteral("Data")));
    row->setText(1, QString::number(entry->SessionNo));
    row->setText(2, QString::number(entry->TrackNo));
    row->setText(3, QString::number(entry->IndexNo));
    row->setText(4, AddressText(entry->StartLBA, entry->StartMSF()));
    row->setText(5, AddressText(entry->EndLBA, entry->EndMSF()));
    for (int column = 1; column <= 5; ++column) row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    rows << row;
  }
  lsvTOC_->addTopLevelItems(rows);
}

void DiscAnalyzeForm::DumpSector(int32_t lba) {
  const std::shared_ptr<Trelin> device = panel_->device();
  if (!device) {
    stbMain_->clearMessage();
    return;
  }
  QByteArray buffer(kSectorBuffer, '\0');
  const bool ok = device->ReadLBA(buffer, lba);
  if (!ok && !setting_->IgnoreError) {
    stbMain_->showMessage(QStringLiteral("読み込み失敗！ (LBA=%1)").arg(lba));
    lsvMainChannel_->clear();
    lsvSubChannel_->clear();
    QApplication::beep();
    return;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.constData());
  const int32_t family = device->GetMediaFamilyType();
  const int length = family == 1 ? 2352 : (family >= 2 && family <= 4) ? 2048 : 0;
  lsvMainChannel_->clear();
  QList<QTreeWidgetItem*> rows;
  for (int offset = 0; offset < length; offset += 16) {
    auto* row = new QTreeWidgetItem;
    row->setText(0, QStringLiteral("%1").arg(offset, 4, 16, QLatin1Char('0')).toUpper());
    row->setText(1, HexDumpData(bytes + offset, 16));
    row->setText(2, HexDumpAscii(bytes + offset, 16));
    rows << row;
  }
  lsvMainChannel_->addTopLevelItems(rows);
  lsvSubChannel_->clear();
  if (family == 1 && (setting_->CDReadCommand == 2 || setting_->CDReadCommand == 3)) {
    rows.clear();
    static const char kChannels[] = "PQRSTUVW";
    for (int offset = kSubchannelOffset; offset <= 2436; offset += 12) {
      auto* row = new QTreeWidgetItem;
      row->setText(0, QChar::fromLatin1(kChannels[(offset - kSubchannelOffset) / 12]) + QStringLiteral("-Channel"));
      row->setText(1, HexDumpData(bytes + offset, 12));
      row->setText(2, HexDumpAscii(bytes + offset, 12));
      rows << row;
    }
    lsvSubChannel_->addTopLevelItems(rows);
  }
  const int32_t first = device->GetFirstLBA();
  const OleColor color = lba < first ? kRed : kSysWindowText;
  SetTextColor(lsvMainChannel_, color);
  SetTextColor(lsvSubChannel_, color);
  stbMain_->showMessage(QStringLiteral("LBA %1 から %2 まで読み込み可能です。").arg(first).arg(device->GetLastLBA()));
}

void DiscAnalyzeForm::LBAChanged() {
  const int32_t value = nudLBA_->Value();
  {
    QSignalBlocker block(sldLBA_);
    sldLBA_->setValue(value);
  }
  DumpSector(value);
}

void DiscAnalyzeForm::SliderMoved(int value) {
  pending_slider_value_ = value;
  if (!slider_timer_->isActive()) slider_timer_->start();
}

void DiscAnalyzeForm::ApplySliderMove() {
  if (pending_slider_value_ == nudLBA_->Value()) return;
  nudLBA_->setValue(pending_slider_value_);
}

void DiscAnalyzeForm::SaveTOC() {
  const std::shared_ptr<Trelin> device = panel_->device();
  if (!device) return;
  std::unique_ptr<TOCInformation> toc = device->GetTOCStructure();
  const QString path =
      ShowSaveFileDialog(this, QStringLiteral("CUEファイル(*.cue)|*.cue|CCDファイル(*.ccd)|*.ccd"),
                         QStringLiteral("Image.cue"), kOfnOverwritePrompt | kOfnHideReadOnly | kOfnPathMustExist);
  if (path.isEmpty()) return;
  QString drive, dir, name, ext;
  SplitPath(path, &drive, &dir, &name, &ext);
  bool saved = false;
  if (toc) {
    const QString kind = ext.toUpper();
    if (kind == QLatin1String(".CUE")) {
      // The sheet names its image: a name it cannot hold is told as such.
      const QString image = path.left(path.size() - ext.size()) + QStringLiteral(".img");
      if (!IsSheetFileName(image)) {
        CenterMessageBox(this, SheetFileNameText(image), 48, QString());
        return;
      }
      saved = toc->SaveCUEFile(path, name + QStringLiteral(".img"), QString(), 2352);
    } else if (kind == QLatin1String(".CCD")) {
      saved = toc->SaveCCDFile(path);
    }
  }
  if (!saved) {
    CenterMessageBox(this,
                     QStringLiteral("ファイルを保存できませんでした。\r\n不正な拡張子でないか、またはディスクの種別に対して"
                                    "不相応の形式ではないかを確認してください。"),
                     48, QString());
  }
}

}  // namespace sorvel
