// The data-area view of the main window: the directory tree, the file list
// with its toolbar, keys, drop and in-place rename, and the commands that add,
// create, rename, remove and change entries of the layout's data area.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QPointer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/controls/color.h"
#include "gui/controls/splitter.h"
#include "gui/controls/twips.h"
#include "gui/dialogs/property_iso_file.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/disk_module.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/find_file.h"
#include "gui/foundation/host_path.h"
#include "gui/foundation/host_tree_walk.h"
#include "gui/foundation/modal_ui.h"
#include "gui/foundation/string_module.h"
#include "gui/foundation/window_module.h"
#include "gui/model/tazol.h"
#include "gui/workspace/main_form.h"

namespace sorvel {

namespace {

const QString kKindDir = QStringLiteral("Dir");
const QString kKindDirUp = QStringLiteral("DirUp");
const QString kKindFile = QStringLiteral("File");
// The engine's record field for a source path.
constexpr qsizetype kMaxSourcePathBytes = 1024;

}  // namespace

// Ends an in-place rename: the new text goes to the engine, never straight
// into the row; the row shows the engine's name after the list is rebuilt.
class MainForm::RenameDelegate : public QStyledItemDelegate {
 public:
  explicit RenameDelegate(MainForm* form) : QStyledItemDelegate(form), form_(form) {}

  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (line == nullptr) return;
    QTreeWidgetItem* row = form_->lsvFiles_->topLevelItem(index.row());
    const QString text = line->text();
    QPointer<MainForm> form(form_);
    // After the editor has closed, so that a message box does not sit under it.
    QTimer::singleShot(0, form_, [form, row, text] {
      if (form && form->lsvFiles_->indexOfTopLevelItem(row) >= 0) form->lsvFiles_AfterLabelEdit(row, text);
    });
  }

 private:
  MainForm* form_;
};

