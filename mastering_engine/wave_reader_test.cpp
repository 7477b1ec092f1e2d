#include "mastering_engine/wave_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "mastering_engine/wave_test_files.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::Chunk;
using testing::FmtChunk;
using testing::Pcm;
using testing::Riff;

struct WaveCase {
  const char* name;
  std::string bytes;
  bool valid;
  bool cd_audio;
  uint64_t data_bytes;
  std::string expected_pcm;  // the bytes Read hands out
};

std::vector<WaveCase> Cases() {
  const std::string pcm = Pcm(1000);
  std::string oversized = Riff(FmtChunk() + "data");
  testing::PutLe32(oversized, 0x7FFFFFF0u);
  oversized += pcm;
  std::string truncated_header = Riff(FmtChunk()).substr(0, 30);
  std::string no_data = Riff(FmtChunk() + Chunk("LIST", "abc"));
  std::string truncated_fmt = Riff(FmtChunk()).substr(0, 12 + 8 + 10);
  std::string cut_chunk = Riff(FmtChunk() + "LIST");  // a chunk header cut short
  testing::PutLe32(cut_chunk, 100);
  cut_chunk += "xy";
  return {
      {"plain", testing::CdWave(pcm), true, true, 1000, pcm},
      {"fmt18", Riff(FmtChunk(18) + Chunk("data", pcm)), true, true, 1000, pcm},
      {"fmt40", Riff(FmtChunk(40) + Chunk("data", pcm)), true, true, 1000, pcm},
      {"fmt_odd_size", Riff(FmtChunk(17) + Chunk("data", pcm)), true, true, 1000, pcm},
      {"odd_list_before_data", Riff(FmtChunk() + Chunk("LIST", "INFOabcde") + Chunk("data", pcm)), true, true,
       1000, pcm},
      {"junk_before_fmt", Riff(Chunk("JUNK", std::string(27, 'j')) + FmtChunk() + Chunk("data", pcm)), true, true,
       1000, pcm},
      {"odd_data_then_chunk", Riff(FmtChunk() + Chunk("data", pcm.substr(0, 999)) + Chunk("LIST", "zz")), true,
       true, 999, pcm.substr(0, 999)},
      {"oversized_data", oversized, true, true, 1000, pcm},
      {"truncated_data", testing::CdWave(pcm).substr(0, 44 + 500), true, true, 500, pcm.substr(0, 500)},
      {"empty_data", testing::CdWave(""), true, true, 0, ""},
      {"mono", Riff(FmtChunk(16, 1, 1) + Chunk("data", pcm)), true, false, 1000, pcm},
      {"rate48000", Riff(FmtChunk(16, 1, 2, 48000) + Chunk("data", pcm)), true, false, 1000, pcm},
      {"bits8", Riff(FmtChunk(16, 1, 2, 44100, 8) + Chunk("data", pcm)), true, false, 1000, pcm},
      {"float", Riff(FmtChunk(16, 3) + Chunk("data", pcm)), true, false, 1000, pcm},
      {"fmt_too_small", Riff(Chunk("fmt ", std::string(14, '\0')) + Chunk("data", pcm)), false, false, 0, ""},
      {"data_before_fmt", Riff(Chunk("data", pcm) + FmtChunk()), false, false, 0, ""},
      {"no_data_chunk", no_data, false, false, 0, ""},
      {"no_fmt_chunk", Riff(Chunk("data", pcm)), false, false, 0, ""},
      {"truncated_header", truncated_header, false, false, 0, ""},
      {"truncated_fmt", truncated_fmt, false, false, 0, ""},
      {"chunk_past_end", cut_chunk, false, false, 0, ""},
      {"not_riff", "RIFX" + testing::CdWave(pcm).substr(4), false, false, 0, ""},
      {"not_wave", testing::CdWave(pcm).substr(0, 8) + "AVI " + testing::CdWave(pcm).substr(12), false, false, 0,
       ""},
      {"text_file", "This is not a WAV file at all, just text.\n", false, false, 0, ""},
      {"empty_file", "", false, false, 0, ""},
  };
}

void PrintTo(const WaveCase& c, std::ostream* os) { *os << c.name; }

class WaveReaderCases : public ::testing::TestWithParam<WaveCase> {};

TEST_P(WaveReaderCases, ParsesAsExpected) {
  const WaveCase& c = GetParam();
  testing::ScratchDir dir;
  auto path = dir / "in.wav";
  testing::WriteFile(path, c.bytes);
  WaveReader reader;
  ASSERT_EQ(reader.Open(path.string()), c.valid);
  EXPECT_EQ(reader.IsOpen(), c.valid);
  if (!c.valid) return;
  EXPECT_EQ(reader.Format().IsCdAudio(), c.cd_audio);
  EXPECT_EQ(reader.DataBytes(), c.data_bytes);
  std::string got;
  uint8_t buffer[333];
  for (int i = 0; i < 100; ++i) {
    int64_t n = reader.Read(buffer, sizeof buffer);
    ASSERT_GE(n, 0);
    if (n == 0) break;
    got.append(reinterpret_cast<char*>(buffer), static_cast<size_t>(n));
  }
  EXPECT_EQ(got, c.expected_pcm);
  EXPECT_EQ(reader.BytesLeft(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Files, WaveReaderCases, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<WaveCase>& info) { return std::string(info.param.name); });

TEST(WaveReader, RefusesMissingFilesAndDirectories) {
  testing::ScratchDir dir;
  WaveReader reader;
  EXPECT_FALSE(reader.Open((dir / "missing.wav").string()));
  EXPECT_FALSE(reader.Open(dir.path().string()));
  EXPECT_FALSE(reader.IsOpen());
  uint8_t b[4];
  EXPECT_EQ(reader.Read(b, 4), -1);
}

TEST(WaveReader, ReadsNoMoreThanTheDataChunkAndReopens) {
  testing::ScratchDir dir;
  auto path = dir / "a.wav";
  std::string pcm = Pcm(10);
  testing::WriteFile(path, Riff(FmtChunk() + Chunk("data", pcm) + Chunk("LIST", "trailing")));
  WaveReader reader;
  ASSERT_TRUE(reader.Open(path.string()));
  uint8_t buffer[64];
  EXPECT_EQ(reader.Read(buffer, sizeof buffer), 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), pcm);
  EXPECT_EQ(reader.Read(buffer, sizeof buffer), 0);
  ASSERT_TRUE(reader.Open(path.string()));
  EXPECT_EQ(reader.BytesLeft(), 10u);
  reader.Close();
  EXPECT_TRUE(reader.Path().empty());
}

// A WAV file rewritten in place while its samples are read (same size, its
// modification time moved) fails at its last samples: the track would be
// part old, part new. Once, the read ended as if nothing had happened.
TEST(WaveReader, FileRewrittenWhileReadFailsAtItsEnd) {
  testing::ScratchDir dir;
  auto path = dir / "a.wav";
  const std::string pcm = Pcm(100);
  const std::string bytes = Riff(FmtChunk() + Chunk("data", pcm));
  testing::WriteFile(path, bytes);
  // An old modification time: the rewrite's own time differs from it on any clock.
  const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  WaveReader reader;
  ASSERT_TRUE(reader.Open(path.string()));
  uint8_t buffer[64];
  ASSERT_EQ(reader.Read(buffer, 40), 40);
  {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(bytes.size() - 10));
    file.write("0123456789", 10);
  }
  EXPECT_EQ(reader.Read(buffer, 40), 40);
  EXPECT_EQ(reader.Read(buffer, 40), -1);
}

}  // namespace
}  // namespace sorvel
