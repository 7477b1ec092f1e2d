#include "gui/workspace/main_form.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QKeyEvent>
#include <QDropEvent>
#include <QTreeWidget>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QResizeEvent>
#include <QSettings>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <cmath>

#include "gui/controls/circle_graph.h"
#include "gui/controls/elided_label.h"
#include "gui/controls/splitter.h"
#include "gui/controls/twips.h"
#include "gui/dialogs/property_iso_file.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/form_services.h"
#include "gui/foundation/history_database.h"
#include "gui/foundation/input_check.h"
#include "gui/foundation/modal_ui.h"
#include "gui/foundation/window_module.h"
#include "gui/jobs/acm_decoder.h"
#include "gui/model/tazol.h"
#include "gui/model/tazol_history.h"
#include "gui/workspace/workspace_dialogs.h"

namespace sorvel {

namespace {

const QString kCaption = QStringLiteral("Sorvel");
const QString kFormName = QStringLiteral("MainForm");
// Opened by the contribution command.
const QString kContributionPage = QStringLiteral("https://sorvel.example.org/contribution");

struct FileSystemItem {
  const char* text;
  int code;
};
const FileSystemItem kFileSystems[] = {
    {"JIS X 0606 (Level 1)", 0},           {"JIS X 0606 (Level 2)", 2},
    {"JIS X 0606 (Level 4)", 4},           {"JIS X 0606 (DOS Compatible)", 1},
    {"JIS X 0606 (Romeo Extension)", 3},   {"JIS X 0606 (Joliet Extension)", 16},
    {"JIS X 0606 (Joliet+ Extension)", 17},
};

struct MainButton {
  const char* caption;
  const char* key;
  const char* tooltip;
  QStyle::StandardPixmap icon;
};
const MainButton kToolbar[] = {
    {"書き込み", "WriteWell", "構造配置した内容を媒体に書き込みます。", QStyle::SP_DriveCDIcon},
    {"保存", "SaveWell", "構造配置した内容をファイルに書き込みます。", QStyle::SP_DialogSaveButton},
    {"消去", "EraseDisc", "書き込み可能媒体を初期化します。", QStyle::SP_TrashIcon},
    {"複製", "CopyDisc", "媒体から媒体に複製します。", QStyle::SP_FileDialogNewFolder},
    {"媒体読込", "ReadDisc", "媒体の内容をファイルに書き込みます。", QStyle::SP_ArrowDown},
    {"媒体書込", "WriteDisc", "ファイルの内容を媒体に書き込みます。", QStyle::SP_ArrowUp},
    {"取り込み", "DiscRipping", "トラック単位でファイルに取り込みます。", QStyle::SP_MediaPlay},
    {"履歴", "MasteringLog", "", QStyle::SP_FileDialogDetailedView},
    {"分析", "DiscAnalyze", "媒体のセクタ情報を閲覧します。", QStyle::SP_FileDialogContentsView},
};

}  // namespace

MainForm::MainForm(ApplicationSetting* settings, QSettings* store, QWidget* parent)
    : QMainWindow(parent), settings_(settings), store_(store) {
  setObjectName(kFormName);
  setWindowTitle(kCaption);
  if (settings_ == nullptr) {
    settings_ = AcquireSettings();
    own_settings_ = true;
  }
  if (store_ == nullptr) {
    own_store_ = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("sorvel"),
                                             QStringLiteral("user-settings"));
    store_ = own_store_.get();
  }
  auto one_shot = [this](void (MainForm::*handler)()) {
    auto* timer = new QTimer(this);
    timer->setInterval(1);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, handler);
    return timer;
  };
  tmrChangeFile_ = one_shot(&MainForm::tmrChangeFile_Timer);
  tmrChangeFileSize_ = one_shot(&MainForm::tmrChangeFileSize_Timer);
  tmrChangeTrack_ = one_shot(&MainForm::tmrChangeTrack_Timer);

  BuildMenus();
  BuildToolbar();
  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  BuildTopBar();
  BuildPanes();
  column->addWidget(fraTop_);
  column->addWidget(splMain_, 1);
  prgProgress_ = new QProgressBar(central);
  prgProgress_->setObjectName(QStringLiteral("prgProgress"));
  prgProgress_->setTextVisible(false);
  prgProgress_->setMaximumHeight(12);
  column->addWidget(prgProgress_);
  setCentralWidget(central);

  stbMain_ = new QStatusBar(this);
  stbMain_->setObjectName(QStringLiteral("stbMain"));
  // A long path in the panel is cut, never widening the window.
  panel_text_ = new ElidedLabel(stbMain_);
  panel_date_ = new QLabel(stbMain_);
  panel_time_ = new QLabel(stbMain_);
  stbMain_->addWidget(panel_text_, 1);
  stbMain_->addPermanentWidget(panel_date_);
  stbMain_->addPermanentWidget(panel_time_);
  setStatusBar(stbMain_);
  clock_ = new QTimer(this);
  auto tick = [this] {
    const QDateTime now = QDateTime::currentDateTime();
    panel_date_->setText(QLocale().toString(now.date(), QLocale::ShortFormat));
    panel_time_->setText(now.toString(QStringLiteral("HH:mm")));
  };
  connect(clock_, &QTimer::timeout, this, tick);
  tick();
  clock_->start(1000);
  resize(920, 680);

  Form_Load();
  KeepPanesWhole();
  GiveAccessKeysToMenus(this);
}

