// The canonical 44-byte RIFF/WAVE header of linear PCM that the ripper and the
// MP3 decoder write in front of their samples.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace sorvel {

struct WaveHeader {
  static constexpr int kSize = 44;
  std::array<uint8_t, kSize> bytes{};

  const char* data() const { return reinterpret_cast<const char*>(bytes.data()); }
  static constexpr int size() { return kSize; }
};

// The header for `data_size` bytes of samples. Nothing when a field cannot hold
// its value (RIFF size above 32 bits, block align or byte rate too large), or
// for a zero rate or fewer than 8 bits per sample (no whole byte per block).
std::optional<WaveHeader> MakeWaveHeader(uint32_t data_size, uint32_t samples_per_second, uint32_t bits_per_sample,
                                         bool stereo);

}  // namespace sorvel
