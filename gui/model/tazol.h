// Tazol: the binding of the mastering engine library (libtazol.so). Each
// object owns one engine that holds a disc layout (a data area under one of
// the file-system variants and audio tracks with CD-Text) and streams it as
// 2,352-byte sectors. Changes of the data area and of the track list are
// announced with the three signals, raised after the engine call.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "gui/model/engine_binding.h"
#include "gui/model/tazol_records.h"
#include "gui/model/toc_information.h"
#include "platform/source_identity.h"

namespace sorvel {

class Tazol final : public QObject, public EngineBinding {
  Q_OBJECT

 public:
  static constexpr int kSectorSize = 2352;
  // Track numbers of a disc (the data track included). No other number a
  // caller passes reaches the engine, nor the "- 1" that makes its index.
  static constexpr int32_t kMaxTrackNo = 99;
  static constexpr bool IsTrackNo(int32_t track_no) { return track_no >= 1 && track_no <= kMaxTrackNo; }

  explicit Tazol(QObject* parent = nullptr);
  ~Tazol() override;

  QString VolumeLabel;  // passed to the engine by ReadStart

  int32_t GetEngineVersion() const;
  std::unique_ptr<TOCInformation> GetTOCStructure();
  bool InitISOFS(int32_t file_system);
  int32_t FileSystem() const { return file_system_; }
  void ClearISO();
  bool IsISOEmpty();
  // `name` becomes the engine's name for the entry on success.
  bool AddISOFile(QString& name, const QString& original_file_name);
  // The same with the host path as the host's bytes (a name that is not
  // UTF-8 opens only by them); cut at a zero byte. `status`, when given, is
  // the caller's stat of the path taken just before: what the file was when
  // added is then recorded from it, without a stat of its own.
  bool AddISOFile(QString& name, const QByteArray& source_path, const struct stat* status = nullptr);
  // The same without a record of its own, for a caller that has no stat of
  // the file: the check before a burn then compares the file with the size
  // and time the engine took from its own stat (the find records give them),
  // and the engine's reader the whole identity when it opens the file. The
  // name the engine gave the entry is not read back (a walk has no use for it).
  bool AddISOFileAsEngineFound(const QString& name, const QByteArray& source_path);
  // `size` 0..4 GiB - 1 (the engine's unsigned 32-bit size); false outside.
  bool AddISODummyFile(QString& name, int64_t size, const QDateTime& time_stamp);
  bool MakeISODirectory(QString& name, int16_t attribute, const QDateTime& time_stamp);
  // Directories a data area holds, the root included: the path tables number
  // a directory's parent in 16 bits, and the engine makes no more.
  static constexpr int32_t kMaxDirectories = 65535;
  // True when the data area holds kMaxDirectories directories: no other can
  // be made. After a removal the tree is counted once (the current directory
  // stays, no signal is raised).
  bool DirectoriesFull();
  // Why the directory `name` could not be made, for the user: its name, and
  // the limit (DirectoryLimitText) when the data area is full of directories.
  QString DirectoryRefusedText(const QString& name);
  static QString DirectoryLimitText();
  bool ChangeISODirectory(const QString& name);
  bool RemoveISOFile(const QString& name);
  bool RenameISOFile(const QString& name, QString& new_name);
  bool ChangeISOProperties(const QString& name, int16_t attribute, const QDateTime& date_time);
  QString GetISOCurrentDirectory();
  // Null after the last entry. Without `dated`, TimeStamp stays null (Time
  // still holds the engine's time_t): a local date asks the time-zone
  // database each time, which a walk through every entry need not pay.
  std::unique_ptr<ISOFindFile> FindISOFirstFile(bool dated = true);
  std::unique_ptr<ISOFindFile> FindISONextFile(bool dated = true);
  void ClearTrack();
  bool AddTrack(const QString& wave_file_name, int32_t pregap, int32_t postgap, int32_t flag);
  // Track numbers count from 1; one outside 1..99 is refused (ResetTrack
  // still raises ChangeTrack).
  bool ResetTrack(int32_t track_no, const QString& wave_file_name, int32_t pregap, int32_t postgap, int32_t flag);
  bool RemoveTrack(int32_t track_no);
  int32_t GetTrackCount();
  // Null outside 1..GetTrackCount.
  std::unique_ptr<ISOTrackData> GetTrackInformation(int32_t track_no);
  // What track `track_no`'s WAV file was when the track took it (added, or
  // reset to another file): the track streams it as it was then. Nothing for
  // the data track, outside the list, or where the file could not be told.
  std::optional<platform::SourceIdentity> AddedWaveIdentity(int32_t track_no);
  // What the data source at `source_path` (the host path an entry lists) was
  // each time it was added with `size` bytes since the data area was last
  // emptied.
  QList<platform::SourceIdentity> AddedFileIdentities(const QByteArray& source_path, int64_t size);
  // The number of sectors of the laid-out disc.
  int32_t ReadStart();
  // `data` must hold kSectorSize bytes; false without a read otherwise.
  bool Read(QByteArray& data, bool raw_mode);
  // The same into caller memory with room for kSectorSize bytes, all of
  // which the engine writes (zeros after a 2,048-byte sector).
  bool Read(uint8_t* sector, bool raw_mode);
  void ReadEnd();
  bool EnabledTrackText() const { return cd_text_enabled_; }
  void SetEnabledTrackText(bool enabled);
  // Track 0 or less: the disc. Language 0 English, 1 Japanese; information
  // 0 title .. 5 message.
  void SetTrackText(int32_t track_no, int32_t language, int32_t information, const QString& text);
  QString GetTrackText(int32_t track_no, int32_t language, int32_t information);
  void SetTrackTextEx(int32_t track_no, int32_t language, const ISOTrackText& text);
  std::unique_ptr<ISOTrackText> GetTrackTextEx(int32_t track_no, int32_t language);
  // The CD-Text packs block `language` (0 English, 1 Japanese) of the disc
  // and track texts takes, however long the texts (platform/cd_text_blocks.h);
  // 0 when the block has no text.
  int32_t CdTextPacks(int32_t language);
  // False empties that item of the language on the disc and every track.
  void SetTrackTextEnabled(int32_t language, int32_t information, bool enabled);
  bool GetTrackTextEnabled(int32_t language, int32_t information);