void MainForm::BuildDataArea() {
  trvDirectory_ = new QTreeWidget(splSub_);
  trvDirectory_->setObjectName(QStringLiteral("trvDirectory"));
  trvDirectory_->setHeaderHidden(true);
  trvDirectory_->setColumnCount(1);
  // Children are shown sorted by their text. The view's own sorting would sort
  // the whole tree again after every insertion; InsertSortedNodes puts nodes
  // straight where that sort would, and a rename sorts its one folder.
  trvDirectory_->setSortingEnabled(false);
  trvDirectory_->sortByColumn(0, Qt::AscendingOrder);
  trvDirectory_->setGeometry(0, 0, 10, 10);
  // Clicks only: selecting a node from code never moves the engine's directory.
  // Whoever empties or prunes the tree (the project loader too), the key index follows.
  QAbstractItemModel* tree_model = trvDirectory_->model();
  connect(tree_model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { nodes_stale_ = true; });
  connect(tree_model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] { nodes_stale_ = true; });
  connect(trvDirectory_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* node) { trvDirectory_NodeClick(node); });

  // One icon object per kind, shared by every node and row.
  icon_disc_ = style()->standardIcon(QStyle::SP_DriveCDIcon);
  icon_dir_ = style()->standardIcon(QStyle::SP_DirIcon);
  icon_dir_up_ = style()->standardIcon(QStyle::SP_FileDialogToParent);
  icon_file_ = style()->standardIcon(QStyle::SP_FileIcon);
  // The node added last is scrolled into view once the adding loop has let go.
  tmrScrollNode_ = new QTimer(this);
  tmrScrollNode_->setSingleShot(true);
  tmrScrollNode_->setInterval(0);
  connect(tmrScrollNode_, &QTimer::timeout, this, [this] { ScrollToAddedNode(); });

  fraFiles_ = new QWidget(splSub_);
  fraFiles_->setObjectName(QStringLiteral("fraFiles"));
  fraFiles_->setGeometry(20, 0, 10, 10);
  auto* column = new QVBoxLayout(fraFiles_);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  tlbFiles_ = new QToolBar(fraFiles_);
  tlbFiles_->setObjectName(QStringLiteral("tlbFiles"));
  tlbFiles_->setIconSize(QSize(16, 16));
  struct Button {
    const char* key;
    const char* tooltip;
    QStyle::StandardPixmap icon;
  };
  const Button buttons[] = {
      {"AddFile", "ファイルの追加", QStyle::SP_FileIcon},
      {"AddDirectory", "ディレクトリの追加", QStyle::SP_DirIcon},
      {"AddDirectoryFile", "ディレクトリ内ファイルの追加", QStyle::SP_DirOpenIcon},
      {"Rename", "名前の変更", QStyle::SP_FileDialogDetailedView},
      {"Delete", "削除", QStyle::SP_TrashIcon},
      {"MakeDirectory", "新規ディレクトリ", QStyle::SP_FileDialogNewFolder},
      {"Property", "プロパティ", QStyle::SP_FileDialogInfoView},
  };
  for (const Button& button : buttons) {
    const QString key = QString::fromLatin1(button.key);
    QAction* action = tlbFiles_->addAction(style()->standardIcon(button.icon), QString::fromUtf8(button.tooltip));
    action->setObjectName(key);
    action->setToolTip(QString::fromUtf8(button.tooltip));
    connect(action, &QAction::triggered, this, [this, key] { tlbFiles_ButtonClick(key); });
  }
  column->addWidget(tlbFiles_);

  lsvFiles_ = new QTreeWidget(fraFiles_);
  lsvFiles_->setObjectName(QStringLiteral("lsvFiles"));
  lsvFiles_->setColumnCount(3);
  lsvFiles_->setHeaderLabels({QStringLiteral("名前"), QStringLiteral("容量"), QStringLiteral("更新日時")});
  lsvFiles_->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  lsvFiles_->setRootIsDecorated(false);
  lsvFiles_->setItemsExpandable(false);
  lsvFiles_->setUniformRowHeights(true);
  lsvFiles_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lsvFiles_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lsvFiles_->setItemDelegateForColumn(0, new RenameDelegate(this));
  lsvFiles_->setColumnWidth(0, TwipsToPixelsX(lsvFiles_, 5292));
  lsvFiles_->setColumnWidth(1, TwipsToPixelsX(lsvFiles_, 2822));
  lsvFiles_->setColumnWidth(2, TwipsToPixelsX(lsvFiles_, 3528));
  lsvFiles_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(lsvFiles_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { lsvFiles_ContextMenu(lsvFiles_->viewport()->mapToGlobal(at)); });
  connect(lsvFiles_, &QTreeWidget::itemDoubleClicked, this, [this] { lsvFiles_DoubleClick(); });
  lsvFiles_->installEventFilter(this);
  lsvFiles_->viewport()->setAcceptDrops(true);
  lsvFiles_->viewport()->installEventFilter(this);
  column->addWidget(lsvFiles_, 1);
}

QString MainForm::ToKeyForm(const QString& engine_path) {
  QString key = engine_path;
  return key.replace(u'\\', u'/');
}

QString MainForm::ToEngineForm(const QString& key_path) {
  QString path = key_path;
  return path.replace(u'/', u'\\');
}

QTreeWidgetItem* MainForm::DirectoryNode(const QString& key) const { return Nodes().value(key); }

const QHash<QString, QTreeWidgetItem*>& MainForm::Nodes() const {
  if (nodes_stale_) {
    nodes_.clear();
    for (QTreeWidgetItemIterator it(trvDirectory_); *it; ++it) nodes_.insert((*it)->data(0, kNodeKeyRole).toString(), *it);
    nodes_stale_ = false;
  }
  return nodes_;
}

void MainForm::EnsureRootNode() {
  if (!Nodes().isEmpty()) return;
  auto* root = new QTreeWidgetItem(trvDirectory_, {QStringLiteral("/")});
  root->setData(0, kNodeKeyRole, QStringLiteral("/"));
  root->setIcon(0, icon_disc_);
  nodes_.insert(QStringLiteral("/"), root);
}

void MainForm::AddDirectoryNode(const QString& parent_key, const QString& name) {
  AddDirectoryNodes(parent_key, {name});
}

