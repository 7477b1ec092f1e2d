// The track pane of the main window: the audio track list with its toolbar and
// album name, adding WAV, MP3 and playlist files, removing, moving and
// clearing tracks, the track and album property dialogs, the capacity gauge
// and the decoder's feedback. The list is rebuilt from the layout object
// whenever it reports a change.
#include <sys/stat.h>

#include <QAction>
#include <algorithm>
#include <optional>
#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/controls/circle_graph.h"
#include "gui/controls/color.h"
#include "gui/controls/progress_value.h"
#include "gui/controls/twips.h"
#include "gui/dialogs/hourglass.h"
#include "gui/dialogs/property_iso_file.h"
#include "gui/dialogs/property_track.h"
#include "gui/foundation/application_setting.h"
#include "gui/foundation/dialog_module.h"
#include "gui/foundation/termination.h"
#include "gui/foundation/disk_module.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/modal_ui.h"
#include "gui/foundation/regular_file.h"
#include "gui/foundation/string_module.h"
#include "gui/foundation/window_module.h"
#include "gui/jobs/acm_decoder.h"
#include "gui/model/tazol.h"
#include "gui/workspace/main_form.h"
#include "platform/text_encoding.h"

namespace sorvel {

namespace {

constexpr int kMaxTracks = 99;
// Playlists inside playlists are followed this deep.
constexpr int kMaxPlaylistDepth = 16;
constexpr int32_t kNewPregap = 150;
constexpr OleColor kRingRed = 0xFF;

const char* const kTrackColumns[] = {"トラック", "曲名", "演奏者", "ソース", "Pregap", "時間", "Postgap", "属性"};

struct TrackButton {
  const char* key;
  const char* tooltip;
  QStyle::StandardPixmap icon;
};
const TrackButton kTrackButtons[] = {
    {"AddTrack", "トラックの追加", QStyle::SP_FileDialogNewFolder},
    {"DeleteTrack", "トラックの削除", QStyle::SP_TrashIcon},
    {"UpTrack", "トラックを上に移動", QStyle::SP_ArrowUp},
    {"DownTrack", "トラックを下に移動", QStyle::SP_ArrowDown},
    {"PropertyTrack", "トラックの設定", QStyle::SP_FileDialogDetailedView},
};

const QString kTrackLimitMessage = QStringLiteral("１００以上のトラックは作成できません。");

QString UnsupportedAudioMessage(const QString& file_name) {
  return QStringLiteral("音楽ファイル ") + file_name +
         QStringLiteral(" は開けないか、または未対応の形式です。\r\n"
                        "（44.1KhzでサンプリングされたWAVファイル、または44.1KHzに変換可能なMP3ファイルのみ対応）");
}

ISOTrackText ToTrackText(const jobs::Id3TrackText& tag) {
  ISOTrackText text;
  text.Title = tag.Title;
  text.Performer = tag.Performer;
  text.Songwriter = tag.Songwriter;
  text.Composer = tag.Composer;
  text.Arranger = tag.Arranger;
  text.Message = tag.Message;
  text.TitleEnabled = tag.TitleEnabled;
  text.PerformerEnabled = tag.PerformerEnabled;
  text.SongwriterEnabled = tag.SongwriterEnabled;
  text.ComposerEnabled = tag.ComposerEnabled;
  text.ArrangerEnabled = tag.ArrangerEnabled;
  text.MessageEnabled = tag.MessageEnabled;
  return text;
}

// The entries of a playlist: one a line (CR LF, CR or LF), each line as it
// stands, untrimmed and with no comment syntax, so that a "#EXTINF:" line of
// an extended playlist is an entry like any other (AddAudioFile tells that it
// names no audio file) and an empty line is the empty name. A relative entry
// is taken from the playlist's own folder. Each line is joined as bytes;
// where they name an entry they are held as the text Qt makes of a host name
// (found back by its bytes when opened, whatever its encoding), else read as
// UTF-8, else CP932 (a playlist of a Japanese system naming files now stored
// in UTF-8).
QStringList PlaylistEntries(const QString& playlist, const QByteArray& contents) {
  QByteArray folder = QFile::encodeName(QFileInfo(playlist).absolutePath());
  if (!folder.endsWith('/')) folder += '/';
  QStringList entries;
  qsizetype at = contents.startsWith("\xEF\xBB\xBF") ? 3 : 0;
  while (at < contents.size()) {
    qsizetype end = at;
    while (end < contents.size() && contents[end] != '\r' && contents[end] != '\n') ++end;
    const QByteArray line = contents.mid(at, end - at);
    at = end + (end + 1 < contents.size() && contents[end] == '\r' && contents[end + 1] == '\n' ? 2 : 1);
    if (line.isEmpty()) {
      entries << QString();
      continue;
    }
    const QByteArray path = line.startsWith('/') ? line : folder + line;
    struct stat status {};
    entries << (::lstat(path.constData(), &status) == 0
                    ? QFile::decodeName(path)
                    : QString::fromStdString(platform::HostNameToUtf8(std::string_view(path.constData(), path.size()))));
  }
  return entries;
}

}  // namespace

void MainForm::BuildTrackPane() {
  // The data track's row shares the disc icon of the tree's root.
  icon_audio_ = style()->standardIcon(QStyle::SP_MediaVolume);
  cgVariable_->setForeColor(0xC0C000);
  cgVariable_->setGraphTrueColor(0xC0C000);
  cgVariable_->setGraphFalseColor(0xFFFF80);
  cgVariable_->setBackColor(kSysButtonFace);
  cgVariable_->setMin(0);

  auto* holder = new QVBoxLayout(fraTrack_);
  holder->setContentsMargins(0, 0, 0, 0);
  fraTracks_ = new QWidget(fraTrack_);
  fraTracks_->setObjectName(QStringLiteral("fraTracks"));
  holder->addWidget(fraTracks_);

  tlbTracks_ = new QToolBar(fraTracks_);
  tlbTracks_->setObjectName(QStringLiteral("tlbTracks"));
  tlbTracks_->setIconSize(QSize(16, 16));
  tlbTracks_->setContextMenuPolicy(Qt::PreventContextMenu);
  auto add_button = [this](const TrackButton& button) {
    QAction* action = tlbTracks_->addAction(style()->standardIcon(button.icon), QString());
    const QString key = QString::fromLatin1(button.key);
    action->setObjectName(key);
    action->setToolTip(QString::fromUtf8(button.tooltip));
    connect(action, &QAction::triggered, this, [this, key] { tlbTracks_ButtonClick(key); });
  };
  for (const TrackButton& button : kTrackButtons) add_button(button);
  // The album name sits on a placeholder 4000 twips wide.
  fraAlbumName_ = new QFrame(tlbTracks_);
  fraAlbumName_->setObjectName(QStringLiteral("fraAlbumName"));
  static_cast<QFrame*>(fraAlbumName_)->setFrameShape(QFrame::StyledPanel);
  fraAlbumName_->setFixedSize(TwipsToPixelsX(this, 4000), 22);
  lblAlbumName_ = new QLabel(fraAlbumName_);
  lblAlbumName_->setObjectName(QStringLiteral("lblAlbumName"));
  tlbTracks_->addWidget(fraAlbumName_)->setObjectName(QStringLiteral("AlbumTitle"));
  add_button({"PropertyDisc", "アルバムの設定", QStyle::SP_DriveCDIcon});

  lsvTracks_ = new QTreeWidget(fraTracks_);
  lsvTracks_->setObjectName(QStringLiteral("lsvTracks"));
  lsvTracks_->setRootIsDecorated(false);
  lsvTracks_->setUniformRowHeights(true);
  lsvTracks_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  lsvTracks_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lsvTracks_->viewport()->setAcceptDrops(true);
  lsvTracks_->setContextMenuPolicy(Qt::CustomContextMenu);
  QStringList columns;
  for (const char* column : kTrackColumns) columns << QString::fromUtf8(column);
  lsvTracks_->setHeaderLabels(columns);
  const int widths[] = {90, 160, 120, 140, 70, 70, 70, 70};
  for (int c = 0; c < 8; ++c) lsvTracks_->setColumnWidth(c, widths[c]);
  connect(lsvTracks_, &QTreeWidget::itemDoubleClicked, this, [this] { mnuTrackProperty_Click(); });
  connect(lsvTracks_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { lsvTracks_ContextMenu(lsvTracks_->viewport()->mapToGlobal(at)); });
  lsvTracks_->installEventFilter(this);
  lsvTracks_->viewport()->installEventFilter(this);
  fraTracks_->installEventFilter(this);
}

QAction* MainForm::TrackToolbarButton(const QString& key) const {
  for (QAction* action : tlbTracks_->actions())
    if (action->objectName() == key) return action;
  return nullptr;
}

bool MainForm::TracksEventFilter(QObject* watched, QEvent* event) {
  if (lsvTracks_ == nullptr) return false;
  if (watched == fraTracks_ && event->type() == QEvent::Resize) {
    fraTracks_Resize();
    return false;
  }
  if (watched == lsvTracks_ && event->type() == QEvent::KeyPress)
    return lsvTracks_KeyDown(static_cast<QKeyEvent*>(event)->key());
  if (watched == lsvTracks_->viewport()) {
    if (AnswerUrlDrag(event)) return true;
    if (event->type() == QEvent::Drop) return lsvTracks_Drop(static_cast<QDropEvent*>(event));
  }
  return false;
}

void MainForm::fraTracks_Resize() {
  const int width = fraTracks_->width();
  tlbTracks_->setGeometry(0, 0, width, tlbTracks_->sizeHint().height());
  const int top = tlbTracks_->y() + tlbTracks_->height();
  lsvTracks_->setGeometry(0, top, width, std::max(0, fraTracks_->height() - top));
  CentreAlbumName();
}

void MainForm::CentreAlbumName() {
  lblAlbumName_->adjustSize();
  int left = (fraAlbumName_->width() - lblAlbumName_->width()) / 2;
  const int top = (fraAlbumName_->height() - lblAlbumName_->height()) / 2;
  // A name wider than the frame starts one pixel in from its left edge.
  if (left < 0) left = 1;
  lblAlbumName_->move(left, top);
}

void MainForm::tlbTracks_ButtonClick(const QString& key) {
  if (key == u"AddTrack") mnuTrackAdd_Click();
  else if (key == u"DeleteTrack") mnuTrackRemove_Click();
  else if (key == u"UpTrack") mnuTrackUp_Click();
  else if (key == u"DownTrack") mnuTrackDown_Click();
  else if (key == u"PropertyTrack") mnuTrackProperty_Click();
  else if (key == u"PropertyDisc") mnuDiscProperty_Click();
}

bool MainForm::lsvTracks_KeyDown(int key) {
  switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      mnuTrackProperty_Click();
      return true;
    case Qt::Key_Insert:
    case Qt::Key_A:
      mnuTrackAdd_Click();
      return true;
    case Qt::Key_Delete:
    case Qt::Key_D:
      mnuTrackRemove_Click();
      return true;
    default:
      return false;
  }
}

