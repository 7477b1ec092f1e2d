// Test support for the write passes: a cached disc drive on an emulated drive
// in a scratch folder, and a CD image (data track, audio with a pregap, MCN,
// ISRC, CD-Text) whose every sector the tests know.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device_engine/cached_disc_drive.h"
#include "native_common/spti_pass_through.h"
#include "native_common/toc_structure.h"
#include "platform/emulated_device.h"
#include "platform/emulated_drive/cd_codec.h"
#include "platform/emulated_drive/drive_hooks.h"
#include "platform/emulated_drive/emulated_drive_registry.h"
#include "platform/emulated_drive/soft_mmc_drive.h"
#include "testing/test_paths.h"

namespace sorvel::write_test {

namespace emu = platform::emu;
using Bytes = std::vector<uint8_t>;

// A cached drive whose worker can be held before it writes a record.
class GatedDrive : public CachedDiscDrive {
 public:
  void CloseGate() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  void OpenGate() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = false;
    }
    cv_.notify_all();
  }
  // Waits until the worker holds `n` records at the gate (or has passed it).
  void WaitForWorker(int n) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return arrived_ >= n; });
  }
  int32_t current_lba() const { return current_lba_; }
  int32_t fifo_lba() const { return fifo_lba_; }
  int32_t fifo_bytes() const { return fifo_.Size(); }
  // From the `ask`-th question on (1-based; 0: never), a caller's wait for
  // the worker is given up.
  void GiveUpAt(int ask) { give_up_at_ = ask; }
  int asks() const { return asks_.load(); }
  // Questions asked on another thread than the test's.
  int asks_elsewhere() const { return asks_elsewhere_.load(); }

 protected:
  bool CallerWaitGivesUp() override {
    if (std::this_thread::get_id() != test_thread_) ++asks_elsewhere_;
    const int ask = ++asks_;
    return give_up_at_ > 0 && ask >= give_up_at_;
  }
  bool WriteQueuedSector(int32_t type, const uint8_t* data, int32_t lba) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++arrived_;
      cv_.notify_all();
      // An abort request opens the gate too, so the worker can see it.
      while (closed_ && !abort_requested()) cv_.wait_for(lock, std::chrono::milliseconds(1));
    }
    return CachedDiscDrive::WriteQueuedSector(type, data, lba);
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool closed_ = false;
  int arrived_ = 0;
  std::atomic<int> give_up_at_{0};
  std::atomic<int> asks_{0};
  std::atomic<int> asks_elsewhere_{0};
  const std::thread::id test_thread_ = std::this_thread::get_id();
};

class WriteRig {
 public:
  // `state`: the drive's state file; empty for one in the rig's scratch folder.
  explicit WriteRig(const std::string& medium, const emu::DriveFaults& faults = {}, const std::string& state = {}) {
    state_ = state.empty() ? (dir_ / "drive.state").string() : state;
    emu::HooksFor(state_)->SetFaults(faults);
    emu::HooksFor(state_)->ClearLog();
    const std::string spec = state_ + ",medium=" + medium;
    pass_ = std::make_unique<SptiPassThrough>(
        [spec](char, std::string* error) { return platform::OpenEmulatedDevice(spec, error); });
    drive_.SetPassThrough(pass_.get());
    opened_ = drive_.Open("\\\\.\\E:");
  }
  ~WriteRig() {
    drive_.OpenGate();
    drive_.WriteFlush(true);
    drive_.SetPassThrough(nullptr);
  }

  bool opened() const { return opened_; }
  GatedDrive& drive() { return drive_; }
  const std::filesystem::path& dir() const { return dir_.path(); }
  emu::SoftMmcDrive* soft() { return emu::FindOpenDrive(state_); }
  emu::DriveHooks& hooks() { return *emu::HooksFor(state_); }
  std::vector<emu::LoggedCommand> Commands(uint8_t opcode) {
    std::vector<emu::LoggedCommand> out;
    for (auto& c : hooks().log()) {
      if (c.opcode() == opcode) out.push_back(c);
    }
    return out;
  }

 private:
  testing::ScratchDir dir_;
  std::string state_;
  std::unique_ptr<SptiPassThrough> pass_;
  GatedDrive drive_;
  bool opened_ = false;
};

constexpr uint8_t kWrite10 = 0x2A;
constexpr uint8_t kSynchronizeCache = 0x35;
constexpr uint8_t kCloseTrack = 0x5B;
constexpr uint8_t kSendCueSheet = 0x5D;
constexpr uint8_t kReserveTrack = 0x53;
constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kFormatUnit = 0x04;
constexpr uint8_t kBlank = 0xA1;
constexpr uint8_t kSendOpc = 0x54;