void MainForm::AddDirectoryNodes(const QString& parent_key, const QStringList& names) {
  EnsureRootNode();
  QTreeWidgetItem* parent = Nodes().value(parent_key);
  if (parent == nullptr) return;
  QList<QTreeWidgetItem*> fresh;
  QString last_key;
  for (const QString& name : names) {
    const QString key = parent_key + name + u'/';
    if (nodes_.contains(key)) continue;
    auto* node = new QTreeWidgetItem(QStringList{name});
    node->setData(0, kNodeKeyRole, key);
    node->setIcon(0, icon_dir_);
    nodes_.insert(key, node);
    fresh << node;
    last_key = key;
  }
  if (fresh.isEmpty()) return;
  // Expanded before its children arrive, the view only notes it and lays the
  // tree out once, when it is next drawn.
  parent->setExpanded(true);
  InsertSortedNodes(parent, fresh);
  scroll_key_ = last_key;
  if (!tmrScrollNode_->isActive()) tmrScrollNode_->start();
  PacedPeekPendingMessage([this] { ScrollToAddedNode(); });
}

void MainForm::InsertSortedNodes(QTreeWidgetItem* parent, QList<QTreeWidgetItem*> nodes) {
  // The order the view's sort gives: its own comparison, equal texts in the order added.
  const auto less = [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) { return *a < *b; };
  std::stable_sort(nodes.begin(), nodes.end(), less);
  if (parent->childCount() == 0) {
    parent->addChildren(nodes);
    return;
  }
  for (QTreeWidgetItem* node : nodes) {
    // After every child that does not sort behind the node.
    int low = 0;
    int high = parent->childCount();
    while (low < high) {
      const int middle = low + (high - low) / 2;
      if (less(node, parent->child(middle))) high = middle;
      else low = middle + 1;
    }
    parent->insertChild(low, node);
  }
}

void MainForm::ScrollToAddedNode() {
  tmrScrollNode_->stop();
  if (scroll_key_.isEmpty()) return;
  QTreeWidgetItem* node = Nodes().value(scroll_key_);
  scroll_key_.clear();
  if (node != nullptr) trvDirectory_->scrollToItem(node);
}

