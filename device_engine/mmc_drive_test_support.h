// Helpers of the drive tests: a drive attached to an emulated drive, and disc
// images built in the test.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "device_engine/mmc_drive.h"
#include "native_common/msf_time.h"
#include "testing/emulated_drive.h"

namespace sorvel {

// An MmcDrive attached to the emulated drive "E:" with the given settings.
class DriveOnEmulator {
 public:
  explicit DriveOnEmulator(const std::string& settings, bool open = true) : emu(settings) {
    drive.SetPassThrough(&emu.pass_through());
    if (open) opened = drive.Open("\\\\.\\E:");
  }
  ~DriveOnEmulator() { drive.SetPassThrough(nullptr); }

  testing::EmulatedDriveSetup emu;
  MmcDrive drive;
  bool opened = false;
};

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

inline std::vector<uint8_t> DataSector(int32_t lba) {
  std::vector<uint8_t> s(2048);
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(lba * 7 + i * 13 + (i >> 8));
  return s;
}

// A file of `sectors` 2,048-byte sectors with a recognisable pattern.
inline std::filesystem::path MakeDataImage(const std::filesystem::path& dir, int32_t sectors) {
  std::filesystem::path path = dir / "disc.iso";
  std::ofstream out(path, std::ios::binary);
  for (int32_t lba = 0; lba < sectors; ++lba) {
    std::vector<uint8_t> s = DataSector(lba);
    out.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
  }
  return path;
}

// A CD as CUE + BIN: track 1 data (LBA 0-299); track 2 audio with a
// 150-sector pregap (300-449), index 1 450-1049; track 3 audio with a pregap of
// `pregap3` sectors from 1050 and 300 sectors after it.
struct CdImageOptions {
  int data_mode = 1;            // 1: MODE1/2352, 2: MODE2/2352
  bool bad_sync = false;        // data sectors without their sync pattern
  bool track3_session2 = false; // track 3 opens a second session
};

struct CdImage {
  std::filesystem::path cue;
  int32_t pregap3 = 0;
  CdImageOptions options;
  int32_t track3_start() const { return 1050 + pregap3; }
  int32_t lead_out() const { return track3_start() + 300; }

  static std::vector<uint8_t> AudioSector(int32_t lba) {
    std::vector<uint8_t> s(kCdMainSize, 0);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(lba + i * 3);
    return s;
  }
  // The main channel the BIN holds at `lba`.
  std::vector<uint8_t> Sector(int32_t lba) const {
    if (lba >= 300) return AudioSector(lba);
    std::vector<uint8_t> s(kCdMainSize, 0);
    if (!options.bad_sync) {
      for (int i = 1; i < 11; ++i) s[i] = 0xFF;
    }
    MsfTime t = MsfTime::FromLba(lba);
    s[12] = ToBcd(t.minute);
    s[13] = ToBcd(t.second);
    s[14] = ToBcd(t.frame);
    s[15] = static_cast<uint8_t>(options.data_mode);
    std::vector<uint8_t> user = DataSector(lba);
    std::copy(user.begin(), user.end(), s.begin() + (options.data_mode == 2 ? 24 : 16));
    return s;
  }
};

inline std::string CueTime(int32_t frames) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", frames / 4500, frames / 75 % 60, frames % 75);
  return text;
}

inline CdImage MakeCdImage(const std::filesystem::path& dir, int32_t pregap3, CdImageOptions options = {}) {
  CdImage image;
  image.pregap3 = pregap3;
  image.options = options;
  image.cue = dir / "disc.cue";
  {
    std::ofstream bin(dir / "disc.bin", std::ios::binary);
    for (int32_t lba = 0; lba < image.lead_out(); ++lba) {
      std::vector<uint8_t> s = image.Sector(lba);
      bin.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
    }
  }
  std::ofstream cue(image.cue);
  cue << "FILE \"disc.bin\" BINARY\n"
      << "  TRACK 01 " << (options.data_mode == 2 ? "MODE2/2352" : "MODE1/2352") << "\n    INDEX 01 00:00:00\n"
      << "  TRACK 02 AUDIO\n    INDEX 00 " << CueTime(300) << "\n    INDEX 01 " << CueTime(450) << "\n";
  if (options.track3_session2) cue << "REM SESSION 02\n";
  cue << "  TRACK 03 AUDIO\n";
  if (pregap3 > 0) cue << "    INDEX 00 " << CueTime(1050) << "\n";
  cue << "    INDEX 01 " << CueTime(image.track3_start()) << "\n";
  return image;
}

}  // namespace sorvel
