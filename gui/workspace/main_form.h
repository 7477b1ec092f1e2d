// The main window of the mastering workspace. It owns the one layout object
// (the mastering engine binding), the table of the audio tracks' source files,
// the MP3 decoder and the help viewer for as long as it lives; it carries the
// menus, the main toolbar, the media, file-system and label controls, the
// data-area view (directory tree and file list) and the track pane, and opens
// every dialog of the workspace.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QIcon>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "gui/foundation/hash_table.h"
#include "gui/foundation/html_help.h"

class QAction;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QResizeEvent;
class QSettings;
class QStatusBar;
class QTimer;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace sorvel {

class ApplicationSetting;
class CircleGraph;
class Splitter;
class Tazol;
namespace jobs {
class ACMDecoder;
}

// Item data roles of the file list's rows.
inline constexpr int kRowKindRole = Qt::UserRole;       // "Dir", "DirUp" or "File"
inline constexpr int kRowNameRole = Qt::UserRole + 1;   // the entry's name in the layout
// Item data role of a tree node: its key ("/", "/A/", "/A/B/").
inline constexpr int kNodeKeyRole = Qt::UserRole;
// Item data role of a track row's icon key ("Data" or "Audio").
inline constexpr int kTrackIconRole = Qt::UserRole;

class MainForm : public QMainWindow {
  Q_OBJECT

 public:
  // `settings` is the program's settings (the process-wide object when null);
  // `store` the per-user settings store (the program's own when null).
  explicit MainForm(ApplicationSetting* settings = nullptr, QSettings* store = nullptr, QWidget* parent = nullptr);
  ~MainForm() override;

  // Project files: loads one into the window (a message when it cannot be
  // opened), or writes the layout into one (the old file kept on failure).
  virtual bool FileProjectLoad(const QString& file_name);
  virtual bool SaveProject(const QString& file_name);

  // Runs the unload steps once (tracks cleared, choices stored, members released).
  void Form_Unload();

  // --- Members of the window ---
  Tazol& mobjImageFile() const { return *image_; }
  jobs::ACMDecoder& mobjACMDecoder() const { return *decoder_; }
  HashTable<QString, QString>& mobjSourceFiles() { return source_files_; }
  HTMLHelp& mobjHTMLHelp() { return help_; }

  QToolBar* tlbMain() const { return tlbMain_; }
  QAction* ToolbarButton(const QString& key) const;
  QWidget* fraTop() const { return fraTop_; }
  QFrame* fraVariable() const { return fraVariable_; }
  QComboBox* cboMediaType() const { return cboMediaType_; }
  CircleGraph* cgVariable() const { return cgVariable_; }
  QLabel* lblVariable() const { return lblVariable_; }
  QComboBox* cboFileSystem() const { return cboFileSystem_; }
  QLineEdit* txtLabel() const { return txtLabel_; }
  Splitter* splMain() const { return splMain_; }
  Splitter* splSub() const { return splSub_; }
  // The lower pane of splMain, for the track list.
  QWidget* fraTrack() const { return fraTrack_; }
  QProgressBar* prgProgress() const { return prgProgress_; }
  QStatusBar* stbMain() const { return stbMain_; }
  // Status panel 1.
  QLabel* StatusPanel() const { return panel_text_; }
  QTimer* tmrChangeFile() const { return tmrChangeFile_; }
  QTimer* tmrChangeFileSize() const { return tmrChangeFileSize_; }
  QTimer* tmrChangeTrack() const { return tmrChangeTrack_; }
  // A menu item by its control name ("mnuFileOpen", "mnuWellAddDirectory0", ...).
  QAction* MenuItem(const QString& name) const;
  QMenu* mnuWell() const { return mnuWell_; }
  QMenu* mnuTrack() const { return mnuTrack_; }

  // Track pane.
  QWidget* fraTracks() const { return fraTracks_; }
  QToolBar* tlbTracks() const { return tlbTracks_; }
  QAction* TrackToolbarButton(const QString& key) const;
  QWidget* fraAlbumName() const { return fraAlbumName_; }
  QLabel* lblAlbumName() const { return lblAlbumName_; }
  QTreeWidget* lsvTracks() const { return lsvTracks_; }

  // Data-area view.
  QTreeWidget* trvDirectory() const { return trvDirectory_; }
  QWidget* fraFiles() const { return fraFiles_; }
  QToolBar* tlbFiles() const { return tlbFiles_; }
  QTreeWidget* lsvFiles() const { return lsvFiles_; }
  // The tree node keyed `key`, null when there is none.
  QTreeWidgetItem* DirectoryNode(const QString& key) const;