void MainForm::ClearLayout() {
  trvDirectory_->clear();
  image_->ClearISO();
  txtLabel_->setText(QStringLiteral("VOL_") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")));
}

void MainForm::RebuildDirectoryTree() {
  image_->ChangeISODirectory(QStringLiteral("\\"));
  EnsureRootNode();
  AddDirectoryNodesRecursive();
}

void MainForm::AddDirectoryNodesRecursive() {
  const QString here = ToKeyForm(image_->GetISOCurrentDirectory());
  QStringList names;
  for (auto record = image_->FindISOFirstFile(); record; record = image_->FindISONextFile()) {
    if (!record->IsDirectory || record->Name == u"." || record->Name == u"..") continue;
    names << record->Name;
  }
  // All subdirectories of one directory get their nodes, sorted once, before any is entered.
  AddDirectoryNodes(here, names);
  for (const QString& name : names) {
    if (!image_->ChangeISODirectory(name)) continue;
    AddDirectoryNodesRecursive();
    image_->ChangeISODirectory(QStringLiteral(".."));
  }
}

void MainForm::PruneDirectoryNodes(const QStringList& names) {
  if (image_->IsISOEmpty()) {
    trvDirectory_->clear();
    return;
  }
  // Only the named entries of the current directory can have gone. Their
  // nodes are looked up before any is deleted: a deletion makes the key
  // table stale, and rebuilding it per name would cost the whole tree each.
  const QString here = ToKeyForm(image_->GetISOCurrentDirectory());
  QList<QTreeWidgetItem*> gone;
  for (const QString& name : names) {
    QTreeWidgetItem* node = Nodes().value(here + name + u'/');
    if (node == nullptr) continue;
    if (image_->ChangeISODirectory(name)) {
      image_->ChangeISODirectory(QStringLiteral(".."));  // still there
      continue;
    }
    gone << node;
  }
  qDeleteAll(gone);  // each with its subtree
}

void MainForm::RenameDirectoryNode(const QString& old_name, const QString& new_name) {
  const QString here = ToKeyForm(image_->GetISOCurrentDirectory());
  const QString old_key = here + old_name + u'/';
  QTreeWidgetItem* node = Nodes().value(old_key);
  if (node == nullptr) return;
  const QString new_key = here + new_name + u'/';
  node->setText(0, new_name);
  // Its folder sorted again, as the view's sort would on the changed text.
  if (QTreeWidgetItem* parent = node->parent()) parent->sortChildren(0, Qt::AscendingOrder);
  // The whole subtree is keyed by path: every key below follows the rename.
  for (QTreeWidgetItemIterator it(trvDirectory_); *it; ++it) {
    const QString key = (*it)->data(0, kNodeKeyRole).toString();
    if (!key.startsWith(old_key)) continue;
    (*it)->setData(0, kNodeKeyRole, new_key + key.mid(old_key.size()));
  }
  nodes_stale_ = true;
}

void MainForm::RefreshFileList() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const QString here = ToKeyForm(image_->GetISOCurrentDirectory());
  lsvFiles_->clear();
  const QPalette palette = lsvFiles_->palette();
  // Made once and shared by every row, as the icons are.
  const QBrush normal(ResolveColor(kSysWindowText, palette));
  const QBrush grey(ResolveColor(kSysGrayText, palette));
  const QLocale locale;
  QList<QTreeWidgetItem*> rows;
  for (auto record = image_->FindISOFirstFile(); record; record = image_->FindISONextFile()) {
    if (record->Name == u".") continue;
    const bool parent = record->Name == u"..";
    if (parent && here == u"/") continue;
    auto* row = new QTreeWidgetItem;
    row->setFlags(row->flags() | (parent ? Qt::NoItemFlags : Qt::ItemIsEditable));
    row->setData(0, kRowNameRole, record->Name);
    QString kind;
    if (record->IsDirectory) {
      kind = parent ? kKindDirUp : kKindDir;
      row->setText(0, parent ? QStringLiteral("親ディレクトリ") : record->Name);
      row->setText(1, QStringLiteral("<DIR>"));
      row->setIcon(0, parent ? icon_dir_up_ : icon_dir_);
    } else {
      kind = kKindFile;
      row->setText(0, record->Name);
      row->setText(1, FormatGrouped(static_cast<uint32_t>(record->Size)));
      row->setIcon(0, icon_file_);
    }
    row->setData(0, kRowKindRole, kind);
    row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    const QDateTime stamp = record->TimeStamp;
    row->setText(2, locale.toString(stamp.date(), QLocale::ShortFormat) + u' ' +
                        stamp.toString(QStringLiteral("HH:mm:ss")));
    const QBrush& colour = (record->FileAttribute & 2) != 0 ? grey : normal;
    for (int c = 0; c < 3; ++c) row->setForeground(c, colour);
    rows << row;
  }
  lsvFiles_->addTopLevelItems(rows);
  QApplication::restoreOverrideCursor();
}

void MainForm::tmrChangeFile_Timer() {
  tmrChangeFile_->stop();
  // The scroll owed to the last added node comes first, as it would have
  // during the command.
  ScrollToAddedNode();
  RefreshFileList();
  const QString here = image_->GetISOCurrentDirectory();
  QTreeWidgetItem* selected = trvDirectory_->currentItem();
  if (selected == nullptr || !selected->isSelected() ||
      ToEngineForm(selected->data(0, kNodeKeyRole).toString()) != here) {
    if (QTreeWidgetItem* node = Nodes().value(ToKeyForm(here))) {
      trvDirectory_->setCurrentItem(node);
      trvDirectory_->scrollToItem(node);
    }
  }
  tmrChangeFile_->stop();
}

void MainForm::tmrChangeFileSize_Timer() {
  tmrChangeFileSize_->stop();
  RefreshTrackView();
}

void MainForm::trvDirectory_NodeClick(QTreeWidgetItem* node) {
  if (node == nullptr) return;
  image_->ChangeISODirectory(ToEngineForm(node->data(0, kNodeKeyRole).toString()));
}

// --- Adding ---

namespace {

bool NameHoldsLineBreakOrTab(const QByteArray& name) {
  return name.contains('\t') || name.contains('\r') || name.contains('\n');
}

QDateTime ModifiedTime(const struct stat& status) {
  return QDateTime::fromMSecsSinceEpoch(qint64{status.st_mtim.tv_sec} * 1000 + status.st_mtim.tv_nsec / 1000000);
}

}  // namespace

