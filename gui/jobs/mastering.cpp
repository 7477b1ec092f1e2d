#include "gui/jobs/mastering.h"

#include <sys/stat.h>

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <optional>

#include "gui/foundation/application_setting.h"
#include "gui/foundation/automation_host.h"
#include "gui/foundation/file_paths.h"
#include "gui/foundation/find_file.h"
#include "gui/foundation/form_services.h"
#include "gui/foundation/host_tree_walk.h"
#include "gui/foundation/string_module.h"
#include "gui/foundation/window_module.h"
#include "gui/jobs/disc_job.h"
#include "gui/jobs/well_writer.h"
#include "gui/model/device_setting.h"
#include "gui/model/trelin.h"

namespace sorvel {
namespace {

const QString kRoot = QStringLiteral("\\");

QString HexNumber(uint32_t number) {
  return QStringLiteral("0x") + QString::number(number, 16).toUpper().rightJustified(8, u'0');
}

// Burns running in the process: one at a time. A second one would share the
// settings and the machine's drives with the first (and, started from the
// first one's event pumping, starve it until it ended).
std::atomic<int> g_running_burns{0};

const QString kDriveUnavailable = QStringLiteral("指定されたドライヴは利用できません。");

// Closes `window`: a dialog, message boxes included (one without a Cancel
// button ignores its close button), is rejected; another window closed.
void Dismiss(QWidget* window) {
  if (auto* dialog = qobject_cast<QDialog*>(window)) {
    dialog->reject();
  } else {
    window->close();
  }
}

// Closes the windows of `owner` (itself and the windows among its
// descendants, such as its message boxes) open now, the innermost first, and
// each one shown later while it lives.
class WindowCloser : public QObject {
 public:
  explicit WindowCloser(QWidget* owner) : owner_(owner) {
    QList<QWidget*> open;
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->isVisible() && Owns(window)) open.append(window);
    }
    std::stable_sort(open.begin(), open.end(), [this](QWidget* a, QWidget* b) { return Depth(a) > Depth(b); });
    for (QWidget* window : open) Dismiss(window);
    qApp->installEventFilter(this);
  }
  ~WindowCloser() override { qApp->removeEventFilter(this); }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
      auto* widget = static_cast<QWidget*>(watched);
      // After it is shown: a dialog's loop must run before it can end.
      if (widget->isWindow() && Owns(widget)) {
        QTimer::singleShot(0, widget, [widget] { Dismiss(widget); });
      }
    }
    return false;
  }

 private:
  bool Owns(const QObject* object) const { return owner_ != nullptr && Depth(object) >= 0; }
  // Steps from `object` up to the owner; -1 when it is not the owner's.
  int Depth(const QObject* object) const {
    int depth = 0;
    for (; object != nullptr; object = object->parent(), ++depth) {
      if (object == owner_) return depth;
    }
    return -1;
  }

  QPointer<QWidget> owner_;
};

}  // namespace

MasteringError::MasteringError(uint32_t number, QString description)
    : number_(number),
      description_(std::move(description)),
      what_((HexNumber(number) + QStringLiteral(" ") + description_).toUtf8()) {}

Mastering::Mastering(QObject* parent) : QObject(parent) {
  AcquireSettings();
  AutomationObjectCreated();
}

Mastering::~Mastering() {
  AutomationObjectReleased();
  ReleaseSettings();
}

QString Mastering::VolumeLabel() const { return layout_.VolumeLabel; }

void Mastering::SetVolumeLabel(const QString& label) {
  if (!Burning()) layout_.VolumeLabel = label.trimmed();
}

bool Mastering::InitISOFS(int32_t FileSystemType) { return !Burning() && layout_.InitISOFS(FileSystemType); }

void Mastering::ClearISO() {
  if (!Burning()) layout_.ClearISO();
}

bool Mastering::IsISOEmpty() { return layout_.IsISOEmpty(); }

