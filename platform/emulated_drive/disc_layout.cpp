#include "platform/emulated_drive/disc_layout.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "platform/emulated_drive/cd_codec.h"

namespace sorvel::platform::emu {

const CdTrack* CdLayout::TrackAt(int32_t lba) const {
  for (const auto& t : tracks) {
    if (lba >= t.pregap_start && lba < t.end) return &t;
  }
  return nullptr;
}

const CdTrack* CdLayout::Track(int number) const {
  for (const auto& t : tracks) {
    if (t.number == number) return &t;
  }
  return nullptr;
}

const CdSession* CdLayout::SessionOf(int32_t lba) const {
  for (const auto& s : sessions) {
    const CdTrack* first = Track(s.first_track);
    if (first && lba >= first->pregap_start && lba < s.leadout + 6750) return &s;
  }
  return nullptr;
}

void CdLayout::FixTrackEnds() {
  std::sort(tracks.begin(), tracks.end(), [](const CdTrack& a, const CdTrack& b) { return a.number < b.number; });
  for (size_t i = 0; i < tracks.size(); ++i) {
    int32_t end = 0;
    bool found = false;
    if (i + 1 < tracks.size() && tracks[i + 1].session == tracks[i].session) {
      end = tracks[i + 1].pregap_start;
      found = true;
    }
    if (!found) {
      for (const auto& s : sessions) {
        if (s.number == tracks[i].session) end = s.leadout;
      }
    }
    tracks[i].end = end;
  }
}

int32_t NextSessionTrackStart(int32_t previous_leadout, bool after_first_session) {
  return previous_leadout + (after_first_session ? 6750 : 2250) + 4500 + 150;
}

static void PutBcdMsf(uint8_t* out, const Msf& m) {
  out[0] = ToBcd(m.minute);
  out[1] = ToBcd(m.second);
  out[2] = ToBcd(m.frame);
}

bool EncodeIsrcQ(const std::string& isrc, uint8_t* bytes8) {
  if (isrc.size() != 12) return false;
  uint32_t bits = 0;
  for (int i = 0; i < 5; ++i) {
    char c = isrc[i];
    uint32_t code;
    if (c >= '0' && c <= '9') {
      code = static_cast<uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'Z') {
      code = static_cast<uint32_t>(c - 'A') + 0x11;
    } else {
      return false;
    }
    bits = (bits << 6) | code;
  }
  bits <<= 2;
  for (int i = 0; i < 4; ++i) bytes8[i] = static_cast<uint8_t>(bits >> (24 - 8 * i));
  uint8_t nibbles[8] = {};
  for (int i = 0; i < 7; ++i) {
    char c = isrc[5 + i];
    if (c < '0' || c > '9') return false;
    nibbles[i] = static_cast<uint8_t>(c - '0');
  }
  for (int i = 0; i < 4; ++i) bytes8[4 + i] = static_cast<uint8_t>((nibbles[2 * i] << 4) | nibbles[2 * i + 1]);
  return true;
}

std::string DecodeIsrcQ(const uint8_t* bytes8) {
  uint32_t bits = (uint32_t{bytes8[0]} << 24) | (uint32_t{bytes8[1]} << 16) | (uint32_t{bytes8[2]} << 8) | bytes8[3];
  bits >>= 2;
  std::string out;
  for (int i = 4; i >= 0; --i) {
    uint32_t code = (bits >> (6 * i)) & 0x3F;
    if (code <= 9) {
      out += static_cast<char>('0' + code);
    } else if (code >= 0x11 && code <= 0x2A) {
      out += static_cast<char>('A' + code - 0x11);
    } else {
      out += '?';
    }
  }
  for (int i = 0; i < 7; ++i) {
    uint8_t b = bytes8[4 + i / 2];
    out += static_cast<char>('0' + ((i % 2 == 0) ? (b >> 4) : (b & 0x0F)) % 10);
  }
  return out;
}

void GenerateQ(const CdLayout& layout, int32_t lba, uint8_t* q, bool* p) {
  std::memset(q, 0, 12);
  bool p_bit = false;
  Msf absolute = LbaToMsf(lba);
  const CdTrack* track = layout.TrackAt(lba);
  if (track) {
    bool in_pregap = lba < track->start;
    bool mcn_frame = !layout.mcn.empty() && (lba + 150) % 100 == 10 && !in_pregap;
    bool isrc_frame = !track->isrc.empty() && !track->IsData() && (lba + 150) % 100 == 60 && !in_pregap;
    if (mcn_frame) {
      q[0] = static_cast<uint8_t>((track->control << 4) | 2);
      for (int i = 0; i < 13; ++i) {
        uint8_t digit = static_cast<uint8_t>((layout.mcn[i] - '0') & 0x0F);
        q[1 + i / 2] |= static_cast<uint8_t>((i % 2 == 0) ? digit << 4 : digit);
      }
      q[9] = ToBcd(absolute.frame);
    } else if (isrc_frame && EncodeIsrcQ(track->isrc, q + 1)) {
      q[0] = static_cast<uint8_t>((track->control << 4) | 3);
      q[9] = ToBcd(absolute.frame);
    } else {
      q[0] = static_cast<uint8_t>((track->control << 4) | 1);
      q[1] = ToBcd(track->number);
      int index = 1;
      if (in_pregap) {
        index = 0;
      } else {
        for (size_t i = 0; i < track->index_starts.size(); ++i) {
          if (lba >= track->index_starts[i]) index = static_cast<int>(i) + 2;
        }
      }
      q[2] = ToBcd(index);
      // In the pregap the relative time counts down to zero at index 1.
      PutBcdMsf(q + 3, FramesToMsf(in_pregap ? track->start - lba : lba - track->start));
      PutBcdMsf(q + 7, absolute);
    }
    p_bit = in_pregap;
  } else {
    // Lead-out of the session that ends before lba (or of the last session).
    const CdSession* session = nullptr;
    for (const auto& s : layout.sessions) {
      if (lba >= s.leadout) session = &s;
    }
    uint8_t control = 0;
    int32_t leadout = session ? session->leadout : lba;
    if (session) {
      const CdTrack* last = layout.Track(session->last_track);
      if (last) control = last->control;
    }
    q[0] = static_cast<uint8_t>((control << 4) | 1);
    q[1] = 0xAA;
    q[2] = 0x01;
    PutBcdMsf(q + 3, FramesToMsf(lba - leadout));
    PutBcdMsf(q + 7, absolute);
    // The lead-out's P channel alternates at 2 Hz.
    p_bit = ((lba - leadout) * 4 / 75) % 2 == 0;
  }
  SetQCrc(q);
  if (p) *p = p_bit;
}

void GenerateSubchannel(const CdLayout& layout, int32_t lba, uint8_t* separate96) {
  std::memset(separate96, 0, 96);
  bool p = false;
  GenerateQ(layout, lba, separate96 + 12, &p);
  if (p) std::memset(separate96, 0xFF, 12);
}

static RawTocEntry MakeEntry(int session, int adr, uint8_t control, uint8_t point, int32_t plba_or_neg,
                             const Msf* pmsf) {
  RawTocEntry e;
  e.session = static_cast<uint8_t>(session);
  e.adr = static_cast<uint8_t>(adr);
  e.control = control;
  e.point = point;
  if (pmsf) {
    e.pmin = static_cast<uint8_t>(pmsf->minute);
    e.psec = static_cast<uint8_t>(pmsf->second);
    e.pframe = static_cast<uint8_t>(pmsf->frame);
  }
  (void)plba_or_neg;
  return e;
}

std::vector<RawTocEntry> BuildRawToc(const CdLayout& layout, bool disc_closed) {
  std::vector<RawTocEntry> out;
  bool multi = layout.sessions.size() > 1 || !disc_closed;
  for (size_t si = 0; si < layout.sessions.size(); ++si) {
    const CdSession& s = layout.sessions[si];
    const CdTrack* first = layout.Track(s.first_track);
    const CdTrack* last = layout.Track(s.last_track);
    uint8_t first_control = first ? first->control : 0;
    uint8_t last_control = last ? last->control : 0;
    RawTocEntry a0 = MakeEntry(s.number, 1, first_control, 0xA0, 0, nullptr);
    a0.pmin = static_cast<uint8_t>(s.first_track);
    a0.psec = s.disc_type;
    out.push_back(a0);
    RawTocEntry a1 = MakeEntry(s.number, 1, last_control, 0xA1, 0, nullptr);
    a1.pmin = static_cast<uint8_t>(s.last_track);
    out.push_back(a1);
    Msf leadout = LbaToMsf(s.leadout);
    out.push_back(MakeEntry(s.number, 1, last_control, 0xA2, 0, &leadout));
    for (const auto& t : layout.tracks) {
      if (t.session != s.number) continue;
      Msf start = LbaToMsf(t.start);
      out.push_back(MakeEntry(s.number, 1, t.control, static_cast<uint8_t>(t.number), 0, &start));
    }
    bool last_session = si + 1 == layout.sessions.size();
    if (multi && !(last_session && disc_closed)) {
      RawTocEntry b0 = MakeEntry(s.number, 5, last_control, 0xB0, 0, nullptr);
      Msf next = LbaToMsf(NextSessionTrackStart(s.leadout, si == 0) - 150);
      b0.min = static_cast<uint8_t>(next.minute);
      b0.sec = static_cast<uint8_t>(next.second);
      b0.frame = static_cast<uint8_t>(next.frame);
      b0.zero = si == 0 ? 1 : 0;
      Msf max_leadout = LbaToMsf(359849);
      b0.pmin = static_cast<uint8_t>(max_leadout.minute);
      b0.psec = static_cast<uint8_t>(max_leadout.second);
      b0.pframe = static_cast<uint8_t>(max_leadout.frame);
      out.push_back(b0);
    }
    if (multi && si == 0) {
      Msf leadin = LbaToMsf(kFirstLeadInStart);
      RawTocEntry c0 = MakeEntry(s.number, 5, first_control, 0xC0, 0, &leadin);
      c0.min = 0x80;  // optimum recording power code of the ATIP
      out.push_back(c0);
    }
  }
  return out;
}

static std::vector<std::array<uint8_t, 12>> LeadInPointers(const CdLayout& layout, int session) {
  std::vector<std::array<uint8_t, 12>> pointers;
  for (const auto& e : BuildRawToc(layout, true)) {
    if (e.session != session || e.adr != 1) continue;
    std::array<uint8_t, 12> q{};
    q[0] = static_cast<uint8_t>((e.control << 4) | e.adr);
    q[2] = e.point <= 99 ? ToBcd(e.point) : e.point;
    if (e.point == 0xA0) {
      q[7] = ToBcd(e.pmin);
      q[8] = e.psec;
    } else if (e.point == 0xA1) {
      q[7] = ToBcd(e.pmin);
    } else {
      q[7] = ToBcd(e.pmin);
      q[8] = ToBcd(e.psec);
      q[9] = ToBcd(e.pframe);
    }
    pointers.push_back(q);
  }
  // Lead-in order: tracks first, then A0, A1, A2.
  std::stable_sort(pointers.begin(), pointers.end(),
                   [](const auto& a, const auto& b) { return (a[2] >= 0xA0) < (b[2] >= 0xA0); });
  return pointers;
}

static std::array<uint8_t, 12> LeadInFrame(const std::vector<std::array<uint8_t, 12>>& pointers, int32_t i) {
  std::array<uint8_t, 12> q = pointers[static_cast<size_t>(i / 3) % pointers.size()];
  PutBcdMsf(q.data() + 3, FramesToMsf(i));
  SetQCrc(q.data());
  return q;
}

std::vector<std::array<uint8_t, 12>> BuildLeadInQ(const CdLayout& layout, int session, int32_t leadin_start,
                                                  int count) {
  (void)leadin_start;
  std::vector<std::array<uint8_t, 12>> frames;
  auto pointers = LeadInPointers(layout, session);
  if (pointers.empty()) return frames;
  for (int i = 0; i < count; ++i) frames.push_back(LeadInFrame(pointers, i));
  return frames;
}

void GenerateLeadInSubchannel(const CdLayout& layout, int session, int32_t frame_index, uint8_t* separate96) {
  std::memset(separate96, 0, 96);
  auto pointers = LeadInPointers(layout, session);
  if (!pointers.empty()) {
    auto q = LeadInFrame(pointers, frame_index);
    std::memcpy(separate96 + 12, q.data(), 12);
  }
  if (session == 1 && !layout.cdtext.empty()) {
    uint8_t packs[72];
    size_t n = layout.cdtext.size();
    for (int k = 0; k < 4; ++k) {
      std::memcpy(packs + 18 * k, layout.cdtext[(static_cast<size_t>(frame_index) * 4 + k) % n].data(), 18);
    }
    uint8_t symbols[96], interleaved[96];
    PacksToRwSymbols(packs, symbols);
    InterleaveSubchannel(separate96, interleaved);
    for (int i = 0; i < 96; ++i) interleaved[i] = static_cast<uint8_t>((interleaved[i] & 0xC0) | symbols[i]);
    DeinterleaveSubchannel(interleaved, separate96);
  }
}

std::optional<CdLayout> DecodeLeadIn(const std::vector<std::array<uint8_t, 12>>& frames, std::string* error) {
  std::map<int, std::pair<uint8_t, int32_t>> track_points;  // number -> (control, start)
  std::optional<int> first, last;
  std::optional<int32_t> leadout;
  uint8_t disc_type = 0;
  uint8_t leadout_control = 0;
  for (const auto& q : frames) {
    if (!QCrcValid(q.data())) continue;
    int adr = q[0] & 0x0F;
    uint8_t control = q[0] >> 4;
    if (adr != 1 || q[1] != 0) continue;
    uint8_t point = q[2];
    if (point == 0xA0) {
      first = FromBcd(q[7]);
      disc_type = q[8];
    } else if (point == 0xA1) {
      last = FromBcd(q[7]);
    } else if (point == 0xA2) {
      if (!IsBcd(q[7]) || !IsBcd(q[8]) || !IsBcd(q[9])) continue;
      leadout = MsfToLba(FromBcd(q[7]), FromBcd(q[8]), FromBcd(q[9]));
      leadout_control = control;
    } else if (IsBcd(point) && point != 0) {
      if (!IsBcd(q[7]) || !IsBcd(q[8]) || !IsBcd(q[9])) continue;
      int number = FromBcd(point);
      track_points[number] = {control, MsfToLba(FromBcd(q[7]), FromBcd(q[8]), FromBcd(q[9]))};
    }
  }
  (void)leadout_control;
  if (!first || !last || !leadout) {
    if (error) *error = "the lead-in holds no complete A0/A1/A2 pointers";
    return std::nullopt;
  }
  auto refuse = [&](const std::string& why) {
    if (error) *error = "the lead-in TOC is impossible: " + why;
    return std::nullopt;
  };
  if (*first < 1 || *first > 99 || *last < *first || *last > 99) return refuse("track numbers out of range");
  // The last address an MSF time can name is 99:59:74; minutes from 90 on
  // are lead-in addresses.
  constexpr int32_t kLastMsfLba = 99 * 4500 + 59 * 75 + 74 - 150;
  if (*leadout <= 0 || *leadout > kLastMsfLba) return refuse("lead-out out of range");
  CdLayout layout;
  CdSession session;
  session.first_track = *first;
  session.last_track = *last;
  session.leadout = *leadout;
  session.disc_type = disc_type;
  for (int n = *first; n <= *last; ++n) {
    auto it = track_points.find(n);
    if (it == track_points.end()) {
      if (error) *error = "the lead-in lacks the pointer of track " + std::to_string(n);
      return std::nullopt;
    }
    int32_t start = it->second.second;
    if (start < 0 || start >= *leadout || (!layout.tracks.empty() && start <= layout.tracks.back().start)) {
      return refuse("track " + std::to_string(n) + " starts out of order");
    }
    CdTrack t;
    t.number = n;
    t.control = it->second.first;
    t.start = start;
    t.pregap_start = t.start;
    t.mode = t.IsData() ? 1 : 0;
    layout.tracks.push_back(t);
  }
  layout.sessions.push_back(session);
  layout.FixTrackEnds();
  return layout;
}

bool CdTextPackValid(const CdTextPack& pack) {
  uint16_t crc = Crc16Inverted(pack.data(), 16);
  return pack[16] == static_cast<uint8_t>(crc >> 8) && pack[17] == static_cast<uint8_t>(crc);
}

std::vector<CdTextPack> CollectCdTextPacks(const std::vector<uint8_t>& rw_symbols) {
  std::vector<CdTextPack> packs;
  std::set<CdTextPack> seen;
  for (size_t offset = 0; offset + 96 <= rw_symbols.size(); offset += 96) {
    uint8_t bytes[72];
    RwSymbolsToPacks(rw_symbols.data() + offset, bytes);
    for (int k = 0; k < 4; ++k) {
      CdTextPack pack;
      std::memcpy(pack.data(), bytes + 18 * k, 18);
      if (pack[0] < 0x80 || pack[0] > 0x8F || !CdTextPackValid(pack)) continue;
      if (seen.insert(pack).second) packs.push_back(pack);
    }
  }
  return packs;
}

}  // namespace sorvel::platform::emu