void MainForm::lsvTracks_ContextMenu(const QPoint& at) { PopupMenuAt(mnuTrack_, at); }

bool MainForm::lsvTracks_Drop(QDropEvent* event) {
  const QMimeData* data = event->mimeData();
  if (data == nullptr || !data->hasUrls()) {
    event->ignore();
    return true;
  }
  event->acceptProposedAction();
  const QList<QUrl> urls = data->urls();
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) break;
    AddAudioFile(url.toLocalFile());
  }
  return true;
}

// --- Adding ---

void MainForm::mnuTrackAdd_Click() {
  const QString files =
      ShowOpenFileDialog(this, QStringLiteral("音楽ファイル(*.wav,*.mp3,*.m3u)|*.wav;*.mp3;*.m3u"), QString(), 0x81A00);
  if (files.isEmpty()) return;
  for (const QString& file : files.split(u'|', Qt::SkipEmptyParts)) AddAudioFile(file);
}

bool MainForm::AddAudioFile(const QString& file_name) {
  QStringList open_playlists;
  int64_t left_out = 0;
  const bool added = AddAudioFileNested(file_name, open_playlists, left_out);
  // The entries of a playlist past the limit are told in one message.
  if (left_out > 0) {
    Message(kTrackLimitMessage + QStringLiteral("\r\nプレイリストの ") + QString::number(left_out) +
            QStringLiteral(" 個のファイルは追加されませんでした。"));
  }
  return added;
}

