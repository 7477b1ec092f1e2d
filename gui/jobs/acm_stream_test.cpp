#include "gui/jobs/acm_stream.h"

#include <gtest/gtest.h>

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include <map>
#include <random>
#include <memory>

#include "platform/text_encoding.h"
#include "testing/gui/mp3_fixture.h"
#include "testing/test_paths.h"

namespace sorvel::jobs {
namespace {

namespace fs = std::filesystem;
using sorvel::testing::ScratchDir;

struct Encoding {
  const char* name;
  int rate;
  int channels;
  const char* lame_args;
  int frame_header_rate;  // rate in the frame headers
  int source_channels;
};

const Encoding kEncodings[] = {
    {"cbr44", 44100, 2, "-b 192", 44100, 2},
    {"vbr44", 44100, 2, "-V 4", 44100, 2},
    {"mono22", 22050, 1, "-b 64 -m m", 22050, 1},
    {"stereo48", 48000, 2, "-b 160", 48000, 2},
    {"mpeg25_8k", 8000, 1, "-b 16 -m m", 8000, 1},
};

enum class Tags { kNone, kV2AndV1Cp932, kV2FooterAndV1Ascii };

struct StreamCase {
  Encoding encoding;
  Tags tags;
};

std::string Cp932(const char* utf8) { return platform::Utf8ToCp932(utf8); }

// Encodes each signal once for the whole suite.
class Mp3Files {
 public:
  fs::path Get(const Encoding& e) {
    auto it = files_.find(e.name);
    if (it != files_.end()) return it->second;
    fs::path mp3;
    if (!sorvel::testing::EncodeMp3(dir_.path(), e.name, e.rate, e.channels, 2.5, e.lame_args, &mp3)) return {};
    files_[e.name] = mp3;
    return mp3;
  }
  const fs::path& dir() const { return dir_.path(); }

 private:
  ScratchDir dir_;
  std::map<std::string, fs::path> files_;
};

class ACMStreamFileTest : public ::testing::TestWithParam<StreamCase> {
 protected:
  static void SetUpTestSuite() { files_ = new Mp3Files; }
  static void TearDownTestSuite() {
    delete files_;
    files_ = nullptr;
  }
  static Mp3Files* files_;
};
Mp3Files* ACMStreamFileTest::files_ = nullptr;

std::vector<int16_t> DecodeAll(ACMStream& stream) {
  std::vector<uint8_t> buffer(static_cast<size_t>(stream.FrameSize()));
  std::vector<int16_t> pcm;
  for (int guard = 0; guard < 1000000; ++guard) {
    const int32_t n = stream.ReadFrame(buffer.data());
    if (n < 0) break;
    if (n == 0) continue;
    EXPECT_LE(n, stream.FrameSize());
    EXPECT_EQ(n % 4, 0);
    const size_t at = pcm.size();
    pcm.resize(at + static_cast<size_t>(n) / 2);
    std::memcpy(pcm.data() + at, buffer.data(), static_cast<size_t>(n));
  }
  return pcm;
}

// The file is built from lame's output with the tags around it; its frames
// are counted independently and its PCM is compared with mpg123's own output
// for the same file.
TEST_P(ACMStreamFileTest, CountsFramesReadsTagsAndDecodesLikeMpg123) {
  const StreamCase& c = GetParam();
  ASSERT_TRUE(sorvel::testing::RequireTool("mpg123"));
  const fs::path encoded = files_->Get(c.encoding);
  ASSERT_FALSE(encoded.empty());
  const std::string audio = sorvel::testing::ReadFileBytes(encoded);

  std::string file;
  std::string title, performer, comment;
  switch (c.tags) {
    case Tags::kNone:
      file = audio;
      break;
    case Tags::kV2AndV1Cp932:
      file = sorvel::testing::Id3v2Tag("v2 title", false) + audio +
             sorvel::testing::Id3v1Tag(Cp932("日本の歌 No.1"), Cp932("歌手"), "comment");
      title = "日本の歌　Ｎｏ．１";
      performer = "歌手";
      comment = "ｃｏｍｍｅｎｔ";
      break;
    case Tags::kV2FooterAndV1Ascii:
      file = sorvel::testing::Id3v2Tag("v2 title", true) + audio +
             sorvel::testing::Id3v1Tag("Plain Title  ", "Some Band", "");
      title = "Plain Title";
      performer = "Some Band";
      break;
  }
  const fs::path path = files_->dir() / (std::string(c.encoding.name) + "-" +
                                         std::to_string(static_cast<int>(c.tags)) + ".mp3");
  sorvel::testing::WriteFileBytes(path, file);

  ACMStream stream;
  ASSERT_TRUE(stream.OpenFile(QString::fromStdString(path.string()), 44100, 16, true));

  const int expected_frames = sorvel::testing::CountMpegFrames(file);
  EXPECT_GT(expected_frames, 10);
  EXPECT_EQ(stream.FrameCount(), expected_frames);
  const int xing = sorvel::testing::XingFrameCount(audio);
  if (xing >= 0) {
    EXPECT_EQ(stream.FrameCount(), xing + 1);
  }

  const Id3TrackText* text = stream.TrackText();
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Title.toStdString(), title);
  EXPECT_EQ(text->Performer.toStdString(), performer);
  EXPECT_EQ(text->Message.toStdString(), comment);
  EXPECT_EQ(text->TitleEnabled, !title.empty());
  EXPECT_EQ(text->PerformerEnabled, !performer.empty());
  EXPECT_EQ(text->MessageEnabled, !comment.empty());
  EXPECT_TRUE(text->Songwriter.isEmpty() && text->Composer.isEmpty() && text->Arranger.isEmpty());
  EXPECT_FALSE(text->SongwriterEnabled || text->ComposerEnabled || text->ArrangerEnabled);

