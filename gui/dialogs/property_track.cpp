#include "gui/dialogs/property_track.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QVBoxLayout>
#include <string>

#include "gui/controls/numeric_up_down.h"
#include "gui/dialogs/dialog_buttons.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/input_check.h"
#include "gui/foundation/modal_ui.h"
#include "gui/model/tazol_records.h"
#include "platform/text_encoding.h"

namespace sorvel {

namespace {

constexpr int32_t kSectorsPerSecond = 75;
constexpr int32_t kSectorsPerMinute = 60 * kSectorsPerSecond;

const char* const kEnglishFields[6] = {"&Title", "&Performer", "&Songwriter", "&Composer", "&Arranger", "&Message"};
const char* const kJapaneseFields[6] = {"曲名(&T)", "演奏者(&P)", "作詞者(&S)", "作曲者(&C)", "編曲者(&A)", "備考(&M)"};
// Names of empty ticked fields in the question, per page.
const char* const kFieldNames[2][6] = {{"Title", "Performer", "Songwriter", "Composer", "Arranger", "Message"},
                                       {"曲名", "演奏者", "作詞者", "作曲者", "編曲者", "備考"}};

// True when the text survives CP932 unchanged.
bool FitsCp932(const QString& text) {
  const std::string utf8 = text.toStdString();
  return platform::Cp932ToUtf8(platform::Utf8ToCp932(utf8)) == utf8;
}

void EnableByCheck(QWidget* control, const QCheckBox* check) { control->setEnabled(check->isChecked()); }

NumericUpDown* GapBox(QWidget* parent, int32_t max) {
  auto* box = new NumericUpDown(parent);
  box->setMin(0);
  box->setMax(max);
  box->setIncrement(1);
  box->setTextAlign(1);
  box->setFixedWidth(64);
  return box;
}

}  // namespace

bool IsCdTextHalfWidth(const QString& text) { return IsHalfWidthOnly(text) && FitsCp932(text); }

bool IsCdTextFullWidth(const QString& text) { return IsFullWidthOnly(text) && FitsCp932(text); }

PropertyTrack::PropertyTrack(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PropertyTrack"));
  setWindowTitle(QStringLiteral("トラックの設定"));
  auto* outer = new QVBoxLayout(this);
  outer->setSizeConstraint(QLayout::SetFixedSize);

  fraAttribute_ = new QGroupBox(QStringLiteral("属性"), this);
  fraAttribute_->setObjectName(QStringLiteral("fraAttribute"));
  auto* gaps = new QGridLayout(fraAttribute_);
  auto gap_row = [&](int row, const QString& caption, NumericUpDown*& seconds, NumericUpDown*& frames) {
    auto* label = new QLabel(caption, fraAttribute_);
    seconds = GapBox(fraAttribute_, 59);
    frames = GapBox(fraAttribute_, 74);
    label->setBuddy(seconds);
    gaps->addWidget(label, row, 0);
    gaps->addWidget(seconds, row, 1);
    gaps->addWidget(new QLabel(QStringLiteral("秒"), fraAttribute_), row, 2);
    gaps->addWidget(frames, row, 3);
    gaps->addWidget(new QLabel(QStringLiteral("フレーム"), fraAttribute_), row, 4);
  };
  gap_row(0, QStringLiteral("プリギャップ(&P):"), nudPregapSecond_, nudPregapFrame_);
  gap_row(1, QStringLiteral("ポストギャップ(&O):"), nudPostgapSecond_, nudPostgapFrame_);
  nudPregapSecond_->setObjectName(QStringLiteral("nudPregapSecond"));
  nudPregapFrame_->setObjectName(QStringLiteral("nudPregapFrame"));
  nudPostgapSecond_->setObjectName(QStringLiteral("nudPostgapSecond"));
  nudPostgapFrame_->setObjectName(QStringLiteral("nudPostgapFrame"));
  chkPreemphasis_ = new QCheckBox(QStringLiteral("プリエンファシス(&F)"), fraAttribute_);
  chkCopypemitterd_ = new QCheckBox(QStringLiteral("複製不許可(&C)"), fraAttribute_);
  gaps->addWidget(chkPreemphasis_, 0, 5);
  gaps->addWidget(chkCopypemitterd_, 1, 5);
  gaps->setColumnStretch(5, 1);
  gaps->setColumnMinimumWidth(4, 60);
  outer->addWidget(fraAttribute_);

  fraCDText_ = new QGroupBox(this);
  fraCDText_->setObjectName(QStringLiteral("fraCDText"));
  auto* cd_text = new QVBoxLayout(fraCDText_);
  chkCDText_ = new QCheckBox(QStringLiteral("CD-TEXTを付加する(&E)"), fraCDText_);
  cd_text->addWidget(chkCDText_);
  tabLanguage_ = new QTabBar(fraCDText_);
  tabLanguage_->setObjectName(QStringLiteral("tabLanguage"));
  tabLanguage_->addTab(QStringLiteral("英語"));
  tabLanguage_->addTab(QStringLiteral("日本語"));
  tabLanguage_->setExpanding(false);
  cd_text->addWidget(tabLanguage_);
  auto* pages = new QFrame(fraCDText_);
  pages->setFrameShape(QFrame::StyledPanel);
  auto* pages_layout = new QGridLayout(pages);
  for (int i = 0; i < 2; ++i) {
    auto* page = new QWidget(pages);
    page->setObjectName(QStringLiteral("fraLanguage%1").arg(i));
    fraLanguage_[i] = page;
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(4, 4, 4, 4);
    chkLanguage_[i] = new QCheckBox(QStringLiteral("この言語を利用する(&L)"), page);
    grid->addWidget(chkLanguage_[i], 0, 0, 1, 2);
    for (int f = 0; f < 6; ++f) {
      const char* caption = i == 0 ? kEnglishFields[f] : kJapaneseFields[f];
      chkField_[i][f] = new QCheckBox(QString::fromUtf8(caption), page);
      txtField_[i][f] = new QLineEdit(page);
      txtField_[i][f]->setMinimumWidth(300);
      grid->addWidget(chkField_[i][f], f + 1, 0);
      grid->addWidget(txtField_[i][f], f + 1, 1);
      QCheckBox* check = chkField_[i][f];
      QLineEdit* text = txtField_[i][f];
      connect(check, &QCheckBox::clicked, this, [text, check] { EnableByCheck(text, check); });
    }
    grid->setColumnStretch(1, 1);
    pages_layout->addWidget(page, 0, 0);
    connect(chkLanguage_[i], &QCheckBox::clicked, this, [this, i] { chkLanguage_Click(i); });
  }
  cd_text->addWidget(pages);
  outer->addWidget(fraCDText_);
  connect(chkCDText_, &QCheckBox::clicked, this, [this] { chkCDText_Click(); });
  connect(tabLanguage_, &QTabBar::currentChanged, this, [this] { tabLanguage_Click(); });

  // Cancel, Escape and the close box all reject; only OK confirms.
  outer->addLayout(OkCancelRow(this, &cmdOK_, &cmdCancel_));
  connect(cmdOK_, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
  tabLanguage_Click();
}

void PropertyTrack::Load(const ISOTrackData* track, bool enabled_track_text, const ISOTrackText& english,
                         const ISOTrackText& japanese) {
  confirmed_ = false;
  if (track == nullptr) {
    fraAttribute_->hide();
    setWindowTitle(QStringLiteral("アルバムの設定"));
  } else {
    fraAttribute_->show();
    setWindowTitle(QStringLiteral("トラックの設定"));
    // Only seconds and frames are shown; the whole minutes are kept for OK.
    pregap_minutes_ = track->PregapLBA / kSectorsPerMinute;
    postgap_minutes_ = track->PostgapLBA / kSectorsPerMinute;
    nudPregapSecond_->setValue(track->PregapLBA / kSectorsPerSecond % 60);
    nudPregapFrame_->setValue(track->PregapLBA % kSectorsPerSecond);
    nudPostgapSecond_->setValue(track->PostgapLBA / kSectorsPerSecond % 60);
    nudPostgapFrame_->setValue(track->PostgapLBA % kSectorsPerSecond);
    chkPreemphasis_->setChecked((track->TrackControlFlag & 1) != 0);
    // The flag bit 2 permits copying; the box says copying is not permitted.
    chkCopypemitterd_->setChecked((track->TrackControlFlag & 2) == 0);
  }
  tabLanguage_Click();
  chkCDText_->setChecked(enabled_track_text);
  const ISOTrackText* records[2] = {&english, &japanese};
  for (int i = 0; i < 2; ++i) {
    for (int f = 0; f < 6; ++f) {
      txtField_[i][f]->setText(records[i]->Text(f));
      chkField_[i][f]->setChecked(records[i]->Enabled(f));
    }
    chkLanguage_[i]->setChecked(records[i]->LanguageEnabled());
  }
  chkCDText_Click();
  chkLanguage_Click(0);
  chkLanguage_Click(1);
  if (chkLanguage_[1]->isChecked()) tabLanguage_->setCurrentIndex(1);
}

void PropertyTrack::Store(ISOTrackData* track, bool& enabled_track_text, ISOTrackText& english,
                          ISOTrackText& japanese) {
  if (track != nullptr) {
    track->PregapLBA = pregap_minutes_ * kSectorsPerMinute + nudPregapSecond_->Value() * kSectorsPerSecond +
                       nudPregapFrame_->Value();
    track->PostgapLBA = postgap_minutes_ * kSectorsPerMinute + nudPostgapSecond_->Value() * kSectorsPerSecond +
                        nudPostgapFrame_->Value();
    int32_t flag = track->TrackControlFlag & ~3;
    if (chkPreemphasis_->isChecked()) flag |= 1;
    if (!chkCopypemitterd_->isChecked()) flag |= 2;
    track->TrackControlFlag = flag;
  }
  enabled_track_text = chkCDText_->isChecked();
  if (!enabled_track_text) return;
  ISOTrackText* records[2] = {&english, &japanese};
  for (int i = 0; i < 2; ++i) {
    for (int f = 0; f < 6; ++f) {
      records[i]->Text(f) = txtField_[i][f]->text().trimmed();
      records[i]->Enabled(f) = chkField_[i][f]->isChecked();
    }
    records[i]->SetLanguageEnabled(chkLanguage_[i]->isChecked());
  }
}

bool PropertyTrack::ShowOpen(ISOTrackData* track, bool& enabled_track_text, ISOTrackText& english,
                             ISOTrackText& japanese, QWidget* parent) {
  PropertyTrack form(parent);
  form.Load(track, enabled_track_text, english, japanese);
  form.exec();
  if (form.confirmed_) form.Store(track, enabled_track_text, english, japanese);
  return form.confirmed_;
}

void PropertyTrack::chkCDText_Click() {
  for (QCheckBox* language : chkLanguage_) EnableByCheck(language, chkCDText_);
}

void PropertyTrack::chkLanguage_Click(int index) {
  const int i = Page(index);
  for (int f = 0; f < 6; ++f) {
    EnableByCheck(chkField_[i][f], chkLanguage_[i]);
    EnableByCheck(txtField_[i][f], chkField_[i][f]);
  }
}

void PropertyTrack::tabLanguage_Click() {
  for (QWidget* page : fraLanguage_) page->hide();
  fraLanguage_[Page(tabLanguage_->currentIndex())]->show();
}

void PropertyTrack::cmdOK_Click() {
  QString joined[2];
  for (int i = 0; i < 2; ++i)
    for (int f = 0; f < 6; ++f) joined[i] += txtField_[i][f]->text();
  // The dialog's boxes carry no title of their own.
  if (!joined[0].isEmpty() && !IsCdTextHalfWidth(joined[0])) {
    CenterMessageBox(this, QStringLiteral("英名は半角で入力してください。"), 48, QString());
    return;
  }
  if (!joined[1].isEmpty() && !IsCdTextFullWidth(joined[1])) {
    CenterMessageBox(this, QStringLiteral("和名は全角で入力してください。"), 48, QString());
    return;
  }
  QString names;
  for (int i = 0; i < 2; ++i)
    for (int f = 0; f < 6; ++f)
      if (chkField_[i][f]->isChecked() && txtField_[i][f]->text().isEmpty())
        names += QStringLiteral("、") + QString::fromUtf8(kFieldNames[i][f]);
  if (!names.isEmpty() &&
      CenterMessageBox(this, names.mid(1) + QStringLiteral("が入力されていませんが、宜しいですか。"), 308, QString()) !=
          kIdYes)
    return;
  confirmed_ = true;
  accept();
}

}  // namespace sorvel