bool MainForm::AddAudioFileNested(const QString& file_name, QStringList& open_playlists, int64_t& left_out) {
  const QString extension = GetExtension(file_name).toUpper();
  // At the limit a playlist given directly is still read, so that its entries
  // are counted; an entry of a playlist counts as one, a playlist too.
  if (image_->GetTrackCount() >= kMaxTracks && (extension != u".M3U" || !open_playlists.isEmpty())) {
    if (open_playlists.isEmpty()) {
      Message(kTrackLimitMessage);
    } else {
      ++left_out;
    }
    return false;
  }
  // Every audio file and playlist is opened by the rule for foreign files:
  // a FIFO, device or folder in its place is refused, never waited on.
  QString wave_file;
  std::optional<ISOTrackText> tag;
  if (file_name.contains(QChar(u'\0'))) {
    // No file has a NUL in its name; the engine would take the name up to it.
    Message(UnsupportedAudioMessage(file_name));
    return false;
  } else if (extension == u".WAV") {
    wave_file = file_name;
  } else if (extension == u".M3U") {
    // A playlist already being expanded, or nested too deep, cannot be opened.
    const QString canonical = QFileInfo(file_name).canonicalFilePath();
    if (canonical.isEmpty() || open_playlists.contains(canonical) || open_playlists.size() >= kMaxPlaylistDepth)
      return false;
    QByteArray contents;
    FileProblem problem;
    if (!ReadRegularFile(file_name, platform::kMaxPlaylistFileBytes, &contents, &problem)) {
      Message(FileProblemText(file_name, problem));
      return false;
    }
    open_playlists << canonical;
    bool all = true;
    for (const QString& entry : PlaylistEntries(file_name, contents))
      if (!AddAudioFileNested(entry, open_playlists, left_out)) all = false;
    open_playlists.removeLast();
    return all;
  } else {
    QString folder = settings_->PathTemp();
    if (folder.isEmpty()) folder = GetTempDirectory();
    const QString name = GetFileNamePart(file_name);
    QString candidate = GetFullPath(name, folder);
    for (int n = 1; QFileInfo(candidate).exists() || QFileInfo(candidate).isSymLink(); ++n)
      candidate = GetFullPath(QString::number(n) + u'~' + name, folder);
    HourglassCursor hourglass;
    // A terminating signal meanwhile stops the decode as a stop does.
    const Termination::JobScope running([this] { decoder_->StopRead(); });
    // A decode that fails leaves no file; whatever stands at the name by
    // then (another instance's file) is not this one's to remove.
    if (decoder_->DecodeACM(candidate, file_name)) {
      wave_file = candidate;
      if (const jobs::Id3TrackText* text = decoder_->TrackText()) tag = ToTrackText(*text);
    }
  }
  const bool temporary = !wave_file.isEmpty() && wave_file != file_name;
  if (wave_file.isEmpty() || !image_->AddTrack(wave_file, kNewPregap, 0, 0)) {
    // A decoded file the engine refused is not kept.
    if (temporary) QFile::remove(wave_file);
    Message(UnsupportedAudioMessage(file_name));
    return false;
  }
  source_files_.SetData(wave_file, file_name);
  if (tag) {
    const int language = tag->IsHalfWidth() ? 0 : 1;
    for (int field = 0; field < 6; ++field)
      tag->Enabled(field) = tag->Enabled(field) || image_->GetTrackTextEnabled(language, field);
    image_->SetTrackTextEx(image_->GetTrackCount(), language, *tag);
    if (tag->LanguageEnabled()) image_->SetEnabledTrackText(true);
  }
  return true;
}

