#include "testing/cd_image_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/emulated_drive/cd_codec.h"
#include "testing/test_paths.h"

namespace sorvel::testing {

namespace fs = std::filesystem;

fs::path MakeIsoImage(const fs::path& dir, const std::string& name, const std::map<std::string, std::string>& files) {
  fs::path root = dir / (name + "-root");
  fs::create_directories(root);
  for (const auto& [file, content] : files) {
    std::ofstream out(root / file, std::ios::binary);
    out << content;
  }
  fs::path iso = dir / (name + ".iso");
  if (!RequireTool("genisoimage")) return {};
  std::string command = "genisoimage -quiet -r -V TESTDISC -o '" + iso.string() + "' '" + root.string() + "' 2>&1";
  std::string output;
  if (RunCommand(command, &output) != 0) {
    ADD_FAILURE() << "genisoimage failed: " << output;
    return {};
  }
  return iso;
}

std::array<uint8_t, 2352> FixtureSector(bool audio, int32_t lba) {
  std::array<uint8_t, 2352> sector{};
  if (audio) {
    for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<uint8_t>(lba * 7 + i * 13 + 1);
  } else {
    uint8_t user[2048];
    for (size_t i = 0; i < sizeof user; ++i) user[i] = static_cast<uint8_t>(lba + i * 3);
    platform::emu::BuildMode1Sector(lba, user, sector.data());
  }
  return sector;
}

CueFixture MakeCueImage(const fs::path& dir, const std::string& name, const std::vector<FixtureTrack>& tracks,
                        const std::string& catalog, const std::vector<std::array<uint8_t, 18>>& cdtext) {
  CueFixture f;
  f.cue = dir / (name + ".cue");
  f.bin = dir / (name + ".bin");
  std::ofstream bin(f.bin, std::ios::binary);
  std::ofstream cue(f.cue, std::ios::binary);
  if (!catalog.empty()) cue << "CATALOG " << catalog << "\r\n";
  if (!cdtext.empty()) {
    std::ofstream cdt(dir / (name + ".cdt"), std::ios::binary);
    for (const auto& p : cdtext) cdt.write(reinterpret_cast<const char*>(p.data()), 18);
    cue << "CDTEXTFILE \"" << name << ".cdt\"\r\n";
  }
  cue << "FILE \"" << name << ".bin\" BINARY\r\n";
  auto time = [](int32_t frames) {
    char b[16];
    std::snprintf(b, sizeof b, "%02d:%02d:%02d", frames / 4500, (frames / 75) % 60, frames % 75);
    return std::string(b);
  };
  int32_t lba = 0;
  for (size_t i = 0; i < tracks.size(); ++i) {
    const FixtureTrack& t = tracks[i];
    char line[64];
    std::snprintf(line, sizeof line, "  TRACK %02zu %s\r\n", i + 1, t.audio ? "AUDIO" : "MODE1/2352");
    cue << line;
    if (t.copy_permitted) cue << "    FLAGS DCP\r\n";
    if (!t.isrc.empty()) cue << "    ISRC " << t.isrc << "\r\n";
    if (t.pregap > 0) cue << "    INDEX 00 " << time(lba) << "\r\n";
    cue << "    INDEX 01 " << time(lba + t.pregap) << "\r\n";
    for (int k = 0; k < t.pregap + t.length; ++k) {
      auto sector = FixtureSector(t.audio, lba + k);
      bin.write(reinterpret_cast<const char*>(sector.data()), sector.size());
    }
    f.track_starts.push_back(lba + t.pregap);
    lba += t.pregap + t.length;
  }
  f.leadout = lba;
  return f;
}

CueFixture MakeTwoSessionImage(const fs::path& dir, const std::string& name) {
  constexpr int32_t kLength = 300;
  constexpr int32_t kSecondStart = kLength + 6750 + 4500 + 150;
  CueFixture f;
  f.cue = dir / (name + ".cue");
  f.bin = dir / (name + ".bin");
  std::ofstream cue(f.cue, std::ios::binary);
  int track = 1;
  for (int32_t start : {0, kSecondStart}) {
    const std::string file = name + (start == 0 ? ".bin" : "-2.bin");
    std::ofstream bin(dir / file, std::ios::binary);
    for (int32_t lba = start; lba < start + kLength; ++lba) {
      auto sector = FixtureSector(false, lba);
      bin.write(reinterpret_cast<const char*>(sector.data()), sector.size());
    }
    if (start != 0) cue << "REM SESSION 02\r\n";
    cue << "FILE \"" << file << "\" BINARY\r\n";
    cue << "  TRACK 0" << track++ << " MODE1/2352\r\n    INDEX 01 00:00:00\r\n";
    f.track_starts.push_back(start);
  }
  f.leadout = kSecondStart + kLength;
  return f;
}

std::vector<std::array<uint8_t, 18>> MakeTitlePacks(const std::vector<std::string>& titles) {
  // The titles one after another, each ended by a zero byte, 12 bytes a pack.
  std::vector<std::array<uint8_t, 18>> packs;
  std::vector<std::pair<int, char>> stream;  // (track, character)
  for (size_t t = 0; t < titles.size(); ++t) {
    for (char ch : titles[t]) stream.push_back({static_cast<int>(t), ch});
    stream.push_back({static_cast<int>(t), 0});
  }
  size_t pos = 0;
  int sequence = 0;
  while (pos < stream.size()) {
    std::array<uint8_t, 18> p{};
    p[0] = 0x80;
    p[1] = static_cast<uint8_t>(stream[pos].first);
    p[2] = static_cast<uint8_t>(sequence++);
    // Characters of this track already given in earlier packs (at most 15).
    int before = 0;
    for (size_t k = pos; k > 0 && stream[k - 1].first == stream[pos].first; --k) ++before;
    p[3] = static_cast<uint8_t>(std::min(before, 15));
    for (int k = 0; k < 12; ++k) p[4 + k] = pos < stream.size() ? static_cast<uint8_t>(stream[pos++].second) : 0;
    uint16_t crc = platform::emu::Crc16Inverted(p.data(), 16);
    p[16] = static_cast<uint8_t>(crc >> 8);
    p[17] = static_cast<uint8_t>(crc);
    packs.push_back(p);
  }
  return packs;
}

}  // namespace sorvel::testing
