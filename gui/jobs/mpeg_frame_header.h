// The four-byte header of an MPEG audio frame (Layers I to III, MPEG-1, MPEG-2
// and MPEG-2.5): version, layer, bitrate, sample rate and the frame's length.
#pragma once

#include <cstdint>
#include <optional>

namespace sorvel::jobs {

enum class MpegVersion { kMpeg1, kMpeg2, kMpeg25 };

struct MpegFrameHeader {
  MpegVersion version = MpegVersion::kMpeg1;
  int layer = 3;  // 1, 2 or 3
  uint32_t bitrate_kbps = 0;
  uint32_t sample_rate = 0;
  bool padding = false;
  int channels = 2;  // 1 for the single-channel mode
  uint32_t frame_length = 0;  // bytes, header included
  uint32_t samples_per_frame = 0;
};

// Parses b[0..3]. Nothing when the bytes are not a frame header: no sync,
// layer bits 00, free-format or forbidden bitrate index, or sample-rate index 3.
std::optional<MpegFrameHeader> ParseMpegFrameHeader(const uint8_t* b);

}  // namespace sorvel::jobs
