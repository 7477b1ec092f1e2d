#include "gui/jobs/mpeg_frame_header.h"

namespace sorvel::jobs {
namespace {

// kbit/s by bitrate index 1..14 (index 0 free format and 15 are no frame).
constexpr uint16_t kMpeg1Layer1[15] = {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448};
constexpr uint16_t kMpeg1Layer2[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
constexpr uint16_t kMpeg1Layer3[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr uint16_t kMpeg2Layer1[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256};
constexpr uint16_t kMpeg2Layer23[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

constexpr uint32_t kRates[3][3] = {
    {44100, 48000, 32000},  // MPEG-1
    {22050, 24000, 16000},  // MPEG-2
    {11025, 12000, 8000},   // MPEG-2.5
};

}  // namespace

std::optional<MpegFrameHeader> ParseMpegFrameHeader(const uint8_t* b) {
  if (b[0] != 0xFF || b[1] < 0xE0) return std::nullopt;
  MpegFrameHeader h;
  switch ((b[1] >> 3) & 3) {
    case 3: h.version = MpegVersion::kMpeg1; break;
    case 2: h.version = MpegVersion::kMpeg2; break;
    default: h.version = MpegVersion::kMpeg25; break;
  }
  switch ((b[1] >> 1) & 3) {
    case 1: h.layer = 3; break;
    case 2: h.layer = 2; break;
    case 3: h.layer = 1; break;
    default: return std::nullopt;
  }
  const int bitrate_index = b[2] >> 4;
  if (bitrate_index == 0 || bitrate_index == 15) return std::nullopt;
  const int rate_index = (b[2] >> 2) & 3;
  if (rate_index == 3) return std::nullopt;

  const bool mpeg1 = h.version == MpegVersion::kMpeg1;
  const uint16_t* table = nullptr;
  if (mpeg1) {
    table = h.layer == 1 ? kMpeg1Layer1 : h.layer == 2 ? kMpeg1Layer2 : kMpeg1Layer3;
  } else {
    // MPEG-2.5 takes the MPEG-2 tables.
    table = h.layer == 1 ? kMpeg2Layer1 : kMpeg2Layer23;
  }
  h.bitrate_kbps = table[bitrate_index];
  h.sample_rate = kRates[static_cast<int>(h.version)][rate_index];
  h.padding = (b[2] & 0x02) != 0;
  h.channels = (b[3] >> 6) == 3 ? 1 : 2;
  const uint32_t pad = h.padding ? 1 : 0;
  if (h.layer == 1) {
    h.samples_per_frame = 384;
    h.frame_length = (12000 * h.bitrate_kbps / h.sample_rate + pad) * 4;
  } else if (h.layer == 2 || mpeg1) {
    h.samples_per_frame = 1152;
    h.frame_length = 144000 * h.bitrate_kbps / h.sample_rate + pad;
  } else {
    // Layer III of MPEG-2 and 2.5 holds 576 samples a frame: half the bytes.
    h.samples_per_frame = 576;
    h.frame_length = 72000 * h.bitrate_kbps / h.sample_rate + pad;
  }
  return h;
}

}  // namespace sorvel::jobs
