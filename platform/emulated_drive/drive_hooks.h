// What tests see of and do to an emulated drive: the log of every command it
// received and the faults it should show. One set per state path in the
// process, so a test can arm faults before the engine opens "emu:PATH" and
// read the log after it closed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sorvel::platform::emu {

enum class DataDirection : uint8_t { kNone = 0, kIn = 1, kOut = 2 };

struct LoggedCommand {
  std::vector<uint8_t> cdb;
  DataDirection direction = DataDirection::kNone;
  uint32_t length = 0;          // data transfer length the host gave
  uint32_t timeout_seconds = 0;
  uint8_t status = 0;           // 0 good, 2 check condition
  uint8_t sense_key = 0, asc = 0, ascq = 0;
  uint8_t opcode() const { return cdb.empty() ? 0 : cdb[0]; }
};

struct PerformanceEntry {
  uint8_t wrc = 0;              // rotation control, bits 4-3 of byte 0
  uint32_t end_lba = 0;
  uint32_t read_speed = 0;      // kB/s
  uint32_t write_speed = 0;     // kB/s
};

struct DriveFaults {
  // Main channel reads of these LBAs fail with 3/11/00 (inclusive ranges).
  std::vector<std::pair<int32_t, int32_t>> unreadable;
  // Q of these LBAs carries a wrong CRC (inclusive ranges).
  std::vector<std::pair<int32_t, int32_t>> q_crc_errors;
  // Formatted Q (READ CD sub-channel 2) reports the CRC bytes as zero.
  bool q_crc_zeroed = false;
  // Every n-th frame has its P bit flipped (0: off).
  int p_noise_period = 0;
  // The subchannel returned with sector N is that of sector N + q_shift.
  int q_shift = 0;
  // Opcodes answered with 5/20/00.
  std::set<uint8_t> refused_opcodes;
  // GET CONFIGURATION is refused (5/20/00).
  bool get_configuration_missing = false;
  // When not 0: after `answers_before_profile_change` more answers with the
  // true profile, GET CONFIGURATION reports this one as current (a drive that
  // changes its mind, or something in the path that rewrites the answer).
  uint16_t changed_profile = 0;
  int answers_before_profile_change = 0;
  // The next n WRITE commands fail with 2/04/08 (long write in progress).
  int long_write_in_progress = 0;
  // After SYNCHRONIZE CACHE, TEST UNIT READY reports 2/04/<ascq> n times.
  int not_ready_after_sync = 0;
  uint8_t not_ready_after_sync_ascq = 0x08;
  // After a tray load, TEST UNIT READY reports 2/04/01 n times.
  int becoming_ready_polls = 0;
  // A WRITE covering this LBA fails with 3/0C/00.
  std::optional<int32_t> write_error_lba;
  // A raw pass records only its first n sessions (0: all of them); the
  // sectors of the others stay outside any session.
  int raw_pass_session_limit = 0;
  // READ TOC format 4 (the ATIP) is refused with 5/24/00, as by a drive that
  // does not read it.
  bool atip_missing = false;
  // READ FORMAT CAPACITIES reports this many blocks in its current/maximum
  // descriptor instead of the medium's own figure.
  std::optional<uint32_t> format_capacity_blocks;
  // Mode page 5 offers no BUFE bit.
  bool missing_bufe = false;
  // (write type, data block type) pairs refused by MODE SELECT; block type 0xFF means any.
  std::vector<std::pair<uint8_t, uint8_t>> unsupported_write_modes;
  // MODE SELECT refuses a non-zero mode data length or a set PS bit.
  bool strict_mode_select = false;
  // READ TOC format 2 returns the descriptors in reverse order.
  bool reverse_raw_toc = false;
  // GET PERFORMANCE (write speeds) answers these descriptors instead of the drive's own.
  std::optional<std::vector<PerformanceEntry>> performance;
  // Write speeds (kB/s) of mode page 2A instead of the drive's own.
  std::optional<std::vector<uint16_t>> page_2a_write_speeds;
};

class DriveHooks {
 public:
  DriveFaults faults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
  }
  void SetFaults(const DriveFaults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_ = faults;
  }
  template <typename F>
  void UpdateFaults(F&& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(faults_);
  }
  // The commands still in the log, oldest first: the last log_capacity() of them.
  std::vector<LoggedCommand> log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LoggedCommand> out;
    out.reserve(log_.size());
    out.insert(out.end(), log_.begin() + static_cast<std::ptrdiff_t>(log_start_), log_.end());
    out.insert(out.end(), log_.begin(), log_.begin() + static_cast<std::ptrdiff_t>(log_start_));
    return out;
  }
  void ClearLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
    log_start_ = 0;
  }
  // Once the log holds `capacity` commands, each new one replaces the oldest,
  // so memory stays flat however many commands arrive. Changing the capacity
  // clears the log; it is at least 1.
  void SetLogCapacity(size_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_capacity_ = std::max<size_t>(capacity, 1);
    log_.clear();
    log_.shrink_to_fit();
    log_start_ = 0;
  }
  size_t log_capacity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_capacity_;
  }
  void Append(LoggedCommand entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (log_.size() < log_capacity_) {
      log_.push_back(std::move(entry));
      return;
    }
    log_[log_start_] = std::move(entry);
    log_start_ = (log_start_ + 1) % log_.size();
  }

  static constexpr size_t kDefaultLogCapacity = 8192;

 private:
  mutable std::mutex mutex_;
  DriveFaults faults_;
  // A ring: once full, log_[log_start_] is the oldest entry.
  std::vector<LoggedCommand> log_;
  size_t log_start_ = 0;
  size_t log_capacity_ = kDefaultLogCapacity;
};

// The hooks of the drive whose state file is `state_path` (created on first use).
std::shared_ptr<DriveHooks> HooksFor(const std::string& state_path);

}  // namespace sorvel::platform::emu
