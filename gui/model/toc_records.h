// The three record classes of the TOC model: one TOC entry per (session,
// track, index) point, one raw TOC descriptor of the lead-in, one 18-byte
// CD-Text pack. Their fields are public and read-write. They live in
// sorvel::model because the engines' fixed-layout records of the same names
// (native_common/toc_structure.h) are sorvel::TOCTrack and so on; the binding
// code that converts one into the other sees both.
#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace sorvel::model {

// "mm:ss:ff" of a frame count: minutes n / 4500 (two digits at least, more
// from 100 minutes on), seconds (n / 75) mod 60, frames n mod 75. A negative
// count is written with a leading "-".
QString FramesToMSFText(int64_t frames);

// 0..15 for a hexadecimal digit of either case, -1 for anything else.
int HexDigitValue(QChar c);

struct TOCTrack {
  uint8_t SessionNo = 0;
  uint8_t TrackNo = 0;
  uint8_t IndexNo = 0;     // 0 pregap, 1 start, up to 99
  int32_t Flags = 0;       // TrackControlFieldConstants bits
  int32_t SectorMode = 0;  // SectorModeConstants
  int32_t StartLBA = 0;
  int32_t EndLBA = 0;  // inclusive

  QString StartMSF() const { return FramesToMSFText(int64_t{StartLBA} + 150); }
  QString EndMSF() const { return FramesToMSFText(int64_t{EndLBA} + 150); }
  // The address as counted in a CUE sheet: LBA 0 is "00:00:00".
  QString CueTime() const { return FramesToMSFText(StartLBA); }
};

struct TOCRawTrack {
  uint8_t SessionNo = 0;
  uint8_t AdrControl = 0;  // ADR in the high four bits, control in the low four
  uint8_t Track = 0;
  uint8_t Point = 0;
  uint8_t Minute = 0;
  uint8_t Second = 0;
  uint8_t Frame = 0;
  uint8_t Zero = 0;
  uint8_t PMinute = 0;
  uint8_t PSecond = 0;
  uint8_t PFrame = 0;

  // Addresses of 90 minutes and more lie before LBA 0 (the lead-in).
  int32_t LBA() const { return AddressToLBA(Minute, Second, Frame); }
  int32_t PLBA() const { return AddressToLBA(PMinute, PSecond, PFrame); }
  static int32_t AddressToLBA(uint8_t m, uint8_t s, uint8_t f) {
    const int32_t frames = m * 4500 + s * 75 + f;
    return m < 90 ? frames - 150 : frames - 450150;
  }
};

struct TOCCDText {
  uint8_t PacketType = 0;
  uint8_t TrackNo = 0;
  uint8_t PacketNo = 0;
  uint8_t Flags = 0;
  std::array<uint8_t, 12> Data{};
  std::array<uint8_t, 2> Crc{};

  // The 16 header and data bytes as two upper-case hex digits each, joined by
  // single blanks (47 characters). The CRC is not part of the text.
  QString PackText() const;
  // Fills the header and data bytes from that text and clears the CRC. Only a
  // text of exactly 16 pieces of one or two hex digits (either case),
  // separated by blanks, is taken; anything else leaves the pack unchanged and
  // returns false.
  bool ParsePackText(const QString& text);
};

}  // namespace sorvel::model