void MainForm::KeepPanesWhole() {
  // A list is whole with its header, a scroll bar and four rows.
  auto list_room = [](const QTreeWidget* list) {
    return 2 * list->frameWidth() + list->header()->sizeHint().height() +
           list->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4 * (list->fontMetrics().height() + 4);
  };
  const int upper = std::max(tlbFiles_->sizeHint().height() + list_room(lsvFiles_), list_room(trvDirectory_));
  const int lower = tlbTracks_->sizeHint().height() + list_room(lsvTracks_);
  // Each pane keeps its share of splMain on every resize (two thirds above,
  // one third below), the bar between them.
  const int bar = TwipsToPixelsY(splMain_, splMain_->SplitterSize()) + 1;
  const int height = static_cast<int>(std::ceil(std::max(upper / 0.67, lower / 0.33))) + 2 * bar;
  splMain_->setMinimumHeight(height);
}

MainForm::~MainForm() {
  Form_Unload();
  if (own_settings_) ReleaseSettings();
  // The children go after this object's own part: signals they raise while
  // being deleted (a model reset, for one) and an editor committed as its
  // view goes must not reach it any more.
  if (lsvFiles_ != nullptr) lsvFiles_->setItemDelegateForColumn(0, nullptr);
  for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
}

void MainForm::BuildMenus() {
  auto item = [this](QMenu* menu, const QString& name, const QString& caption, auto handler) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    menu_items_.insert(name, action);
    connect(action, &QAction::triggered, this, handler);
    return action;
  };
  auto separator = [this](QMenu* menu, const QString& name) {
    QAction* action = menu->addSeparator();
    action->setObjectName(name);
    menu_items_.insert(name, action);
  };
  QMenuBar* bar = menuBar();
  QMenu* file = bar->addMenu(QStringLiteral("ファイル(&F)"));
  file->setObjectName(QStringLiteral("mnuFile"));
  item(file, "mnuFileOpen", QStringLiteral("イメージを開く(&O)..."), [this] { mnuFileOpen_Click(); });
  item(file, "mnuFileProjectLoad", QStringLiteral("プロジェクトを開く(&R)..."), [this] { mnuFileProjectLoad_Click(); });
  item(file, "mnuFileProjectSave", QStringLiteral("プロジェクトの保存(&S)..."), [this] { mnuFileProjectSave_Click(); });
  separator(file, "mnuSeparator");
  item(file, "mnuFileWrite", QStringLiteral("構造を書き込み(&W)..."), [this] { tlbMain_ButtonClick("WriteWell"); });
  item(file, "mnuFileSave", QStringLiteral("構造を保存(&A)..."), [this] { tlbMain_ButtonClick("SaveWell"); });
  item(file, "mnuFileNew", QStringLiteral("新規作成(&N)"), [this] { mnuTrackClear_Click(); });
  separator(file, "mnuSeparator3");
  item(file, "mnuFileEnd", QStringLiteral("アプリケーションの終了(&X)"), [this] { close(); });

  QMenu* view = bar->addMenu(QStringLiteral("表示(&V)"));
  view->setObjectName(QStringLiteral("mnuView"));
  item(view, "mnuViewExplorer", QStringLiteral("エクスプローラ(&E)"), [this] { mnuViewExplorer_Click(); });
  QAction* top = item(view, "mnuViewWindowTop", QStringLiteral("常に手前に表示(&T)"), [this] { mnuViewWindowTop_Click(); });
  top->setCheckable(true);

  mnuWell_ = bar->addMenu(QStringLiteral("構造配置(&W)"));
  mnuWell_->setObjectName(QStringLiteral("mnuWell"));
  item(mnuWell_, "mnuWellAdd", QStringLiteral("ファイルの追加(&A)..."), [this] { mnuWellAdd_Click(); });
  item(mnuWell_, "mnuWellAddDirectory0", QStringLiteral("ディレクトリの追加(&F)..."),
       [this] { mnuWellAddDirectory_Click(0); });
  item(mnuWell_, "mnuWellAddDirectory1", QStringLiteral("ディレクトリ内ファイルの追加(&I)..."),
       [this] { mnuWellAddDirectory_Click(1); });
  item(mnuWell_, "mnuWellRename", QStringLiteral("名前の変更(&R)"), [this] { mnuWellRename_Click(); });
  item(mnuWell_, "mnuWellRemove", QStringLiteral("削除(&D)"), [this] { mnuWellRemove_Click(); });
  item(mnuWell_, "mnuWellMakeDirectory", QStringLiteral("新規ディレクトリ(&K)"), [this] { mnuWellMakeDirectory_Click(); });
  // Not offered: nothing in the workspace makes dummy files available.
  item(mnuWell_, "mnuWellDummyAdd", QStringLiteral("ダミーファイルの追加(&M)..."), [this] { mnuWellDummyAdd_Click(); })
      ->setVisible(false);
  separator(mnuWell_, "mnuSeparator1");
  item(mnuWell_, "mnuWellClear", QStringLiteral("クリア(&C)"), [this] { mnuWellClear_Click(); });
  separator(mnuWell_, "mnuSeparator9");
  item(mnuWell_, "mnuWellProperty", QStringLiteral("プロパティ(&P)..."), [this] { mnuWellProperty_Click(); });

  // The track list's part of the workspace connects these items.
  mnuTrack_ = bar->addMenu(QStringLiteral("トラック(&T)"));
  mnuTrack_->setObjectName(QStringLiteral("mnuTrack"));
  auto track_item = [&](const char* name, const QString& caption) {
    QAction* action = mnuTrack_->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    menu_items_.insert(QString::fromLatin1(name), action);
  };
  track_item("mnuTrackAdd", QStringLiteral("追加(&A)..."));
  track_item("mnuTrackRemove", QStringLiteral("削除(&D)"));
  separator(mnuTrack_, "mnuSeparator8");
  track_item("mnuTrackUp", QStringLiteral("上へ(&U)"));
  track_item("mnuTrackDown", QStringLiteral("下へ(&N)"));
  separator(mnuTrack_, "mnuSeparator2");
  track_item("mnuDiscProperty", QStringLiteral("アルバムの設定(&L)..."));
  track_item("mnuTrackProperty", QStringLiteral("設定(&P)..."));
  connect(menu_items_.value("mnuTrackAdd"), &QAction::triggered, this, [this] { mnuTrackAdd_Click(); });
  connect(menu_items_.value("mnuTrackRemove"), &QAction::triggered, this, [this] { mnuTrackRemove_Click(); });
  connect(menu_items_.value("mnuTrackUp"), &QAction::triggered, this, [this] { mnuTrackUp_Click(); });
  connect(menu_items_.value("mnuTrackDown"), &QAction::triggered, this, [this] { mnuTrackDown_Click(); });
  connect(menu_items_.value("mnuDiscProperty"), &QAction::triggered, this, [this] { mnuDiscProperty_Click(); });
  connect(menu_items_.value("mnuTrackProperty"), &QAction::triggered, this, [this] { mnuTrackProperty_Click(); });
  item(mnuTrack_, "mnuTrackClear", QStringLiteral("クリア(&C)"), [this] { mnuTrackClear_Click(); });

  QMenu* tool = bar->addMenu(QStringLiteral("ツール(&U)"));
  tool->setObjectName(QStringLiteral("mnuTool"));
  auto modal = [this](const char* form) { return [this, form] { ShowModalForm(this, QString::fromLatin1(form)); }; };
  item(tool, "mnuToolCopy", QStringLiteral("ディスクの複製(&C)..."), modal(kDiscCopyForm));
  item(tool, "mnuToolErase", QStringLiteral("ディスクの削除(&E)..."), modal(kDiscEraseForm));
  item(tool, "mnuToolRipping", QStringLiteral("トラックの取り込み(&I)..."), modal(kTrackRippingForm));
  separator(tool, "mnuSeparator5");
  item(tool, "mnuToolReadDisc", QStringLiteral("イメージ読み込み(&R)..."), modal(kDiscReadForm));
  item(tool, "mnuToolDiscWrite", QStringLiteral("イメージ書き込み(&W)..."), modal(kDiscWriteForm));
  separator(tool, "mnuSeparator6");
  item(tool, "mnuToolMasteringLog", QStringLiteral("マスタリング履歴(&L)..."), [this] { mnuToolMasteringLog_Click(); });
  item(tool, "mnuToolAnalyze", QStringLiteral("ディスクの分析(&A)..."), modal(kDiscAnalyzeForm));
  separator(tool, "mnuSeparator7");
  item(tool, "mnuToolConfiguration", QStringLiteral("環境設定(&O)..."), modal(kPropertyConfigurationForm));

  QMenu* help = bar->addMenu(QStringLiteral("ヘルプ(&H)"));
  help->setObjectName(QStringLiteral("mnuHelp"));
  item(help, "mnuHelpContribution", QStringLiteral("寄付する(&C)"), [this] { mnuHelpContribution_Click(); });
  item(help, "mnuHelpMain", QStringLiteral("ヘルプ(&H)"), [this] { mnuHelpMain_Click(); });
  item(help, "mnuHelpAbout", QStringLiteral("バージョン情報(&A)..."), modal(kAboutInformationForm));
}