  const std::vector<int16_t> ours = DecodeAll(stream);
  EXPECT_EQ(stream.ReadFrame(nullptr), -1);  // stays at the end
  EXPECT_LE(static_cast<int64_t>(ours.size()) * 2, stream.DecodeSize());

  const fs::path reference = files_->dir() / (path.stem().string() + "-mpg123.wav");
  std::string out;
  ASSERT_EQ(sorvel::testing::RunCommand("mpg123 -q -r 44100 --stereo -w '" + reference.string() + "' '" +
                                            path.string() + "' 2>&1",
                                        &out),
            0)
      << out;
  sorvel::testing::WavData wav;
  ASSERT_TRUE(sorvel::testing::ReadWav(reference, &wav));
  EXPECT_EQ(wav.rate, 44100);
  EXPECT_EQ(wav.channels, 2);
  // 2.5 s of signal (without a LAME frame, as at 8 kHz, the encoder delay and
  // padding stay in), sample for sample as the mpg123 program decodes it.
  EXPECT_NEAR(static_cast<double>(ours.size()) / 2 / 44100, 2.5, 0.2);
  EXPECT_EQ(ours.size(), wav.samples.size());
  EXPECT_GT(sorvel::testing::Correlation(ours, wav.samples), 0.999);

  EXPECT_TRUE(stream.CloseFile());
  EXPECT_FALSE(stream.CloseFile());
  EXPECT_EQ(stream.TrackText(), nullptr);
  EXPECT_EQ(stream.FrameCount(), 0);
  EXPECT_EQ(stream.FrameSize(), 0);
  EXPECT_EQ(stream.DecodeSize(), 0);
  EXPECT_EQ(stream.ReadFrame(nullptr), 0);
}

std::vector<StreamCase> AllCases() {
  std::vector<StreamCase> cases;
  for (const Encoding& e : kEncodings) {
    for (Tags t : {Tags::kNone, Tags::kV2AndV1Cp932, Tags::kV2FooterAndV1Ascii}) cases.push_back({e, t});
  }
  return cases;
}

std::string CaseName(const ::testing::TestParamInfo<StreamCase>& info) {
  static const char* kTags[] = {"NoTags", "V2AndV1Cp932", "V2FooterAndV1Ascii"};
  return std::string(info.param.encoding.name) + "_" + kTags[static_cast<int>(info.param.tags)];
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ACMStreamFileTest, ::testing::ValuesIn(AllCases()), CaseName);

// The decoder's float output rounded to 16 bits sample by sample, decoded the
// way the layer feeds it: what the layer gave before it took 16-bit samples
// straight from the decoder at 44,100 Hz.
std::vector<int16_t> RoundedFloatDecode(const std::string& file) {
  std::vector<int16_t> pcm;
  mpg123_handle* decoder = mpg123_new(nullptr, nullptr);
  if (decoder == nullptr) return pcm;
  mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_FORCE_STEREO | MPG123_QUIET, 0);
  mpg123_format_none(decoder);
  mpg123_format(decoder, 44100, MPG123_STEREO, MPG123_ENC_FLOAT_32);
  mpg123_open_feed(decoder);
  mpg123_feed(decoder, reinterpret_cast<const unsigned char*>(file.data()), file.size());
  for (int guard = 0; guard < 1000000; ++guard) {
    off_t frame = 0;
    unsigned char* audio = nullptr;
    size_t bytes = 0;
    const int rc = mpg123_decode_frame(decoder, &frame, &audio, &bytes);
    if (rc == MPG123_NEW_FORMAT) continue;
    if (rc != MPG123_OK) break;
    const auto* samples = reinterpret_cast<const float*>(audio);
    for (size_t i = 0; i < bytes / sizeof(float); ++i) {
      const float v = std::nearbyint(samples[i] * 32768.0f);
      pcm.push_back(static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f)));
    }
  }
  mpg123_delete(decoder);
  return pcm;
}

