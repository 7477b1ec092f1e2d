// The table of contents of an emulated CD and the Red Book subchannel the
// drive derives from it: program-area Q (positions, MCN, ISRC) and P, the
// lead-in TOC frames, and the way back from lead-in Q frames to a TOC.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sorvel::platform::emu {

struct CdTrack {
  int number = 1;
  int session = 1;
  uint8_t control = 0;        // Q control nibble: 0x4 data, 0x2 copy permitted, 0x1 pre-emphasis, 0x8 four channels
  int mode = 0;               // 0 audio, 1 Mode 1, 2 Mode 2
  int32_t pregap_start = 0;   // index 0 (== start when the track has no pregap)
  int32_t start = 0;          // index 1
  std::vector<int32_t> index_starts;  // indexes 2, 3, ...
  int32_t end = 0;            // first LBA after the track (next pregap or lead-out)
  std::string isrc;           // 12 characters, or empty
  bool IsData() const { return (control & 0x4) != 0; }
};

struct CdSession {
  int number = 1;
  int first_track = 1;
  int last_track = 1;
  int32_t leadout = 0;        // lead-out start
  uint8_t disc_type = 0x00;   // A0 PSEC: 0x00 CD-DA/CD-ROM, 0x10 CD-I, 0x20 CD-ROM XA
};

// One 11-byte descriptor of READ TOC format 2, with binary MSF.
struct RawTocEntry {
  uint8_t session = 1;
  uint8_t adr = 1;
  uint8_t control = 0;
  uint8_t point = 0;
  uint8_t min = 0, sec = 0, frame = 0, zero = 0;
  uint8_t pmin = 0, psec = 0, pframe = 0;
};

using CdTextPack = std::array<uint8_t, 18>;

struct CdLayout {
  std::vector<CdTrack> tracks;
  std::vector<CdSession> sessions;
  std::string mcn;                 // 13 digits, or empty
  std::vector<CdTextPack> cdtext;  // as they appear in the lead-in

  bool empty() const { return tracks.empty(); }
  const CdTrack* TrackAt(int32_t lba) const;  // track whose pregap or body holds lba
  const CdTrack* Track(int number) const;
  const CdSession* SessionOf(int32_t lba) const;  // session whose lead-out area follows lba
  int32_t LastLeadout() const { return sessions.empty() ? 0 : sessions.back().leadout; }
  // Recomputes track ends from the following track or the session's lead-out.
  void FixTrackEnds();
};

// Start of the first lead-in (97:26:66 on an 80-minute blank disc) and of a
// later session's lead-in after a lead-out at `previous_leadout`.
constexpr int32_t kFirstLeadInStart = -11634;
int32_t NextSessionTrackStart(int32_t previous_leadout, bool after_first_session);

// 12-byte Q frame (CRC set) and P bit for a program-area or lead-out LBA.
void GenerateQ(const CdLayout& layout, int32_t lba, uint8_t* q, bool* p);
// 96 bytes of separate-channel subchannel (P, Q, R-W zero) for an LBA.
void GenerateSubchannel(const CdLayout& layout, int32_t lba, uint8_t* separate96);

// READ TOC format 2 descriptors, session by session (A0, A1, A2, tracks, B0, C0).
std::vector<RawTocEntry> BuildRawToc(const CdLayout& layout, bool disc_closed);

// The lead-in Q frames of a session, each point repeated three times, with
// running relative time; `count` frames from `leadin_start`.
std::vector<std::array<uint8_t, 12>> BuildLeadInQ(const CdLayout& layout, int session, int32_t leadin_start,
                                                  int count);

// The subchannel (separate channels) of a lead-in frame `frame_index` frames
// after the start of session `session`'s lead-in: TOC Q frames and the
// CD-Text packs in R-W, four packs a frame, repeated.
void GenerateLeadInSubchannel(const CdLayout& layout, int session, int32_t frame_index, uint8_t* separate96);

// Decodes the TOC from lead-in Q frames (CRC-checked): points 01-99, A0-A2
// and the B0/C0 pointers. Returns nothing when A0, A1 or A2 is missing.
std::optional<CdLayout> DecodeLeadIn(const std::vector<std::array<uint8_t, 12>>& frames, std::string* error);

// Keeps the CRC-valid packs of a lead-in's R-W stream, first copy of each.
std::vector<CdTextPack> CollectCdTextPacks(const std::vector<uint8_t>& rw_symbols);
bool CdTextPackValid(const CdTextPack& pack);

// ISRC <-> the 8 bytes of an ADR 3 Q frame (bytes 1-8).
bool EncodeIsrcQ(const std::string& isrc, uint8_t* bytes8);
std::string DecodeIsrcQ(const uint8_t* bytes8);

}  // namespace sorvel::platform::emu
