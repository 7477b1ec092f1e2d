#include "gui/jobs/acm_decoder.h"

#include <gtest/gtest.h>

#include <optional>

#include <QSignalSpy>

#include "gui/jobs/acm_stream.h"
#include "platform/text_encoding.h"
#include "testing/file_size_limit.h"
#include "testing/gui/mp3_fixture.h"
#include "testing/test_paths.h"

namespace sorvel::jobs {
namespace {

namespace fs = std::filesystem;

class ACMDecoderTest : public ::testing::Test {
 protected:
  static QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }

  fs::path Mp3(int rate, int channels, const std::string& lame_args, const std::string& tag = "") {
    fs::path mp3;
    if (!sorvel::testing::EncodeMp3(dir_.path(), "in" + std::to_string(count_++), rate, channels, 1.5, lame_args,
                                    &mp3)) {
      return {};
    }
    if (!tag.empty()) sorvel::testing::WriteFileBytes(mp3, sorvel::testing::ReadFileBytes(mp3) + tag);
    return mp3;
  }

  // The WAV's header as python3's wave module reads it: channels, width, rate, frames.
  std::string PythonWaveInfo(const fs::path& wav) {
    std::string out;
    sorvel::testing::RunCommand("python3 -c \"import wave; w = wave.open('" + wav.string() +
                                    "'); print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())\" 2>&1",
                                &out);
    return out;
  }