QAction* MainForm::MenuItem(const QString& name) const { return menu_items_.value(name); }

void MainForm::BuildToolbar() {
  tlbMain_ = new QToolBar(this);
  tlbMain_->setObjectName(QStringLiteral("tlbMain"));
  tlbMain_->setMovable(false);
  tlbMain_->setFloatable(false);
  tlbMain_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  tlbMain_->setContextMenuPolicy(Qt::PreventContextMenu);
  tlbMain_->setIconSize(QSize(24, 24));
  for (const MainButton& button : kToolbar) {
    QAction* action = tlbMain_->addAction(style()->standardIcon(button.icon), QString::fromUtf8(button.caption));
    const QString key = QString::fromLatin1(button.key);
    action->setObjectName(key);
    action->setToolTip(QString::fromUtf8(button.tooltip));
    connect(action, &QAction::triggered, this, [this, key] { tlbMain_ButtonClick(key); });
  }
  addToolBar(Qt::TopToolBarArea, tlbMain_);
}

QAction* MainForm::ToolbarButton(const QString& key) const {
  for (QAction* action : tlbMain_->actions())
    if (action->objectName() == key) return action;
  return nullptr;
}

void MainForm::BuildTopBar() {
  fraTop_ = new QWidget(this);
  fraTop_->setObjectName(QStringLiteral("fraTop"));
  auto* row = new QHBoxLayout(fraTop_);
  row->setContentsMargins(6, 4, 6, 4);
  auto* label_caption = new QLabel(QStringLiteral("媒体識別子(&V):"), fraTop_);
  txtLabel_ = new QLineEdit(fraTop_);
  txtLabel_->setObjectName(QStringLiteral("txtLabel"));
  txtLabel_->setMinimumWidth(220);
  label_caption->setBuddy(txtLabel_);
  txtLabel_->installEventFilter(this);
  connect(txtLabel_, &QLineEdit::textEdited, this, [this] { txtLabel_Edited(); });
  connect(txtLabel_, &QLineEdit::textChanged, this, [this] { txtLabel_Change(); });
  cboFileSystem_ = new QComboBox(fraTop_);
  cboFileSystem_->setObjectName(QStringLiteral("cboFileSystem"));
  // Both lists are filled after the layout first asks for their sizes: they
  // follow their items, so the longest one is always shown whole.
  cboFileSystem_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  connect(cboFileSystem_, &QComboBox::currentIndexChanged, this, [this] { cboFileSystem_Click(); });
  row->addWidget(label_caption);
  row->addWidget(txtLabel_);
  row->addSpacing(8);
  row->addWidget(cboFileSystem_);
  row->addStretch(1);

  fraVariable_ = new QFrame(fraTop_);
  fraVariable_->setObjectName(QStringLiteral("fraVariable"));
  auto* variable = new QHBoxLayout(fraVariable_);
  variable->setContentsMargins(0, 0, 0, 0);
  auto* usage = new QLabel(QStringLiteral("使用量(&A):"), fraVariable_);
  cboMediaType_ = new QComboBox(fraVariable_);
  cboMediaType_->setObjectName(QStringLiteral("cboMediaType"));
  cboMediaType_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  usage->setBuddy(cboMediaType_);
  connect(cboMediaType_, &QComboBox::currentIndexChanged, this, [this] { cboMediaType_Click(); });
  cgVariable_ = new CircleGraph(fraVariable_);
  cgVariable_->setObjectName(QStringLiteral("cgVariable"));
  cgVariable_->initProperties();
  cgVariable_->setFixedSize(52, 52);
  lblVariable_ = new QLabel(QStringLiteral("空き ###,##0KiB"), fraVariable_);
  lblVariable_->setObjectName(QStringLiteral("lblVariable"));
  // Room for the free space of the largest medium the list may name.
  lblVariable_->setMinimumWidth(lblVariable_->fontMetrics().horizontalAdvance(QStringLiteral("空き:000,000,000KiB")) + 4);
  variable->addWidget(usage);
  variable->addWidget(cboMediaType_);
  variable->addWidget(cgVariable_);
  variable->addWidget(lblVariable_);
  row->addWidget(fraVariable_);
}

