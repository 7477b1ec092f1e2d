// DeviceSetting: the 22 read and write settings of one drive model, kept in
// the per-user settings store in a section named after the drive's full name
// (vendor, product and revision), values as decimal text or "True"/"False".
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class QSettings;

namespace sorvel {

class Trelin;

class DeviceSetting {
 public:
  // The program's per-user store, or `store` (not owned) when given.
  explicit DeviceSetting(QSettings* store = nullptr);
  ~DeviceSetting();
  DeviceSetting(const DeviceSetting&) = delete;
  DeviceSetting& operator=(const DeviceSetting&) = delete;

  int32_t ReadBlockLength;
  int32_t CDReadCommand;
  int32_t DVDReadCommand;
  bool ReadFirstPregap;
  bool IgnoreError;
  int32_t RetryCount;
  bool BurstErrorSkip;
  int32_t SkipUnit;
  bool OnlyFirstSession;
  bool UnableToAnalizePregap;
  bool CollectSubPQRead;
  int32_t WriteBlockLength;
  int32_t CDWriteCommand;
  int32_t DVDWriteCommand;
  bool ErrorFirstPregap;
  int32_t WriteCacheBufferRate;
  bool OverBurn;
  bool OPCOff;
  bool CollectSubPQWrite;
  int32_t VerifyPassFrom;
  int32_t VerifyPassTo;
  bool ForceEject;

  // Fills the values stored for the drive open in `device`; a missing or
  // unreadable value keeps its default. CDWriteCommand defaults to the
  // drive's best CD write command.
  void LoadSetting(Trelin& device);
  // Writes the values to the section of the last LoadSetting; nothing
  // without one.
  void SaveSetting();
  // The defaults, no section.
  void Clear();
  const QString& section() const { return section_; }

  // The flags of a CD read session for these settings: first pregap, first
  // session only, no pregap analysis, subchannel Q correction.
  int32_t CDReadFlags() const;
  QString CDReadCommandName() const;
  QString CDWriteCommandName() const;
  // The write cache in MiB for the current rate and the free memory.
  int32_t WriteCacheBufferSize() const;

  // The cache size for `free_bytes` of free memory and `rate` percent.
  static int32_t CacheSizeFor(int64_t free_bytes, int32_t rate);
  // MemAvailable of `meminfo_path` in bytes; 0 when it cannot be read.
  static int64_t AvailableMemory(const QString& meminfo_path = QStringLiteral("/proc/meminfo"));
  // The store's group name of a drive name: "/" and "\" (group separators of
  // the store) and "%" written as %2F, %5C and %25, so the name is kept whole.
  static QString SectionName(const QString& device_name);

 private:
  QSettings& store() const;

  QString section_;
  QSettings* store_;
  std::unique_ptr<QSettings> own_store_;
};

}  // namespace sorvel
