// An optical drive driven with SCSI MMC commands through one attached
// pass-through: identification, medium and drive state, TOC and sector reads,
// and the commands that prepare and perform writing. The disc read and write
// passes and the engine object build on it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device_engine/subchannel_interleave.h"
#include "native_common/crc_calculator.h"
#include "native_common/scsi_pass_through.h"
#include "native_common/spti_pass_through.h"
#include "native_common/toc_structure.h"

namespace sorvel {

// Media family of a profile (MediaFamilyTypeConstants).
enum MediaFamilyTypeConstants : int32_t {
  MFT_OTHER = 0,
  MFT_CD = 1,
  MFT_DVD = 2,
  MFT_BD = 3,
  MFT_HDDVD = 4,
};

// Profile reported when the drive cannot tell its current one (CD-ROM).
constexpr int32_t kFallbackMediaType = 0x08;

// Parts of GetDeviceName (DeviceNameConstants).
enum DeviceNameConstants : int32_t {
  DNC_VENDOR = 1,
  DNC_PRODUCT = 2,
  DNC_REVISION = 4,
};

// Family flags of IsReadSupport and IsWriteSupport.
constexpr int32_t kSupportCd = 1;
constexpr int32_t kSupportDvd = 2;

// Read types of ReadCd (the CD read commands of a read pass).
enum CdReadType : int32_t {
  kReadMain = 1,    // 2,352 bytes of main channel a sector
  kReadMainQ = 2,   // + 96 bytes of subchannel with P and Q filled
  kReadMainPW = 3,  // + 96 bytes of subchannel P to W
};

constexpr size_t kCdMainSize = 2352;
// kSubchannelSize (96) comes with the subchannel forms.
constexpr size_t kCdSectorWithSubSize = kCdMainSize + kSubchannelSize;  // 2,448
constexpr size_t kUserDataSize = 2048;
// Room for CD-Text packs that ReadCdText fills at most (512 packs of 18 bytes).
constexpr int32_t kCdTextMaxBytes = 9216;
// Cue sheets of SendCueSheet are at most this long.
constexpr int32_t kCueSheetMaxBytes = 2040;

// What the ATIP of a recordable CD tells of its time frame, as LBAs.
struct AtipTimes {
  int32_t lead_in_start = 0;        // start of the first lead-in (below -150)
  int32_t last_lead_out_start = 0;  // last possible start of the lead-out
};

// One entry of GetWriteSpeed.
struct WriteSpeedEntry {
  uint8_t reserved;   // not written by GetWriteSpeed's GET PERFORMANCE step
  uint8_t rotation;   // 0 CLV, non-zero CAV
  uint16_t speed;     // kB/s, host order
};
static_assert(sizeof(WriteSpeedEntry) == 4);

// The answer of MODE SENSE(10) as the drive sent it (big-endian fields):
// the 8-byte header, block descriptors, then the page.
struct ModeParameters {
  static constexpr size_t kSize = 264;
  std::array<uint8_t, kSize> bytes{};

  uint16_t DataLength() const { return static_cast<uint16_t>(bytes[0] << 8 | bytes[1]); }
  uint16_t BlockDescriptorLength() const { return static_cast<uint16_t>(bytes[6] << 8 | bytes[7]); }
  size_t PageOffset() const { return 8 + static_cast<size_t>(BlockDescriptorLength()); }
  // Bytes of the buffer from the page's start on; at least 2 after a good ModeSense10.
  size_t PageRoom() const { return PageOffset() < kSize ? kSize - PageOffset() : 0; }
  uint8_t* Page() { return bytes.data() + PageOffset(); }
  const uint8_t* Page() const { return bytes.data() + PageOffset(); }
};

class MmcDrive {
 public:
  MmcDrive();
  virtual ~MmcDrive();
  MmcDrive(const MmcDrive&) = delete;
  MmcDrive& operator=(const MmcDrive&) = delete;

