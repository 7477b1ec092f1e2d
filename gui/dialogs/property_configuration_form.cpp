#include "gui/dialogs/property_configuration_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QVBoxLayout>

#include "gui/controls/numeric_up_down.h"
#include "gui/dialogs/property_parameter_forms.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/file_dialog.h"
#include "gui/foundation/history_database.h"
#include "gui/foundation/modal_ui.h"
#include "gui/foundation/network_module.h"
#include "gui/foundation/window_module.h"

namespace sorvel {
namespace {

const QString kCaption = QStringLiteral("設定");

constexpr int kStyleExclamation = 48;
constexpr int kStyleCritical = 16;
constexpr int kStyleQuestionNoDefault = 292;

// Power-action codes of the two lists.
constexpr int32_t kPowerOff = 8;
constexpr int32_t kStandby = 0x8000;
constexpr int32_t kHibernate = 0x4000;
constexpr int32_t kNothing = 0;

// Folder chooser flag: file-system folders only.
constexpr int kFileSystemFoldersOnly = 1;
// Save dialog: ask before overwriting, hide the read-only box, path must exist.
constexpr int kLogSaveFlags = 0x806;
// Open dialog: file and path must exist.
constexpr int kViewerOpenFlags = 0x1800;

QLabel* NewLabel(QWidget* frame, const QString& text, QWidget* buddy) {
  auto* label = new QLabel(text, frame);
  label->setBuddy(buddy);
  return label;
}

QPushButton* NewBrowseButton(QWidget* frame, const char* name) {
  auto* button = new QPushButton(frame);
  button->setObjectName(QLatin1String(name));
  button->setIcon(frame->style()->standardIcon(QStyle::SP_DirOpenIcon));
  button->setAutoDefault(false);
  button->setFixedWidth(32);
  return button;
}

QLineEdit* NewTextBox(QWidget* frame, const char* name) {
  auto* box = new QLineEdit(frame);
  box->setObjectName(QLatin1String(name));
  return box;
}

QCheckBox* NewCheckBox(QWidget* frame, const char* name, const QString& caption) {
  auto* box = new QCheckBox(caption, frame);
  box->setObjectName(QLatin1String(name));
  return box;
}

QFrame* NewFrame(QWidget* parent, const char* name) {
  auto* frame = new QFrame(parent);
  frame->setObjectName(QLatin1String(name));
  return frame;
}

bool Ticked(const QCheckBox* box) { return box->checkState() != Qt::Unchecked; }

void SelectCode(QComboBox* list, int32_t code) {
  const int index = FindItemDataIndex(list, code);
  if (index >= 0) list->setCurrentIndex(index);
}

int32_t SelectedCode(const QComboBox* list) {
  return list->currentIndex() >= 0 ? list->currentData().toInt() : 0;
}

// One part of an address: blanks, an optional sign, decimal digits, blanks.
// Empty text is 0 when `may_be_empty`. Nothing when the part is not a number
// or lies outside the 32-bit signed range.
std::optional<int64_t> AddressPart(const QString& part, bool may_be_empty) {
  const QString text = part.trimmed();
  if (text.isEmpty()) return may_be_empty ? std::optional<int64_t>(0) : std::nullopt;
  int pos = 0;
  bool negative = false;
  if (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-')) {
    negative = text[0] == QLatin1Char('-');
    pos = 1;
  }
  if (pos >= text.size()) return std::nullopt;
  int64_t value = 0;
  for (; pos < text.size(); ++pos) {
    const QChar c = text[pos];
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + (c.unicode() - '0');
    if (value > int64_t{INT32_MAX} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return value;
}

}  // namespace

std::optional<int32_t> ParseRemoteAddress(const QString& text) {
  const QStringList parts = text.split(QLatin1Char('.'));
  if (parts.size() != 4) return std::nullopt;
  for (int i = 0; i < 4; ++i) {
    if (!AddressPart(parts[i], i > 0)) return std::nullopt;
  }
  return IPStringToLong(text);
}

QFont FixedPitchJapaneseFont() {
  QFont font;
  font.setFamilies({QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("Noto Sans Mono CJK SC"),
                    QStringLiteral("Monospace")});
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  font.setPointSize(9);
  return font;
}

PropertyConfigurationForm::PropertyConfigurationForm(QWidget* parent) : QDialog(parent) {
  AcquireSettings();
  setObjectName(QStringLiteral("PropertyConfigurationForm"));
  setWindowTitle(kCaption);
  // A fixed-size tool window: no minimise, maximise or context help button.
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);

  auto* layout = new QVBoxLayout(this);
  tabMain = new QTabBar(this);
  tabMain->setObjectName(QStringLiteral("tabMain"));
  tabMain->setExpanding(false);
  tabMain->addTab(QStringLiteral("パス"));
  tabMain->addTab(QStringLiteral("書き込み"));
  tabMain->addTab(QStringLiteral("通信"));
  layout->addWidget(tabMain);

  // The three frames share one place below the tab strip; the tab shows one.
  auto* page = new QFrame(this);
  page->setFrameShape(QFrame::StyledPanel);
  auto* stack = new QGridLayout(page);
  fraPath = NewFrame(page, "fraPath");
  fraShutdown = NewFrame(page, "fraShutdown");
  fraNetwork = NewFrame(page, "fraNetwork");
  BuildPathFrame();
  BuildShutdownFrame();
  BuildNetworkFrame();
  QSize largest;
  for (QFrame* frame : {fraPath, fraShutdown, fraNetwork}) {
    stack->addWidget(frame, 0, 0);
    largest = largest.expandedTo(frame->sizeHint());
  }
  for (QFrame* frame : {fraPath, fraShutdown, fraNetwork}) frame->setMinimumSize(largest);
  layout->addWidget(page);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  cmdOK = new QPushButton(QStringLiteral("OK"), this);
  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setDefault(true);
  cmdCancel = new QPushButton(QStringLiteral("キャンセル"), this);
  cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
  cmdCancel->setAutoDefault(false);
  buttons->addWidget(cmdOK);
  buttons->addWidget(cmdCancel);
  layout->addLayout(buttons);

  connect(tabMain, &QTabBar::currentChanged, this, [this](int index) { SelectTab(index); });
  connect(cmdTempPath, &QPushButton::clicked, this, &PropertyConfigurationForm::BrowseTempPath);
  connect(cmdLogPath, &QPushButton::clicked, this, &PropertyConfigurationForm::BrowseLogPath);
  connect(cmdLogViewerPath, &QPushButton::clicked, this, &PropertyConfigurationForm::BrowseLogViewerPath);
  connect(cmdIPAdd, &QPushButton::clicked, this, &PropertyConfigurationForm::AddAddress);
  connect(cmdIPDelete, &QPushButton::clicked, this, &PropertyConfigurationForm::DeleteAddress);
  connect(cmdOK, &QPushButton::clicked, this, &PropertyConfigurationForm::Confirm);
  // キャンセル, Escape and the close box all end here, writing nothing.
  connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

  LoadSettings();
  setFixedSize(sizeHint());
}

PropertyConfigurationForm::~PropertyConfigurationForm() { ReleaseSettings(); }

bool PropertyConfigurationForm::ShowModal(QWidget* main_window) {
  PropertyConfigurationForm form(main_window);
  CenterForm(&form, main_window);
  form.exec();
  return form.saved();
}

void PropertyConfigurationForm::BuildPathFrame() {
  auto* grid = new QGridLayout(fraPath);
  txtTempPath = NewTextBox(fraPath, "txtTempPath");
  txtTempPath->setMinimumWidth(300);
  cmdTempPath = NewBrowseButton(fraPath, "cmdTempPath");
  chkTempPath = NewCheckBox(fraPath, "chkTempPath", QStringLiteral("中間パスを指定する(&S)"));
  txtLogPath = NewTextBox(fraPath, "txtLogPath");
  cmdLogPath = NewBrowseButton(fraPath, "cmdLogPath");
  chkLogPath = NewCheckBox(fraPath, "chkLogPath", QStringLiteral("マスタリング時書き込みログを出力する(&L)"));
  txtLogViewerPath = NewTextBox(fraPath, "txtLogViewerPath");
  cmdLogViewerPath = NewBrowseButton(fraPath, "cmdLogViewerPath");

  grid->addWidget(NewLabel(fraPath, QStringLiteral("中間パス(&T):"), txtTempPath), 0, 0);
  grid->addWidget(txtTempPath, 0, 1);
  grid->addWidget(cmdTempPath, 0, 2);
  grid->addWidget(chkTempPath, 1, 1, 1, 2);
  grid->addItem(new QSpacerItem(0, 10), 2, 0);
  grid->addWidget(NewLabel(fraPath, QStringLiteral("出力パス(&F):"), txtLogPath), 3, 0);
  grid->addWidget(txtLogPath, 3, 1);
  grid->addWidget(cmdLogPath, 3, 2);
  grid->addWidget(NewLabel(fraPath, QStringLiteral("ビューア(&V):"), txtLogViewerPath), 4, 0);
  grid->addWidget(txtLogViewerPath, 4, 1);
  grid->addWidget(cmdLogViewerPath, 4, 2);
  grid->addWidget(chkLogPath, 5, 1, 1, 2);
  grid->setRowStretch(6, 1);
}

void PropertyConfigurationForm::BuildShutdownFrame() {
  auto* grid = new QGridLayout(fraShutdown);
  chkVerifyCompare = NewCheckBox(fraShutdown, "chkVerifyCompare", QStringLiteral("読み取り検査で内容の比較検証を行う(&C)"));
  chkEjectAfterMessage =
      NewCheckBox(fraShutdown, "chkEjectAfterMessage", QStringLiteral("媒体排出はメッセージ表示後に行う(&E)"));
  cboShutdownSuccess = new QComboBox(fraShutdown);
  cboShutdownSuccess->setObjectName(QStringLiteral("cboShutdownSuccess"));
  cboShutdownFailed = new QComboBox(fraShutdown);
  cboShutdownFailed->setObjectName(QStringLiteral("cboShutdownFailed"));
  for (QComboBox* list : {cboShutdownSuccess, cboShutdownFailed}) list->setMinimumContentsLength(10);

  grid->addWidget(chkVerifyCompare, 0, 0, 1, 3);
  grid->addWidget(chkEjectAfterMessage, 1, 0, 1, 3);
  grid->addItem(new QSpacerItem(0, 10), 2, 0);
  grid->addWidget(NewLabel(fraShutdown, QStringLiteral("正常完了時の電源切断方法(&S):"), cboShutdownSuccess), 3, 0);
  grid->addWidget(cboShutdownSuccess, 3, 1);
  grid->addWidget(NewLabel(fraShutdown, QStringLiteral("失敗完了時の電源切断方法(&F):"), cboShutdownFailed), 4, 0);
  grid->addWidget(cboShutdownFailed, 4, 1);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(5, 1);
}

void PropertyConfigurationForm::BuildNetworkFrame() {
  auto* grid = new QGridLayout(fraNetwork);
  nudRemotePort = new NumericUpDown(fraNetwork);
  nudRemotePort->setObjectName(QStringLiteral("nudRemotePort"));
  nudRemotePort->setMin(0);
  nudRemotePort->setMax(65535);
  nudRemotePort->setIncrement(1);
  nudRemotePort->setFixedWidth(90);
  nudScanTimeout = new NumericUpDown(fraNetwork);
  nudScanTimeout->setObjectName(QStringLiteral("nudScanTimeout"));
  nudScanTimeout->setMin(100);
  nudScanTimeout->setMax(1000);
  nudScanTimeout->setIncrement(1);
  nudScanTimeout->setFixedWidth(90);
  txtRemoteIP = NewTextBox(fraNetwork, "txtRemoteIP");
  lstRemoteIP = new QListWidget(fraNetwork);
  lstRemoteIP->setObjectName(QStringLiteral("lstRemoteIP"));
  lstRemoteIP->setSelectionMode(QAbstractItemView::SingleSelection);
  for (QWidget* box : {static_cast<QWidget*>(txtRemoteIP), static_cast<QWidget*>(lstRemoteIP)}) {
    box->setFont(FixedPitchJapaneseFont());
  }
  const int address_width = QFontMetrics(FixedPitchJapaneseFont()).horizontalAdvance(QLatin1Char('0')) * 20;
  txtRemoteIP->setFixedWidth(address_width);
  lstRemoteIP->setFixedSize(address_width, QFontMetrics(FixedPitchJapaneseFont()).lineSpacing() * 6 + 6);
  cmdIPAdd = new QPushButton(QStringLiteral("追加"), fraNetwork);
  cmdIPAdd->setObjectName(QStringLiteral("cmdIPAdd"));
  cmdIPAdd->setAutoDefault(false);
  cmdIPDelete = new QPushButton(QStringLiteral("削除"), fraNetwork);
  cmdIPDelete->setObjectName(QStringLiteral("cmdIPDelete"));
  cmdIPDelete->setAutoDefault(false);

  grid->addWidget(NewLabel(fraNetwork, QStringLiteral("接続先ポート(&P):"), nudRemotePort), 0, 0);
  grid->addWidget(nudRemotePort, 0, 1);
  grid->addWidget(NewLabel(fraNetwork, QStringLiteral("サーバ確認時間(&T):"), nudScanTimeout), 1, 0);
  grid->addWidget(nudScanTimeout, 1, 1);
  grid->addItem(new QSpacerItem(0, 10), 2, 0);
  grid->addWidget(NewLabel(fraNetwork, QStringLiteral("他の網に属する一斉同報通信アドレス(&B)"), lstRemoteIP), 3, 0, 1, 3);
  grid->addWidget(txtRemoteIP, 4, 0, 1, 2);
  grid->addWidget(cmdIPAdd, 4, 2);
  grid->addWidget(lstRemoteIP, 5, 0, 1, 2, Qt::AlignTop);
  grid->addWidget(cmdIPDelete, 5, 2, Qt::AlignTop);
  grid->setColumnStretch(3, 1);
  grid->setRowStretch(6, 1);
}

void PropertyConfigurationForm::LoadSettings() {
  ApplicationSetting& settings = *Settings();
  cboShutdownFailed->addItem(QStringLiteral("電源を切る"), kPowerOff);
  cboShutdownFailed->addItem(QStringLiteral("待機状態"), kStandby);
  cboShutdownFailed->addItem(QStringLiteral("休止状態"), kHibernate);
  cboShutdownFailed->addItem(QStringLiteral("何もしない"), kNothing);
  cboShutdownFailed->setCurrentIndex(3);
  cboShutdownSuccess->addItem(QStringLiteral("電源を切る"), kPowerOff);
  cboShutdownSuccess->addItem(QStringLiteral("待機状態"), kStandby);
  cboShutdownSuccess->addItem(QStringLiteral("休止状態"), kHibernate);
  cboShutdownSuccess->setCurrentIndex(0);
  SelectCode(cboShutdownFailed, settings.ShutdownFailed());
  SelectCode(cboShutdownSuccess, settings.ShutdownSuccess());

  chkVerifyCompare->setChecked(settings.VerifyCompare());
  chkEjectAfterMessage->setChecked(settings.EjectAfterMessage());

  const QString temp = settings.PathTemp();
  chkTempPath->setChecked(!temp.isEmpty());
  txtTempPath->setText(temp);
  const QString log = settings.PathLog();
  chkLogPath->setChecked(!log.isEmpty());
  txtLogPath->setText(log);
  txtLogViewerPath->setText(settings.PathLogViewer());

  nudRemotePort->setValue(settings.RemotePort());
  for (int index = 1;; ++index) {
    const QString address = settings.RemoteIP(index);
    if (address.isEmpty()) break;
    lstRemoteIP->addItem(address);
  }
  nudScanTimeout->setValue(settings.ScanTimeout());

  tabMain->setCurrentIndex(0);
  SelectTab(0);
}

int PropertyConfigurationForm::Message(const QString& text, int style) {
  return CenterMessageBox(this, text, style, kCaption);
}

void PropertyConfigurationForm::SelectTab(int index) {
  fraPath->setVisible(index == 0);
  fraShutdown->setVisible(index == 1);
  fraNetwork->setVisible(index == 2);
}

void PropertyConfigurationForm::BrowseTempPath() {
  const QString folder = BrowseForFolder(this, QStringLiteral("中間パスを指定してください。"), kFileSystemFoldersOnly);
  if (folder.isEmpty()) return;
  txtTempPath->setText(folder);
  chkTempPath->setChecked(true);
}

void PropertyConfigurationForm::BrowseLogPath() {
  const QString path = ShowSaveFileDialog(this, QStringLiteral("マスタリング履歴データベース(*.mdb)|*.mdb"),
                                          QStringLiteral("SORVEL.MDB"), kLogSaveFlags);
  if (path.isEmpty()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  // A history chosen again already holds its tables, so creating them fails;
  // such a file is taken as it is. Anything else is refused and left untouched.
  const bool usable = CreateHistoryDatabase(path) || IsHistoryDatabase(path);
  QApplication::restoreOverrideCursor();
  if (!usable) {
    Message(QStringLiteral("ファイル ") + path + QStringLiteral(" に書き込めません。"), kStyleExclamation);
    return;
  }
  txtLogPath->setText(path);
  chkLogPath->setChecked(true);
}

void PropertyConfigurationForm::BrowseLogViewerPath() {
  // Programs carry no extension here: the dialog offers the files with the
  // executable bit.
  const QString path = ShowOpenFileDialog(this, QStringLiteral("マスタリング履歴閲覧プログラム|*"), QString(),
                                          kViewerOpenFlags | kFileDialogExecutables);
  if (!path.isEmpty()) txtLogViewerPath->setText(path);
}

void PropertyConfigurationForm::AddAddress() {
  const QString text = txtRemoteIP->text().trimmed();
  if (text.isEmpty()) {
    Message(QStringLiteral("IPアドレスを入力してください。"), kStyleExclamation);
    return;
  }
  const std::optional<int32_t> value = ParseRemoteAddress(text);
  if (!value || *value == 0 || *value == -1) {
    Message(QStringLiteral("指定されたIPアドレスは不正です。"), kStyleExclamation);
    return;
  }
  lstRemoteIP->addItem(LongToIPString(*value));
  txtRemoteIP->clear();
}

void PropertyConfigurationForm::DeleteAddress() {
  QListWidgetItem* item = lstRemoteIP->currentItem();
  if (item == nullptr || !item->isSelected()) {
    Message(QStringLiteral("削除対象のIPアドレスを選択してください。"), kStyleExclamation);
    return;
  }
  if (Message(item->text() + QStringLiteral(" を削除しますか。"), kStyleQuestionNoDefault) != kIdYes) return;
  delete lstRemoteIP->takeItem(lstRemoteIP->row(item));
}

void PropertyConfigurationForm::Confirm() {
  ApplicationSetting& settings = *Settings();
  settings.SetShutdownFailed(SelectedCode(cboShutdownFailed));
  settings.SetShutdownSuccess(SelectedCode(cboShutdownSuccess));
  settings.SetVerifyCompare(Ticked(chkVerifyCompare));
  settings.SetEjectAfterMessage(Ticked(chkEjectAfterMessage));
  settings.SetPathTemp(Ticked(chkTempPath) ? txtTempPath->text().trimmed() : QString());
  const bool log = Ticked(chkLogPath);
  settings.SetPathLog(log ? txtLogPath->text().trimmed() : QString());
  settings.SetPathLogViewer(log ? txtLogViewerPath->text().trimmed() : QString());
  settings.SetRemotePort(nudRemotePort->Value());
  const int count = lstRemoteIP->count();
  for (int i = 0; i < count; ++i) settings.SetRemoteIP(i + 1, lstRemoteIP->item(i)->text());
  // Addresses deleted here leave no keys behind.
  for (int index = count + 1; !settings.RemoteIP(index).isEmpty(); ++index) settings.SetRemoteIP(index, QString());
  settings.SetScanTimeout(nudScanTimeout->Value());
  if (!settings.Save()) {
    Message(QStringLiteral("設定を保存できませんでした。"), kStyleCritical);
    return;
  }
  saved_ = true;
  accept();
}

}  // namespace sorvel