inline int32_t CdbLba(const emu::LoggedCommand& c) {
  return static_cast<int32_t>(uint32_t{c.cdb[2]} << 24 | uint32_t{c.cdb[3]} << 16 | uint32_t{c.cdb[4]} << 8 | c.cdb[5]);
}
inline int32_t CdbCount(const emu::LoggedCommand& c) { return c.cdb[7] << 8 | c.cdb[8]; }

// Track 1: Mode 1 data 0..299; track 2: audio, copy permitted, ISRC, pregap
// 300..449 and body 450..649; track 3: audio 650..799. MCN on the disc and
// CD-Text titles.
struct CdImage {
  static constexpr int32_t kDataEnd = 300;
  static constexpr int32_t kTrack2Pregap = 300;
  static constexpr int32_t kTrack2 = 450;
  static constexpr int32_t kTrack3 = 650;
  static constexpr int32_t kLastLba = 799;
  static constexpr const char* kMcn = "4901234567894";
  static constexpr const char* kIsrc = "JPABC0512345";

  TocStructure toc;
  std::vector<TOCCDText> packs;
  bool data_track = true;

  // `data_track` false: track 1 is audio as well.
  explicit CdImage(bool with_data_track = true) : data_track(with_data_track) {
    if (data_track) {
      toc.AddTrack({1, 1, 1, TCF_DATATRACK, SMC_MODE1, 0, kDataEnd - 1});
    } else {
      toc.AddTrack({1, 1, 1, 0, SMC_AUDIO, 0, kDataEnd - 1});
    }
    toc.AddTrack({1, 2, 0, TCF_COPYPERMITTED, SMC_AUDIO, kTrack2Pregap, kTrack2 - 1});
    toc.AddTrack({1, 2, 1, TCF_COPYPERMITTED, SMC_AUDIO, kTrack2, kTrack3 - 1});
    toc.AddTrack({1, 3, 1, 0, SMC_AUDIO, kTrack3, kLastLba});
    McnCode mcn{};
    std::memcpy(mcn.data(), kMcn, 13);
    toc.SetMcn(mcn);
    IsrcCode isrc{};
    std::memcpy(isrc.data(), kIsrc, 12);
    toc.SetIsrc(1, isrc);
    toc.SetCount(TST_ISRC, 2);
    // Titles "DISC", "ONE", "TWO", "THREE" in block 0.
    const std::string text = std::string("DISC") + '\0' + "ONE" + '\0' + "TWO" + '\0' + "THREE" + '\0';
    int track = 0;
    int since_start = 0;
    for (size_t pos = 0; pos < text.size(); pos += 12) {
      TOCCDText p;
      p.PacketType = 0x80;
      p.TrackNo = static_cast<uint8_t>(track);
      p.PacketNo = static_cast<uint8_t>(packs.size());
      p.Flags = static_cast<uint8_t>(std::min(since_start, 15));
      for (size_t i = 0; i < 12; ++i) {
        const size_t at = pos + i;
        p.Data[i] = at < text.size() ? static_cast<uint8_t>(text[at]) : 0;
        if (at < text.size()) {
          ++since_start;
          if (text[at] == '\0') {
            ++track;
            since_start = 0;
          }
        }
      }
      uint8_t bytes[18];
      p.Store(bytes);
      const uint16_t crc = emu::Crc16Inverted(bytes, 16);
      p.Crc = {static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc)};
      packs.push_back(p);
      toc.AddCdText(p);
    }
  }

  bool IsData(int32_t lba) const { return data_track && lba >= 0 && lba < kDataEnd; }

  static void UserData(int32_t lba, uint8_t* out) {
    for (size_t i = 0; i < 2048; ++i) out[i] = static_cast<uint8_t>(lba * 13 + i * 7 + (i >> 9));
  }

  // The 2,352 bytes of main channel the disc must hold at `lba`.
  std::array<uint8_t, 2352> Expected(int32_t lba) const {
    std::array<uint8_t, 2352> s{};
    if (IsData(lba)) {
      uint8_t user[2048];
      UserData(lba, user);
      emu::BuildMode1Sector(lba, user, s.data());
    } else {
      for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(lba * 31 + i * 5 + 0x3B + (i >> 8));
    }
    return s;
  }

  // What WriteLBA gets for `lba` with data type `type`.
  Bytes Payload(int32_t type, int32_t lba) const {
    Bytes out(2448, 0);
    const auto main = Expected(lba);
    if (type == CSD_SECTORONLY && IsData(lba)) {
      UserData(lba, out.data());
    } else {
      std::memcpy(out.data(), main.data(), main.size());
    }
    return out;
  }
};

inline Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace sorvel::write_test
