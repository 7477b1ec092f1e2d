// Trelin: the binding of the device engine library (libtrelin.so). Each
// object owns one engine and drives one drive at a time; it converts between
// the program's types and the engine's integers, UTF-8 texts and buffers,
// restores the drive's error correction and speeds on close, and knows what
// the engine does not: the read speed lists, the default CD write command,
// which media can be written now, the media names and the sense texts.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "gui/model/engine_binding.h"
#include "gui/model/public_enumerations.h"
#include "gui/model/tln_speeds.h"
#include "gui/model/toc_information.h"

namespace sorvel {

class Trelin final : public EngineBinding, public TOCDescriptorDrive {
 public:
  // Bytes a sector read may write and a sector write may read.
  static constexpr int kSectorBufferSize = 2448;
  static constexpr int kMaxBlockLength = 26;

  Trelin();
  ~Trelin() override;

  int32_t GetEngineVersion() const;
  // Hosts that answered discovery, joined by "|"; `broadcast_ips` is a
  // "|"-separated target list. Blocks for the whole time-out (ms).
  QString GetRemoteHosts(const QString& broadcast_ips, int32_t port, int32_t timeout_ms = 200);
  // A local drive by index (0 = A:).
  bool OpenDevice(int32_t drive);
  // A drive by device name ("\\.\X:" or "\\host:port\X:").
  bool OpenDeviceEx(const QString& device_name);
  bool CloseDevice();
  QString GetDeviceName(int32_t name_type = DNC_ALL) override;
  void ClearTOCStructure();
  // The engine's TOC as a new object, empty when the engine holds none.
  std::unique_ptr<TOCInformation> GetTOCStructure();
  // Hands `toc` to the engine; false, leaving the engine's TOC empty (never an
  // earlier TOC, nor the head of this one), when a list is longer than the
  // engine's part holds (256 track entries, 128 raw entries, 100 ISRCs, 512
  // CD-Text packs).
  bool SetTOCStructure(const TOCInformation& toc);
  int32_t GetFirstLBA() override;
  int32_t GetLastLBA();
  // Clamped to 1..26.
  void SetBufferingBlockLength(int32_t block_length);
  int32_t ReadStart(int32_t read_command, int32_t read_flag);
  // `data` must hold kSectorBufferSize bytes; false without a read otherwise.
  bool ReadLBA(QByteArray& data, int32_t lba);
  bool ReadEnd();
  int32_t WriteStart(int32_t write_command, int32_t write_flag);
  // A shorter `data` is handed over zero-padded to kSectorBufferSize bytes.
  bool WriteLBA(int32_t data_type, const QByteArray& data, int32_t lba);
  bool WriteEnd(bool abort = false);
  bool LoadTray(bool load);
  bool IsReady();
  int32_t GetMediaType();
  int32_t GetMediaFamilyType();
  bool LockUnlock(bool lock);
  bool EraseMedia(bool quickly = true);
  bool IsSupportMedia(int32_t media_type);
  bool IsReadSupport(int32_t media_family);
  bool IsWriteSupport(int32_t media_family);
  bool IsDiscEmpty();
  bool SetECCMode(bool enabled, int32_t retry_count = 0);
  // 0 or less: the drive's maximum (-1 to the engine).
  bool SetReadSpeed(int32_t speed = -1, bool cav = false);
  bool SetWriteSpeed(int32_t speed = -1, bool cav = false);
  std::unique_ptr<TLNSpeeds> GetReadSpeed();
  std::unique_ptr<TLNSpeeds> GetWriteSpeed();
  bool CheckWriteMode(int32_t write_command, bool test_mode, int32_t media_family);
  int32_t GetSCSIErrorStatus();
  QString GetSCSIErrorDescription();
  // Bytes of the engine's write cache; the engine's answer is not looked at.
  void SetWriteCacheBufferSize(int32_t size);
  int32_t GetUsedWriteCacheBufferSize();
  bool WriteFlush(bool abort = false);
  int32_t GetLastWroteLBA();

  // Runs while a command of a remote drive waits for its answer (about every
  // 100 ms once it has waited that long), on the thread that issued it; a true
  // answer gives the command up as a dropped link would, unless its answer
  // comes within a second. The link is kept while it runs, however long (a
  // question on screen). Empty: none.
  void SetWaitHandler(std::function<bool()> waiting);
  const std::function<bool()>& wait_handler() const { return wait_handler_; }

  // For the program's own code.
  bool ReadLBADummy(QByteArray& data, int32_t lba);
  // ReadLBA and ReadLBADummy into caller memory with room for
  // kSectorBufferSize bytes (a job reads straight into its output blocks).
  bool ReadLBA(uint8_t* data, int32_t lba);
  bool ReadLBADummy(uint8_t* data, int32_t lba);
  static QString GetMediaTypeName(int32_t media_type);
  void ResetSense();
  int32_t GetDefaultCDWriteCommand();
  bool IsMediaWritable();
  // One TOC part through `data`, `size` bytes of it (cut to the array).
  int32_t GetTOCStructureRaw(int32_t part, QByteArray& data, int32_t size);
  int32_t SetTOCStructureRaw(int32_t part, const QByteArray& data, int32_t size);

  // State for tests and callers: "" while closed.
  const QString& device_name() const { return device_name_; }
  int32_t block_length() const { return block_length_; }
  bool ecc_changed() const { return ecc_changed_; }
  bool remote() const { return remote_; }

  // The read speeds of a medium, kB/s in the order offered (no drive call).
  static std::unique_ptr<TLNSpeeds> ReadSpeedList(int32_t media_family, int32_t media_type);

 private:
  bool AfterOpen(bool opened);

  QString device_name_;
  int32_t block_length_ = kMaxBlockLength;
  bool ecc_changed_ = false;
  bool remote_ = false;
  QByteArray padded_;  // short sectors handed to WriteLBA
  std::function<bool()> wait_handler_;
};

}  // namespace sorvel