// --- Removing ---

void MainForm::mnuTrackRemove_Click() {
  if (lsvTracks_->selectedItems().isEmpty()) return;
  if (Ask(QStringLiteral("選択されているトラックを削除します。よろしいですか。")) != kIdYes) return;
  // Downwards, so the numbers of the rows still to visit stay valid.
  for (int32_t i = image_->GetTrackCount(); i >= 1; --i) {
    QTreeWidgetItem* row = lsvTracks_->topLevelItem(i - 1);
    if (row != nullptr && row->isSelected()) RemoveTrackAt(i);
  }
}

void MainForm::ForgetSourceOf(const QString& wave_file) {
  const std::optional<QString> source = source_files_.GetData(wave_file);
  if (source.has_value() && *source != wave_file) QFile::remove(wave_file);
  source_files_.Remove(wave_file);
}

void MainForm::RemoveTrackAt(int32_t track_no) {
  const auto track = image_->GetTrackInformation(track_no);
  if (track && track->WaveFileName.isEmpty()) {
    // The data track goes with the data area.
    ClearLayout();
    return;
  }
  if (track) ForgetSourceOf(track->WaveFileName);
  image_->RemoveTrack(track_no);
}

void MainForm::ClearTracks() {
  if (!image_) return;
  const int32_t count = image_->GetTrackCount();
  for (int32_t i = 1; i <= count; ++i)
    if (const auto track = image_->GetTrackInformation(i)) ForgetSourceOf(track->WaveFileName);
  ClearLayout();
  image_->ClearTrack();
}

// --- Moving ---