  // Capacity of the selected media type in 2,048-byte sectors (0 when none is selected).
  int32_t MediaCapacity() const;
  // The label's typing limit in characters: 16 under Joliet variants, else 32.
  int LabelLimit() const { return label_limit_; }

  // Engine-form path ("\A\B\") to key form ("/A/B/") and back.
  static QString ToKeyForm(const QString& engine_path);
  static QString ToEngineForm(const QString& key_path);

 public slots:
  // The track list fills these; here they keep the layout consistent.
  virtual void RefreshTrackView();
  virtual void ClearTracks();
  void mnuTrackClear_Click();

  // Track list.
  bool AddAudioFile(const QString& file_name);
  void RemoveTrackAt(int32_t track_no);
  void MoveTrack(bool up);
  void mnuTrackAdd_Click();
  void mnuTrackRemove_Click();
  void mnuTrackUp_Click();
  void mnuTrackDown_Click();
  void mnuTrackProperty_Click();
  void mnuDiscProperty_Click();
  void tlbTracks_ButtonClick(const QString& key);
  void mobjACMDecoder_Progress(qint64 value, qint64 total);
  void mobjACMDecoder_StatusChange(int status_type, const QString& status);

  // Main commands.
  void tlbMain_ButtonClick(const QString& key);
  void mnuFileOpen_Click();
  void mnuFileProjectLoad_Click();
  void mnuFileProjectSave_Click();
  void mnuViewExplorer_Click();
  void mnuViewWindowTop_Click();
  void mnuToolMasteringLog_Click();
  void mnuHelpMain_Click();
  void mnuHelpContribution_Click();
  void cboMediaType_Click();
  void cboFileSystem_Click();

  // Data-area commands.
  void mnuWellAdd_Click();
  void mnuWellAddDirectory_Click(int index);
  void mnuWellRename_Click();
  void mnuWellRemove_Click();
  void mnuWellMakeDirectory_Click();
  void mnuWellDummyAdd_Click();
  void mnuWellClear_Click();
  void mnuWellProperty_Click();
  void tlbFiles_ButtonClick(const QString& key);

  // Data-area procedures other parts of the workspace call.
  // Adds a host file or folder (with everything below it) to the current
  // directory of the data area. The text form is a path as Qt hands it (from
  // a file dialog); its host bytes are found back (HostPathOf).
  void AddPathToLayout(const QString& path);
  void AddHostPathToLayout(const QByteArray& path);
  void RefreshFileList();
  void AddDirectoryNode(const QString& parent_key, const QString& name);
  void PruneDirectoryNodes(const QStringList& names);
  void RenameDirectoryNode(const QString& old_name, const QString& new_name);
  void ClearLayout();
  void RebuildDirectoryTree();

  // What the change timers run.
  void tmrChangeFile_Timer();
  void tmrChangeFileSize_Timer();
  void tmrChangeTrack_Timer();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class RenameDelegate;
  friend class RenameDelegate;
  class LayoutWalk;
  friend class LayoutWalk;

  void BuildMenus();
  void BuildToolbar();
  void BuildTopBar();
  void BuildPanes();
  void BuildDataArea();
  void Form_Load();
  void RestoreChoice(QComboBox* box, const QString& key, int fallback);
  void txtLabel_Change();
  void txtLabel_Edited();
  void RecordHistory(const QDateTime& moment);
  // Whether a resize of `watched` is the window's resize, after which the
  // dividers go back to their proportions (a drag of one divider is none).
  bool IsWindowResize(const QObject* watched, const QResizeEvent* event) const;
  void ArrangeSplitters();
  // The least height of splMain at which both panes show their lists whole.
  void KeepPanesWhole();

  // Project file.
  bool LoadProject(const QString& file_name);
  void WriteDataSection(QStringList& lines);
  void LoadDataLine(const QString& line, QStringList& missing);
  void LoadAudioLine(const QString& line, QStringList& missing, bool& limit_told, bool& texts_seen);

