#include "gui/dialogs/property_parameter_forms.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/controls/numeric_up_down.h"
#include "gui/model/device_setting.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/trelin.h"

namespace sorvel {
namespace {

QCheckBox* NewCheckBox(QWidget* frame, const char* name, const QString& caption) {
  auto* box = new QCheckBox(caption, frame);
  box->setObjectName(QLatin1String(name));
  frame->layout()->addWidget(box);
  return box;
}

// A labelled row of a frame; the label's access key moves to `field`.
template <typename Field>
Field* NewRow(QWidget* frame, const char* name, const QString& label, QWidget* tail = nullptr) {
  auto* field = new Field(frame);
  field->setObjectName(QLatin1String(name));
  auto* row = new QHBoxLayout;
  auto* text = new QLabel(label, frame);
  text->setBuddy(field);
  row->addWidget(text);
  row->addWidget(field);
  if (tail != nullptr) row->addWidget(tail);
  row->addStretch(1);
  static_cast<QVBoxLayout*>(frame->layout())->addLayout(row);
  return field;
}

NumericUpDown* NewNumber(QWidget* frame, const char* name, const QString& label, int32_t low, int32_t high,
                         QWidget* tail = nullptr) {
  NumericUpDown* box = NewRow<NumericUpDown>(frame, name, label, tail);
  box->setMin(low);
  box->setMax(high);
  box->setMinimumWidth(90);
  return box;
}

QComboBox* NewList(QWidget* frame, const char* name, const QString& label) {
  QComboBox* list = NewRow<QComboBox>(frame, name, label);
  list->setMinimumContentsLength(12);
  return list;
}

void Finish(QWidget* frame) { static_cast<QVBoxLayout*>(frame->layout())->addStretch(1); }

bool Ticked(const QCheckBox* box) { return box->checkState() != Qt::Unchecked; }

// Selects the entry of `code`, else the first entry.
void SelectCode(QComboBox* list, int32_t code) {
  const int index = FindItemDataIndex(list, code);
  list->setCurrentIndex(index >= 0 ? index : (list->count() > 0 ? 0 : -1));
}

int32_t SelectedCode(const QComboBox* list) {
  return list->currentIndex() >= 0 ? list->currentData().toInt() : 0;
}

}  // namespace

int FindItemDataIndex(const QComboBox* list, int32_t code) {
  for (int i = 0; i < list->count(); ++i) {
    bool ok = false;
    const int32_t data = list->itemData(i).toInt(&ok);
    if (ok && data == code) return i;
  }
  return -1;
}

PropertyParameterForm::PropertyParameterForm(const QString& object_name, QWidget* parent) : QDialog(parent) {
  setObjectName(object_name);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  auto* layout = new QVBoxLayout(this);
  tab_ = new QTabWidget(this);
  tab_->setObjectName(QStringLiteral("tabMain"));
  const char* names[3] = {"fraCommon", "fraCD", "fraDVD"};
  const QString captions[3] = {QStringLiteral("共通"), QStringLiteral("CD系媒体"), QStringLiteral("DVD系媒体")};
  for (int i = 0; i < 3; ++i) {
    frames_[i] = new QWidget(tab_);
    frames_[i]->setObjectName(QLatin1String(names[i]));
    new QVBoxLayout(frames_[i]);
    tab_->addTab(frames_[i], captions[i]);
  }
  layout->addWidget(tab_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ok_ = new QPushButton(QStringLiteral("OK"), this);
  ok_->setObjectName(QStringLiteral("cmdOK"));
  ok_->setDefault(true);
  cancel_ = new QPushButton(QStringLiteral("キャンセル"), this);
  cancel_->setObjectName(QStringLiteral("cmdCancel"));
  cancel_->setAutoDefault(false);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);
  // OK alone confirms; キャンセル, Escape and the close box end unconfirmed.
  connect(ok_, &QPushButton::clicked, this, [this] {
    confirmed_ = true;
    accept();
  });
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

bool PropertyParameterForm::RunModal() {
  tab_->setCurrentIndex(0);
  exec();
  return confirmed_;
}

PropertyReadParameterForm::PropertyReadParameterForm(QWidget* parent)
    : PropertyParameterForm(QStringLiteral("PropertyReadParameterForm"), parent) {
  QWidget* common = frames_[0];
  QWidget* cd = frames_[1];
  QWidget* dvd = frames_[2];
  nudReadBlockLength = NewNumber(common, "nudReadBlockLength", QStringLiteral("読み込みブロック数(&B):"), 1, 26);
  Finish(common);
  cboReadCommandCD = NewList(cd, "cboReadCommandCD", QStringLiteral("読み込みコマンド(&C):"));
  chkIgnoreError = NewCheckBox(cd, "chkIgnoreError", QStringLiteral("エラー無視(&I)"));
  nudRetryCount = NewNumber(cd, "nudRetryCount", QStringLiteral("再試行回数(R):"), 0, 10);
  chkSkipError = NewCheckBox(cd, "chkSkipError", QStringLiteral("ﾊﾞｰｽﾄｴﾗｰｽｷｯﾌﾟ(&B)"));
  nudSkipUnit = NewNumber(cd, "nudSkipUnit", QStringLiteral("飛ばし単位(J):"), 1, 1000);
  chkReadFirstPregap = NewCheckBox(cd, "chkReadFirstPregap", QStringLiteral("ﾌｧｰｽﾄﾌﾟﾘｷﾞｬｯﾌﾟ読込(&F)"));
  chkOnlyFirstSession = NewCheckBox(cd, "chkOnlyFirstSession", QStringLiteral("ﾌｧｰｽﾄｾｯｼｮﾝのみ解析(&O)"));
  chkUnableToAnalizePregap =
      NewCheckBox(cd, "chkUnableToAnalizePregap", QStringLiteral("ﾌﾟﾘｷﾞｬｯﾌﾟ解析無し(&U)"));
  chkCollectSubPQ = NewCheckBox(cd, "chkCollectSubPQ", QStringLiteral("SubPQチャンネルデータ修正(&Q)"));
  Finish(cd);
  cboReadCommandDVD = NewList(dvd, "cboReadCommandDVD", QStringLiteral("読み込みコマンド(&C):"));
  Finish(dvd);
  connect(chkIgnoreError, &QCheckBox::clicked, this, [this] { ApplyEnableRules(); });
  connect(chkSkipError, &QCheckBox::clicked, this, [this] { ApplyEnableRules(); });
}

PropertyReadParameterForm::~PropertyReadParameterForm() = default;

void PropertyReadParameterForm::ApplyEnableRules() {
  nudRetryCount->setEnabled(chkIgnoreError->isChecked());
  nudSkipUnit->setEnabled(chkSkipError->isChecked());
}

bool PropertyReadParameterForm::ShowOpen(Trelin& device) {
  const QString name = device.GetDeviceName(DNC_ALL);
  DeviceSetting setting;
  confirmed_ = false;
  setWindowTitle(name + QStringLiteral(" の読み込み設定"));
  cboReadCommandCD->clear();
  cboReadCommandCD->addItem(QStringLiteral("RAW"), CCC_RAW);
  cboReadCommandCD->addItem(QStringLiteral("RAW+SUB16"), CCC_RAW16);
  cboReadCommandCD->addItem(QStringLiteral("RAW+SUB96"), CCC_RAW96);
  cboReadCommandCD->setCurrentIndex(0);
  cboReadCommandDVD->clear();
  cboReadCommandDVD->addItem(QStringLiteral("DVD-DAO"), 0);
  cboReadCommandDVD->setCurrentIndex(0);

  setting.LoadSetting(device);
  SelectCode(cboReadCommandCD, setting.CDReadCommand);
  chkReadFirstPregap->setChecked(setting.ReadFirstPregap);
  chkIgnoreError->setChecked(setting.IgnoreError);
  nudRetryCount->setValue(setting.RetryCount);
  chkSkipError->setChecked(setting.BurstErrorSkip);
  nudSkipUnit->setValue(setting.SkipUnit);
  chkOnlyFirstSession->setChecked(setting.OnlyFirstSession);
  chkUnableToAnalizePregap->setChecked(setting.UnableToAnalizePregap);
  chkCollectSubPQ->setChecked(setting.CollectSubPQRead);
  nudReadBlockLength->setValue(setting.ReadBlockLength);
  SelectCode(cboReadCommandDVD, setting.DVDReadCommand);
  ApplyEnableRules();

  if (!RunModal()) return false;
  setting.CDReadCommand = SelectedCode(cboReadCommandCD);
  setting.ReadFirstPregap = Ticked(chkReadFirstPregap);
  setting.IgnoreError = Ticked(chkIgnoreError);
  setting.RetryCount = nudRetryCount->Value();
  setting.BurstErrorSkip = Ticked(chkSkipError);
  setting.SkipUnit = nudSkipUnit->Value();
  setting.OnlyFirstSession = Ticked(chkOnlyFirstSession);
  setting.UnableToAnalizePregap = Ticked(chkUnableToAnalizePregap);
  setting.CollectSubPQRead = Ticked(chkCollectSubPQ);
  setting.ReadBlockLength = nudReadBlockLength->Value();
  setting.DVDReadCommand = SelectedCode(cboReadCommandDVD);
  setting.SaveSetting();
  return true;
}

PropertyWriteParameterForm::PropertyWriteParameterForm(QWidget* parent)
    : PropertyParameterForm(QStringLiteral("PropertyWriteParameterForm"), parent) {
  QWidget* common = frames_[0];
  QWidget* cd = frames_[1];
  QWidget* dvd = frames_[2];
  nudWriteBlockLength = NewNumber(common, "nudWriteBlockLength", QStringLiteral("書き込みブロック数(&B):"), 1, 26);
  lblWriteCacheBufferSize = new QLabel(QStringLiteral("% (256MiB)"), common);
  lblWriteCacheBufferSize->setObjectName(QStringLiteral("lblWriteCacheBufferSize"));
  nudWriteCacheBufferRate = NewNumber(common, "nudWriteCacheBufferRate", QStringLiteral("書き込み緩衝域(&U):"), 0, 95,
                                      lblWriteCacheBufferSize);
  chkOptimumPowerControl = NewCheckBox(common, "chkOptimumPowerControl", QStringLiteral("レーザ出力調整(&O)"));
  chkForceEject = NewCheckBox(common, "chkForceEject", QStringLiteral("検証前強制排出(&E)"));
  nudVerifyPassTo = new NumericUpDown(common);
  nudVerifyPassFrom = NewNumber(common, "nudVerifyPassFrom", QStringLiteral("検証無視区画・自(&F):"), -150, 0);
  {
    // "至(&T):" sits on the same row, after the start of the zone.
    auto* row = static_cast<QHBoxLayout*>(
        static_cast<QVBoxLayout*>(common->layout())->itemAt(common->layout()->count() - 1)->layout());
    auto* label = new QLabel(QStringLiteral("至(&T):"), common);
    nudVerifyPassTo->setObjectName(QStringLiteral("nudVerifyPassTo"));
    nudVerifyPassTo->setMin(0);
    nudVerifyPassTo->setMax(150);
    nudVerifyPassTo->setMinimumWidth(90);
    label->setBuddy(nudVerifyPassTo);
    row->insertWidget(row->count() - 1, label);
    row->insertWidget(row->count() - 1, nudVerifyPassTo);
  }
  Finish(common);
  cboWriteCommandCD = NewList(cd, "cboWriteCommandCD", QStringLiteral("書き込みコマンド(&C):"));
  chkErrorFirstPregap = NewCheckBox(cd, "chkErrorFirstPregap", QStringLiteral("ﾌｧｰｽﾄﾌﾟﾘｷﾞｬｯﾌﾟをエラー化(&F)"));
  chkOverBurn = NewCheckBox(cd, "chkOverBurn", QStringLiteral("媒体の容量を無視する(&O)"));
  chkCollectSubPQ = NewCheckBox(cd, "chkCollectSubPQ", QStringLiteral("SubPQチャンネルデータ修正(&Q)"));
  Finish(cd);
  cboWriteCommandDVD = NewList(dvd, "cboWriteCommandDVD", QStringLiteral("書き込みコマンド(&C):"));
  Finish(dvd);
  connect(nudWriteCacheBufferRate, &NumericUpDown::Change, this, [this] { PreviewCacheSize(); });
}

PropertyWriteParameterForm::~PropertyWriteParameterForm() = default;

void PropertyWriteParameterForm::PreviewCacheSize() {
  if (!setting_) return;
  // Only the preview sees the box's rate; the setting keeps its own until OK.
  const int32_t kept = setting_->WriteCacheBufferRate;
  setting_->WriteCacheBufferRate = nudWriteCacheBufferRate->Value();
  lblWriteCacheBufferSize->setText(QStringLiteral("％　（") + QString::number(setting_->WriteCacheBufferSize()) +
                                   QStringLiteral("メビバイト）"));
  setting_->WriteCacheBufferRate = kept;
}

bool PropertyWriteParameterForm::ShowOpen(Trelin& device) {
  const QString name = device.GetDeviceName(DNC_ALL);
  setting_ = std::make_unique<DeviceSetting>();
  confirmed_ = false;
  setWindowTitle(name + QStringLiteral(" の書き込み設定"));
  struct Mode {
    int32_t code;
    const char16_t* text;
  };
  static constexpr Mode kModes[] = {{CCC_SAO, u"SAO"},
                                    {CCC_SAO_RAW, u"SAO RAW"},
                                    {CCC_DAO_RAW16, u"DAO RAW+16"},
                                    {CCC_DAO_RAW96, u"DAO RAW+96"}};
  cboWriteCommandCD->clear();
  for (const Mode& mode : kModes) {
    if (device.CheckWriteMode(mode.code, false, MFT_CDFAMILY)) {
      cboWriteCommandCD->addItem(QString::fromUtf16(mode.text), mode.code);
    }
  }
  device.ResetSense();
  if (cboWriteCommandCD->count() == 0) cboWriteCommandCD->addItem(QStringLiteral("非対応"), 0);
  cboWriteCommandCD->setCurrentIndex(0);
  cboWriteCommandDVD->clear();
  cboWriteCommandDVD->addItem(QStringLiteral("DVD-DAO"), 0);
  cboWriteCommandDVD->setCurrentIndex(0);

  setting_->LoadSetting(device);
  nudWriteBlockLength->setValue(setting_->WriteBlockLength);
  nudWriteCacheBufferRate->setValue(setting_->WriteCacheBufferRate);
  chkOptimumPowerControl->setChecked(!setting_->OPCOff);
  nudVerifyPassFrom->setValue(setting_->VerifyPassFrom);
  nudVerifyPassTo->setValue(setting_->VerifyPassTo);
  chkForceEject->setChecked(setting_->ForceEject);
  SelectCode(cboWriteCommandCD, setting_->CDWriteCommand);
  chkErrorFirstPregap->setChecked(setting_->ErrorFirstPregap);
  chkOverBurn->setChecked(setting_->OverBurn);
  chkCollectSubPQ->setChecked(setting_->CollectSubPQWrite);
  SelectCode(cboWriteCommandDVD, setting_->DVDWriteCommand);
  PreviewCacheSize();

  bool saved = false;
  if (RunModal()) {
    setting_->WriteBlockLength = nudWriteBlockLength->Value();
    setting_->WriteCacheBufferRate = nudWriteCacheBufferRate->Value();
    setting_->OPCOff = !Ticked(chkOptimumPowerControl);
    setting_->VerifyPassFrom = nudVerifyPassFrom->Value();
    setting_->VerifyPassTo = nudVerifyPassTo->Value();
    setting_->ForceEject = Ticked(chkForceEject);
    setting_->CDWriteCommand = SelectedCode(cboWriteCommandCD);
    setting_->ErrorFirstPregap = Ticked(chkErrorFirstPregap);
    setting_->OverBurn = Ticked(chkOverBurn);
    setting_->CollectSubPQWrite = Ticked(chkCollectSubPQ);
    setting_->DVDWriteCommand = SelectedCode(cboWriteCommandDVD);
    setting_->SaveSetting();
    saved = true;
  }
  setting_.reset();
  return saved;
}

}  // namespace sorvel