bool Mastering::AddFile(const QString& FileName, const QString& DirectoryName) {
  if (Burning()) return false;
  // A walk that an error or a failure ended elsewhere never misplaces a later call.
  layout_.ChangeISODirectory(kRoot);
  if (!DirectoryName.isEmpty()) {
    // The tokenizer's pieces are collected first: nothing below may use it.
    QStringList pieces;
    std::optional<QString> piece = StrTok(DirectoryName, kRoot);
    if (!piece) return false;  // "\..." names no directory below the root
    while (piece) {
      // Empty pieces ("a\\b", a trailing "\") name no directory level.
      if (!piece->isEmpty()) pieces << *piece;
      piece = StrTok(std::nullopt, kRoot);
    }
    for (const QString& level : pieces) {
      // Entered by the name the engine gave it; an existing one keeps its name.
      QString name = level;
      if (!layout_.MakeISODirectory(name, 0, QDateTime::currentDateTime())) name = level;
      if (!layout_.ChangeISODirectory(name)) {
        layout_.ChangeISODirectory(kRoot);
        return false;
      }
    }
  }
  bool result = false;
  try {
    FindFile find;
    const QByteArray folder = QFile::encodeName(GetDirectoryPart(FileName));
    for (QString name = find.FindFirst(FileName); !name.isEmpty(); name = find.FindNext()) {
      if (name == QLatin1String(".") || name == QLatin1String("..")) continue;
      const QByteArray native = find.NativeName();
      AddEntry(folder + native, native);
      result = true;
    }
  } catch (const MasteringError&) {
    layout_.ChangeISODirectory(kRoot);
    throw;
  }
  layout_.ChangeISODirectory(kRoot);
  return result;
}

namespace {

// Rebuilds a host tree in the current data-area directory. Names reach the
// layout decoded for the disc (UTF-8, else CP932, else "_" for each odd byte);
// each file's data is read later from its host path's own bytes.
class LayoutBuilder final : public HostTreeVisitor {
 public:
  explicit LayoutBuilder(Tazol& layout) : layout_(layout) {}

  bool EnterFolder(const QByteArray&, const QByteArray& name, const struct stat& status) override {
    const QString text = HostNameText(name);
    QString made = text;
    const int16_t attribute = text.startsWith(u'.') ? 2 : 0;
    const QDateTime modified =
        QDateTime::fromMSecsSinceEpoch(qint64{status.st_mtim.tv_sec} * 1000 + status.st_mtim.tv_nsec / 1000000);
    if (!layout_.MakeISODirectory(made, attribute, modified)) {
      throw MasteringError(kMasteringDirectoryError, layout_.DirectoryRefusedText(text));
    }
    if (!layout_.ChangeISODirectory(made)) throw DirectoryError(name);
    return true;
  }
  void LeaveFolder() override { layout_.ChangeISODirectory(QStringLiteral("..")); }
  void File(const QByteArray& path, const QByteArray& name, const struct stat* status) override {
    QString added = HostNameText(name);
    // What the file was when added: from the walk's stat where it took one
    // (a link), else from the engine's own (a file the listing calls
    // regular costs no stat of its own).
    if (!(status != nullptr ? layout_.AddISOFile(added, path, status) : layout_.AddISOFileAsEngineFound(added, path)))
      throw MasteringError(kMasteringFileError,
                           QStringLiteral("ファイル ") + HostNameText(path) + QStringLiteral(" は追加できません。"));
  }
  // A link back into a folder being walked is never followed.
  void Loop(const QByteArray&, const QByteArray& name) override { throw DirectoryError(name); }
  void Unreadable(const QByteArray&, const QByteArray& name) override { throw DirectoryError(name); }

 private:
  static MasteringError DirectoryError(const QByteArray& name) {
    return MasteringError(kMasteringDirectoryError,
                          QStringLiteral("ディレクトリ ") + HostNameText(name) + QStringLiteral(" は作成できません。"));
  }

  Tazol& layout_;
};

}  // namespace

// Adds one host entry to the current data-area directory; a directory with
// everything below it.
void Mastering::AddEntry(const QByteArray& path, const QByteArray& name) {
  LayoutBuilder builder(layout_);
  WalkHostTree(path, name, builder);
}

void Mastering::ClearTrack() {
  if (!Burning()) layout_.ClearTrack();
}

bool Mastering::AddTrack(const QString& TrackFileName, int32_t PregapLength, int32_t PostgapLength,
                         int32_t TrackControlFlag) {
  return !Burning() && layout_.AddTrack(TrackFileName, PregapLength, PostgapLength, TrackControlFlag);
}