struct PcmCase {
  const char* name;
  int channels;
  const char* lame_args;
  double seconds;
};

class ACMStreamPcmTest : public ::testing::TestWithParam<PcmCase> {};

// At 44,100 Hz the layer's 16-bit output is sample for sample the rounded
// float output it gave before and the mpg123 program's own (clipping, mono
// sources, variable bitrates and a file longer than the window the blocks
// are read through included).
TEST_P(ACMStreamPcmTest, SixteenBitOutputIsTheRoundedFloatOutputAndMpg123s) {
  const PcmCase c = GetParam();
  ASSERT_TRUE(sorvel::testing::RequireTool("mpg123"));
  ScratchDir dir;
  fs::path mp3;
  ASSERT_TRUE(sorvel::testing::EncodeMp3(dir.path(), c.name, 44100, c.channels, c.seconds, c.lame_args, &mp3));
  ACMStream stream;
  ASSERT_TRUE(stream.OpenFile(QString::fromStdString(mp3.string()), 44100, 16, true));
  const std::vector<int16_t> ours = DecodeAll(stream);
  ASSERT_GT(ours.size(), 44100u * 2 * 2);

  const std::vector<int16_t> rounded = RoundedFloatDecode(sorvel::testing::ReadFileBytes(mp3));
  ASSERT_EQ(ours.size(), rounded.size());
  EXPECT_TRUE(ours == rounded) << "first difference at "
                               << std::mismatch(ours.begin(), ours.end(), rounded.begin()).first - ours.begin();

  const fs::path reference = dir / "mpg123.wav";
  std::string out;
  ASSERT_EQ(sorvel::testing::RunCommand(
                "mpg123 -q -r 44100 --stereo -w '" + reference.string() + "' '" + mp3.string() + "' 2>&1", &out),
            0)
      << out;
  sorvel::testing::WavData wav;
  ASSERT_TRUE(sorvel::testing::ReadWav(reference, &wav));
  EXPECT_TRUE(ours == wav.samples) << ours.size() << " against " << wav.samples.size();
  if (std::string(c.name) == "loud") {
    // The signal is driven past full scale: the clipping is part of the comparison.
    EXPECT_GT(std::count_if(ours.begin(), ours.end(), [](int16_t v) { return v == 32767 || v == -32768; }), 100);
  }
}

