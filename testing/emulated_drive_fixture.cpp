#include "testing/emulated_drive_fixture.h"

#include <cstring>

namespace sorvel::testing {

std::string CdDifferences(platform::emu::SoftMmcDrive& source, platform::emu::SoftMmcDrive& copy) {
  const platform::emu::CdLayout want = source.media().layout;
  const platform::emu::CdLayout got = copy.media().layout;
  std::string out;
  if (got.sessions.size() != want.sessions.size()) {
    out += "sessions " + std::to_string(got.sessions.size()) + " instead of " + std::to_string(want.sessions.size()) + "\n";
  }
  if (got.tracks.size() != want.tracks.size()) {
    out += "tracks " + std::to_string(got.tracks.size()) + " instead of " + std::to_string(want.tracks.size()) + "\n";
  }
  for (size_t i = 0; i < std::min(got.tracks.size(), want.tracks.size()); ++i) {
    const auto& w = want.tracks[i];
    const auto& g = got.tracks[i];
    if (g.number != w.number || g.session != w.session || g.start != w.start || g.end != w.end) {
      out += "track " + std::to_string(w.number) + " differs\n";
    }
  }
  int differing = 0;
  for (const auto& t : want.tracks) {
    for (int32_t lba = t.start; lba < t.end; ++lba) {
      uint8_t a[2352], b[2352], sub[96];
      std::string error;
      const bool read = source.ReadCdSector(lba, a, sub, &error) && copy.ReadCdSector(lba, b, sub, &error);
      if ((!read || std::memcmp(a, b, sizeof a) != 0) && ++differing <= 3) {
        out += "sector " + std::to_string(lba) + (read ? " differs\n" : " unreadable: " + error + "\n");
      }
    }
  }
  if (differing > 3) out += std::to_string(differing) + " sectors differ\n";
  return out;
}

EmulatedDriveFixture::EmulatedDriveFixture(const ScratchDir& dir, const std::string& settings, const std::string& name)
    : path_((dir / (name + ".state")).string()),
      device_("emu:" + path_ + (settings.empty() ? "" : "," + settings)),
      hooks_(platform::emu::HooksFor(path_)) {}

std::vector<platform::emu::LoggedCommand> EmulatedDriveFixture::Commands(uint8_t opcode) const {
  std::vector<platform::emu::LoggedCommand> out;
  for (const auto& c : hooks_->log()) {
    if (c.opcode() == opcode) out.push_back(c);
  }
  return out;
}

std::vector<uint8_t> EmulatedDriveFixture::LastCdb(uint8_t opcode) const {
  std::vector<platform::emu::LoggedCommand> all = Commands(opcode);
  return all.empty() ? std::vector<uint8_t>{} : all.back().cdb;
}

}  // namespace sorvel::testing
