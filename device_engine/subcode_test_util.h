// Test-side decoders for CD subchannel data and TOC set-up, written from the
// Q subchannel and cue sheet formats, independent of the code under test.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "native_common/toc_structure.h"

namespace sorvel::subcode_test {

struct TocRow {
  uint8_t session;
  uint8_t track;
  uint8_t index;
  uint8_t flags;
  uint8_t mode;
  int32_t start;
  int32_t end;
};

inline TocStructure MakeToc(const std::vector<TocRow>& rows) {
  TocStructure toc;
  for (const TocRow& r : rows) {
    TOCTrack t;
    t.SessionNo = r.session;
    t.TrackNo = r.track;
    t.IndexNo = r.index;
    t.Flags = r.flags;
    t.SectorMode = r.mode;
    t.StartLBA = r.start;
    t.EndLBA = r.end;
    toc.AddTrack(t);
  }
  return toc;
}

// CRC-16 with polynomial x^16 + x^12 + x^5 + 1, most significant bit first,
// register starting at 0, result inverted: the CRC of the Q subchannel and of
// CD-Text packs. Bit by bit, no table.
inline uint16_t QCrc(const uint8_t* data, size_t length) {
  uint16_t reg = 0;
  for (size_t i = 0; i < length; ++i) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool in = ((data[i] >> bit) & 1) != 0;
      const bool top = (reg & 0x8000) != 0;
      reg = static_cast<uint16_t>(reg << 1);
      if (in != top) reg ^= 0x1021;
    }
  }
  return static_cast<uint16_t>(~reg);
}

inline bool QCrcOk(const uint8_t* q) {
  const uint16_t crc = QCrc(q, 10);
  return q[10] == (crc >> 8) && q[11] == (crc & 0xFF);
}

inline bool IsBcd(uint8_t v) { return (v >> 4) < 10 && (v & 0x0F) < 10; }
inline int Bcd(uint8_t v) { return (v >> 4) * 10 + (v & 0x0F); }

// LBA of a BCD minute, second and frame; minutes 90-99 lie before -150.
inline int32_t BcdMsfToLba(const uint8_t* msf) {
  const int frames = Bcd(msf[0]) * 4500 + Bcd(msf[1]) * 75 + Bcd(msf[2]);
  return Bcd(msf[0]) >= 90 ? frames - 450150 : frames - 150;
}

inline int BcdMsfToFrames(const uint8_t* msf) { return Bcd(msf[0]) * 4500 + Bcd(msf[1]) * 75 + Bcd(msf[2]); }

// One decoded Q frame.
struct QFrame {
  bool crc_ok = false;
  int control = 0;
  int adr = 0;
  // ADR 1
  int tno = 0;  // BCD decoded; 0xAA stays 0xAA
  int index = 0;
  int point = 0;  // raw byte (lead-in)
  int relative = 0;  // frames
  int32_t absolute_lba = 0;
  std::array<uint8_t, 3> msf{};  // bytes 3-5 as stored
  std::array<uint8_t, 3> pmsf{};  // bytes 7-9 as stored
  // ADR 2 / 3
  std::string mcn;
  std::string isrc;
  int aframe = 0;
};

inline QFrame DecodeQ(const uint8_t* q) {
  QFrame f;
  f.crc_ok = QCrcOk(q);
  f.control = q[0] >> 4;
  f.adr = q[0] & 0x0F;
  f.msf = {q[3], q[4], q[5]};
  f.pmsf = {q[7], q[8], q[9]};
  if (f.adr == 1) {
    f.tno = q[1] == 0xAA ? 0xAA : Bcd(q[1]);
    f.index = Bcd(q[2]);
    f.point = q[2];
    f.relative = BcdMsfToFrames(q + 3);
    f.absolute_lba = BcdMsfToLba(q + 7);
  } else if (f.adr == 2) {
    for (int i = 0; i < 13; ++i) {
      const uint8_t byte = q[1 + i / 2];
      f.mcn.push_back(static_cast<char>('0' + ((i % 2 == 0) ? byte >> 4 : byte & 0x0F)));
    }
    f.aframe = Bcd(q[9]);
  } else if (f.adr == 3) {
    // Five 6-bit characters in bytes 1-4, first bit highest.
    const uint32_t bits = uint32_t{q[1]} << 24 | uint32_t{q[2]} << 16 | uint32_t{q[3]} << 8 | q[4];
    static const char kSix[] = "0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
    for (int i = 0; i < 5; ++i) {
      const unsigned code = (bits >> (26 - 6 * i)) & 0x3F;
      f.isrc.push_back(code < sizeof kSix - 1 ? kSix[code] : '?');
    }
    for (int i = 0; i < 7; ++i) {
      const uint8_t byte = q[5 + i / 2];
      f.isrc.push_back(static_cast<char>('0' + ((i % 2 == 0) ? byte >> 4 : byte & 0x0F)));
    }
    f.aframe = Bcd(q[9]);
  }
  return f;
}