INSTANTIATE_TEST_SUITE_P(Rates44100, ACMStreamPcmTest,
                         ::testing::Values(PcmCase{"cbr", 2, "-b 192", 3}, PcmCase{"vbr", 2, "-V 2", 3},
                                           PcmCase{"mono", 1, "-b 96 -m m", 3},
                                           PcmCase{"loud", 2, "-b 320 --scale 4", 3},
                                           PcmCase{"long", 2, "-b 320", 40}),
                         [](const ::testing::TestParamInfo<PcmCase>& info) { return std::string(info.param.name); });

class ACMStreamTest : public ::testing::Test {
 protected:
  fs::path Write(const std::string& name, const std::string& bytes) {
    const fs::path p = dir_ / name;
    sorvel::testing::WriteFileBytes(p, bytes);
    return p;
  }
  static QString Q(const fs::path& p) { return QString::fromStdString(p.string()); }
  ScratchDir dir_;
};

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// A synthetic MPEG-1 Layer III 128 kbit/s 44.1 kHz frame of 417 bytes (silence is not needed: only the scan runs).
std::string FakeFrame() {
  std::string f(417, '\0');
  f[0] = '\xFF';
  f[1] = '\xFB';
  f[2] = '\x90';
  f[3] = '\x64';
  return f;
}

TEST_F(ACMStreamTest, RejectsFilesWithoutFrames) {
  ACMStream stream;
  EXPECT_FALSE(stream.OpenFile(Q(dir_ / "missing.mp3"), 44100, 16, true));
  EXPECT_FALSE(stream.OpenFile(Q(Write("empty.mp3", "")), 44100, 16, true));
  EXPECT_FALSE(stream.OpenFile(Q(Write("short.mp3", "ID3")), 44100, 16, true));
  EXPECT_FALSE(stream.OpenFile(Q(Write("text.mp3", Repeat("not an mpeg file at all\r\n", 400))), 44100, 16, true));
  // Headers that are no frames: layer 00, bitrate 0 and 15, sample rate index 3.
  EXPECT_FALSE(stream.OpenFile(
      Q(Write("bad.mp3", Repeat(std::string("\xFF\xF9\x90\x64\xFF\xFB\x00\x64\xFF\xFB\xF0\x64\xFF\xFB\x9C\x64", 16), 50))),
      44100, 16, true));
  // Only a tag.
  EXPECT_FALSE(stream.OpenFile(Q(Write("tag.mp3", sorvel::testing::Id3v1Tag("t", "p", "c"))), 44100, 16, true));
  EXPECT_EQ(stream.TrackText(), nullptr);
  EXPECT_FALSE(stream.CloseFile());
}

TEST_F(ACMStreamTest, ScanSkipsGarbageByteByByteAndNotTheTag) {
  // Garbage before, between frames of a scan step and a tag whose bytes look like a header.
  std::string tag = sorvel::testing::Id3v1Tag("T", "P", std::string("\xFF\xFB\x90\x64", 4));
  const std::string file = "junk" + Repeat(FakeFrame(), 3) + "\xFF\xF9" + Repeat(FakeFrame(), 2) + tag;
  ACMStream stream;
  ASSERT_TRUE(stream.OpenFile(Q(Write("scan.mp3", file)), 44100, 16, true));
  EXPECT_EQ(stream.FrameCount(), 5);
  // 5 frames of 1,152 samples at 44.1 kHz, 4 bytes a sample frame.
  EXPECT_EQ(stream.DecodeSize(), 5 * 1152 * 4);
}

