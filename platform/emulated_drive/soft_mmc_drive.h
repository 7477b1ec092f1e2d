// A software MMC optical drive: answers SCSI command blocks as a multi-format
// CD/DVD/BD/HD DVD recorder would, on a disc kept in a state file.
//
// Drive map entry:
// "emu:PATH[,medium=M][,image=FILE][,vendor=V][,product=P][,atapi=A]
//  [,unreadable=R][,write_error=LBA]"
// with M one of none, cd-rom, cd-r, cd-rw, dvd-rom, dvd-r, dvd-rw, dvd+r,
// dvd+rw, dvd+r-dl, dvd-ram, bd-rom, bd-r, bd-re, hddvd-rom, hddvd-r (or a
// profile number such as 0x15), FILE a .iso, .cue or .ccd pressed disc. The
// settings apply only while PATH does not exist; from then on PATH (with
// its side file PATH.data for written sectors) is the disc. A, the drive's
// command set, applies at every open: mmc (the default) or sff8020, an older
// ATAPI drive: READ TOC takes its format from bits 7-6 of byte 9 and answers
// raw TOC addresses in LBA form unless the MSF bit is set; READ CD answers
// only user data (2,048) or whole sectors (2,352) and ignores the subchannel
// selection. R (faults, applied at every open like A): LBA ranges
// FIRST-LAST joined by "+" (e.g. "-150--1+1000-1349") whose reads fail
// with 3/11/00; write_error: a WRITE covering LBA fails with 3/0C/00, which
// cuts the pass there.
//
// Tests reach a drive by its state path: HooksFor(path) (drive_hooks.h)
// gives the command log and the faults, FindOpenDrive(path)
// (emulated_drive_registry.h) the drive behind an open "emu:" device, for
// InsertDisc, RemoveDisc, ReadCdSector, ExportCd and media().
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/emulated_drive/drive_hooks.h"
#include "platform/emulated_drive/media_state.h"

namespace sorvel::platform::emu {

// Settings of a new drive (used when its state file does not exist yet).
struct DriveSettings {
  std::string state_path;
  std::string medium;       // "none", "cd-r", ...; empty: cd-r, or the image's family
  std::string image;        // .iso, .cue or .ccd to load as a pressed disc
  std::string vendor;
  std::string product;
  bool sff8020 = false;     // the older ATAPI command set (atapi=sff8020)
  std::vector<std::pair<int32_t, int32_t>> unreadable;  // unreadable=FIRST-LAST+...
  std::optional<int32_t> write_error_lba;               // write_error=LBA
};

// Parses "PATH[,medium=...][,image=FILE][,vendor=...][,product=...][,atapi=...][,unreadable=...][,write_error=...]".
bool ParseDriveSpec(const std::string& spec, DriveSettings* settings, std::string* error);

// Mode page 5 as the drive powers on with `profile` in the tray.
std::array<uint8_t, 56> DefaultPage5(uint16_t profile);

class SoftMmcDrive {
 public:
  // Opens (and locks) the drive; creates its state from `settings` when the
  // state file does not exist yet.
  static std::unique_ptr<SoftMmcDrive> Open(const DriveSettings& settings, std::string* error);
  ~SoftMmcDrive();
  SoftMmcDrive(const SoftMmcDrive&) = delete;
  SoftMmcDrive& operator=(const SoftMmcDrive&) = delete;

  // Executes one command. `data` holds `data_length` bytes (out when `write`).
  // Returns the SCSI status (0 good, 2 check condition); `sense` (32 bytes,
  // may be null) receives fixed-format sense data on a check condition.
  int Exec(const uint8_t* cdb, size_t cdb_length, void* data, size_t data_length, bool write,
           uint32_t timeout_seconds, uint8_t* sense);

  DriveHooks& hooks() { return *hooks_; }
  const std::string& state_path() const { return settings_.state_path; }
  // A copy of the media state (for tests and tools).
  MediaState media() const;
  // Writes the state file now (also done after writes complete and on close).
  bool Persist(std::string* error = nullptr);

