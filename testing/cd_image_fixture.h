// Small disc images for tests: ISO images from files (genisoimage), CUE/BIN
// CDs with audio and Mode 1 tracks, pregaps, ISRC, MCN and CD-Text packs.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace sorvel::testing {

// Makes an ISO 9660 image holding `files` (name -> content) with genisoimage;
// returns an empty path (and fails the test) when that does not work.
std::filesystem::path MakeIsoImage(const std::filesystem::path& dir, const std::string& name,
                                   const std::map<std::string, std::string>& files);

struct FixtureTrack {
  bool audio = true;
  int pregap = 0;       // frames of INDEX 00 held in the BIN before INDEX 01
  int length = 300;     // frames from INDEX 01 on
  std::string isrc;     // 12 characters, or empty
  bool copy_permitted = false;
};

struct CueFixture {
  std::filesystem::path cue;
  std::filesystem::path bin;
  std::vector<int32_t> track_starts;  // LBA of INDEX 01 of every track
  int32_t leadout = 0;
};

// The 2352 bytes the fixture puts at `lba` of a track (audio pattern, or a
// complete Mode 1 sector around a pattern of user data).
std::array<uint8_t, 2352> FixtureSector(bool audio, int32_t lba);

// Writes "<name>.cue" and "<name>.bin" (and "<name>.cdt" when packs are given).
CueFixture MakeCueImage(const std::filesystem::path& dir, const std::string& name,
                        const std::vector<FixtureTrack>& tracks, const std::string& catalog = "",
                        const std::vector<std::array<uint8_t, 18>>& cdtext = {});

// A pressed disc of two sessions in "<name>.cue" with "<name>.bin" and
// "<name>-2.bin": session 1 a Mode 1 track of 300 sectors from LBA 0,
// session 2 one of 300 sectors after the lead-out, the next lead-in and a
// pregap (from LBA 11700). `leadout` is that of the last session.
CueFixture MakeTwoSessionImage(const std::filesystem::path& dir, const std::string& name);

// CD-Text title packs (pack type 0x80, block 0, ASCII) for the disc (track 0)
// and each track, with sequence numbers and CRCs.
std::vector<std::array<uint8_t, 18>> MakeTitlePacks(const std::vector<std::string>& titles);

}  // namespace sorvel::testing