void MainForm::BuildPanes() {
  splMain_ = new Splitter(this);
  splMain_->setObjectName(QStringLiteral("splMain"));
  splMain_->initProperties();
  splMain_->setOrientation(0);
  splSub_ = new Splitter(splMain_);
  splSub_->setObjectName(QStringLiteral("splSub"));
  splSub_->initProperties();
  splSub_->setOrientation(1);
  splSub_->setGeometry(0, 0, 10, 10);
  fraTrack_ = new QWidget(splMain_);
  fraTrack_->setObjectName(QStringLiteral("fraTrack"));
  fraTrack_->setGeometry(0, 20, 10, 10);
  BuildDataArea();
  BuildTrackPane();
  splMain_->installEventFilter(this);
  splSub_->installEventFilter(this);
}

bool MainForm::IsWindowResize(const QObject* watched, const QResizeEvent* event) const {
  // Only the window's layout resizes splMain. splSub follows splMain's upper
  // pane: a drag of splMain's bar changes its height alone, so only a new
  // width (the window's, or splSub's first layout) counts as a resize.
  if (watched == splMain_) return true;
  return watched == splSub_ && event->oldSize().width() != event->size().width();
}

void MainForm::ArrangeSplitters() {
  // The data area gets the upper two thirds and the tree the left third, on every resize.
  splMain_->setSplitterPoint(static_cast<float>(0.67 * PixelsToTwipsY(splMain_, splMain_->height())));
  splSub_->setSplitterPoint(static_cast<float>(0.33 * PixelsToTwipsX(splSub_, splSub_->width())));
}