void MainForm::mnuTrackUp_Click() {
  HourglassCursor hourglass;
  MoveTrack(true);
}

void MainForm::mnuTrackDown_Click() {
  HourglassCursor hourglass;
  MoveTrack(false);
}

void MainForm::MoveTrack(bool up) {
  const int rows = lsvTracks_->topLevelItemCount();
  if (rows == 0) return;
  const int32_t n = image_->GetTrackCount();
  const int32_t first = up ? 2 : n - 1;
  const int32_t last = up ? n : 1;
  const int32_t step = up ? 1 : -1;
  const int32_t offset = up ? -1 : 1;
  auto row = [this](int32_t track) { return lsvTracks_->topLevelItem(track - 1); };
  QTreeWidgetItem* end_row = row(up ? 1 : n);
  if (end_row != nullptr && end_row->isSelected()) return;
  for (int32_t i = first; up ? i <= last : i >= last; i += step) {
    QTreeWidgetItem* row_i = row(i);
    if (row_i == nullptr || !row_i->isSelected()) continue;
    const int32_t j = i + offset;
    const auto track_i = image_->GetTrackInformation(i);
    const auto track_j = image_->GetTrackInformation(j);
    if (!track_i || !track_j) break;
    // Nothing moves across or with the data track.
    if (track_i->WaveFileName.isEmpty() || track_j->WaveFileName.isEmpty()) break;
    const auto text_i0 = image_->GetTrackTextEx(i, 0);
    const auto text_i1 = image_->GetTrackTextEx(i, 1);
    const auto text_j0 = image_->GetTrackTextEx(j, 0);
    const auto text_j1 = image_->GetTrackTextEx(j, 1);
    image_->ResetTrack(i, track_j->WaveFileName, track_j->PregapLBA, track_j->PostgapLBA, track_j->TrackControlFlag);
    image_->SetTrackTextEx(i, 0, *text_j0);
    image_->SetTrackTextEx(i, 1, *text_j1);
    image_->ResetTrack(j, track_i->WaveFileName, track_i->PregapLBA, track_i->PostgapLBA, track_i->TrackControlFlag);
    image_->SetTrackTextEx(j, 0, *text_i0);
    image_->SetTrackTextEx(j, 1, *text_i1);
    row_i->setSelected(false);
    if (QTreeWidgetItem* row_j = row(j)) row_j->setSelected(true);
  }
}

// --- Properties ---

void MainForm::mnuTrackProperty_Click() {
  QTreeWidgetItem* current = lsvTracks_->currentItem();
  if (current == nullptr) return;
  const int32_t k = lsvTracks_->indexOfTopLevelItem(current) + 1;
  auto track = image_->GetTrackInformation(k);
  if (!track) return;
  auto english = image_->GetTrackTextEx(k, 0);
  auto japanese = image_->GetTrackTextEx(k, 1);
  bool enabled = image_->EnabledTrackText();
  if (!PropertyTrack::ShowOpen(track.get(), enabled, *english, *japanese, this)) return;
  const qsizetype selected = lsvTracks_->selectedItems().size();
  bool apply_texts = enabled;
  bool asked = false;
  const int rows = lsvTracks_->topLevelItemCount();
  for (int i = 1; i <= rows; ++i) {
    QTreeWidgetItem* row = lsvTracks_->topLevelItem(i - 1);
    if (row == nullptr || !row->isSelected()) continue;
    if (selected > 1 && !asked && apply_texts) {
      apply_texts = Ask(QStringLiteral("入力されたCD-TEXTを選択した全てのトラックに適用しますか。")) == kIdYes;
      asked = true;
    }
    auto target = image_->GetTrackInformation(i);
    if (!target) continue;
    target->PregapLBA = track->PregapLBA;
    target->PostgapLBA = track->PostgapLBA;
    target->TrackControlFlag = (target->TrackControlFlag & ~3) | (track->TrackControlFlag & 3);
    if (apply_texts) {
      image_->SetEnabledTrackText(enabled);
      image_->SetTrackTextEx(i, 0, *english);
      image_->SetTrackTextEx(i, 1, *japanese);
    }
    if (!image_->ResetTrack(i, target->WaveFileName, target->PregapLBA, target->PostgapLBA,
                            target->TrackControlFlag))
      Message(QStringLiteral("トラック") + QString::number(i) + QStringLiteral("の設定を変更できませんでした。"), 16);
  }
}