bool Mastering::RemoveTrack(int32_t TrackNo) { return !Burning() && layout_.RemoveTrack(TrackNo); }

int32_t Mastering::GetTrackCount() { return layout_.GetTrackCount(); }

int32_t Mastering::ShowBurnDialog(int32_t hWnd, const QString& Title, const QString& DriveName) {
  if (g_running_burns > 0) return 0;
  const QWidget* owner = hWnd != 0 ? QWidget::find(static_cast<WId>(static_cast<uint32_t>(hWnd))) : nullptr;
  const int32_t written = ShowWellWriteForm(layout_, Title, DriveName, [this, owner](QWidget* form) {
    dialog_ = form;
    CenterForm(form, owner);
  });
  dialog_ = nullptr;
  closer_.reset();
  return written;
}

void Mastering::CloseBurnDialog() {
  if (dialog_ != nullptr && closer_ == nullptr) closer_ = std::make_unique<WindowCloser>(dialog_);
}

int32_t Mastering::DriveIndex(const QString& DriveName) {
  if (DriveName.isEmpty()) return -1;
  const QChar letter = DriveName.at(0).toUpper();
  if (letter < QLatin1Char('A') || letter > QLatin1Char('Z')) return -1;
  return letter.unicode() - u'A';
}

bool Mastering::StartBurn(const QString& DriveName, bool EjectAfterBurn) {
  if (g_running_burns.fetch_add(1) > 0) {
    --g_running_burns;
    throw MasteringError(kMasteringBurnError, kDriveUnavailable);
  }
  Trelin drive;
  DeviceSetting setting;
  WellWriter writer;
  writer_ = &writer;
  last_error_.clear();
  // Direct: the burn may run on a thread other than this object's, and its
  // reports belong to it, in order, before StartBurn returns.
  connect(
      &writer, &DiscJob::Progress, this,
      [this, last = int32_t{-1}, last_total = int32_t{0}](int32_t value, int32_t total) mutable {
        // The negative values of the first pregap are not passed on, nor
        // values that do not rise: the write cache's flush reports the
        // drive's position, behind the sectors already reported as queued.
        if (value < 0 || (total == last_total && value <= last)) return;
        last = value;
        last_total = total;
        emit Progress(value, total);
      },
      Qt::DirectConnection);
  connect(
      &writer, &DiscJob::StatusChange, this,
      [this](int32_t type, const QString& text) {
        if (type == kStatusError) last_error_ = text;
      },
      Qt::DirectConnection);
  bool result = false;
  const int32_t index = DriveIndex(DriveName);
  if (index >= 0 && drive.OpenDevice(index)) {
    setting.LoadSetting(drive);
    result = writer.StartWrite(drive, layout_, nullptr);
    if (EjectAfterBurn) drive.LoadTray(false);
    drive.CloseDevice();
  } else {
    last_error_ = kDriveUnavailable;
  }
  {
    std::lock_guard lock(writer_lock_);
    writer_ = nullptr;
  }
  --g_running_burns;
  emit BurnEnded();
  if (!last_error_.isEmpty()) throw MasteringError(kMasteringBurnError, last_error_);
  return result;
}

bool Mastering::StopBurn() {
  std::lock_guard lock(writer_lock_);
  WellWriter* writer = writer_.load();
  if (writer == nullptr) return false;
  writer->StopWrite();
  return true;
}

bool Mastering::IsReady(const QString& DriveName) { return QueryDrive(DriveName, &Trelin::IsReady); }

bool Mastering::IsDiscWritable(const QString& DriveName) { return QueryDrive(DriveName, &Trelin::IsMediaWritable); }

// One question to the named drive through an engine of its own; false when
// the drive does not open.
bool Mastering::QueryDrive(const QString& DriveName, bool (Trelin::*query)()) {
  const int32_t index = DriveIndex(DriveName);
  if (index < 0) return false;
  Trelin drive;
  if (!drive.OpenDevice(index)) return false;
  const bool answer = (drive.*query)();
  drive.CloseDevice();
  return answer;
}

}  // namespace sorvel