void MainForm::Form_Load() {
  image_ = std::make_unique<Tazol>();
  decoder_ = std::make_unique<jobs::ACMDecoder>();
  connect(image_.get(), &Tazol::ChangeISOFile, this, [this] { tmrChangeFile_->start(); });
  connect(image_.get(), &Tazol::ChangeISOFileSize, this, [this] { tmrChangeFileSize_->start(); });
  connect(image_.get(), &Tazol::ChangeTrack, this, [this] { tmrChangeTrack_->start(); });
  connect(decoder_.get(), &jobs::ACMDecoder::Progress, this, &MainForm::mobjACMDecoder_Progress);
  connect(decoder_.get(), &jobs::ACMDecoder::StatusChange, this, &MainForm::mobjACMDecoder_StatusChange);

  {
    const QSignalBlocker block(cboMediaType_);
    cboMediaType_->clear();
    for (int i = 1;; ++i) {
      const QString name = settings_->DiscCapacityName(i);
      if (name.isEmpty()) break;
      cboMediaType_->addItem(name, settings_->DiscCapacity(i));
    }
  }
  RestoreChoice(cboMediaType_, QStringLiteral("cboMediaType"), 0);
  if (cboMediaType_->currentIndex() >= 0) cboMediaType_Click();

  {
    const QSignalBlocker block(cboFileSystem_);
    cboFileSystem_->clear();
    for (const FileSystemItem& item : kFileSystems) cboFileSystem_->addItem(QString::fromLatin1(item.text), item.code);
  }
  RestoreChoice(cboFileSystem_, QStringLiteral("cboFileSystem"), cboFileSystem_->count() - 1);
  cboFileSystem_Click();

  const bool viewer = !settings_->PathLogViewer().isEmpty();
  MenuItem(QStringLiteral("mnuToolMasteringLog"))->setVisible(viewer);
  ToolbarButton(QStringLiteral("MasteringLog"))->setVisible(viewer);
}

