#include "gui/jobs/audio_compression.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gui/jobs/mpeg_frame_header.h"
#include "testing/gui/mp3_fixture.h"
#include "testing/test_paths.h"

namespace sorvel::jobs {
namespace {

MpegLayer3WaveFormat Source(uint32_t rate, uint16_t channels, uint16_t block) {
  MpegLayer3WaveFormat f;
  f.wfx.format_tag = kWaveFormatMpegLayer3;
  f.wfx.channels = channels;
  f.wfx.samples_per_sec = rate;
  f.wfx.avg_bytes_per_sec = 128 * 125;
  f.wfx.block_align = 1;
  f.wfx.extra_size = kMpegLayer3ExtraSize;
  f.id = 1;
  f.block_size = block;
  f.frames_per_block = 1;
  f.codec_delay = 700;
  return f;
}

WaveFormatEx Pcm(uint32_t rate = 44100, uint16_t channels = 2, uint16_t bits = 16) {
  WaveFormatEx f;
  f.format_tag = kWaveFormatPcm;
  f.channels = channels;
  f.samples_per_sec = rate;
  f.bits_per_sample = bits;
  f.block_align = static_cast<uint16_t>(channels * bits / 8);
  return f;
}

constexpr uint32_t kFixed = kAcmSuggestFormatTag | kAcmSuggestChannels | kAcmSuggestSamplesPerSec | kAcmSuggestBitsPerSample;

TEST(AudioCompressionTest, SuggestCompletesOnlyTheFixedOutput) {
  const MpegLayer3WaveFormat src = Source(22050, 1, 208);
  WaveFormatEx dst = Pcm();
  dst.avg_bytes_per_sec = 0;
  ASSERT_EQ(acmFormatSuggest(nullptr, &src.wfx, &dst, sizeof dst, kFixed), kAcmOk);
  EXPECT_EQ(dst.block_align, 4);
  EXPECT_EQ(dst.avg_bytes_per_sec, 176400u);
  EXPECT_EQ(dst.extra_size, 0);

  WaveFormatEx open = {};
  ASSERT_EQ(acmFormatSuggest(nullptr, &src.wfx, &open, sizeof open, 0), kAcmOk);
  EXPECT_EQ(open.format_tag, kWaveFormatPcm);
  EXPECT_EQ(open.samples_per_sec, 44100u);
  EXPECT_EQ(open.channels, 2);
  EXPECT_EQ(open.bits_per_sample, 16);

  for (WaveFormatEx other : {Pcm(48000), Pcm(44100, 1), Pcm(44100, 2, 8)}) {
    EXPECT_EQ(acmFormatSuggest(nullptr, &src.wfx, &other, sizeof other, kFixed), kAcmErrNotPossible);
  }
  EXPECT_EQ(acmFormatSuggest(nullptr, &src.wfx, &dst, sizeof dst, 0x100), kAcmErrInvalidFlag);
  EXPECT_EQ(acmFormatSuggest(nullptr, &src.wfx, &dst, 4, kFixed), kAcmErrInvalidParam);
  MpegLayer3WaveFormat odd = Source(22000, 1, 208);
  EXPECT_EQ(acmFormatSuggest(nullptr, &odd.wfx, &dst, sizeof dst, kFixed), kAcmErrNotPossible);
  const WaveFormatEx pcm_source = Pcm();
  EXPECT_EQ(acmFormatSuggest(nullptr, &pcm_source, &dst, sizeof dst, kFixed), kAcmErrNotPossible);
}

TEST(AudioCompressionTest, OpenChecksFormatsAndArguments) {
  const MpegLayer3WaveFormat src = Source(44100, 2, 417);
  const WaveFormatEx dst = Pcm();
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &src.wfx, &dst, nullptr, 0, 0, kAcmStreamOpenQuery | kAcmStreamOpenNonRealtime),
            kAcmOk);
  const WaveFormatEx wrong = Pcm(32000);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &src.wfx, &wrong, nullptr, 0, 0, kAcmStreamOpenQuery), kAcmErrNotPossible);
  AcmStreamHandle h = nullptr;
  EXPECT_EQ(acmStreamOpen(&h, nullptr, &src.wfx, &dst, nullptr, 1, 0, kAcmStreamOpenNonRealtime), kAcmErrInvalidParam);
  EXPECT_EQ(acmStreamOpen(&h, nullptr, &src.wfx, &dst, nullptr, 0, 0, 0x8), kAcmErrInvalidFlag);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, &src.wfx, &dst, nullptr, 0, 0, kAcmStreamOpenNonRealtime), kAcmErrInvalidParam);
  ASSERT_EQ(acmStreamOpen(&h, nullptr, &src.wfx, &dst, nullptr, 0, 0, kAcmStreamOpenNonRealtime), kAcmOk);
  ASSERT_NE(h, nullptr);

  uint32_t size = 0;
  EXPECT_EQ(acmStreamSize(h, 417, &size, 0x7), kAcmErrInvalidFlag);
  EXPECT_EQ(acmStreamSize(nullptr, 417, &size, 0), kAcmErrInvalidHandle);
  ASSERT_EQ(acmStreamSize(h, 417, &size, kAcmStreamSizeSource), kAcmOk);
  EXPECT_EQ(size % 4, 0u);
  EXPECT_GE(size, 1152u * 4);

  std::vector<uint8_t> in(418), out(size);
  AcmStreamHeader header;
  header.size = sizeof header;
  header.source = in.data();
  header.source_length = 417;
  header.destination = out.data();
  header.destination_length = size;
  EXPECT_EQ(acmStreamConvert(h, &header, kAcmConvertBlockAlign), kAcmErrUnprepared);
  AcmStreamHeader wrong_size = header;
  wrong_size.size = 84;
  EXPECT_EQ(acmStreamPrepareHeader(h, &wrong_size, 0), kAcmErrInvalidParam);
  ASSERT_EQ(acmStreamPrepareHeader(h, &header, 0), kAcmOk);
  header.source_length = 418;
  EXPECT_EQ(acmStreamConvert(h, &header, kAcmConvertBlockAlign), kAcmErrInvalidParam);
  header.source_length = 0;
  EXPECT_EQ(acmStreamConvert(h, &header, kAcmConvertBlockAlign | kAcmConvertEnd), kAcmOk);
  EXPECT_EQ(header.destination_length_used, 0u);
  EXPECT_EQ(acmStreamUnprepareHeader(h, &header, 0), kAcmOk);
  EXPECT_EQ(acmStreamUnprepareHeader(h, &header, 0), kAcmErrUnprepared);
  EXPECT_EQ(acmStreamClose(h, 0), kAcmOk);
  EXPECT_EQ(acmStreamClose(nullptr, 0), kAcmErrInvalidHandle);
}