  sorvel::testing::ScratchDir dir_;
  int count_ = 0;
};

TEST_F(ACMDecoderTest, DecodesToA44kStereoWaveWithEvents) {
  ASSERT_TRUE(sorvel::testing::RequireTool("python3"));
  const fs::path mp3 = Mp3(22050, 1, "-b 64 -m m", sorvel::testing::Id3v1Tag("Song", platform::Utf8ToCp932("ｱｰﾃｨｽﾄ"), ""));
  ASSERT_FALSE(mp3.empty());
  const fs::path wav = dir_ / "出力.wav";

  ACMDecoder decoder;
  EXPECT_EQ(decoder.TrackText(), nullptr);
  QSignalSpy status(&decoder, &ACMDecoder::StatusChange);
  QSignalSpy progress(&decoder, &ACMDecoder::Progress);
  ASSERT_TRUE(decoder.DecodeACM(Q(wav), Q(mp3)));

  ASSERT_EQ(status.size(), 2);
  EXPECT_EQ(status[0][0].toInt(), 0);
  EXPECT_EQ(status[0][1].toString(), QStringLiteral("展開中 - ") + Q(mp3));
  EXPECT_EQ(status[1][0].toInt(), 0);
  EXPECT_EQ(status[1][1].toString(), QString());

  ASSERT_GT(progress.size(), 2);
  const qint64 frames = sorvel::testing::CountMpegFrames(sorvel::testing::ReadFileBytes(mp3));
  for (int i = 0; i < progress.size(); ++i) {
    EXPECT_EQ(progress[i][0].toLongLong(), i + 1);
    EXPECT_EQ(progress[i][1].toLongLong(), frames);
  }
  // One block is about one frame: the count never runs far past the total.
  EXPECT_LE(progress.size(), frames + 2);

  sorvel::testing::WavData data;
  ASSERT_TRUE(sorvel::testing::ReadWav(wav, &data));
  EXPECT_EQ(data.rate, 44100);
  EXPECT_EQ(data.channels, 2);
  EXPECT_EQ(data.declared_data_size, data.samples.size() * 2);
  EXPECT_EQ(fs::file_size(wav), 44 + data.declared_data_size);
  EXPECT_EQ(PythonWaveInfo(wav), "2 2 44100 " + std::to_string(data.samples.size() / 2) + "\n");

  ASSERT_NE(decoder.TrackText(), nullptr);
  // Half-width katakana is single-byte: the texts stay as they are.
  EXPECT_EQ(decoder.TrackText()->Title.toStdString(), "Song");
  EXPECT_EQ(decoder.TrackText()->Performer.toStdString(), "ｱｰﾃｨｽﾄ");
}

TEST_F(ACMDecoderTest, GarbageFails) {
  const fs::path garbage = dir_ / "garbage.mp3";
  std::string bytes;
  for (int i = 0; i < 500; ++i) bytes += "This is not audio. ";
  sorvel::testing::WriteFileBytes(garbage, bytes);
  const fs::path wav = dir_ / "g.wav";

  ACMDecoder decoder;
  QSignalSpy status(&decoder, &ACMDecoder::StatusChange);
  QSignalSpy progress(&decoder, &ACMDecoder::Progress);
  EXPECT_FALSE(decoder.DecodeACM(Q(wav), Q(garbage)));
  ASSERT_EQ(status.size(), 2);
  EXPECT_EQ(status[0][1].toString(), QStringLiteral("展開中 - ") + Q(garbage));
  EXPECT_EQ(status[1][1].toString(), QString());
  EXPECT_EQ(progress.size(), 0);
  EXPECT_FALSE(fs::exists(wav));
  EXPECT_EQ(decoder.TrackText(), nullptr);

  EXPECT_FALSE(decoder.DecodeACM(Q(wav), Q(dir_ / "missing.mp3")));
  EXPECT_FALSE(decoder.DecodeACMHeader(Q(wav), Q(garbage)));
  EXPECT_FALSE(fs::exists(wav));
}

// A stop after a block, or a disk that fills up (whether the failure shows
// while the samples stream, a long file, or only when the last block is
// written, a short one): the decode fails and leaves no file of its own, and
// a file that appeared at the name meanwhile is never written over.
TEST_F(ACMDecoderTest, StopOrFullDiskLeavesNoFile) {
  fs::path long_mp3;
  ASSERT_TRUE(sorvel::testing::EncodeMp3(dir_.path(), "long", 44100, 2, 40, "-b 64", &long_mp3));
  const fs::path short_mp3 = Mp3(44100, 2, "-b 128");
  ASSERT_FALSE(short_mp3.empty());
  struct Case {
    const char* what;
    fs::path mp3;
    rlim_t limit;  // 0: a stop after the fifth block
  };
  for (const Case& c : {Case{"stop", short_mp3, 0}, Case{"full short", short_mp3, 64 * 1024},
                        Case{"full long", long_mp3, 2 << 20}}) {
    const fs::path out = dir_ / c.what;
    fs::create_directories(out);
    ACMDecoder decoder;
    const auto stopper = QObject::connect(&decoder, &ACMDecoder::Progress, [&](qint64 value, qint64) {
      if (c.limit == 0 && value == 5) decoder.StopRead();
    });
    QSignalSpy progress(&decoder, &ACMDecoder::Progress);
    bool result;
    {
      std::optional<sorvel::testing::FileSizeLimit> full;
      if (c.limit) full.emplace(c.limit);
      result = decoder.DecodeACM(Q(out / "x.wav"), Q(c.mp3));
    }
    QObject::disconnect(stopper);
    EXPECT_FALSE(result) << c.what;
    if (c.limit == 0) {
      EXPECT_EQ(progress.size(), 5);
    }
    EXPECT_TRUE(fs::is_empty(out)) << c.what;

    // The same over a file another instance put at the name while this one decodes.
    const auto taker = QObject::connect(&decoder, &ACMDecoder::Progress, [&](qint64 value, qint64) {
      if (value == 2) sorvel::testing::WriteFileBytes(out / "taken.wav", "theirs");
    });
    EXPECT_FALSE(decoder.DecodeACM(Q(out / "taken.wav"), Q(short_mp3))) << c.what;
    QObject::disconnect(taker);
    EXPECT_EQ(sorvel::testing::ReadFileBytes(out / "taken.wav"), "theirs");
    fs::remove(out / "taken.wav");

    // The cancel flag is cleared: the next decode runs through.
    EXPECT_TRUE(decoder.DecodeACM(Q(out / "x.wav"), Q(c.mp3))) << c.what;
    sorvel::testing::WavData data;
    ASSERT_TRUE(sorvel::testing::ReadWav(out / "x.wav", &data));
    EXPECT_EQ(data.declared_data_size, data.samples.size() * 2);
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
  }
}

TEST_F(ACMDecoderTest, UnwritableDestinationFails) {
  const fs::path mp3 = Mp3(44100, 2, "-b 128");
  ASSERT_FALSE(mp3.empty());
  ACMDecoder decoder;
  QSignalSpy status(&decoder, &ACMDecoder::StatusChange);
  EXPECT_FALSE(decoder.DecodeACM(Q(dir_ / "no-such-folder" / "x.wav"), Q(mp3)));
  EXPECT_EQ(status.size(), 2);
  EXPECT_FALSE(decoder.DecodeACMHeader(Q(dir_ / "no-such-folder" / "x.wav"), Q(mp3)));
}

TEST_F(ACMDecoderTest, DecodingAFileOntoItselfLeavesItAlone) {
  const fs::path mp3 = Mp3(44100, 2, "-b 128");
  ASSERT_FALSE(mp3.empty());
  const std::string before = sorvel::testing::ReadFileBytes(mp3);
  ACMDecoder decoder;
  EXPECT_FALSE(decoder.DecodeACM(Q(mp3), Q(mp3)));
  EXPECT_FALSE(decoder.DecodeACMHeader(Q(mp3), Q(mp3)));
  EXPECT_EQ(sorvel::testing::ReadFileBytes(mp3), before);
}

TEST_F(ACMDecoderTest, HeaderAloneIsSizedByTheEstimate) {
  const fs::path mp3 = Mp3(48000, 2, "-b 160", sorvel::testing::Id3v1Tag("T", "", ""));
  ASSERT_FALSE(mp3.empty());
  const fs::path header = dir_ / "header.wav";
  const fs::path full = dir_ / "full.wav";
  ACMDecoder decoder;
  QSignalSpy status(&decoder, &ACMDecoder::StatusChange);
  ASSERT_TRUE(decoder.DecodeACMHeader(Q(header), Q(mp3)));
  EXPECT_EQ(status.size(), 0);
  EXPECT_EQ(fs::file_size(header), 44u);
  ASSERT_NE(decoder.TrackText(), nullptr);
  EXPECT_EQ(decoder.TrackText()->Title.toStdString(), "T");

  const std::string h = sorvel::testing::ReadFileBytes(header);
  const auto u32 = [&](size_t at) {
    return uint32_t{static_cast<uint8_t>(h[at])} | uint32_t{static_cast<uint8_t>(h[at + 1])} << 8 |
           uint32_t{static_cast<uint8_t>(h[at + 2])} << 16 | uint32_t{static_cast<uint8_t>(h[at + 3])} << 24;
  };
  const uint32_t estimate = u32(40);
  EXPECT_EQ(u32(4), estimate + 36);
  EXPECT_EQ(estimate % 4, 0u);
  // 48 kHz frames of 1,152 samples each give 1,058.4 samples at 44.1 kHz.
  const int frames = sorvel::testing::CountMpegFrames(sorvel::testing::ReadFileBytes(mp3));
  EXPECT_EQ(estimate, static_cast<uint32_t>((int64_t{frames} * 1152 * 44100 + 47999) / 48000 * 4));

  // The decoded file is no longer than the estimate.
  ASSERT_TRUE(decoder.DecodeACM(Q(full), Q(mp3)));
  sorvel::testing::WavData data;
  ASSERT_TRUE(sorvel::testing::ReadWav(full, &data));
  EXPECT_LE(data.declared_data_size, estimate);
  EXPECT_GT(data.declared_data_size, estimate - 3 * 1152 * 4);
}

TEST_F(ACMDecoderTest, EstimateBeyondAWaveFileFailsInsteadOfWrapping) {
  // MPEG-2.5 Layer III 8 kbit/s 8 kHz frames: 72 bytes each, 576 samples that
  // become 3,175.2 sample frames at 44.1 kHz. 340,000 of them come to more
  // than a WAVE file's 4 GiB.
  std::string frame(72, '\0');
  frame.replace(0, 4, "\xFF\xE3\x18\xC4", 4);
  std::string bytes;
  bytes.reserve(frame.size() * 340000);
  for (int i = 0; i < 340000; ++i) bytes += frame;
  const fs::path mp3 = dir_ / "long.mp3";
  sorvel::testing::WriteFileBytes(mp3, bytes);

  ACMStream stream;
  ASSERT_TRUE(stream.OpenFile(Q(mp3), 44100, 16, true));
  EXPECT_EQ(stream.FrameCount(), 340000);
  EXPECT_GT(stream.DecodeSize(), int64_t{0xFFFFFFFF});
  stream.CloseFile();

  ACMDecoder decoder;
  EXPECT_FALSE(decoder.DecodeACMHeader(Q(dir_ / "long.wav"), Q(mp3)));
  EXPECT_FALSE(fs::exists(dir_ / "long.wav"));
}

}  // namespace
}  // namespace sorvel::jobs