void MainForm::mnuDiscProperty_Click() {
  auto english = image_->GetTrackTextEx(0, 0);
  auto japanese = image_->GetTrackTextEx(0, 1);
  bool enabled = image_->EnabledTrackText();
  if (PropertyTrack::ShowOpen(nullptr, enabled, *english, *japanese, this)) {
    image_->SetEnabledTrackText(enabled);
    image_->SetTrackTextEx(0, 0, *english);
    image_->SetTrackTextEx(0, 1, *japanese);
  }
  RefreshTrackView();
}

// --- View ---

void MainForm::RefreshTrackView() {
  if (!image_ || lsvTracks_ == nullptr) return;
  QString album = image_->GetTrackText(0, 1, 0);
  if (album.isEmpty()) album = image_->GetTrackText(0, 0, 0);
  QPalette palette = lblAlbumName_->palette();
  if (album.isEmpty()) {
    lblAlbumName_->setText(QStringLiteral("No Album Name"));
    palette.setColor(QPalette::WindowText, ResolveColor(kSysGrayText, palette));
  } else {
    lblAlbumName_->setText(album);
    palette.setColor(QPalette::WindowText, ResolveColor(kSysWindowText, palette));
  }
  lblAlbumName_->setPalette(palette);
  CentreAlbumName();

  int64_t used = 0;
  const int32_t count = image_->GetTrackCount();
  int filled = 0;
  for (int32_t i = 1; i <= count; ++i) {
    const auto track = image_->GetTrackInformation(i);
    if (!track) continue;
    QTreeWidgetItem* row = filled < lsvTracks_->topLevelItemCount() ? lsvTracks_->topLevelItem(filled)
                                                                      : new QTreeWidgetItem(lsvTracks_);
    ++filled;
    const bool data = (track->TrackControlFlag & 4) != 0;
    row->setText(0, QStringLiteral("Track ") + QString::number(i));
    row->setIcon(0, data ? icon_disc_ : icon_audio_);
    row->setData(0, kTrackIconRole, data ? QStringLiteral("Data") : QStringLiteral("Audio"));
    used += int64_t{track->PregapLBA} + track->DataLBA + track->PostgapLBA;
    QString title = image_->GetTrackText(i, 1, 0);
    QString performer = image_->GetTrackText(i, 1, 1);
    if (title.isEmpty() && performer.isEmpty()) {
      title = image_->GetTrackText(i, 0, 0);
      performer = image_->GetTrackText(i, 0, 1);
    }
    row->setText(1, title);
    row->setText(2, performer);
    row->setText(3, GetFileNamePart(track->WaveFileName));
    row->setText(4, track->PregapMSF());
    row->setText(5, track->DataMSF());
    row->setText(6, track->PostgapMSF());
    QString attribute;
    // "DCP": digital copy permitted (flag bit 2).
    if ((track->TrackControlFlag & 2) != 0) attribute += QStringLiteral("DCP ");
    if ((track->TrackControlFlag & 1) != 0) attribute += QStringLiteral("PRE");
    row->setText(7, attribute);
  }
  while (lsvTracks_->topLevelItemCount() > filled) delete lsvTracks_->topLevelItem(lsvTracks_->topLevelItemCount() - 1);

  const int32_t max = cgVariable_->Max();
  if (max < used) {
    cgVariable_->setValue(max);
    cgVariable_->setGraphTrueColor(kRingRed);
  } else {
    cgVariable_->setValue(static_cast<int32_t>(used));
    cgVariable_->setGraphTrueColor(cgVariable_->ForeColor());
  }
  const int64_t capacity = std::max<int32_t>(MediaCapacity(), 0);
  lblVariable_->setText(QStringLiteral("空き:") + FormatGrouped((capacity - used) * 2) + QStringLiteral("KiB"));
}

void MainForm::mobjACMDecoder_Progress(qint64 value, qint64 total) {
  prgProgress_->setMaximum(static_cast<int>(std::clamp<qint64>(total, 1, INT32_MAX)));
  SetProgressValue(*prgProgress_, static_cast<int>(std::clamp<qint64>(value, 0, INT32_MAX)));
  // Keeps the window painting while the decoder runs.
  PacedPeekPendingMessage();
}

void MainForm::mobjACMDecoder_StatusChange(int, const QString& status) {
  panel_text_->setText(status);
  // An empty bar; a range of 0..0 would make the bar a busy indicator.
  if (status.isEmpty()) {
    prgProgress_->setMaximum(1);
    prgProgress_->setValue(0);
  }
}

}  // namespace sorvel