struct Converted {
  std::vector<uint8_t> pcm;
  uint32_t held_at_end = 0;  // bytes the end conversions still gave out
};

// Feeds `file` from its first frame in blocks of `block` bytes into a stream
// whose destination holds `destination` bytes (0: the layer's bound).
Converted Convert(const std::string& file, uint16_t block, uint32_t destination) {
  Converted result;
  size_t start = 0;
  while (start + 4 <= file.size() &&
         !ParseMpegFrameHeader(reinterpret_cast<const uint8_t*>(file.data() + start))) {
    ++start;
  }
  const auto h = ParseMpegFrameHeader(reinterpret_cast<const uint8_t*>(file.data() + start));
  if (!h) {
    ADD_FAILURE() << "no frame";
    return result;
  }
  MpegLayer3WaveFormat src = Source(h->sample_rate, static_cast<uint16_t>(h->channels), block);
  const WaveFormatEx dst = Pcm();
  AcmStreamHandle stream = nullptr;
  EXPECT_EQ(acmStreamOpen(&stream, nullptr, &src.wfx, &dst, nullptr, 0, 0, kAcmStreamOpenNonRealtime), kAcmOk);
  uint32_t bound = 0;
  EXPECT_EQ(acmStreamSize(stream, block, &bound, kAcmStreamSizeSource), kAcmOk);
  std::vector<uint8_t> in(block + 1u), out(destination != 0 ? destination : bound);
  AcmStreamHeader header;
  header.size = sizeof header;
  header.source = in.data();
  header.source_length = block;
  header.destination = out.data();
  header.destination_length = static_cast<uint32_t>(out.size());
  EXPECT_EQ(acmStreamPrepareHeader(stream, &header, 0), kAcmOk);
  for (size_t pos = start; pos < file.size(); pos += block) {
    const size_t n = std::min<size_t>(block, file.size() - pos);
    std::memcpy(in.data(), file.data() + pos, n);
    header.source_length = static_cast<uint32_t>(n);
    acmStreamConvert(stream, &header, kAcmConvertBlockAlign);
    EXPECT_EQ(header.source_length_used, n);
    EXPECT_LE(header.destination_length_used, header.destination_length);
    EXPECT_EQ(header.destination_length_used % 4, 0u);
    result.pcm.insert(result.pcm.end(), out.begin(), out.begin() + header.destination_length_used);
  }
  for (int guard = 0; guard < 100000; ++guard) {
    header.source_length = 0;
    acmStreamConvert(stream, &header, kAcmConvertBlockAlign | kAcmConvertEnd);
    if (header.destination_length_used == 0) break;
    result.held_at_end += header.destination_length_used;
    result.pcm.insert(result.pcm.end(), out.begin(), out.begin() + header.destination_length_used);
  }
  acmStreamUnprepareHeader(stream, &header, 0);
  acmStreamClose(stream, 0);
  return result;
}

struct BoundCase {
  const char* name;
  int rate;
  int channels;
  const char* lame_args;
  uint16_t block;
};

class AudioCompressionBoundTest : public ::testing::TestWithParam<BoundCase> {};

// With the destination the size call gives, every conversion's PCM fits: the
// end of the stream has nothing left over. A small destination loses and
// repeats nothing either: what does not fit comes out in the next calls.
TEST_P(AudioCompressionBoundTest, BoundHoldsAndSmallDestinationsLoseNothing) {
  const BoundCase& c = GetParam();
  sorvel::testing::ScratchDir dir;
  std::filesystem::path mp3;
  ASSERT_TRUE(sorvel::testing::EncodeMp3(dir.path(), c.name, c.rate, c.channels, 2.0, c.lame_args, &mp3));
  const std::string file = sorvel::testing::ReadFileBytes(mp3);

  const Converted full = Convert(file, c.block, 0);
  EXPECT_EQ(full.held_at_end, 0u);
  EXPECT_NEAR(static_cast<double>(full.pcm.size()) / 4 / 44100, 2.0, 0.2);

  const Converted small = Convert(file, c.block, 1002);  // not a multiple of the sample frame
  EXPECT_GT(small.held_at_end, 0u);
  EXPECT_TRUE(small.pcm == full.pcm);
}

INSTANTIATE_TEST_SUITE_P(Rates, AudioCompressionBoundTest,
                         ::testing::Values(BoundCase{"vbr44", 44100, 2, "-V 0", 200},
                                           BoundCase{"cbr32", 32000, 2, "-b 320", 1440},
                                           BoundCase{"mpeg2_16k", 16000, 1, "-b 8 -m m", 36},
                                           BoundCase{"mpeg25_8k", 8000, 1, "-b 8 -m m", 72}),
                         [](const ::testing::TestParamInfo<BoundCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace sorvel::jobs
