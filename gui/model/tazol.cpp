#include "gui/model/tazol.h"


#include <QFile>
#include <QHashFunctions>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <tuple>

#include "gui/foundation/host_path.h"
#include "gui/model/engine_text.h"
#include "gui/model/toc_parts.h"
#include "platform/cd_text_blocks.h"

namespace sorvel {
namespace {

enum TazolExport : size_t {
  kGetEngineVersion, kInitialize, kTerminate, kInitISOFS, kClearISO, kIsISOEmpty, kAddISOFile, kAddISODummyFile,
  kMakeISODirectory, kGetISONewFileDirectoryName, kChangeISODirectory, kRemoveISOFile, kRenameISOFile,
  kChangeISOProperties, kGetISOCurrentDirectory, kFindISOFirstFile, kFindISONextFile, kGetTOCStructure,
  kClearTrack, kAddTrack, kResetTrack, kRemoveTrack, kGetTrackCount, kGetTrackInformation, kReadStart, kRead,
  kReadEnd, kEnabledTrackText, kSetTrackText, kGetTrackText, kTazolExportCount
};

constexpr std::array<const char*, kTazolExportCount> kExportNames = {
    "GetEngineVersion", "Initialize", "Terminate", "InitISOFS", "ClearISO", "IsISOEmpty", "AddISOFile",
    "AddISODummyFile", "MakeISODirectory", "GetISONewFileDirectoryName", "ChangeISODirectory", "RemoveISOFile",
    "RenameISOFile", "ChangeISOProperties", "GetISOCurrentDirectory", "FindISOFirstFile", "FindISONextFile",
    "GetTOCStructure", "ClearTrack", "AddTrack", "ResetTrack", "RemoveTrack", "GetTrackCount",
    "GetTrackInformation", "ReadStart", "Read", "ReadEnd", "EnabledTrackText", "SetTrackText", "GetTrackText"};
static_assert(kExportNames.size() == 30);

using IntFn = int32_t(intptr_t);
using NameFn = int32_t(intptr_t, const char*);
using NameAttrTimeFn = int32_t(intptr_t, const char*, int32_t, int32_t);
using BufferFn = int32_t(intptr_t, char*, int32_t);
using TrackFn = int32_t(intptr_t, const char*, int32_t, int32_t, int32_t);

constexpr int kTextSize = 1024;
constexpr size_t kFindRecordSize = 2064;
constexpr size_t kTrackRecordSize = 1040;
constexpr int kInformationCount = 6;

int32_t Le32(const char* p) {
  const auto* b = reinterpret_cast<const uint8_t*>(p);
  return static_cast<int32_t>(uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24);
}

}  // namespace

Tazol::Tazol(QObject* parent)
    : QObject(parent),
      EngineBinding("libtazol.so", kExportNames, kInitialize,
                    QStringLiteral("像盤組成機構－Tazol－が異常若しくは見つかりません。")) {}

Tazol::~Tazol() { Call<IntFn>(kTerminate, 0, handle_); }

QDateTime Tazol::TimeToDate(int32_t seconds) { return QDateTime::fromSecsSinceEpoch(seconds); }

int32_t Tazol::DateToTime(const QDateTime& date) {
  if (!date.isValid()) return 0;
  // A date the 32-bit time cannot carry becomes its nearest end (the engine
  // reports such stamps the same way), never an unrelated 1970.
  const qint64 seconds = date.toSecsSinceEpoch();
  return static_cast<int32_t>(std::clamp<qint64>(seconds, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int32_t Tazol::GetEngineVersion() const {
  auto* version = reinterpret_cast<int32_t (*)()>(library_->Export(kGetEngineVersion));
  return version != nullptr ? version() : 0;
}

std::unique_ptr<TOCInformation> Tazol::GetTOCStructure() {
  return ReadTocParts([this](int32_t part, void* buffer, int32_t size) {
    return Call<int32_t(intptr_t, int32_t, void*, int32_t)>(kGetTOCStructure, 0, handle_, part, buffer, size);
  });
}

void Tazol::RaiseDataChanged() {
  emit ChangeISOFile();
  emit ChangeISOFileSize();
}

bool Tazol::InitISOFS(int32_t file_system) {
  if (Call<int32_t(intptr_t, int32_t)>(kInitISOFS, 0, handle_, file_system) == 0) return false;
  file_system_ = file_system;
  ForgetFiles();
  directories_ = 1;
  RaiseDataChanged();
  return true;
}

void Tazol::ClearISO() {
  Call<IntFn>(kClearISO, 0, handle_);
  ForgetFiles();
  directories_ = 1;
  RaiseDataChanged();
}

bool Tazol::IsISOEmpty() { return Call<IntFn>(kIsISOEmpty, 0, handle_) != 0; }

// The engine fills fixed-size buffers; they live on the stack, as these calls
// come once per entry of a whole layout.
QString Tazol::NewFileDirectoryName() {
  std::array<char, kTextSize> buffer{};
  Call<BufferFn>(kGetISONewFileDirectoryName, 0, handle_, buffer.data(), kTextSize);
  return TextFromBuffer(buffer.data(), kTextSize);
}

bool Tazol::Added(int32_t result, QString& name) {
  if (result == 0) return false;
  name = NewFileDirectoryName();
  RaiseDataChanged();
  return true;
}

bool Tazol::AddISOFile(QString& name, const QString& original_file_name) {
  return AddISOFile(name, EngineText(original_file_name));
}

bool Tazol::AddISOFile(QString& name, const QByteArray& source_path, const struct stat* status) {
  const int32_t result = CallAddISOFile(name, source_path);
  if (result != 0) RecordFile(source_path, status);
  return Added(result, name);
}

bool Tazol::AddISOFileAsEngineFound(const QString& name, const QByteArray& source_path) {
  if (CallAddISOFile(name, source_path) == 0) return false;
  RaiseDataChanged();
  return true;
}

int32_t Tazol::CallAddISOFile(const QString& name, const QByteArray& source_path) {
  const QByteArray entry = EngineText(name);
  // The export reads the bytes up to the first zero byte as they are.
  return Call<int32_t(intptr_t, const char*, const char*)>(kAddISOFile, 0, handle_, entry.constData(),
                                                           source_path.constData());
}

bool Tazol::AddISODummyFile(QString& name, int64_t size, const QDateTime& time_stamp) {
  if (size < 0 || size > int64_t{UINT32_MAX}) return false;
  const QByteArray entry = EngineText(name);
  // A dummy entry is a plain visible file.
  constexpr int32_t kAttributes = 0;
  return Added(Call<int32_t(intptr_t, const char*, int32_t, int32_t, int32_t)>(
                   kAddISODummyFile, 0, handle_, entry.constData(), kAttributes,
                   static_cast<int32_t>(static_cast<uint32_t>(size)), DateToTime(time_stamp)),
               name);
}

bool Tazol::MakeISODirectory(QString& name, int16_t attribute, const QDateTime& time_stamp) {
  const QByteArray entry = EngineText(name);
  const int32_t result =
      Call<NameAttrTimeFn>(kMakeISODirectory, 0, handle_, entry.constData(), int32_t{attribute}, DateToTime(time_stamp));
  if (result != 0 && directories_) ++*directories_;
  return Added(result, name);
}

bool Tazol::DirectoriesFull() {
  if (!directories_) directories_ = CountDirectories();
  return *directories_ >= kMaxDirectories;
}

QString Tazol::DirectoryRefusedText(const QString& name) {
  const QString text = QStringLiteral("ディレクトリ ") + name + QStringLiteral(" は作成できません。");
  return DirectoriesFull() ? text + DirectoryLimitText() : text;
}

QString Tazol::DirectoryLimitText() {
  return QStringLiteral("ISO 9660 のディレクトリはルートを含めて %1 個までです。").arg(kMaxDirectories);
}

int32_t Tazol::CountDirectories() {
  const QString home = GetISOCurrentDirectory();
  auto change = [this](const QString& path) {
    const QByteArray bytes = EngineText(path);
    return Call<NameFn>(kChangeISODirectory, 0, handle_, bytes.constData()) != 0;
  };
  auto subdirectories = [this] {
    QStringList names;
    for (auto entry = FindISOFirstFile(false); entry; entry = FindISONextFile(false)) {
      if (entry->IsDirectory && entry->Name != QLatin1String(".") && entry->Name != QLatin1String(".."))
        names << entry->Name;
    }
    return names;
  };
  // Depth first without recursion (a chain of directories may be as deep as
  // there are directories): one list of subdirectories still to enter for
  // each level of the walk's path.
  int32_t count = 1;
  std::vector<QStringList> pending;
  if (change(QStringLiteral("\\"))) pending.push_back(subdirectories());
  while (!pending.empty()) {
    if (pending.back().isEmpty()) {
      pending.pop_back();
      if (!pending.empty()) change(QStringLiteral(".."));
      continue;
    }
    const QString name = pending.back().takeLast();
    if (!change(name)) continue;
    ++count;
    pending.push_back(subdirectories());
  }
  change(home);
  return count;
}

bool Tazol::ChangeISODirectory(const QString& name) {
  const QByteArray path = EngineText(name);
  if (Call<NameFn>(kChangeISODirectory, 0, handle_, path.constData()) == 0) return false;
  emit ChangeISOFile();
  return true;
}

bool Tazol::RemoveISOFile(const QString& name) {
  const QByteArray entry = EngineText(name);
  if (Call<NameFn>(kRemoveISOFile, 0, handle_, entry.constData()) == 0) return false;
  directories_.reset();
  RaiseDataChanged();
  return true;
}

bool Tazol::RenameISOFile(const QString& name, QString& new_name) {
  const QByteArray entry = EngineText(name);
  const QByteArray renamed = EngineText(new_name);
  return Added(Call<int32_t(intptr_t, const char*, const char*)>(kRenameISOFile, 0, handle_, entry.constData(),
                                                                renamed.constData()),
               new_name);
}

bool Tazol::ChangeISOProperties(const QString& name, int16_t attribute, const QDateTime& date_time) {
  const QByteArray entry = EngineText(name);
  return Call<NameAttrTimeFn>(kChangeISOProperties, 0, handle_, entry.constData(), int32_t{attribute},
                              DateToTime(date_time)) != 0;
}

QString Tazol::GetISOCurrentDirectory() {
  std::array<char, kTextSize> buffer{};
  Call<BufferFn>(kGetISOCurrentDirectory, 0, handle_, buffer.data(), kTextSize);
  return TextFromBuffer(buffer.data(), kTextSize);
}

std::unique_ptr<ISOFindFile> Tazol::FindStep(size_t export_index, bool dated) {
  std::array<char, kFindRecordSize> record{};
  if (Call<int32_t(intptr_t, void*)>(export_index, 0, handle_, record.data()) == 0) return nullptr;
  const char* p = record.data();
  auto entry = std::make_unique<ISOFindFile>();
  entry->Name = TextFromBuffer(p, 1024);
  entry->OriginalFileName = TextFromBuffer(p + 1024, 1024);
  entry->SourcePath = QByteArray(p + 1024, static_cast<qsizetype>(strnlen(p + 1024, 1024)));
  entry->FileAttribute = static_cast<int16_t>(Le32(p + 2048) & 0xFFFF);
  entry->Size = static_cast<uint32_t>(Le32(p + 2052));
  entry->Time = static_cast<int32_t>(Le32(p + 2056));
  if (dated) entry->TimeStamp = TimeToDate(entry->Time);
  entry->IsDirectory = Le32(p + 2060) != 0;
  return entry;
}

std::unique_ptr<ISOFindFile> Tazol::FindISOFirstFile(bool dated) { return FindStep(kFindISOFirstFile, dated); }

std::unique_ptr<ISOFindFile> Tazol::FindISONextFile(bool dated) { return FindStep(kFindISONextFile, dated); }

void Tazol::ClearTrack() {
  Call<IntFn>(kClearTrack, 0, handle_);
  wave_identities_.clear();
  cd_text_enabled_ = false;
  RaiseDataChanged();
  emit ChangeTrack();
}

bool Tazol::AddTrack(const QString& wave_file_name, int32_t pregap, int32_t postgap, int32_t flag) {
  // The engine opens the file by these bytes: a name Qt could not decode
  // is found back on the disk.
  const QByteArray path = HostBytesOf(wave_file_name);
  if (Call<TrackFn>(kAddTrack, 0, handle_, path.constData(), pregap, postgap, flag) == 0) return false;
  RecordWave(GetTrackCount());
  emit ChangeTrack();
  return true;
}

bool Tazol::ResetTrack(int32_t track_no, const QString& wave_file_name, int32_t pregap, int32_t postgap,
                       int32_t flag) {
  // The engine opens the file by these bytes: a name Qt could not decode
  // is found back on the disk.
  const QByteArray path = HostBytesOf(wave_file_name);
  const auto before = GetTrackInformation(track_no);
  const bool done = IsTrackNo(track_no) &&
                    Call<int32_t(intptr_t, int32_t, const char*, int32_t, int32_t, int32_t)>(
                        kResetTrack, 0, handle_, track_no - 1, path.constData(), pregap, postgap, flag) != 0;
  // The engine takes the file anew only when the path is another one.
  if (done && (!before || HostBytesOf(before->WaveFileName) != path)) RecordWave(track_no);
  emit ChangeTrack();
  return done;
}

bool Tazol::RemoveTrack(int32_t track_no) {
  const int32_t audio = IsTrackNo(track_no) ? AudioIndex(track_no) : -1;
  if (!IsTrackNo(track_no) || Call<int32_t(intptr_t, int32_t)>(kRemoveTrack, 0, handle_, track_no - 1) == 0) {
    return false;
  }
  if (audio < 0) {
    ForgetFiles();  // the data track goes with the whole data area
    directories_ = 1;
  } else if (static_cast<size_t>(audio) < wave_identities_.size()) {
    wave_identities_.erase(wave_identities_.begin() + audio);
  }
  emit ChangeTrack();
  return true;
}

int32_t Tazol::AudioIndex(int32_t track_no) {
  const auto first = GetTrackInformation(1);
  const int32_t data_tracks = first && first->WaveFileName.isEmpty() ? 1 : 0;
  return track_no - 1 - data_tracks;
}

std::optional<platform::SourceIdentity> Tazol::AddedWaveIdentity(int32_t track_no) {
  if (!IsTrackNo(track_no) || track_no > GetTrackCount()) return std::nullopt;
  const int32_t audio = AudioIndex(track_no);
  if (audio < 0 || static_cast<size_t>(audio) >= wave_identities_.size()) return std::nullopt;
  return wave_identities_[static_cast<size_t>(audio)];
}

void Tazol::RecordWave(int32_t track_no) {
  const auto track = GetTrackInformation(track_no);
  const int32_t audio = AudioIndex(track_no);
  if (!track || audio < 0) return;
  if (wave_identities_.size() <= static_cast<size_t>(audio)) wave_identities_.resize(static_cast<size_t>(audio) + 1);
  // The engine has just opened and checked the file.
  platform::SourceIdentity identity;
  auto& slot = wave_identities_[static_cast<size_t>(audio)];
  if (platform::IdentifySource(HostBytesOf(track->WaveFileName).toStdString(), true, &identity)) {
    slot = identity;
  } else {
    slot.reset();
  }
}

namespace {

// The hash an added file's record is found by: of the path's bytes up to a
// zero byte, as the engine reads them.
size_t PathHash(const QByteArray& source_path) {
  return qHashBits(source_path.constData(), strnlen(source_path.constData(), static_cast<size_t>(source_path.size())));
}

}  // namespace

void Tazol::RecordFile(const QByteArray& source_path, const struct stat* status) {
  platform::SourceIdentity identity;
  if (status != nullptr) {
    if (!S_ISREG(status->st_mode)) return;
    identity = platform::IdentityOfStat(*status);
  } else if (!platform::IdentifyDataSource(source_path.constData(), &identity)) {
    return;
  }
  added_files_.push_back(
      AddedFile{PathHash(source_path), identity.device, identity.inode, identity.size, identity.modified});
}

void Tazol::ForgetFiles() {
  added_files_.clear();
  added_files_.shrink_to_fit();
  added_files_sorted_ = 0;
}

QList<platform::SourceIdentity> Tazol::AddedFileIdentities(const QByteArray& source_path, int64_t size) {
  auto order = [](const AddedFile& a, const AddedFile& b) {
    return std::tie(a.path_hash, a.size, a.device, a.inode, a.modified.seconds, a.modified.nanoseconds) <
           std::tie(b.path_hash, b.size, b.device, b.inode, b.modified.seconds, b.modified.nanoseconds);
  };
  if (added_files_sorted_ < added_files_.size()) {
    // The records added since the last look join the ordered ones; a path
    // added again as the same file keeps one record.
    const auto middle = added_files_.begin() + static_cast<std::ptrdiff_t>(added_files_sorted_);
    std::sort(middle, added_files_.end(), order);
    std::inplace_merge(added_files_.begin(), middle, added_files_.end(), order);
    added_files_.erase(std::unique(added_files_.begin(), added_files_.end()), added_files_.end());
    added_files_sorted_ = added_files_.size();
  }
  AddedFile key;
  key.path_hash = PathHash(source_path);
  key.size = size;
  auto first = std::lower_bound(added_files_.begin(), added_files_.end(), key, [](const AddedFile& a, const AddedFile& b) {
    return std::tie(a.path_hash, a.size) < std::tie(b.path_hash, b.size);
  });
  QList<platform::SourceIdentity> added;
  for (; first != added_files_.end() && first->path_hash == key.path_hash && first->size == size; ++first) {
    platform::SourceIdentity identity;
    identity.device = first->device;
    identity.inode = first->inode;
    identity.size = first->size;
    identity.modified = first->modified;
    added.append(identity);
  }
  return added;
}

int32_t Tazol::GetTrackCount() { return Call<IntFn>(kGetTrackCount, 0, handle_); }

std::unique_ptr<ISOTrackData> Tazol::GetTrackInformation(int32_t track_no) {
  if (!IsTrackNo(track_no) || track_no > GetTrackCount()) return nullptr;
  QByteArray record(kTrackRecordSize, '\0');
  Call<int32_t(intptr_t, int32_t, void*)>(kGetTrackInformation, 0, handle_, track_no - 1, record.data());
  const char* p = record.constData();
  auto track = std::make_unique<ISOTrackData>();
  track->WaveFileName = TextFromBuffer(p, 1024);
  track->PregapLBA = Le32(p + 1024);
  track->PostgapLBA = Le32(p + 1028);
  track->TrackControlFlag = Le32(p + 1032);
  track->DataLBA = Le32(p + 1036);
  return track;
}

int32_t Tazol::ReadStart() {
  const QByteArray label = EngineText(VolumeLabel);
  return Call<NameFn>(kReadStart, 0, handle_, label.constData());
}

bool Tazol::Read(QByteArray& data, bool raw_mode) {
  if (data.size() < kSectorSize) return false;
  return Read(reinterpret_cast<uint8_t*>(data.data()), raw_mode);
}

bool Tazol::Read(uint8_t* sector, bool raw_mode) {
  if (sector == nullptr) return false;
  return Call<int32_t(intptr_t, uint8_t*, int32_t)>(kRead, 0, handle_, sector, raw_mode ? 1 : 0) != 0;
}

void Tazol::ReadEnd() { Call<IntFn>(kReadEnd, 0, handle_); }

void Tazol::SetEnabledTrackText(bool enabled) {
  cd_text_enabled_ = Call<int32_t(intptr_t, int32_t)>(kEnabledTrackText, 0, handle_, enabled ? 1 : 0) != 0;
}

void Tazol::SetTrackText(int32_t track_no, int32_t language, int32_t information, const QString& text) {
  const QByteArray bytes = EngineText(text);
  Call<int32_t(intptr_t, int32_t, int32_t, int32_t, const char*)>(kSetTrackText, 0, handle_, track_no, language,
                                                                  information, bytes.constData());
}

QString Tazol::GetTrackText(int32_t track_no, int32_t language, int32_t information) {
  QByteArray buffer(kTextSize, '\0');
  Call<int32_t(intptr_t, int32_t, int32_t, int32_t, char*, int32_t)>(kGetTrackText, 0, handle_, track_no, language,
                                                                     information, buffer.data(), kTextSize);
  return TextFromBuffer(buffer.constData(), kTextSize);
}

QString Tazol::WholeTrackText(int32_t track_no, int32_t language, int32_t information) {
  // A text that fills the buffer may go on: read again with twice the room.
  constexpr int kMostBytes = 1 << 24;
  for (int size = kTextSize;; size *= 2) {
    QByteArray buffer(size, '\0');
    Call<int32_t(intptr_t, int32_t, int32_t, int32_t, char*, int32_t)>(kGetTrackText, 0, handle_, track_no, language,
                                                                       information, buffer.data(), size);
    if (strnlen(buffer.constData(), static_cast<size_t>(size)) < static_cast<size_t>(size) || size >= kMostBytes) {
      return TextFromBuffer(buffer.constData(), size);
    }
  }
}

int32_t Tazol::CdTextPacks(int32_t language) {
  return platform::CdTextPacksOfBlock(language, GetTrackCount(), [&](int entry, int kind) {
    return WholeTrackText(entry, language, kind).toStdString();
  });
}

void Tazol::SetTrackTextEx(int32_t track_no, int32_t language, const ISOTrackText& text) {
  for (int i = 0; i < kInformationCount; ++i) SetTrackText(track_no, language, i, text.Text(i));
  for (int i = 0; i < kInformationCount; ++i) SetTrackTextEnabled(language, i, text.Enabled(i));
}

std::unique_ptr<ISOTrackText> Tazol::GetTrackTextEx(int32_t track_no, int32_t language) {
  auto text = std::make_unique<ISOTrackText>();
  for (int i = 0; i < kInformationCount; ++i) text->Text(i) = GetTrackText(track_no, language, i);
  for (int i = 0; i < kInformationCount; ++i) text->Enabled(i) = GetTrackTextEnabled(language, i);
  return text;
}

void Tazol::SetTrackTextEnabled(int32_t language, int32_t information, bool enabled) {
  if (enabled) return;
  const int32_t count = GetTrackCount();
  for (int32_t track = 0; track <= count; ++track) SetTrackText(track, language, information, QString());
}

bool Tazol::GetTrackTextEnabled(int32_t language, int32_t information) {
  const int32_t count = GetTrackCount();
  for (int32_t track = 0; track <= count; ++track) {
    if (!GetTrackText(track, language, information).isEmpty()) return true;
  }
  return false;
}

}  // namespace sorvel