void MainForm::RestoreChoice(QComboBox* box, const QString& key, int fallback) {
  if (box->count() == 0) return;
  const QString stored =
      store_->value(kFormName + u'/' + key, box->itemText(fallback)).toString();
  int index = box->findText(stored, Qt::MatchExactly);
  if (index < 0) index = fallback;
  const QSignalBlocker block(box);
  box->setCurrentIndex(index);
}

void MainForm::Form_Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  ClearTracks();
  store_->setValue(kFormName + QStringLiteral("/cboMediaType"), cboMediaType_->currentText());
  store_->setValue(kFormName + QStringLiteral("/cboFileSystem"), cboFileSystem_->currentText());
  store_->sync();
  tmrChangeFile_->stop();
  tmrChangeFileSize_->stop();
  tmrChangeTrack_->stop();
  source_files_.Clear();
  decoder_.reset();
  if (image_) image_->disconnect(this);
  image_.reset();
  help_.CloseHelp();
}

void MainForm::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

bool MainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize && IsWindowResize(watched, static_cast<QResizeEvent*>(event))) {
    ArrangeSplitters();
  } else if (watched == txtLabel_ && event->type() == QEvent::FocusIn) {
    QTimer::singleShot(0, txtLabel_, [this] { txtLabel_->selectAll(); });
  } else if (lsvFiles_ != nullptr && watched == lsvFiles_ && event->type() == QEvent::KeyPress) {
    // Keys that an open name editor let through (Enter ending the edit) are not the list's.
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && focus != lsvFiles_ && lsvFiles_->isAncestorOf(focus)) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (lsvFiles_KeyDown(key->key(), key->modifiers())) return true;
  } else if (lsvFiles_ != nullptr && watched == lsvFiles_->viewport()) {
    if (AnswerUrlDrag(event)) return true;
    if (event->type() == QEvent::Drop) return lsvFiles_Drop(static_cast<QDropEvent*>(event));
  }
  if (TracksEventFilter(watched, event)) return true;
  return QMainWindow::eventFilter(watched, event);
}

bool MainForm::AnswerUrlDrag(QEvent* event) {
  if (event->type() != QEvent::DragEnter && event->type() != QEvent::DragMove) return false;
  auto* drag = static_cast<QDragMoveEvent*>(event);
  if (drag->mimeData()->hasUrls()) {
    drag->acceptProposedAction();
  } else {
    drag->ignore();
  }
  return true;
}

