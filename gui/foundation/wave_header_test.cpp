#include "gui/foundation/wave_header.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "testing/test_paths.h"

namespace sorvel {
namespace {

uint32_t Le32(const WaveHeader& h, int at) {
  return h.bytes[at] | h.bytes[at + 1] << 8 | h.bytes[at + 2] << 16 | static_cast<uint32_t>(h.bytes[at + 3]) << 24;
}
uint32_t Le16(const WaveHeader& h, int at) { return h.bytes[at] | h.bytes[at + 1] << 8; }

TEST(WaveHeaderTest, FieldsFollowTheCanonicalLayout) {
  struct Case {
    uint32_t data_size, rate, bits;
    bool stereo;
    uint32_t riff_size, channels, byte_rate, block_align;
  };
  const Case cases[] = {
      {0, 44100, 16, true, 36, 2, 176400, 4},
      {23520, 44100, 16, true, 23556, 2, 176400, 4},
      {100, 22050, 8, false, 136, 1, 22050, 1},
      {0xFFFFFFFFu - 36, 44100, 16, true, 0xFFFFFFFFu, 2, 176400, 4},
  };
  for (const Case& c : cases) {
    std::optional<WaveHeader> h = MakeWaveHeader(c.data_size, c.rate, c.bits, c.stereo);
    ASSERT_TRUE(h.has_value());
    EXPECT_EQ(std::string(h->data(), 4), "RIFF");
    EXPECT_EQ(Le32(*h, 4), c.riff_size);
    EXPECT_EQ(std::string(h->data() + 8, 8), "WAVEfmt ");
    EXPECT_EQ(Le32(*h, 16), 16u);
    EXPECT_EQ(Le16(*h, 20), 1u);
    EXPECT_EQ(Le16(*h, 22), c.channels);
    EXPECT_EQ(Le32(*h, 24), c.rate);
    EXPECT_EQ(Le32(*h, 28), c.byte_rate);
    EXPECT_EQ(Le16(*h, 32), c.block_align);
    EXPECT_EQ(Le16(*h, 34), c.bits);
    EXPECT_EQ(std::string(h->data() + 36, 4), "data");
    EXPECT_EQ(Le32(*h, 40), c.data_size);
  }
}

TEST(WaveHeaderTest, RefusesWhatAWaveHeaderCannotHold) {
  EXPECT_FALSE(MakeWaveHeader(0xFFFFFFFFu - 35, 44100, 16, true));  // RIFF size beyond 32 bits
  EXPECT_FALSE(MakeWaveHeader(0, 0, 16, true));
  EXPECT_FALSE(MakeWaveHeader(0, 44100, 0, true));
  EXPECT_FALSE(MakeWaveHeader(0, 44100, 4, false));                 // no whole byte per block
  EXPECT_FALSE(MakeWaveHeader(0, 44100, 0x10000, false));
  EXPECT_FALSE(MakeWaveHeader(0, 0x7FFFFFFF, 32, true));           // byte rate beyond 32 bits
}

// Writes a header and `data_size` zero bytes of samples.
void WriteWave(const std::string& path, uint32_t data_size, uint32_t rate, uint32_t bits, bool stereo) {
  std::optional<WaveHeader> h = MakeWaveHeader(data_size, rate, bits, stereo);
  ASSERT_TRUE(h.has_value());
  std::ofstream out(path, std::ios::binary);
  out.write(h->data(), WaveHeader::size());
  std::vector<char> samples(data_size, 0);
  out.write(samples.data(), static_cast<std::streamsize>(samples.size()));
}

TEST(WaveHeaderTest, PythonWaveAndSoxiReadTheFiles) {
  if (!sorvel::testing::RequireTool("python3") || !sorvel::testing::RequireTool("soxi")) return;
  sorvel::testing::ScratchDir dir;
  struct Case {
    uint32_t sectors, rate, bits;
    bool stereo;
    const char* python, *soxi;
  };
  const Case cases[] = {
      {10, 44100, 16, true, "2 2 44100 5880", "2 44100 16 5880"},
      {1, 22050, 8, false, "1 1 22050 2352", "1 22050 8 2352"},
      {0, 44100, 16, true, "2 2 44100 0", "2 44100 16 0"},
  };
  for (const Case& c : cases) {
    const std::string path = (dir / "t.wav").string();
    WriteWave(path, c.sectors * 2352, c.rate, c.bits, c.stereo);
    std::string out;
    ASSERT_EQ(sorvel::testing::RunCommand(
                  "python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); "
                  "print(w.getnchannels(), w.getsampwidth(), w.getframerate(), w.getnframes())\" " + path,
                  &out),
              0);
    EXPECT_EQ(out, std::string(c.python) + "\n");
    out.clear();
    ASSERT_EQ(sorvel::testing::RunCommand("soxi -c " + path + " && soxi -r " + path + " && soxi -b " + path +
                                              " && soxi -s " + path,
                                          &out),
              0);
    std::string joined;
    for (char ch : out) joined += ch == '\n' ? ' ' : ch;
    EXPECT_EQ(joined, std::string(c.soxi) + " ");
  }
}

}  // namespace
}  // namespace sorvel
