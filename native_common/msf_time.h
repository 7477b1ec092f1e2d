// CD address in minutes, seconds and frames (75 frames a second) and its
// conversion to and from logical block addresses.
#pragma once

#include <cstdint>

namespace sorvel {

constexpr int32_t kFramesPerSecond = 75;
constexpr int32_t kFramesPerMinute = 4500;
// LBA 0 is 00:02:00.
constexpr int32_t kMsfLbaOffset = 150;
// Minutes 90..99 stand for the addresses before -150 (the lead-in).
constexpr int32_t kMsfNegativeMinute = 90;
// 100 minutes of frames: one whole turn of the MSF clock.
constexpr int32_t kMsfFrameRange = 450000;

// LBA of loose minute, second and frame bytes as drives and subchannels return
// them (binary, not BCD).
constexpr int32_t MsfToLba(uint8_t minute, uint8_t second, uint8_t frame) {
  const int32_t frames = minute * kFramesPerMinute + second * kFramesPerSecond + frame;
  return minute < kMsfNegativeMinute ? frames - kMsfLbaOffset : frames - kMsfFrameRange - kMsfLbaOffset;
}

constexpr uint8_t ToBcd(uint8_t value) { return static_cast<uint8_t>(((value / 10) << 4) | (value % 10)); }
constexpr uint8_t FromBcd(uint8_t bcd) { return static_cast<uint8_t>((bcd >> 4) * 10 + (bcd & 0x0F)); }

struct MsfTime {
  uint8_t minute = 0;
  uint8_t second = 0;
  uint8_t frame = 0;

  constexpr MsfTime() = default;
  constexpr MsfTime(uint8_t m, uint8_t s, uint8_t f) : minute(m), second(s), frame(f) {}

  // LBA -150 .. 404,849 map onto 00:00:00 .. 89:59:74 and -45,150 .. -151 onto
  // 90:00:00 .. 99:59:74. Other addresses wrap every 100 minutes, so the minute
  // is always 0..99 and reading the time back gives the LBA modulo 450,000.
  static constexpr MsfTime FromLba(int64_t lba) {
    int64_t x = (lba + kMsfLbaOffset) % kMsfFrameRange;
    if (x < 0) x += kMsfFrameRange;
    return MsfTime(static_cast<uint8_t>(x / kFramesPerMinute), static_cast<uint8_t>((x / kFramesPerSecond) % 60),
                   static_cast<uint8_t>(x % kFramesPerSecond));
  }

  constexpr int32_t ToLba() const { return MsfToLba(minute, second, frame); }

  constexpr MsfTime operator+(const MsfTime& other) const {
    return FromLba(int64_t{ToLba()} + other.ToLba());
  }
  constexpr MsfTime operator-(const MsfTime& other) const {
    return FromLba(int64_t{ToLba()} - other.ToLba());
  }
  constexpr MsfTime operator+(int32_t frames) const { return FromLba(int64_t{ToLba()} + frames); }
  constexpr MsfTime operator-(int32_t frames) const { return FromLba(int64_t{ToLba()} - frames); }
  MsfTime& operator+=(const MsfTime& other) { return *this = *this + other; }
  MsfTime& operator-=(const MsfTime& other) { return *this = *this - other; }
  MsfTime& operator+=(int32_t frames) { return *this = *this + frames; }
  MsfTime& operator-=(int32_t frames) { return *this = *this - frames; }

  constexpr bool operator==(const MsfTime& other) const = default;
};

}  // namespace sorvel