// Rebuilds a host entry (a folder with everything below it) in the current
// data-area directory, walking and reading by the names' bytes. Names reach
// the layout as the disc shows them (UTF-8, else CP932, else "_" for each odd
// byte); an entry the layout cannot take is reported and the walk goes on.
class MainForm::LayoutWalk final : public HostTreeVisitor {
 public:
  explicit LayoutWalk(MainForm& form) : form_(form), image_(*form.image_) {}

  bool EnterFolder(const QByteArray& path, const QByteArray& name, const struct stat& status) override {
    form_.panel_text_->setText(HostNameText(path));
    const QString before = HostNameText(name);
    QString made = before;
    // Names the project file cannot hold and paths the engine's record would cut.
    if (Unusable(path, name)) {
      Refuse(name);
      return false;
    }
    if (!image_.MakeISODirectory(made, name.startsWith('.') ? 2 : 0, ModifiedTime(status))) {
      form_.Message(image_.DirectoryRefusedText(before));
      return false;
    }
    if (made != before)
      form_.Message(QStringLiteral("ディレクトリ名 '") + HostNameText(path) + QStringLiteral("' は\r\n'") + made +
                    QStringLiteral("' に置換されました。"));
    form_.AddDirectoryNode(ToKeyForm(image_.GetISOCurrentDirectory()), made);
    return image_.ChangeISODirectory(made);
  }
  void LeaveFolder() override { image_.ChangeISODirectory(QStringLiteral("..")); }
  void File(const QByteArray& path, const QByteArray& name, const struct stat*) override {
    form_.panel_text_->setText(HostNameText(path));
    const QString before = HostNameText(name);
    QString added = before;
    // Only regular files have contents to read: FIFOs, sockets and devices never reach the engine.
    struct stat status {};
    if (Unusable(path, name) || ::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode) ||
        !image_.AddISOFile(added, path, &status)) {
      form_.Message(QStringLiteral("ファイル ") + HostNameText(path) + QStringLiteral(" は追加できません。"));
      return;
    }
    if (added != before)
      form_.Message(QStringLiteral("ファイル名 '") + HostNameText(path) + QStringLiteral("' は\r\n'") + added +
                    QStringLiteral("' に置換されました。"));
  }
  // A folder already on the walk's path (a link loop) is never entered again.
  void Loop(const QByteArray&, const QByteArray& name) override { Refuse(name); }
  void Unreadable(const QByteArray&, const QByteArray& name) override { Refuse(name); }

 private:
  static bool Unusable(const QByteArray& path, const QByteArray& name) {
    return NameHoldsLineBreakOrTab(name) || path.size() >= kMaxSourcePathBytes;
  }
  void Refuse(const QByteArray& name) {
    form_.Message(QStringLiteral("ディレクトリ ") + HostNameText(name) + QStringLiteral(" は作成できません。"));
  }

  MainForm& form_;
  Tazol& image_;
};

void MainForm::AddPathToLayout(const QString& path) { AddHostPathToLayout(HostPathOf(path)); }

void MainForm::AddHostPathToLayout(const QByteArray& given) {
  // A folder's path may end in "/" (an address, a dialog's answer): the folder's name is before it.
  QByteArray path = given;
  while (path.size() > 1 && path.endsWith('/')) path.chop(1);
  EnsureRootNode();
  panel_text_->setText(HostNameText(path));
  struct stat status {};
  if (path.isEmpty() || ::lstat(path.constData(), &status) != 0) {
    Message(HostNameText(path) + QStringLiteral(" は見つかりません。"));
    return;
  }
  const qsizetype slash = path.lastIndexOf('/');
  QByteArray name = slash >= 0 ? path.mid(slash + 1) : path;
  if (name.isEmpty()) name = path;
  LayoutWalk walk(*this);
  WalkHostTree(path, name, walk);
}

void MainForm::mnuWellAdd_Click() {
  const QString chosen = ShowOpenFileDialog(this, QStringLiteral("すべてのファイル(*.*)|*.*"), QString(), 0x81A04);
  if (!chosen.isEmpty()) {
    for (const QString& file : chosen.split(u'|', Qt::SkipEmptyParts)) AddPathToLayout(file);
  }
  panel_text_->clear();
}

