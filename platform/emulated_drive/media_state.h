// The persistent state of an emulated drive and its disc: the medium, tray and
// lock, the TOC, and where each sector's bytes live. A small text index at
// the state path, written sectors in a sparse side file "<path>.data", pressed
// discs referenced in their image files. Locked with flock on "<path>.lock"
// while a process holds the drive.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/emulated_drive/disc_layout.h"

namespace sorvel::platform::emu {

enum class DiscStatus : uint8_t { kBlank = 0, kAppendable = 1, kComplete = 2 };

// A run of sectors stored in a file: `stride` bytes a sector from `offset`,
// the first `main_size` bytes main channel (2352 raw, or 2048 user data that
// the drive wraps into Mode 1 sectors on CD media), optionally followed by
// 96 bytes of subchannel in separate channels, or with the subchannel in a
// second file (CloneCD .sub).
// An empty `path` names the drive's own data file.
struct SectorExtent {
  int32_t first_lba = 0;
  int32_t count = 0;
  std::string path;
  uint64_t offset = 0;
  uint32_t stride = 2352;
  uint32_t main_size = 2352;
  bool sub_inline = false;
  std::string sub_path;
  uint64_t sub_offset = 0;
  bool Contains(int32_t lba) const { return lba >= first_lba && lba < first_lba + count; }
};

struct MediaState {
  uint16_t profile = 0;        // 0: no medium
  bool tray_open = false;
  bool locked = false;
  DiscStatus status = DiscStatus::kBlank;
  bool formatted = false;
  int64_t capacity = 0;        // user blocks the medium holds
  int64_t next_writable = 0;   // DVD/BD: next writable address of the open track
  int64_t reserved_size = 0;   // RESERVE TRACK size, 0 when none
  bool pressed = false;        // loaded from an image (read-only)
  std::string vendor = "SORVEL";
  std::string product = "EMULATED DRIVE";
  std::string revision = "1.00";
  CdLayout layout;             // CD media
  std::vector<SectorExtent> extents;
  // CD: a recording pass the medium took sectors of and that did not close
  // its session (still running, or cut: the host stopped or died). It holds
  // LBAs pass_start to pass_end - 1; the sectors of no closed session.
  bool open_pass = false;
  int32_t pass_start = 0;
  int32_t pass_end = 0;
};

uint16_t ProfileFromMediumName(const std::string& name, bool* ok);
int MediaFamily(uint16_t profile);  // 0 none, 1 CD, 2 DVD, 3 BD, 4 HD DVD
bool IsRomProfile(uint16_t profile);
bool IsRewritableProfile(uint16_t profile);     // BLANK works (CD-RW, DVD-RW, HD DVD-RW)
bool IsRandomWritableProfile(uint16_t profile); // DVD+RW, DVD-RAM, BD-RE, DVD-RW restricted overwrite
bool NeedsFormatting(uint16_t profile);         // FORMAT UNIT offers descriptors
int64_t DefaultCapacity(uint16_t profile);

// A state file holds a few lines per session and written extent; one larger
// than this is not a drive's state.
inline constexpr int64_t kMaxStateFileBytes = int64_t{16} << 20;

// The state file at `path` (a regular file only), held exclusively while
// open through the lock file "<path>.lock". Each save replaces the file
// whole (a new file renamed over it), so a process killed while saving
// leaves the state before that save.
class StateFile {
 public:
  StateFile() = default;
  ~StateFile();
  StateFile(const StateFile&) = delete;
  StateFile& operator=(const StateFile&) = delete;

  // Opens (creating when missing) and locks the file. `existed` tells whether
  // it held a state already. False with `error` when another holder has it.
  bool Open(const std::string& path, bool* existed, std::string* error);
  bool Load(MediaState* state, std::string* error) const;
  // Writes the state; `sync` also waits until it is on the storage. Without
  // it the state still outlives the process that wrote it.
  bool Save(const MediaState& state, std::string* error, bool sync = true);
  // Writes the written extent of `state` (the next writable address, the
  // end of an open pass) into its fixed-width fields of the file in place;
  // false, with nothing written, when the file as last saved has no such
  // field for it (then Save).
  bool SaveWrittenExtent(const MediaState& state);
  const std::string& path() const { return path_; }
  std::string DataPath() const { return path_ + ".data"; }
  std::string LockPath() const { return path_ + ".lock"; }

 private:
  std::string path_;
  int fd_ = -1;       // the state file as last saved or loaded
  int lock_fd_ = -1;  // holds the lock
  // Where the fixed-width extent fields lie in the file last saved (-1: none).
  int64_t nwa_at_ = -1;
  int64_t pass_end_at_ = -1;
};

// Splits `text` at every `separator`; empty fields are kept.
std::vector<std::string> SplitFields(const std::string& text, char separator);

std::string SerializeState(const MediaState& state);
bool ParseState(const std::string& text, MediaState* state, std::string* error);

}  // namespace sorvel::platform::emu
