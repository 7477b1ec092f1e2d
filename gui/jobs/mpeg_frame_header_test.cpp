#include "gui/jobs/mpeg_frame_header.h"

#include <gtest/gtest.h>

namespace sorvel::jobs {
namespace {

struct HeaderCase {
  const char* name;
  uint8_t b[4];
  bool valid;
  MpegVersion version;
  int layer;
  uint32_t kbps;
  uint32_t rate;
  int channels;
  uint32_t frame_length;
  uint32_t samples;
};

class MpegFrameHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(MpegFrameHeaderTest, Parses) {
  const HeaderCase& c = GetParam();
  const auto h = ParseMpegFrameHeader(c.b);
  ASSERT_EQ(h.has_value(), c.valid);
  if (!c.valid) return;
  EXPECT_EQ(h->version, c.version);
  EXPECT_EQ(h->layer, c.layer);
  EXPECT_EQ(h->bitrate_kbps, c.kbps);
  EXPECT_EQ(h->sample_rate, c.rate);
  EXPECT_EQ(h->channels, c.channels);
  EXPECT_EQ(h->frame_length, c.frame_length);
  EXPECT_EQ(h->samples_per_frame, c.samples);
}

using V = MpegVersion;
INSTANTIATE_TEST_SUITE_P(
    Headers, MpegFrameHeaderTest,
    ::testing::Values(
        // MPEG-1 Layer III 128 kbit/s 44.1 kHz joint stereo: 417 bytes, 418 padded.
        HeaderCase{"m1l3_128", {0xFF, 0xFB, 0x90, 0x64}, true, V::kMpeg1, 3, 128, 44100, 2, 417, 1152},
        HeaderCase{"m1l3_128_pad", {0xFF, 0xFB, 0x92, 0x64}, true, V::kMpeg1, 3, 128, 44100, 2, 418, 1152},
        HeaderCase{"m1l3_320_48k_mono", {0xFF, 0xFB, 0xE4, 0xC0}, true, V::kMpeg1, 3, 320, 48000, 1, 960, 1152},
        HeaderCase{"m1l2_384_32k", {0xFF, 0xFD, 0xE8, 0x00}, true, V::kMpeg1, 2, 384, 32000, 2, 1728, 1152},
        HeaderCase{"m1l1_448_44k_pad", {0xFF, 0xFF, 0xE2, 0x00}, true, V::kMpeg1, 1, 448, 44100, 2, 488, 384},
        // MPEG-2 Layer III 64 kbit/s 22.05 kHz: 576 samples, 72,000 x 64 / 22,050 = 208 bytes.
        HeaderCase{"m2l3_64_22k", {0xFF, 0xF3, 0x80, 0xC4}, true, V::kMpeg2, 3, 64, 22050, 1, 208, 576},
        HeaderCase{"m2l2_160_24k", {0xFF, 0xF5, 0xE4, 0x00}, true, V::kMpeg2, 2, 160, 24000, 2, 960, 1152},
        HeaderCase{"m2l1_256_16k", {0xFF, 0xF7, 0xE8, 0x00}, true, V::kMpeg2, 1, 256, 16000, 2, 768, 384},
        // MPEG-2.5 Layer III 16 kbit/s 8 kHz: 144 bytes.
        HeaderCase{"m25l3_16_8k", {0xFF, 0xE3, 0x28, 0xC4}, true, V::kMpeg25, 3, 16, 8000, 1, 144, 576},
        HeaderCase{"m25l3_8_11k_pad", {0xFF, 0xE3, 0x12, 0x00}, true, V::kMpeg25, 3, 8, 11025, 2, 53, 576},
        HeaderCase{"layer_bits_00", {0xFF, 0xF9, 0x90, 0x64}, false, V::kMpeg1, 0, 0, 0, 0, 0, 0},
        HeaderCase{"bitrate_free", {0xFF, 0xFB, 0x00, 0x64}, false, V::kMpeg1, 0, 0, 0, 0, 0, 0},
        HeaderCase{"bitrate_15", {0xFF, 0xFB, 0xF0, 0x64}, false, V::kMpeg1, 0, 0, 0, 0, 0, 0},
        HeaderCase{"rate_index_3", {0xFF, 0xFB, 0x9C, 0x64}, false, V::kMpeg1, 0, 0, 0, 0, 0, 0},
        HeaderCase{"no_sync_b0", {0xFE, 0xFB, 0x90, 0x64}, false, V::kMpeg1, 0, 0, 0, 0, 0, 0},
        HeaderCase{"no_sync_b1", {0xFF, 0xDB, 0x90, 0x64}, false, V::kMpeg1, 0, 0, 0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorvel::jobs