void MainForm::mnuWellAddDirectory_Click(int index) {
  const QString prompt = QStringLiteral("追加する") + (index == 1 ? QStringLiteral("ファイルのある") : QString()) +
                         QStringLiteral("ディレクトリを指定してください。");
  QString folder = BrowseForFolder(this, prompt, 1);
  if (!folder.isEmpty()) {
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    const QByteArray base = HostPathOf(folder);
    if (index == 0) {
      // The folder itself becomes a directory of the data area.
      AddHostPathToLayout(base);
    } else {
      std::vector<HostFolderEntry> entries;
      const int fd = ::open(base.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd >= 0) {
        ListHostFolder(fd, &entries);
        ::close(fd);
      }
      const QByteArray prefix = base == "/" ? QByteArray() : base;
      for (const HostFolderEntry& entry : entries)
        if (entry.name != "." && entry.name != "..") AddHostPathToLayout(prefix + '/' + entry.name);
    }
  }
  panel_text_->clear();
}

bool MainForm::lsvFiles_Drop(QDropEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data != nullptr && data->hasUrls()) {
    event->acceptProposedAction();
    const QList<QUrl> urls = data->urls();
    // By the bytes the address carries: a name that is not UTF-8 stays whole.
    for (const QUrl& url : urls)
      if (url.isLocalFile()) AddHostPathToLayout(HostPathOfUrl(url));
  } else {
    event->ignore();
  }
  panel_text_->clear();
  return true;
}

// --- Rows ---

QTreeWidgetItem* MainForm::SelectedRow() const {
  QTreeWidgetItem* current = lsvFiles_->currentItem();
  if (current != nullptr && current->isSelected()) return current;
  const QList<QTreeWidgetItem*> selected = lsvFiles_->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

void MainForm::StartRowEdit(QTreeWidgetItem* row) {
  if (row == nullptr || row->data(0, kRowKindRole).toString() == kKindDirUp) return;
  lsvFiles_->setCurrentItem(row);
  lsvFiles_->editItem(row, 0);
}

void MainForm::lsvFiles_AfterLabelEdit(QTreeWidgetItem* row, const QString& new_text) {
  if (row->data(0, kRowKindRole).toString() == kKindDirUp) return;
  const QString old_name = row->data(0, kRowNameRole).toString();
  // Enter on an unchanged name cancels the edit.
  if (new_text == old_name) return;
  QString engine_name = new_text;
  if (!image_->RenameISOFile(old_name, engine_name)) {
    Message(QStringLiteral("指定ファイル名は既に存在するか、または不正です。"));
    return;
  }
  RenameDirectoryNode(old_name, engine_name);
}

void MainForm::lsvFiles_DoubleClick() {
  QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) return;
  const QString kind = row->data(0, kRowKindRole).toString();
  if (kind == kKindDir) image_->ChangeISODirectory(row->data(0, kRowNameRole).toString());
  else if (kind == kKindDirUp) image_->ChangeISODirectory(QStringLiteral(".."));
}

bool MainForm::lsvFiles_KeyDown(int key, Qt::KeyboardModifiers modifiers) {
  const bool shift = (modifiers & Qt::ShiftModifier) != 0;
  const bool ctrl = (modifiers & Qt::ControlModifier) != 0;
  switch (key) {
    case Qt::Key_Backspace:
      image_->ChangeISODirectory(QStringLiteral(".."));
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      lsvFiles_DoubleClick();
      return true;
    case Qt::Key_Insert:
    case Qt::Key_A:
      if (shift && ctrl) mnuWellAddDirectory_Click(0);
      else if (shift) mnuWellAddDirectory_Click(1);
      else mnuWellAdd_Click();
      return true;
    case Qt::Key_Delete:
    case Qt::Key_D:
      mnuWellRemove_Click();
      return true;
    case Qt::Key_F1:
    case Qt::Key_K:
      mnuWellMakeDirectory_Click();
      return true;
    case Qt::Key_F2:
    case Qt::Key_R:
      mnuWellRename_Click();
      return true;
    default:
      return false;
  }
}

