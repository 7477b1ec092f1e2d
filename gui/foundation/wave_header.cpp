#include "gui/foundation/wave_header.h"

#include <cstring>

namespace sorvel {
namespace {

void Put16(WaveHeader& h, int at, uint32_t v) {
  h.bytes[at] = static_cast<uint8_t>(v);
  h.bytes[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(WaveHeader& h, int at, uint32_t v) {
  Put16(h, at, v & 0xFFFF);
  Put16(h, at + 2, v >> 16);
}

void PutId(WaveHeader& h, int at, const char* id) { std::memcpy(h.bytes.data() + at, id, 4); }

}  // namespace

std::optional<WaveHeader> MakeWaveHeader(uint32_t data_size, uint32_t samples_per_second, uint32_t bits_per_sample,
                                         bool stereo) {
  const uint64_t channels = stereo ? 2 : 1;
  const uint64_t block_align = bits_per_sample / 8 * channels;
  const uint64_t byte_rate = block_align * samples_per_second;
  const uint64_t riff_size = uint64_t{data_size} + 36;
  if (samples_per_second == 0 || block_align == 0 || bits_per_sample > 0xFFFF || block_align > 0xFFFF ||
      byte_rate > 0xFFFFFFFFu || riff_size > 0xFFFFFFFFu) {
    return std::nullopt;
  }
  WaveHeader h;
  PutId(h, 0, "RIFF");
  Put32(h, 4, static_cast<uint32_t>(riff_size));
  PutId(h, 8, "WAVE");
  PutId(h, 12, "fmt ");
  Put32(h, 16, 16);
  Put16(h, 20, 1);
  Put16(h, 22, static_cast<uint32_t>(channels));
  Put32(h, 24, samples_per_second);
  Put32(h, 28, static_cast<uint32_t>(byte_rate));
  Put16(h, 32, static_cast<uint32_t>(block_align));
  Put16(h, 34, bits_per_sample);
  PutId(h, 36, "data");
  Put32(h, 40, data_size);
  return h;
}

}  // namespace sorvel