  // Test controls: put a disc in the tray (the state of a new drive with
  // this medium and image), or take it out.
  bool InsertDisc(const std::string& medium, const std::string& image, std::string* error);
  void RemoveDisc();

  // Main channel (2352 bytes, descrambled) and subchannel (96 bytes, separate
  // channels) of one CD sector as recorded, without the injected faults.
  bool ReadCdSector(int32_t lba, uint8_t* main2352, uint8_t* sub96, std::string* error);

  // Writes the CD as BIN/CUE (+ .sub with 96 bytes a sector, separate
  // channels, and a .cdt with the CD-Text packs when there are any).
  bool ExportCd(const std::string& cue_path, std::string* error);

 private:
  struct Command;
  explicit SoftMmcDrive(DriveSettings settings);

  int Dispatch(Command& c);
  // Commands.
  int TestUnitReady(Command& c);
  int RequestSense(Command& c);
  int FormatUnit(Command& c);
  int Inquiry(Command& c);
  int StartStopUnit(Command& c);
  int PreventAllow(Command& c);
  int ReadFormatCapacities(Command& c);
  int ReadCapacity(Command& c);
  int Read10(Command& c);
  int Write10(Command& c);
  int SynchronizeCache(Command& c);
  int ReadToc(Command& c);
  int GetConfiguration(Command& c);
  int ReadDiscInformation(Command& c);
  int ReadTrackInformation(Command& c);
  int ReserveTrack(Command& c);
  int SendOpc(Command& c);
  int ModeSelect10(Command& c);
  int ModeSense10(Command& c);
  int CloseTrackSession(Command& c);
  int SendCueSheet(Command& c);
  int Blank(Command& c);
  int GetPerformance(Command& c);
  int ReadCd(Command& c, bool msf);
  int SetCdSpeed(Command& c);

  // Helpers.
  int CheckMedium(Command& c);
  bool IsCd() const;
  // A disc holding a pass that was cut before its planned end: a CD pass
  // that did not close its session, or a DVD/BD/HD DVD reserved track left
  // short. What it wrote lies in no closed session and reads as a medium
  // error, what it did not write as blank; no further pass starts on it.
  bool IsCutPass() const;
  // Of the cut pass: 0 when `lba` is not in it, else the check condition
  // a read of it answers.
  int ReadOfCutPass(Command& c, int64_t lba);
  // Notes that the medium took the sectors of a CD pass; false when the
  // state could not be kept.
  bool MarkCdWritten();
  // Writes the state file now; every change the drive keeps goes there
  // before the next command is answered.
  bool Keep(bool sync = false);
  std::vector<uint8_t> ModePage(uint8_t page, int control) const;
  std::vector<uint16_t> WriteSpeeds() const;
  uint16_t MaxReadSpeed() const;
  int WriteCdSao(Command& c, int32_t lba, uint32_t count);
  int WriteCdRaw(Command& c, int32_t lba, uint32_t count);
  int WriteBlocks(Command& c, int32_t lba, uint32_t count);
  bool FinishCdSao(std::string* error);
  bool FinishCdRaw(std::string* error);
  // Appends the session one lead-in of a raw pass describes to `layout`:
  // its tracks begin at or after `program_start`, its lead-out lies at or
  // before `limit` (the next lead-in of the pass, or the disc's end).
  bool AddRawSession(const std::vector<std::array<uint8_t, 12>>& frames, int32_t program_start, int64_t limit,
                     CdLayout* layout, std::string* error);
  // Keeps the Q of a lead-in frame written at `lba` with those of its lead-in.
  void KeepLeadInQ(int32_t lba, const uint8_t* q);
  bool WriteDataFile(uint64_t offset, const uint8_t* data, size_t length);
  // Bytes of an image or data file; a file that cannot be opened or read
  // gives zeros and sets image_read_failed_.
  bool ReadFileAt(const std::string& path, uint64_t offset, uint8_t* data, size_t length);
  int FileFor(const std::string& path, bool writable);
  void AddWrittenExtent(int32_t first, int32_t count, uint32_t stride, uint32_t main_size, bool sub_inline);
  bool ReadUserBlock(int32_t lba, uint8_t* out2048, Command& c, int* status);
  // Main channel and subchannel of a CD sector as recorded, without faults.
  // Without `codes` the EDC/ECC bytes of a sector the drive builds (a Mode 1
  // sector of a 2,048-byte image, a generated Mode 1 pregap) are not computed
  // and hold nothing meaningful: for answers that leave them out. `sub` may
  // be null when the subchannel is not wanted.
  bool ReadMainRaw(int32_t lba, uint8_t* main, uint8_t* sub_separate, bool* has_sub, bool codes = true);
  int32_t LeadInStart() const;
  int32_t ReadableEnd() const;
  void ResetWriteSession();
  void ResetMedium(uint16_t profile);

