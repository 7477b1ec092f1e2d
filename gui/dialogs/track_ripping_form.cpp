#include "gui/dialogs/track_ripping_form.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/controls/gradient_frame.h"
#include "gui/dialogs/dialog_settings.h"
#include "gui/dialogs/drive_panel.h"
#include "gui/dialogs/hourglass.h"
#include "gui/dialogs/read_session.h"
#include "gui/dialogs/title_band.h"
#include "gui/dialogs/track_icons.h"
#include "gui/dialogs/track_ripping_sub_form.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/disk_module.h"
#include "gui/model/device_setting.h"
#include "gui/model/toc_information.h"
#include "gui/model/trelin.h"

namespace sorvel {

namespace {

constexpr int kMaxNameLength = 250;
const char kFormName[] = "TrackRippingForm";

QString TwoDigits(int64_t value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); }

// Label editing of the file names: only the first column, each edit checked
// once (the refusal's message box takes the focus, and the editor would
// commit a second time when it loses it).
class RenameDelegate final : public QStyledItemDelegate {
 public:
  RenameDelegate(QTreeWidget* list, QWidget* form) : QStyledItemDelegate(list), list_(list), form_(form) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    if (index.column() != 0) return nullptr;
    return QStyledItemDelegate::createEditor(parent, option, index);
  }

  void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
    if (index.column() != 0 || editor->property("renameChecked").toBool()) return;
    editor->setProperty("renameChecked", true);
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (line == nullptr) return;
    const QString name = line->text();
    if (name == index.data().toString()) return;
    QStringList others;
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
      if (i != index.row()) others << list_->topLevelItem(i)->text(0);
    }
    const QString refusal = RenameRefusal(name, others);
    if (!refusal.isEmpty()) {
      CenterMessageBox(form_, refusal, 16, form_->windowTitle());
      return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
  }

 private:
  QTreeWidget* list_;
  QWidget* form_;
};

}  // namespace

QString FormatMSF(int64_t frames) {
  return TwoDigits(frames / 4500) + QLatin1Char(':') + TwoDigits((frames / 75) % 60) + QLatin1Char(':') +
         TwoDigits(frames % 75);
}

QString RenameRefusal(const QString& name, const QStringList& others) {
  static const QString kForbidden = QStringLiteral("*:/;<>?\\|");
  for (const QChar c : name) {
    if (kForbidden.contains(c)) return QStringLiteral("ファイル名としては使用できない文字が含まれています。");
  }
  if (name.size() > kMaxNameLength) return QStringLiteral("ファイル名としては長すぎます。");
  if (others.contains(name)) return QStringLiteral("同じファイル名が既に指定されています。");
  return {};
}

void FillTrackRows(QTreeWidget* list, const TOCInformation& toc) {
  list->clear();
  for (int i = 1; i <= toc.TOCCount(); ++i) {
    const model::TOCTrack* entry = toc.TOC(i);
    const int track = entry->TrackNo;
    const QString length = FormatMSF(int64_t{entry->EndLBA} - entry->StartLBA + 1);
    QTreeWidgetItem* row = nullptr;
    for (int r = 0; r < list->topLevelItemCount() && row == nullptr; ++r) {
      if (list->topLevelItem(r)->data(1, kTrackNumberRole).toInt() == track) row = list->topLevelItem(r);
    }
    if (row != nullptr) {
      row->setText(3, length);
      continue;
    }
    row = new QTreeWidgetItem;
    row->setFlags(row->flags() | Qt::ItemIsEditable | Qt::ItemIsUserCheckable);
    row->setCheckState(0, Qt::Checked);
    const bool audio = entry->SectorMode == 0;
    row->setIcon(0, TrackTypeIcon(audio ? QStringLiteral("Audio") : QStringLiteral("Data")));
    row->setText(0, QStringLiteral("Track_") + TwoDigits(track) + (audio ? QStringLiteral(".wav") : QStringLiteral(".iso")));
    row->setText(1, QString::number(track));
    row->setData(1, kTrackNumberRole, track);
    if (entry->IndexNo != 0) {
      row->setText(2, FormatMSF(0));
      row->setText(3, length);
    } else {
      row->setText(2, length);
    }
    for (int column = 1; column <= 3; ++column) row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    list->addTopLevelItem(row);
  }
}