  // Engine times are seconds since the Unix epoch; dates are local time.
  static QDateTime TimeToDate(int32_t seconds);
  // The nearest end of the 32-bit range for a date outside it; 0 when invalid.
  static int32_t DateToTime(const QDateTime& date);

 signals:
  void ChangeISOFile();
  void ChangeISOFileSize();
  void ChangeTrack();

 private:
  // The engine's name of the entry it added or renamed last.
  QString NewFileDirectoryName();
  // After an add or rename: on success `name` becomes the engine's name and
  // the data-area signals follow.
  bool Added(int32_t result, QString& name);
  std::unique_ptr<ISOFindFile> FindStep(size_t export_index, bool dated);
  void RaiseDataChanged();
  // The index of track `track_no` among the audio tracks; negative for the
  // data track (track 1 when there is one).
  int32_t AudioIndex(int32_t track_no);
  // Records what the WAV file of track `track_no` is now.
  void RecordWave(int32_t track_no);
  // The AddISOFile export's result for `name` and `source_path`.
  int32_t CallAddISOFile(const QString& name, const QByteArray& source_path);
  // Records what the data source at `source_path` is now, from `status`
  // when given, else from a stat of the path.
  void RecordFile(const QByteArray& source_path, const struct stat* status);
  void ForgetFiles();

  // The whole text, which GetTrackText cuts at its buffer.
  QString WholeTrackText(int32_t track_no, int32_t language, int32_t information);
  // The directories of the data area counted by walking it.
  int32_t CountDirectories();

  int32_t file_system_ = 0;
  bool cd_text_enabled_ = false;
  // Directories of the data area, the root included; none after a removal
  // until they are counted again.
  std::optional<int32_t> directories_ = 1;
  // In audio track order.
  std::vector<std::optional<platform::SourceIdentity>> wave_identities_;
  // What a data source was when it was added, found by its host path's
  // hash: one flat record per add, without the path or any allocation of
  // its own. Two paths of the same hash only give each other's records to
  // compare too, so the check of a source is never weaker for it.
  struct AddedFile {
    size_t path_hash = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    platform::FileTime modified;

    bool operator==(const AddedFile&) const = default;
  };
  std::vector<AddedFile> added_files_;
  // Added files from this index on are not yet in hash order.
  size_t added_files_sorted_ = 0;
};

}  // namespace sorvel