void MainForm::PopupMenuAt(QMenu* menu, const QPoint& at) {
  QList<ModalUi::MenuEntry> entries;
  QList<QAction*> offered;
  for (QAction* action : menu->actions()) {
    if (!action->isVisible()) continue;
    if (action->isSeparator()) {
      entries.append({QStringLiteral("-"), 0, false, true});
      continue;
    }
    offered << action;
    entries.append({action->text(), static_cast<int>(offered.size()), true, false});
  }
  const int chosen = CurrentModalUi().PopupMenu(entries, at);
  if (chosen >= 1 && chosen <= offered.size()) offered[chosen - 1]->trigger();
}

// --- Label ---

void MainForm::txtLabel_Edited() {
  // Typing and pasting stop at the variant's character limit; a longer text
  // set by the program (the default label, a loaded project) keeps its length.
  if (label_busy_) return;
  QString text = txtLabel_->text();
  const qsizetype allowed = std::max<qsizetype>(label_limit_, label_before_edit_.size());
  if (text.size() <= label_limit_ || text.size() <= label_before_edit_.size()) return;
  const qsizetype excess = text.size() - allowed;
  if (excess <= 0) return;
  int caret = txtLabel_->cursorPosition();
  const qsizetype from = std::max<qsizetype>(0, caret - excess);
  text.remove(from, caret - from);
  caret = static_cast<int>(from);
  label_busy_ = true;
  txtLabel_->setText(text);
  txtLabel_->setCursorPosition(caret);
  label_busy_ = false;
  txtLabel_Change();
}

void MainForm::txtLabel_Change() {
  if (label_busy_) return;
  // At most 32 bytes in CP932 however the text came: cut from its end, caret kept.
  QString text = txtLabel_->text();
  if (AnsiByteLength(text) <= 32) {
    label_before_edit_ = text;
    return;
  }
  const int caret = txtLabel_->cursorPosition();
  while (AnsiByteLength(text) > 32) text.chop(1);
  label_busy_ = true;
  txtLabel_->setText(text);
  txtLabel_->setCursorPosition(std::min<int>(caret, static_cast<int>(text.size())));
  label_busy_ = false;
  label_before_edit_ = text;
}

// --- Choices ---

int32_t MainForm::MediaCapacity() const {
  const int index = cboMediaType_->currentIndex();
  return index < 0 ? 0 : cboMediaType_->itemData(index).toInt();
}

void MainForm::cboMediaType_Click() {
  if (cboMediaType_->currentIndex() < 0) return;
  const int32_t capacity = MediaCapacity();
  cgVariable_->setMin(0);
  // The gauge refuses Max = Min; an unusable capacity shows an empty ring.
  cgVariable_->setMax(capacity > 0 ? capacity : 1);
  cgVariable_->setValue(0);
  lblVariable_->setText(QStringLiteral("空き:") + FormatGrouped(static_cast<qint64>(std::max(capacity, 0)) * 2) +
                        QStringLiteral("KiB"));
  RefreshTrackView();
}

void MainForm::cboFileSystem_Click() {
  if (!cboFileSystem_->isEnabled() || cboFileSystem_->currentIndex() < 0 || !image_) return;
  const int code = cboFileSystem_->currentData().toInt();
  image_->InitISOFS(code);
  label_limit_ = (code & 0x10) != 0 ? 16 : 32;
  ClearLayout();
}

// --- Track list slots ---

void MainForm::mnuTrackClear_Click() {
  if (Ask(QStringLiteral("配置されたトラックを全て削除します。よろしいですか。")) == kIdYes) ClearTracks();
}

void MainForm::tmrChangeTrack_Timer() {
  tmrChangeTrack_->stop();
  RefreshTrackView();
}

// --- Commands ---