// The scan gives up 1 MiB past the last confirmed frame (one that the next
// frame or the audio's end follows). Headers that chance puts into garbage
// (here one every 17 bytes, none followed by another) are dropped then.
TEST_F(ACMStreamTest, ScanGivesUpAMebibytePastTheLastConfirmedFrame) {
  const std::string frames = Repeat(FakeFrame(), 10);
  const std::string syncs = Repeat(std::string("\xFF\xFB\x90\x64", 4) + std::string(13, '\0'), 3 * 1024 * 1024 / 17);
  const struct {
    const char* name;
    std::string file;
    bool opens;
    int32_t frames;
  } cases[] = {
      {"frames after 0.5 MiB of zeros", std::string(512 * 1024, '\0') + frames, true, 10},
      {"frames after 1.5 MiB of zeros", std::string(1536 * 1024, '\0') + frames, false, 0},
      {"3 MiB of zeros", std::string(3 * 1024 * 1024, '\0'), false, 0},
      {"3 MiB of lone syncs", syncs, false, 0},
      {"frames, then lone syncs", frames + syncs, true, 10},
      {"frames, lone syncs, frames", frames + syncs + frames, true, 10},
      {"frames around 0.5 MiB of zeros", frames + std::string(512 * 1024, '\0') + frames, true, 20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ACMStream stream;
    EXPECT_EQ(stream.OpenFile(Q(Write("scan.mp3", c.file)), 44100, 16, true), c.opens);
    EXPECT_EQ(stream.FrameCount(), c.frames);
  }
}

TEST_F(ACMStreamTest, ZeroLengthBlockAfterTagIsSkipped) {
  // Two zero bytes at the audio start announce a block to step over.
  const std::string file = std::string("\0\0\0\x08", 4) + std::string(8, 'x') + Repeat(FakeFrame(), 2);
  ACMStream stream;
  ASSERT_TRUE(stream.OpenFile(Q(Write("skip.mp3", file)), 44100, 16, true));
  EXPECT_EQ(stream.FrameCount(), 2);
}

TEST_F(ACMStreamTest, DecodeSizeCountsOutputSamplesOfEveryRate) {
  // MPEG-2 Layer III 64 kbit/s 22.05 kHz frames: 208 bytes, 576 samples, 1,152 at 44.1 kHz.
  std::string frame(208, '\0');
  frame.replace(0, 4, "\xFF\xF3\x80\xC4", 4);
  ACMStream stream;
  ASSERT_TRUE(stream.OpenFile(Q(Write("m2.mp3", Repeat(frame, 10))), 44100, 16, true));
  EXPECT_EQ(stream.FrameCount(), 10);
  EXPECT_EQ(stream.DecodeSize(), 10 * 1152 * 4);
}

TEST_F(ACMStreamTest, OnlyTheFixedOutputFormatOpens) {
  const fs::path p = Write("f.mp3", Repeat(FakeFrame(), 4));
  ACMStream stream;
  EXPECT_FALSE(stream.OpenFile(Q(p), 48000, 16, true));
  EXPECT_FALSE(stream.OpenFile(Q(p), 44100, 8, true));
  EXPECT_FALSE(stream.OpenFile(Q(p), 44100, 16, false));
  EXPECT_TRUE(stream.OpenFile(Q(p), 44100, 16, true));
}

TEST_F(ACMStreamTest, NoTagGivesEmptyTexts) {
  ACMStream stream;
  ASSERT_TRUE(stream.OpenFile(Q(Write("n.mp3", Repeat(FakeFrame(), 2))), 44100, 16, true));
  const Id3TrackText* t = stream.TrackText();
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(t->Title.isEmpty() && t->Performer.isEmpty() && t->Message.isEmpty());
  EXPECT_FALSE(t->TitleEnabled || t->PerformerEnabled || t->MessageEnabled);
}

// Damaged files: bytes overwritten and the file cut short at seeded random
// places. Each must open or not, and decode to its end without a fault.
TEST_F(ACMStreamTest, DamagedFilesDecodeToTheirEnd) {
  fs::path mp3;
  ASSERT_TRUE(sorvel::testing::EncodeMp3(dir_.path(), "damaged", 22050, 2, 1.0, "-V 5", &mp3));
  const std::string clean = sorvel::testing::ReadFileBytes(mp3);
  std::mt19937 random(20240601);
  for (int round = 0; round < 40; ++round) {
    std::string file = clean;
    const int hits = 1 + static_cast<int>(random() % 60);
    for (int i = 0; i < hits; ++i) file[random() % file.size()] = static_cast<char>(random());
    if (round % 3 == 0) file.resize(random() % file.size());
    ACMStream stream;
    if (!stream.OpenFile(Q(Write("d.mp3", file)), 44100, 16, true)) continue;
    std::vector<uint8_t> buffer(static_cast<size_t>(stream.FrameSize()));
    size_t blocks = 0;
    for (int32_t n; (n = stream.ReadFrame(buffer.data())) >= 0 && blocks < file.size(); ++blocks) {
      ASSERT_LE(n, stream.FrameSize());
      ASSERT_EQ(n % 4, 0);
    }
    EXPECT_LT(blocks, file.size()) << "round " << round;
  }
}

// A LAME frame whose frame count was damaged to about a billion: decoding
// still gives the audio that is there, promptly (the length it claims is not walked).
TEST_F(ACMStreamTest, DamagedLengthInTheLameFrameIsNotTrusted) {
  fs::path mp3;
  ASSERT_TRUE(sorvel::testing::EncodeMp3(dir_.path(), "claims", 22050, 2, 1.0, "-V 5", &mp3));
  std::string file = sorvel::testing::ReadFileBytes(mp3);
  ASSERT_GE(sorvel::testing::XingFrameCount(file), 0);
  const size_t at = std::min(file.find("Xing"), file.find("Info"));
  file.replace(at + 8, 4, std::string("\x3F\x00\x00\x29", 4));
  ASSERT_EQ(sorvel::testing::XingFrameCount(file), 0x3F000029);

  ACMStream stream;
  ASSERT_TRUE(stream.OpenFile(Q(Write("claims.mp3", file)), 44100, 16, true));
  std::vector<uint8_t> buffer(static_cast<size_t>(stream.FrameSize()));
  int64_t bytes = 0;
  for (int32_t n; (n = stream.ReadFrame(buffer.data())) >= 0;) bytes += n;
  EXPECT_NEAR(static_cast<double>(bytes) / 176400, 1.0, 0.1);
}

TEST(Id3TrackTextTest, FullWidthForms) {
  EXPECT_EQ(ToFullWidth(QStringLiteral("Ab 1~!")).toStdString(), "Ａｂ　１～！");
  EXPECT_EQ(ToFullWidth(QStringLiteral("ｶﾞｯｺｳ ﾊﾟﾝ ﾞ")).toStdString(), "ガッコウ　パン　゛");
  EXPECT_EQ(ToFullWidth(QStringLiteral("漢字")).toStdString(), "漢字");
}

TEST(Id3TrackTextTest, HalfWidthCheck) {
  Id3TrackText t;
  EXPECT_FALSE(t.IsHalfWidth());
  t.Message = QStringLiteral("   ");
  EXPECT_FALSE(t.IsHalfWidth());
  t.Title = QStringLiteral("ABC");
  EXPECT_TRUE(t.IsHalfWidth());
  t.Arranger = QStringLiteral("ｶﾅ");
  EXPECT_TRUE(t.IsHalfWidth());
  t.Performer = QStringLiteral("漢");
  EXPECT_FALSE(t.IsHalfWidth());
}

}  // namespace
}  // namespace sorvel::jobs