  // Opens the device and keeps its identification; false (and the device
  // closed again) when it is not a CD/DVD device.
  virtual bool Open(const std::string& path);
  virtual bool Close();
  // Closes the drive and attaches `pass_through` (null: the embedded local one).
  // The caller keeps ownership of a pass-through it attaches.
  virtual void SetPassThrough(ScsiPassThrough* pass_through);
  // Vendor, product and revision as chosen by DeviceNameConstants flags.
  virtual std::string GetDeviceName(int32_t flags) const;
  virtual bool LoadTray(bool load);
  virtual bool IsReady();
  // The current MMC profile; kFallbackMediaType when the drive cannot say.
  virtual int32_t GetMediaType();
  // The current MMC profile, or false when GET CONFIGURATION fails.
  bool QueryMediaType(int32_t* profile);
  virtual int32_t GetMediaFamilyType();
  virtual bool LockUnlock(bool lock);
  virtual bool Rewind();
  virtual bool Erase(bool quick);
  // Blocks of the current/maximum capacity; `formatted` (when given) tells
  // whether the medium is formatted. 0 when the command fails.
  virtual int32_t ReadFormatCapacities(bool* formatted);
  virtual bool FormatUnit(int32_t format_type);
  virtual bool IsSupportMedia(int32_t profile);
  virtual bool IsReadSupport(int32_t flags);
  virtual bool IsWriteSupport(int32_t flags);
  virtual bool IsDiscEmpty();
  virtual bool ResetSense();
  virtual bool SetECCMode(bool enable, int32_t retries);
  virtual bool SetReadSpeed(int32_t speed, bool cav);
  virtual bool SetWriteSpeed(int32_t speed, bool cav);
  // Fills at most `room` entries; returns how many it filled.
  virtual int32_t GetWriteSpeed(WriteSpeedEntry* entries, int32_t room);
  virtual SenseStatus GetSCSIErrorStatus();
  virtual bool ClearSense();
  // Stores the CRC of Q bytes 0-9 in bytes 10 (high) and 11 (low) and returns it.
  virtual uint16_t SetSubQCrc(uint8_t* q);
  virtual bool Inquiry(uint8_t* buffer, int32_t length);
  // Sectors of the medium (last LBA + 1); -1 when the command fails.
  virtual int32_t ReadCapacity();
  virtual int32_t GetLeadInStart();
  virtual int32_t GetLastLeadOut();
  virtual int32_t GetWritableSize();
  // The ATIP of a CD-R or CD-RW (READ TOC format 4), recorded or blank; false
  // when the drive refuses it or its answer does not hold the times.
  virtual bool ReadAtip(AtipTimes* times);
  virtual bool ReadRawToc(TocStructure* toc, bool first_pregap, bool search_pregaps, bool all_sessions);
  virtual bool ReadToc(TocStructure* toc);
  virtual bool ReadTrackInformation(uint8_t* buffer, int32_t track, int32_t length);
  // `buffer` receives `count` sectors at a stride of 2,352 (kReadMain) or 2,448 bytes.
  virtual bool ReadCd(uint8_t* buffer, int32_t lba, int32_t count, int32_t type);
  virtual bool Read10(uint8_t* buffer, int32_t lba, int32_t count);
  // Copies at most `length` bytes of CD-Text packs; returns the bytes copied.
  virtual int32_t ReadCdText(uint8_t* buffer, int32_t length);
  virtual int32_t GetBlockLength() const;
  virtual bool PerformOpc();
  virtual bool SetWriteParameters(int32_t mode, bool underrun_protection, bool test_write, int32_t family);
  virtual bool SendCueSheet(const uint8_t* sheet, int32_t length);
  virtual bool ReserveTrack(uint32_t sectors);
  virtual bool CloseSession();
  virtual bool Write10(const uint8_t* buffer, int32_t lba, int32_t count);
  virtual bool SynchronizeCache();

  // Family of an MMC profile.
  static int32_t MediaFamilyOf(int32_t profile);
  // Bytes of one block SetWriteParameters selects for `mode` on `family`; 0 when it refuses.
  static int32_t WriteBlockLength(int32_t mode, int32_t family);

  // How long Write10 keeps resending while the drive reports a long write in progress.
  static constexpr int kLongWriteRetryMs = 60000;
  static constexpr int kLongWriteRetryDelayMs = 40;

 protected:
  ScsiPassThrough* pass_through() { return pass_through_; }
  // One command through the attached pass-through; the SCSI status or -1.
  int32_t Execute(const uint8_t* cdb, int cdb_length, void* data, uint32_t length, bool write,
                  uint32_t timeout = kDefaultScsiTimeout, uint8_t* sense = nullptr);
  // MODE SENSE(10) of `page` with page control 0 current, 1 changeable, 2 default.
  bool ModeSense10(ModeParameters* mode, int page_control, int page);
  // MODE SELECT(10) of the page held in `mode`.
  bool ModeSelect10(const ModeParameters& mode);
  // Sectors before `start` whose Q carries `track`; -1 when the search fails.
  int32_t FindPregapLength(int32_t track, int32_t start);
  bool IsQCrcValid(const uint8_t* q);
  // Blocks the medium would hold after FORMAT UNIT with `format_type`, from
  // the formattable descriptor READ FORMAT CAPACITIES offers for it; 0 when
  // none is offered. Asks without changing the medium.
  int32_t FormattableCapacity(int32_t format_type);
  // WRITE(10) of `count` blocks of `block_length` bytes from `buffer`, which
  // holds `size` bytes: refused unless they cover every block.
  bool WriteBlocks(const uint8_t* buffer, size_t size, int32_t lba, int32_t count, int32_t block_length);

 private:
  bool ReadDiscInformation(uint8_t* answer);
  // The first formattable descriptor of `format_type` (8 bytes into `descriptor`).
  bool FindFormatDescriptor(int32_t format_type, uint8_t* descriptor);

  SptiPassThrough local_;
  ScsiPassThrough* pass_through_;
  std::string vendor_;
  std::string product_;
  std::string revision_;
  int16_t block_length_ = 0;
  CrcCalculator q_crc_;
};

}  // namespace sorvel