void MainForm::tlbMain_ButtonClick(const QString& key) {
  const QDateTime moment = QDateTime::currentDateTime();
  if (key == QLatin1String("WriteWell")) {
    image_->VolumeLabel = txtLabel_->text().trimmed();
    if (ShowWellWriteForm(*image_, QString(), QString()) > 0) RecordHistory(moment);
  } else if (key == QLatin1String("SaveWell")) {
    QString base = txtLabel_->text().trimmed();
    if (base.isEmpty()) base = QStringLiteral("Image");
    const QString proposal = SanitizeFileName(base + QStringLiteral(".img"), QStringLiteral(" "));
    const QString file = ShowSaveFileDialog(this, QStringLiteral("互換イメージ (*.img)|*.img"), proposal, 2054);
    if (file.isEmpty()) return;
    image_->VolumeLabel = txtLabel_->text().trimmed();
    if (ShowWellSaveForm(this, *image_, file, QString())) RecordHistory(moment);
  } else if (key == QLatin1String("EraseDisc")) {
    ShowModalForm(this, QString::fromLatin1(kDiscEraseForm));
  } else if (key == QLatin1String("CopyDisc")) {
    ShowModalForm(this, QString::fromLatin1(kDiscCopyForm));
  } else if (key == QLatin1String("ReadDisc")) {
    ShowModalForm(this, QString::fromLatin1(kDiscReadForm));
  } else if (key == QLatin1String("WriteDisc")) {
    ShowModalForm(this, QString::fromLatin1(kDiscWriteForm));
  } else if (key == QLatin1String("DiscRipping")) {
    ShowModalForm(this, QString::fromLatin1(kTrackRippingForm));
  } else if (key == QLatin1String("MasteringLog")) {
    mnuToolMasteringLog_Click();
  } else if (key == QLatin1String("DiscAnalyze")) {
    try {
      ShowModalForm(this, QString::fromLatin1(kDiscAnalyzeForm));
    } catch (...) {
      // Opening the analyse dialog from the toolbar ignores its errors.
    }
  }
}

void MainForm::RecordHistory(const QDateTime& moment) {
  const QString path = settings_->PathLog();
  if (path.isEmpty()) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (QFileInfo::exists(path)) CreateHistoryDatabase(path);
  // Writing walks the data area; the view's directory is put back afterwards.
  const QString current = image_->GetISOCurrentDirectory();
  const bool written = WriteHistory(path, *image_, moment);
  image_->ChangeISODirectory(current);
  QApplication::restoreOverrideCursor();
  if (!written) Message(QStringLiteral("マスタリング履歴をファイルに保存できませんでした。"));
}

void MainForm::mnuFileOpen_Click() {
  const QString file = ShowOpenFileDialog(
      this, QStringLiteral("互換イメージ (*.cue,*.ccd,*.tsn,*.iso)|*.cue;*.ccd;*.tsn;*.iso"), QString(), 6144);
  if (file.isEmpty()) return;
  if (const auto& factory = CurrentFormFactories().disc_write_form) {
    if (auto form = factory()) form->ShowOpen(file);
  }
}

void MainForm::mnuViewExplorer_Click() { CurrentModalUi().OpenDocument(QStringLiteral("/")); }

// The mark keeps the window in the topmost band until it is cleared. Dialogs the
// window opens are its transients and come in front of it all the same, so the
// band is not left on every deactivation (on X11 that re-creates the window).
void MainForm::mnuViewWindowTop_Click() {
  SetTopMost(this, MenuItem(QStringLiteral("mnuViewWindowTop"))->isChecked());
}

void MainForm::mnuToolMasteringLog_Click() {
  const QString viewer = settings_->PathLogViewer();
  if (viewer.isEmpty()) return;
  // The viewer gets the database path as its one argument, whatever it holds.
  QProcess::startDetached(viewer, {settings_->PathLog()});
}

void MainForm::mnuHelpMain_Click() {
  help_.OpenHelp(this, GetFullPath(ProgramBaseName() + QStringLiteral(".CHM"), ProgramFolder()));
}

void MainForm::mnuHelpContribution_Click() { CurrentModalUi().OpenDocument(kContributionPage); }

void MainForm::Message(const QString& text, int style) { CenterMessageBox(this, text, style, windowTitle()); }

int MainForm::Ask(const QString& text) { return CenterMessageBox(this, text, 36, windowTitle()); }

}  // namespace sorvel
