// What the tests and fuzz targets of the emulated drive's loaders ask of a
// drive they opened: TOC, disc and track information, capacity and
// configuration, and sectors around every track, session and extent boundary
// it holds, each answer into a buffer exactly as long as asked for. Header
// only, for the fuzz targets too.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/emulated_drive/soft_mmc_drive.h"

namespace sorvel::testing {

// The number of answers that were neither good nor a check condition (READ
// DISC INFORMATION must be good while a disc is in the closed tray): 0 for a
// drive that answers as it should.
inline int ProbeDrive(platform::emu::SoftMmcDrive& drive) {
  int wrong = 0;
  uint8_t sense[32];
  auto in = [&](std::vector<uint8_t> cdb, size_t length, bool must_succeed = false) {
    std::vector<uint8_t> data(length);
    const int status =
        drive.Exec(cdb.data(), cdb.size(), length ? data.data() : nullptr, length, false, 180, sense);
    if (status != 0 && (must_succeed || status != 2)) ++wrong;
  };
  const platform::emu::MediaState media = drive.media();
  const bool loaded = media.profile != 0 && !media.tray_open;
  for (uint8_t format : {0, 1, 2, 5}) in({0x43, 0x02, format, 0, 0, 0, 0, 0x24, 0x00, 0}, 0x2400);
  in({0x51, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0}, 256, loaded);
  in({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
  in({0x46, 0x02, 0, 0, 0, 0, 0, 0x04, 0x00, 0}, 1024);
  std::vector<int32_t> probes = {-151, -150, -1, 0};
  for (const auto& t : media.layout.tracks) {
    for (int32_t at : {t.pregap_start, t.start, t.end}) {
      probes.push_back(at - 1);
      probes.push_back(at);
    }
    for (int32_t at : t.index_starts) probes.push_back(at);
  }
  for (const auto& s : media.layout.sessions) probes.push_back(s.leadout);
  for (const auto& e : media.extents) {
    probes.push_back(e.first_lba);
    probes.push_back(e.first_lba + e.count - 1);
  }
  // Bounded whatever the disc holds.
  if (probes.size() > 64) probes.resize(64);
  for (int32_t lba : probes) {
    const auto u = static_cast<uint32_t>(lba);
    const uint8_t b2 = static_cast<uint8_t>(u >> 24), b3 = static_cast<uint8_t>(u >> 16),
                  b4 = static_cast<uint8_t>(u >> 8), b5 = static_cast<uint8_t>(u);
    in({0xBE, 0, b2, b3, b4, b5, 0, 0, 2, 0xF8, 0x02, 0}, 2 * (2352 + 16));
    in({0xBE, 0, b2, b3, b4, b5, 0, 0, 1, 0xF8, 0x01, 0}, 2352 + 96);
    in({0x28, 0, b2, b3, b4, b5, 0, 0, 1, 0}, 2048);
    in({0x52, 0x00, b2, b3, b4, b5, 0, 0, 48, 0}, 48);
  }
  return wrong;
}

}  // namespace sorvel::testing