  // Data area.
  void AddDirectoryNodesRecursive();
  void EnsureRootNode();
  // Nodes for the directories `names` under the node `parent_key`, in one
  // insertion kept in the tree's sort order; names that have a node already
  // are left out. The last new one is scrolled into view when the loop that
  // adds them lets the window draw (ScrollToAddedNode).
  void AddDirectoryNodes(const QString& parent_key, const QStringList& names);
  void InsertSortedNodes(QTreeWidgetItem* parent, QList<QTreeWidgetItem*> nodes);
  void ScrollToAddedNode();
  // Track pane.
  void BuildTrackPane();
  void fraTracks_Resize();
  void CentreAlbumName();
  bool AddAudioFileNested(const QString& file_name, QStringList& open_playlists, int64_t& left_out);
  void ForgetSourceOf(const QString& wave_file);
  bool lsvTracks_KeyDown(int key);
  void lsvTracks_ContextMenu(const QPoint& at);
  bool lsvTracks_Drop(class QDropEvent* event);
  bool TracksEventFilter(QObject* watched, QEvent* event);
  // Drag-enter and drag-move over a list: URL lists are taken, anything else
  // refused. False for other events.
  static bool AnswerUrlDrag(QEvent* event);
  // Pops up the visible items of `menu` through the modal interface and runs the chosen one.
  void PopupMenuAt(QMenu* menu, const QPoint& at);

  void lsvFiles_DoubleClick();
  bool lsvFiles_KeyDown(int key, Qt::KeyboardModifiers modifiers);
  void lsvFiles_ContextMenu(const QPoint& at);
  bool lsvFiles_Drop(class QDropEvent* event);
  void lsvFiles_AfterLabelEdit(QTreeWidgetItem* row, const QString& new_text);
  void trvDirectory_NodeClick(QTreeWidgetItem* node);
  QTreeWidgetItem* SelectedRow() const;
  void StartRowEdit(QTreeWidgetItem* row);
  void Message(const QString& text, int style = 48);
  int Ask(const QString& text);

  ApplicationSetting* settings_;
  bool own_settings_ = false;
  std::unique_ptr<QSettings> own_store_;
  QSettings* store_;
  bool unloaded_ = false;

  HTMLHelp help_;
  std::unique_ptr<Tazol> image_;
  std::unique_ptr<jobs::ACMDecoder> decoder_;
  HashTable<QString, QString> source_files_;

  QHash<QString, QAction*> menu_items_;
  QMenu* mnuWell_ = nullptr;
  QMenu* mnuTrack_ = nullptr;
  QToolBar* tlbMain_ = nullptr;
  QWidget* fraTop_ = nullptr;
  QFrame* fraVariable_ = nullptr;
  QComboBox* cboMediaType_ = nullptr;
  CircleGraph* cgVariable_ = nullptr;
  QLabel* lblVariable_ = nullptr;
  QComboBox* cboFileSystem_ = nullptr;
  QLineEdit* txtLabel_ = nullptr;
  Splitter* splMain_ = nullptr;
  Splitter* splSub_ = nullptr;
  QWidget* fraTrack_ = nullptr;
  QProgressBar* prgProgress_ = nullptr;
  QStatusBar* stbMain_ = nullptr;
  QLabel* panel_text_ = nullptr;
  QLabel* panel_date_ = nullptr;
  QLabel* panel_time_ = nullptr;
  QTimer* clock_ = nullptr;
  QTimer* tmrChangeFile_ = nullptr;
  QTimer* tmrChangeFileSize_ = nullptr;
  QTimer* tmrChangeTrack_ = nullptr;
  int label_limit_ = 32;
  QString label_before_edit_;
  bool label_busy_ = false;

  QWidget* fraTracks_ = nullptr;
  QToolBar* tlbTracks_ = nullptr;
  QWidget* fraAlbumName_ = nullptr;
  QLabel* lblAlbumName_ = nullptr;
  QTreeWidget* lsvTracks_ = nullptr;

  QTreeWidget* trvDirectory_ = nullptr;
  QWidget* fraFiles_ = nullptr;
  QToolBar* tlbFiles_ = nullptr;
  QTreeWidget* lsvFiles_ = nullptr;
  QIcon icon_disc_;
  QIcon icon_dir_;
  QIcon icon_dir_up_;
  QIcon icon_file_;
  QIcon icon_audio_;
  // The node added last that still waits to be scrolled into view.
  QString scroll_key_;
  QTimer* tmrScrollNode_ = nullptr;
  // Tree nodes by key, rebuilt from the tree after nodes were removed.
  const QHash<QString, QTreeWidgetItem*>& Nodes() const;
  mutable QHash<QString, QTreeWidgetItem*> nodes_;
  mutable bool nodes_stale_ = false;
};

}  // namespace sorvel