void MainForm::lsvFiles_ContextMenu(const QPoint& at) { PopupMenuAt(mnuWell_, at); }

void MainForm::tlbFiles_ButtonClick(const QString& key) {
  if (key == u"AddFile") mnuWellAdd_Click();
  else if (key == u"AddDirectory") mnuWellAddDirectory_Click(0);
  else if (key == u"AddDirectoryFile") mnuWellAddDirectory_Click(1);
  else if (key == u"Rename") mnuWellRename_Click();
  else if (key == u"Delete") mnuWellRemove_Click();
  else if (key == u"MakeDirectory") mnuWellMakeDirectory_Click();
  else if (key == u"Property") mnuWellProperty_Click();
}

void MainForm::mnuWellRename_Click() { StartRowEdit(SelectedRow()); }

void MainForm::mnuWellRemove_Click() {
  if (SelectedRow() == nullptr) return;
  if (Ask(QStringLiteral("選択されているファイルを削除します。よろしいですか。")) != kIdYes) return;
  QStringList names;
  for (int i = lsvFiles_->topLevelItemCount() - 1; i >= 0; --i) {
    QTreeWidgetItem* row = lsvFiles_->topLevelItem(i);
    // The parent row stands for "..": it is never removed, whatever the names.
    if (row->isSelected() && row->data(0, kRowKindRole).toString() != kKindDirUp)
      names << row->data(0, kRowNameRole).toString();
  }
  for (const QString& name : names) image_->RemoveISOFile(name);
  PruneDirectoryNodes(names);
}

void MainForm::mnuWellMakeDirectory_Click() {
  QString made;
  for (int attempt = 0; attempt < 9999 && made.isEmpty(); ++attempt) {
    QString name = attempt == 0 ? QStringLiteral("NewDirectory")
                                : QStringLiteral("NewDirectory(%1)").arg(attempt);
    if (image_->MakeISODirectory(name, 0, QDateTime::currentDateTime())) made = name;
  }
  if (made.isEmpty()) {
    const QString refused = QStringLiteral("新しいディレクトリは作成できませんでした。");
    Message(image_->DirectoriesFull() ? refused + Tazol::DirectoryLimitText() : refused);
    return;
  }
  AddDirectoryNode(ToKeyForm(image_->GetISOCurrentDirectory()), made);
  RefreshFileList();
  QTreeWidgetItem* chosen = nullptr;
  for (int i = 0; i < lsvFiles_->topLevelItemCount(); ++i) {
    QTreeWidgetItem* row = lsvFiles_->topLevelItem(i);
    const bool match = row->data(0, kRowKindRole).toString() != kKindDirUp &&
                       row->data(0, kRowNameRole).toString() == made;
    row->setSelected(match);
    if (match && chosen == nullptr) chosen = row;
  }
  if (chosen != nullptr) StartRowEdit(chosen);
  // The engine's change report would rebuild the list under the new editor.
  tmrChangeFile_->stop();
}

void MainForm::mnuWellDummyAdd_Click() {
  ISOFindFile record;
  if (!PropertyISOFile::ShowOpen(true, record, image_->GetISOCurrentDirectory(), this)) return;
  QString name = record.Name;
  if (!image_->AddISODummyFile(name, record.Size, record.TimeStamp))
    Message(QStringLiteral("ダミーファイル ") + record.Name + QStringLiteral(" は追加できません。"));
}

void MainForm::mnuWellClear_Click() {
  if (Ask(QStringLiteral("配置されたファイルを全て削除します。よろしいですか。")) == kIdYes) ClearLayout();
}

void MainForm::mnuWellProperty_Click() {
  QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr || row->data(0, kRowKindRole).toString() == kKindDirUp) return;
  const QString name = row->data(0, kRowNameRole).toString();
  std::unique_ptr<ISOFindFile> record;
  for (record = image_->FindISOFirstFile(); record && record->Name != name; record = image_->FindISONextFile()) {
  }
  if (!record) return;
  if (!PropertyISOFile::ShowOpen(false, *record, image_->GetISOCurrentDirectory(), this)) return;
  image_->ChangeISOProperties(record->Name, record->FileAttribute, record->TimeStamp);
  RefreshFileList();
}

}  // namespace sorvel