TrackRippingForm::TrackRippingForm(QWidget* parent) : QDialog(parent), setting_(std::make_unique<DeviceSetting>()) {
  setObjectName(QString::fromLatin1(kFormName));
  setWindowTitle(QStringLiteral("Sorvel"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  tlbMain_ = new QToolBar(this);
  tlbMain_->setObjectName(QStringLiteral("tlbMain"));
  tlbMain_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  QStyle* style = QApplication::style();
  struct ButtonSpec {
    const char* key;
    const char16_t* caption;
    const char16_t* tip;
    QStyle::StandardPixmap image;
    void (TrackRippingForm::*handler)();
  } const specs[] = {
      {"Ripping", u"取り込み", u"選択されたトラックを取り込みます。", QStyle::SP_DialogSaveButton, &TrackRippingForm::Ripping},
      {"ReLoad", u"再認識", u"トラックを再認識します。", QStyle::SP_BrowserReload, &TrackRippingForm::ReLoad},
      {"Exit", u"終了", u"この画面を終了します。", QStyle::SP_DialogCloseButton, &TrackRippingForm::Exit},
  };
  for (const ButtonSpec& spec : specs) {
    QAction* action = tlbMain_->addAction(style->standardIcon(spec.image), QString::fromUtf16(spec.caption));
    action->setObjectName(QString::fromLatin1(spec.key));
    action->setToolTip(QString::fromUtf16(spec.tip));
    connect(action, &QAction::triggered, this, spec.handler);
    // A toolbar's buttons take no focus by default: these are the dialog's
    // commands, so Tab reaches them (and Space runs them) as any button.
    if (QWidget* button = tlbMain_->widgetForAction(action)) button->setFocusPolicy(Qt::TabFocus);
  }
  layout->addWidget(tlbMain_);
  fraTitle_ = MakeTitleBand(this, QStringLiteral("取り込み"), &lblTitle_);
  layout->addWidget(fraTitle_);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(9, 6, 9, 9);
  layout->addLayout(body, 1);
  panel_ = new DrivePanel(DriveSide::kRead, objectName(), this);
  panel_->setTitle(QStringLiteral("読込装置(&D):"));
  body->addWidget(panel_);

  lsvTOC_ = new QTreeWidget(this);
  lsvTOC_->setObjectName(QStringLiteral("lsvTOC"));
  lsvTOC_->setRootIsDecorated(false);
  lsvTOC_->setUniformRowHeights(true);
  lsvTOC_->setAllColumnsShowFocus(true);
  lsvTOC_->setHeaderLabels({QStringLiteral("FileName"), QStringLiteral("Track"), QStringLiteral("Pregap"),
                            QStringLiteral("Data")});
  for (int column = 1; column <= 3; ++column)
    lsvTOC_->headerItem()->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
  lsvTOC_->setColumnWidth(0, 260);
  lsvTOC_->setColumnWidth(1, 60);
  lsvTOC_->setColumnWidth(2, 90);
  lsvTOC_->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
  lsvTOC_->setItemDelegate(new RenameDelegate(lsvTOC_, this));
  body->addWidget(lsvTOC_, 1);

  auto* path_row = new QHBoxLayout;
  auto* path_label = new QLabel(QStringLiteral("保存先(&S):"), this);
  txtSavePath_ = new QLineEdit(this);
  txtSavePath_->setObjectName(QStringLiteral("txtSavePath"));
  path_label->setBuddy(txtSavePath_);
  cmdDirectorySetting_ = new QToolButton(this);
  cmdDirectorySetting_->setObjectName(QStringLiteral("cmdDirectorySetting"));
  cmdDirectorySetting_->setIcon(style->standardIcon(QStyle::SP_DirOpenIcon));
  cmdDirectorySetting_->setToolTip(QStringLiteral("保存先の参照"));
  path_row->addWidget(path_label);
  path_row->addWidget(txtSavePath_, 1);
  path_row->addWidget(cmdDirectorySetting_);
  body->addLayout(path_row);
  chkReadPregap_ = new QCheckBox(QStringLiteral("プリギャップを取り込む(&P)"), this);
  chkReadPregap_->setObjectName(QStringLiteral("chkReadPregap"));
  body->addWidget(chkReadPregap_);
  connect(cmdDirectorySetting_, &QToolButton::clicked, this, &TrackRippingForm::ChooseFolder);
  resize(640, 560);

  panel_->hooks().device_opened = [this] {
    // A drive change empties the list; the status refresh that follows lists
    // the new drive's tracks when its medium is ready.
    ClearTrackList();
    if (panel_->device()) setting_->LoadSetting(*panel_->device());
  };
  panel_->hooks().status_refreshed = [this](bool has_device, bool ready) { StatusRefreshed(has_device, ready); };
  panel_->Load();
  txtSavePath_->setText(GetDialogSetting(objectName(), txtSavePath_->objectName()));
}

TrackRippingForm::~TrackRippingForm() { Unload(); }

QAction* TrackRippingForm::Button(const QString& key) const { return tlbMain_->findChild<QAction*>(key); }

void TrackRippingForm::done(int result) {
  Unload();
  QDialog::done(result);
}

void TrackRippingForm::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  SaveDialogSetting(objectName(), txtSavePath_->objectName(), txtSavePath_->text());
  panel_->Unload();
}

void TrackRippingForm::StatusRefreshed(bool has_device, bool ready) {
  if (!has_device || !ready) {
    ClearTrackList();
  } else if (isVisible() && lsvTOC_->topLevelItemCount() == 0 && !reloading_) {
    ReLoad();
  }
}

void TrackRippingForm::ClearTrackList() {
  if (lsvTOC_->topLevelItemCount() > 0) lsvTOC_->clear();
}

void TrackRippingForm::ShowTrackList() {
  const std::shared_ptr<Trelin> device = panel_->device();
  if (!device) return;
  std::unique_ptr<TOCInformation> toc = device->GetTOCStructure();
  if (!toc) {
    lsvTOC_->clear();
    return;
  }
  FillTrackRows(lsvTOC_, *toc);
}

void TrackRippingForm::ReLoad() {
  const std::shared_ptr<Trelin> device = panel_->device();
  if (!device) return;
  reloading_ = true;
  {
    HourglassCursor hourglass;
    const ReadSessionStart start = StartReadSession(*device, *setting_, *panel_);
    if (start.started && start.result == 0) ShowTrackList();
  }
  reloading_ = false;
}

void TrackRippingForm::Exit() {
  if (panel_->device()) panel_->device()->ReadEnd();
  accept();
}

void TrackRippingForm::ChooseFolder() {
  const QString folder = BrowseForFolder(this, QStringLiteral("トラックを保存するディレクトリを選択してください。"), 1);
  if (!folder.isEmpty()) txtSavePath_->setText(folder);
}

void TrackRippingForm::Ripping() {
  const std::shared_ptr<Trelin> device = panel_->device();
  if (!device) return;
  bool ticked = false;
  for (int i = 0; i < lsvTOC_->topLevelItemCount() && !ticked; ++i)
    ticked = lsvTOC_->topLevelItem(i)->checkState(0) == Qt::Checked;
  if (!ticked) {
    CenterMessageBox(this, QStringLiteral("取り込むべきトラックが選択されていません。"), 48, windowTitle());
    return;
  }
  const QString folder = txtSavePath_->text().trimmed();
  if (folder.isEmpty()) {
    CenterMessageBox(this, QStringLiteral("保存先を指定してください。"), 48, windowTitle());
    return;
  }
  MakeDirectories(txtSavePath_->text());
  panel_->timer()->stop();
  panel_->ApplySpeed();
  TrackRippingSubForm::ShowOpen(device, lsvTOC_, chkReadPregap_->isChecked(), txtSavePath_->text(), this);
  panel_->timer()->start();
}

}  // namespace sorvel