// The CD-ROM scrambling sequence as a bit recurrence: with the register preset
// to 1 (bit 0 set), the output bits s(n) obey s(n + 15) = s(n) xor s(n + 1)
// (feedback x^15 + x + 1), and every eight bits make a byte, first bit lowest.
inline std::vector<uint8_t> ScramblingSequence(size_t bytes) {
  std::vector<int> bits(bytes * 8 + 15, 0);
  bits[0] = 1;
  for (size_t n = 0; n + 15 < bits.size(); ++n) bits[n + 15] = bits[n] ^ bits[n + 1];
  std::vector<uint8_t> out(bytes, 0);
  for (size_t i = 0; i < bytes * 8; ++i) out[i / 8] |= static_cast<uint8_t>(bits[i] << (i % 8));
  return out;
}

using Subchannel = std::array<uint8_t, 96>;

// Interleaved P-W back to channel-separated form: bit (7 - c) of symbol k is
// bit (7 - k mod 8) of byte k / 8 of channel c.
inline Subchannel DeinterleavePw(const uint8_t* pw) {
  Subchannel channels{};
  for (int k = 0; k < 96; ++k) {
    for (int c = 0; c < 8; ++c) {
      if (pw[k] & (0x80 >> c)) channels[c * 12 + k / 8] |= static_cast<uint8_t>(0x80 >> (k % 8));
    }
  }
  return channels;
}

// The 72 bytes (four 18-byte packs) carried as 96 six-bit symbols in R-W of
// a channel-separated subchannel.
inline std::array<uint8_t, 72> RwToPacks(const uint8_t* subchannel) {
  std::array<uint8_t, 72> out{};
  int bit_pos = 0;
  for (int symbol = 0; symbol < 96; ++symbol) {
    for (int c = 2; c < 8; ++c) {
      const int bit = (subchannel[c * 12 + symbol / 8] >> (7 - symbol % 8)) & 1;
      if (bit) out[bit_pos / 8] |= static_cast<uint8_t>(0x80 >> (bit_pos % 8));
      ++bit_pos;
    }
  }
  return out;
}

// The MMC cue sheet rules a session-at-once sheet must follow. Returns an
// empty text when the sheet is sound, else the first problem found.
inline std::string ValidateCueSheet(const std::vector<uint8_t>& sheet) {
  if (sheet.size() % 8 != 0) return "size not a multiple of 8";
  const size_t n = sheet.size() / 8;
  if (n < 3) return "fewer than three entries";
  auto e = [&](size_t i) { return sheet.data() + i * 8; };
  auto frames = [&](size_t i) { return e(i)[5] * 4500 + e(i)[6] * 75 + e(i)[7]; };
  for (size_t i = 0; i < n; ++i) {
    if ((e(i)[0] & 0x0F) != 1) return "entry " + std::to_string(i) + " ADR is not 1";
    if (e(i)[4] != 0) return "entry " + std::to_string(i) + " SCMS set";
    if (e(i)[6] >= 60 || e(i)[7] >= 75) return "entry " + std::to_string(i) + " time out of range";
    const uint8_t form = e(i)[3] & 0x3F;
    const bool generated = form == 0x01 || form == 0x14 || form == 0x24;
    const bool host = form == 0x00 || form == 0x10 || form == 0x11 || form == 0x20 || form == 0x21;
    if (i == 0 || i == n - 1) {
      if (!generated) return "lead-in/lead-out data form not generated by the drive";
    } else if (!host) {
      return "entry " + std::to_string(i) + " data form not from the host";
    }
  }
  if (e(0)[1] != 0 || e(0)[2] != 0 || frames(0) != 0) return "first entry is not the lead-in at 00:00:00";
  size_t lead_outs = 0;
  for (size_t i = 0; i < n; ++i) lead_outs += e(i)[1] == 0xAA;
  if (lead_outs != 1 || e(n - 1)[1] != 0xAA || e(n - 1)[2] != 1) return "not exactly one lead-out AA index 1 at the end";
  for (size_t i = 2; i < n; ++i) {
    if (frames(i) < frames(i - 1)) return "time decreases at entry " + std::to_string(i);
  }
  int track = 0;
  int index = -1;
  bool has_index1 = false;
  uint8_t control = 0;
  for (size_t i = 1; i + 1 < n; ++i) {
    const int tno = e(i)[1];
    const int idx = e(i)[2];
    if (tno < 1 || tno > 99) return "track number out of range";
    if (tno != track) {
      if (track != 0 && !has_index1) return "track " + std::to_string(track) + " has no index 1";
      if (track != 0 && tno != track + 1) return "track numbers not consecutive";
      if (idx != 0 && idx != 1) return "track does not start with index 0 or 1";
      track = tno;
      index = idx;
      has_index1 = idx == 1;
      control = e(i)[0] & 0xF0;
    } else {
      if (idx != index + 1) return "index numbers not consecutive";
      if ((e(i)[0] & 0xF0) != control) return "control changes inside a track";
      index = idx;
      has_index1 = has_index1 || idx == 1;
    }
  }
  if (!has_index1) return "last track has no index 1";
  if (e(1)[1] == 1) {
    if (e(1)[2] != 0 || frames(1) != 0) return "track 1 does not start with index 0 at 00:00:00";
    if (frames(2) < 150) return "track 1 index 1 before 00:02:00";
  }
  return "";
}

}  // namespace sorvel::subcode_test