  DriveSettings settings_;
  std::shared_ptr<DriveHooks> hooks_;
  StateFile state_file_;
  bool opened_ = false;  // the state is this drive's: it is written back at the end
  MediaState media_;
  mutable std::mutex mutex_;
  std::map<std::string, int> files_;
  int data_fd_ = -1;
  // File bytes read ahead within one command, so that a read of many sectors
  // costs one file read rather than one a sector. A block is never kept past
  // its command, and any write to the data file drops it.
  struct AheadBlock {
    int fd = -1;
    uint64_t start = 0;
    size_t length = 0;    // bytes held
    bool at_end = false;  // the file ends within them
    std::vector<uint8_t> bytes;
  };
  AheadBlock* AheadFor(int fd, uint64_t offset, size_t length);
  void DropReadAhead();
  std::array<AheadBlock, 2> ahead_;  // an image file and its subchannel file
  size_t ahead_limit_ = 0;            // the bytes a block may take: the command's data length
  size_t ahead_last_ = 0;             // the block that served last
  // A read of the disc's files failed since the command began (a medium error).
  bool image_read_failed_ = false;

  // Mode pages 1 and 5 as the host set them.
  std::array<uint8_t, 12> page1_{};
  std::array<uint8_t, 56> page5_{};
  uint16_t read_speed_ = 0xFFFF;
  uint16_t write_speed_ = 0xFFFF;
  std::array<uint8_t, 18> last_sense_{};

  // The CD write in progress.
  struct CueEntry {
    uint8_t ctl_adr, tno, index, data_form, scms, min, sec, frame;
    int32_t lba() const;
  };
  std::vector<CueEntry> cue_sheet_;
  CdLayout pending_layout_;   // the session the cue sheet describes
  const CueEntry* CueEntryAt(int32_t lba) const;  // the ADR-1 entry in force at lba
  uint8_t DataFormAt(int32_t lba) const;
  int32_t ProgramStart() const;
  bool writing_ = false;
  bool test_write_ = false;
  int32_t next_write_lba_ = 0;
  int32_t write_start_lba_ = 0;
  // The lead-ins of a raw pass in the order written: the first before the
  // program area, then one before each later session.
  struct LeadIn {
    int32_t first_lba = 0;
    int32_t end_lba = 0;  // first LBA after it
    std::vector<std::array<uint8_t, 12>> q;
  };
  std::vector<LeadIn> leadins_;
  std::vector<uint8_t> leadin_rw_;
  bool wrote_program_area_ = false;
  int not_ready_polls_ = 0;
  bool c_missing_bufe_ = false;
  std::vector<uint16_t> page_2a_speeds_;
  int becoming_ready_ = 0;
  // DVD/BD test write: the next writable address the simulated track has
  // reached (-1 when no test write runs); the medium itself is untouched.
  int64_t test_next_writable_ = -1;
};

}  // namespace sorvel::platform::emu
