#include "mastering_engine/track_layer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <limits>

#include "mastering_engine/wave_test_files.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::Pcm;

// A data area standing in for the ISO layout: `length` sectors whose block n is
// filled with the byte n + 1 for the first `filled` blocks.
class FakeDataArea : public DataTrackSource {
 public:
  bool has_data = false;
  int32_t length = 300;
  int32_t filled = 20;
  int32_t fail_block = -1;
  int ends = 0;
  int clears = 0;

  bool HasDataArea() const override { return has_data; }
  int32_t StartDataTrack(const std::string& label) override {
    label_ = label;
    next_ = 0;
    ready_ = true;
    return length;
  }
  bool ReadDataBlock(uint8_t* block) override {
    if (!ready_) return false;
    int32_t n = next_++;
    if (n < filled) std::memset(block, n + 1, 2048);
    return n != fail_block;
  }
  void EndDataTrack() override {
    ready_ = false;
    ++ends;
  }
  int32_t DataTrackLengthEstimate() override { return 22; }
  void ClearDataArea() override {
    has_data = false;
    ++clears;
  }
  const std::string& label() const { return label_; }

 private:
  std::string label_;
  int32_t next_ = 0;
  bool ready_ = false;
};

struct TocEntry {
  int session, track, index, flags, mode;
  int32_t start, end;
  bool operator==(const TocEntry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TocEntry& e) {
  return os << "{" << e.session << "," << e.track << "," << e.index << "," << e.flags << "," << e.mode << ","
            << e.start << "," << e.end << "}";
}

std::vector<TocEntry> Entries(const TrackLayer& layer) {
  uint8_t part[2 + 256 * 13] = {};
  int32_t size = layer.Toc().GetPart(0, part, sizeof part);
  std::vector<TocEntry> out;
  if (size < 2) return out;
  int count = part[0] | part[1] << 8;
  for (int i = 0; i < count; ++i) {
    const uint8_t* e = part + 2 + 13 * i;
    auto le = [](const uint8_t* p) { return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24); };
    out.push_back({e[0], e[1], e[2], e[3], e[4], le(e + 5), le(e + 9)});
  }
  return out;
}

class TrackLayerTest : public ::testing::Test {
 protected:
  std::string Wave(const std::string& name, const std::string& pcm) {
    auto path = dir_ / name;
    testing::WriteFile(path, testing::CdWave(pcm));
    return path.string();
  }
  std::string Sector(TrackLayer& layer, bool raw, bool* ok = nullptr) {
    std::string s(2352, '\x55');
    bool result = layer.Read(reinterpret_cast<uint8_t*>(s.data()), raw);
    if (ok) *ok = result;
    return s;
  }
  int32_t Start(TrackLayer& layer, const std::string& label = "LABEL") {
    ::testing::internal::CaptureStdout();
    int32_t total = layer.ReadStart(label);
    toc_dump_ = ::testing::internal::GetCapturedStdout();
    return total;
  }

  testing::ScratchDir dir_;
  FakeDataArea data_;
  std::string toc_dump_;
};

TEST_F(TrackLayerTest, EmptyLayoutStreamsNothing) {
  TrackLayer layer(data_);
  EXPECT_EQ(layer.GetTrackCount(), 0);
  EXPECT_EQ(Start(layer), 0);
  EXPECT_TRUE(Entries(layer).empty());
  bool ok = true;
  EXPECT_EQ(Sector(layer, true, &ok), std::string(2352, '\0'));
  EXPECT_FALSE(ok);
  EXPECT_EQ(toc_dump_, "==== TOC Information ====\n==== TOC Information ====\n");
}

TEST_F(TrackLayerTest, TrackLengthsAndFormatChecks) {
  TrackLayer layer(data_);
  struct Case {
    std::string bytes;
    bool accepted;
    int32_t length;
  } cases[] = {
      {testing::CdWave(Pcm(2352 * 10)), true, 300},
      {testing::CdWave(Pcm(2352 * 400 + 1)), true, 401},
      {testing::CdWave(Pcm(2352 * 300)), true, 300},
      {testing::Riff(testing::FmtChunk(16, 1, 2, 48000) + testing::Chunk("data", Pcm(100))), false, 0},
      {testing::Riff(testing::FmtChunk(16, 1, 1) + testing::Chunk("data", Pcm(100))), false, 0},
      {testing::Riff(testing::FmtChunk(16, 1, 2, 44100, 8) + testing::Chunk("data", Pcm(100))), false, 0},
      {testing::Riff(testing::FmtChunk() + testing::Chunk("LIST", "odd") + testing::Chunk("data", Pcm(2352 * 301))),
       true, 301},
      {"not a wave file", false, 0},
  };
  int index = 0;
  for (const Case& c : cases) {
    std::string name = std::to_string(index);
    name += ".wav";
    auto path = dir_ / name;
    testing::WriteFile(path, c.bytes);
    SCOPED_TRACE(index);
    int before = layer.GetTrackCount();
    ASSERT_EQ(layer.AddTrack(path.string(), 0, 0, 0), c.accepted);
    if (!c.accepted) {
      EXPECT_EQ(layer.GetTrackCount(), before);
    } else {
      TrackInfo info;
      ASSERT_TRUE(layer.GetTrackInformation(before, &info));
      EXPECT_EQ(info.length, c.length);
      EXPECT_EQ(info.path, path.string());
    }
    ++index;
  }
  EXPECT_FALSE(layer.AddTrack((dir_ / "missing.wav").string(), 0, 0, 0));
  EXPECT_FALSE(layer.AddTrack(Wave("g.wav", Pcm(10)), -1, 0, 0));
  EXPECT_FALSE(layer.AddTrack(Wave("g.wav", Pcm(10)), 0, -5, 0));
}

TEST_F(TrackLayerTest, AtMostNinetyNineTracksOnTheDisc) {
  std::string wav = Wave("a.wav", Pcm(16));
  TrackLayer layer(data_);
  for (int i = 0; i < 99; ++i) ASSERT_TRUE(layer.AddTrack(wav, 0, 0, 0)) << i;
  EXPECT_FALSE(layer.AddTrack(wav, 0, 0, 0));
  EXPECT_EQ(layer.GetTrackCount(), 99);

  FakeDataArea with_data;
  with_data.has_data = true;
  TrackLayer mixed(with_data);
  for (int i = 0; i < 98; ++i) ASSERT_TRUE(mixed.AddTrack(wav, 0, 0, 0)) << i;
  EXPECT_FALSE(mixed.AddTrack(wav, 0, 0, 0));
  EXPECT_EQ(mixed.GetTrackCount(), 99);
}

TEST_F(TrackLayerTest, IndicesAndInformationWithAndWithoutDataArea) {
  std::string a = Wave("a.wav", Pcm(100)), b = Wave("b.wav", Pcm(2352 * 500));
  TrackLayer layer(data_);
  ASSERT_TRUE(layer.AddTrack(a, 0, 7, 6));
  ASSERT_TRUE(layer.AddTrack(b, 33, 0, 0));
  TrackInfo info;
  ASSERT_TRUE(layer.GetTrackInformation(0, &info));
  EXPECT_EQ(info.pregap, 150);  // the first track always reports 150
  EXPECT_EQ(info.postgap, 7);
  EXPECT_EQ(info.control, 2);  // the data bit of an audio track is dropped
  ASSERT_TRUE(layer.GetTrackInformation(1, &info));
  EXPECT_EQ(info.pregap, 33);
  EXPECT_EQ(info.length, 500);
  info.length = -9;
  EXPECT_FALSE(layer.GetTrackInformation(2, &info));
  EXPECT_FALSE(layer.GetTrackInformation(-1, &info));
  EXPECT_EQ(info.length, -9);

  data_.has_data = true;
  EXPECT_EQ(layer.GetTrackCount(), 3);
  ASSERT_TRUE(layer.GetTrackInformation(0, &info));
  EXPECT_EQ(info.path, "");
  EXPECT_EQ(info.pregap, 150);
  EXPECT_EQ(info.control, 4);
  EXPECT_EQ(info.length, 22);
  ASSERT_TRUE(layer.GetTrackInformation(1, &info));
  EXPECT_EQ(info.path, a);
  EXPECT_EQ(info.pregap, 0);  // no longer the first track of the disc

  EXPECT_FALSE(layer.ResetTrack(0, b, 0, 0, 0));  // the data track is no audio track
  ASSERT_TRUE(layer.SetTrackText(2, 0, 0, "kept"));
  ASSERT_TRUE(layer.ResetTrack(1, b, 10, 20, 1));
  ASSERT_TRUE(layer.GetTrackInformation(1, &info));
  EXPECT_EQ(info.path, b);
  EXPECT_EQ(info.length, 500);
  EXPECT_EQ(info.pregap, 10);
  EXPECT_EQ(info.control, 1);
  EXPECT_EQ(layer.GetTrackText(2, 0, 0), "kept");
  EXPECT_FALSE(layer.ResetTrack(1, (dir_ / "missing.wav").string(), 0, 0, 0));
  EXPECT_FALSE(layer.ResetTrack(3, a, 0, 0, 0));

  // Index 0 with a data area empties the data area and keeps the audio tracks.
  ASSERT_TRUE(layer.RemoveTrack(0));
  EXPECT_EQ(data_.clears, 1);
  EXPECT_EQ(layer.GetTrackCount(), 2);
  ASSERT_TRUE(layer.RemoveTrack(0));
  EXPECT_EQ(layer.GetTrackCount(), 1);
  ASSERT_TRUE(layer.GetTrackInformation(0, &info));
  EXPECT_EQ(info.path, b);
  EXPECT_FALSE(layer.RemoveTrack(1));
}

// Extreme indices are refused without arithmetic overflow (the sanitizer build checks).
TEST_F(TrackLayerTest, ExtremeIndicesAreRefused) {
  std::string a = Wave("a.wav", Pcm(100));
  TrackLayer layer(data_);
  ASSERT_TRUE(layer.AddTrack(a, 0, 0, 0));
  for (bool has_data : {false, true}) {
    data_.has_data = has_data;
    for (int32_t index : {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
      TrackInfo info;
      info.length = -9;
      EXPECT_FALSE(layer.GetTrackInformation(index, &info)) << index;
      EXPECT_EQ(info.length, -9);
      EXPECT_FALSE(layer.ResetTrack(index, a, 0, 0, 0)) << index;
      if (!(has_data && index == 0)) {
        EXPECT_FALSE(layer.RemoveTrack(index)) << index;
      }
      EXPECT_FALSE(layer.SetTrackText(std::numeric_limits<int32_t>::max(), 0, 0, "x"));
      EXPECT_EQ(layer.GetTrackText(std::numeric_limits<int32_t>::max(), 0, 0), "");
    }
  }
  EXPECT_EQ(layer.AudioTrackCount(), 1);
}

// A disc whose sectors no longer fit the 32-bit LBAs of the TOC is refused, not wrapped.
TEST_F(TrackLayerTest, LayoutBeyondThe32BitLbaRangeIsRefused) {
  std::string a = Wave("a.wav", Pcm(100));
  TrackLayer layer(data_);
  data_.has_data = true;
  data_.length = std::numeric_limits<int32_t>::max() - 1000;
  ASSERT_TRUE(layer.AddTrack(a, 0, TrackLayer::kMaxGap, 0));
  EXPECT_EQ(Start(layer), 0);
  EXPECT_EQ(layer.Toc().Count(TST_TOC), 0);
  uint8_t sector[2352];
  EXPECT_FALSE(layer.Read(sector, false));
}

TEST_F(TrackLayerTest, TextsByTocTrackNumber) {
  std::string a = Wave("a.wav", Pcm(100));
  TrackLayer layer(data_);
  ASSERT_TRUE(layer.AddTrack(a, 0, 0, 0));
  ASSERT_TRUE(layer.SetTrackText(1, 0, 0, "A"));  // without data: the first audio track
  EXPECT_EQ(layer.GetTrackText(1, 0, 0), "A");
  EXPECT_FALSE(layer.SetTrackText(2, 0, 0, "beyond"));
  EXPECT_EQ(layer.GetTrackText(2, 0, 0), "");
  ASSERT_TRUE(layer.SetTrackText(0, 1, 5, "メッセージ"));
  EXPECT_EQ(layer.GetTrackText(-3, 1, 5), "メッセージ");
  EXPECT_FALSE(layer.SetTrackText(0, 2, 0, "bad block"));
  EXPECT_FALSE(layer.SetTrackText(0, 0, 6, "bad kind"));
  EXPECT_EQ(layer.GetTrackText(0, 0, 6), "");

  data_.has_data = true;
  ASSERT_TRUE(layer.SetTrackText(1, 0, 0, "Data"));  // with data: the data track
  EXPECT_EQ(layer.GetTrackText(1, 0, 0), "Data");
  EXPECT_EQ(layer.GetTrackText(2, 0, 0), "A");

  layer.ClearTrack();
  EXPECT_EQ(layer.GetTrackText(0, 1, 5), "");
  EXPECT_EQ(layer.GetTrackText(1, 0, 0), "");
  EXPECT_EQ(layer.GetTrackCount(), 1);
}

TEST_F(TrackLayerTest, AudioOnlyLayoutSkipsTheFirstPregap) {
  std::string pcm1 = Pcm(2352 * 300 + 100, 1), pcm2 = Pcm(2352 * 301, 2);
  TrackLayer layer(data_);
  ASSERT_TRUE(layer.AddTrack(Wave("1.wav", pcm1), 150, 2, 0));
  ASSERT_TRUE(layer.AddTrack(Wave("2.wav", pcm2), 150, 0, 2));
  ASSERT_EQ(Start(layer), 301 + 2 + 150 + 301);
  EXPECT_EQ(Entries(layer), (std::vector<TocEntry>{{1, 1, 1, 0, 0, 0, 302},
                                                   {1, 2, 0, 2, 0, 303, 452},
                                                   {1, 2, 1, 2, 0, 453, 753}}));
  EXPECT_NE(toc_dump_.find("01 02 00 02 00    303    452\n"), std::string::npos) << toc_dump_;

  std::string stream;
  ::testing::internal::CaptureStdout();
  for (int i = 0; i < 754; ++i) {
    bool ok = false;
    stream += Sector(layer, i % 2 == 0, &ok);
    ASSERT_TRUE(ok) << i;
  }
  std::string out = ::testing::internal::GetCapturedStdout();
  bool ok = true;
  Sector(layer, false, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(out, "Open AUDIO TRACK '" + (dir_ / "1.wav").string() + "'\nOpen AUDIO TRACK '" +
                     (dir_ / "2.wav").string() + "'\n");
  std::string track1 = pcm1 + std::string(2352 * 301 - pcm1.size(), '\0') + std::string(2352 * 2, '\0');
  EXPECT_TRUE(stream.compare(0, track1.size(), track1) == 0);
  EXPECT_TRUE(stream.substr(2352 * 303, 2352 * 150) == std::string(2352 * 150, '\0'));
  EXPECT_TRUE(stream.compare(2352 * 453, pcm2.size(), pcm2) == 0);
  layer.ReadEnd();

  // The layout survives the stream and streams again the same.
  ASSERT_EQ(Start(layer), 754);
  EXPECT_EQ(Sector(layer, false), pcm1.substr(0, 2352));
}

TEST_F(TrackLayerTest, DataTrackThenAudioWithoutPregap) {
  data_.has_data = true;
  std::string pcm = Pcm(4000, 3);
  TrackLayer layer(data_);
  ASSERT_TRUE(layer.AddTrack(Wave("1.wav", pcm), 0, 0, 4 | 1));
  ASSERT_TRUE(layer.SetTrackText(1, 0, 0, "data"));
  ASSERT_EQ(Start(layer, "VOL"), 600);
  EXPECT_EQ(data_.label(), "VOL");
  EXPECT_EQ(Entries(layer), (std::vector<TocEntry>{{1, 1, 1, 4, 1, 0, 299}, {1, 2, 1, 1, 0, 300, 599}}));
  // CD-Text is off: part 4 stays empty.
  uint8_t part4[64];
  EXPECT_EQ(layer.Toc().GetPart(4, part4, sizeof part4), 0);

  std::string s = Sector(layer, false);
  EXPECT_EQ(s, std::string(2048, '\x01') + std::string(304, '\0'));
  s = Sector(layer, true);  // LBA 1 raw: user data at 16, header 00:02:01 mode 1
  EXPECT_EQ(s.substr(0, 12), std::string("\0\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\0", 12));
  EXPECT_EQ(s.substr(12, 4), std::string("\x00\x02\x01\x01", 4));
  EXPECT_EQ(s.substr(16, 2048), std::string(2048, '\x02'));
  for (int i = 2; i < 300; ++i) Sector(layer, false);
  EXPECT_EQ(data_.ends, 2);  // at ReadStart and after the last data sector
  bool ok = false;
  ::testing::internal::CaptureStdout();
  s = Sector(layer, true, &ok);  // audio is never encoded as data, raw or not
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(ok);
  EXPECT_EQ(s, pcm.substr(0, 2352));
}

TEST_F(TrackLayerTest, RawDataSectorAtLbaZeroHasTheHeaderOfLba150) {
  data_.has_data = true;
  TrackLayer layer(data_);
  ASSERT_EQ(Start(layer), 300);
  std::string s = Sector(layer, true);
  EXPECT_EQ(s.substr(12, 4), std::string("\x00\x02\x00\x01", 4));
}

TEST_F(TrackLayerTest, DataReadErrorFailsTheSectorAndTheStreamGoesOn) {
  data_.has_data = true;
  data_.fail_block = 5;
  TrackLayer layer(data_);
  ASSERT_EQ(Start(layer), 300);
  for (int i = 0; i < 300; ++i) {
    bool ok = false;
    Sector(layer, true, &ok);
    EXPECT_EQ(ok, i != 5) << i;
  }
  EXPECT_EQ(layer.RunningLba(), 300);
}

// A WAV that grew streams the bytes it had; one that shrank fails every
// sector its data no longer fills (it once streamed a silent tail as success).
// A WAV file that is not what its track took when the stream opens it fails
// every sector of the track's data, zero-filled: grown (once cut at the old
// size and passed), shrunk, of another rate, with its samples further in
// (once streamed from the wrong offset). The last two are written over the
// file in place at its old size and given back its time, so only the WAV
// layout tells. An untouched file passes.
TEST_F(TrackLayerTest, WaveThatChangedSinceItWasAddedFailsItsTrack) {
  const std::string pcm = Pcm(2352 * 2 + 10, 4);
  struct Case {
    const char* name;
    std::string bytes;  // written over the file; empty: untouched
    bool keep_time;
  };
  const Case cases[] = {
      {"grown", testing::CdWave(pcm + Pcm(5000, 9)), false},
      {"shrunk", testing::CdWave(pcm.substr(0, 3000)), false},
      {"rate", testing::Riff(testing::FmtChunk(16, 1, 2, 48000) + testing::Chunk("data", pcm)), true},
      {"moved", testing::Riff(testing::FmtChunk() + testing::Chunk("LIST", "INFOabcd") +
                              testing::Chunk("data", pcm.substr(0, pcm.size() - 16))),
       true},
      {"same", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Wave(std::string(c.name) + ".wav", pcm);
    TrackLayer layer(data_);
    ASSERT_TRUE(layer.AddTrack(path, 0, 0, 0));
    if (!c.bytes.empty()) {
      ASSERT_EQ(c.bytes.size() == testing::CdWave(pcm).size(), c.keep_time);
      struct stat before {};
      ASSERT_EQ(stat(path.c_str(), &before), 0);
      testing::WriteFile(path, c.bytes);
      const timespec times[2] = {before.st_atim, before.st_mtim};
      if (c.keep_time) {
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
      }
    }
    ASSERT_EQ(Start(layer), 300);
    std::string stream;
    int passed = 0;
    ::testing::internal::CaptureStdout();
    for (int i = 0; i < 300; ++i) {
      bool ok = false;
      stream += Sector(layer, false, &ok);
      passed += ok ? 1 : 0;
    }
    ::testing::internal::GetCapturedStdout();
    if (c.bytes.empty()) {
      EXPECT_EQ(passed, 300);
      EXPECT_TRUE(stream == pcm + std::string(2352 * 300 - pcm.size(), '\0'));
    } else {
      EXPECT_EQ(passed, 0);
      EXPECT_TRUE(stream == std::string(2352 * 300, '\0'));
    }
  }
}

// A WAV file cut while its track streams fails from the first sector it can
// no longer fill (once burned with a silent tail); the padding after the
// samples needs no file.
TEST_F(TrackLayerTest, WaveCutWhileItStreamsFailsFromWhereItEnds) {
  const std::string pcm = Pcm(2352 * 3 + 10, 4);
  const std::string path = Wave("cut.wav", pcm);
  TrackLayer layer(data_);
  ASSERT_TRUE(layer.AddTrack(path, 0, 0, 0));
  ASSERT_EQ(Start(layer), 300);
  ::testing::internal::CaptureStdout();
  bool ok = false;
  EXPECT_TRUE(Sector(layer, false, &ok) == pcm.substr(0, 2352));
  EXPECT_TRUE(ok);
  std::filesystem::resize_file(path, 44 + 3000);
  // Sector 1 holds 648 of its 2,352 bytes, 2 and 3 none of theirs.
  EXPECT_TRUE(Sector(layer, false, &ok) == pcm.substr(2352, 648) + std::string(2352 - 648, '\0'));
  EXPECT_FALSE(ok);
  for (int i = 2; i < 300; ++i) {
    Sector(layer, false, &ok);
    EXPECT_EQ(ok, i >= 4) << i;
  }
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Read error on '" + path + "'."), std::string::npos) << out;
}

TEST_F(TrackLayerTest, WaveThatNoLongerOpensFailsEveryDataSector) {
  std::string path = Wave("gone.wav", Pcm(2352 * 3, 5));
  TrackLayer layer(data_);
  ASSERT_TRUE(layer.AddTrack(path, 0, 4, 0));
  std::filesystem::remove(path);
  ASSERT_EQ(Start(layer), 304);
  ::testing::internal::CaptureStdout();
  int failures = 0;
  for (int i = 0; i < 304; ++i) {
    bool ok = true;
    EXPECT_EQ(Sector(layer, false, &ok), std::string(2352, '\0'));
    failures += ok ? 0 : 1;
    EXPECT_EQ(ok, i >= 300) << i;  // the postgap needs no file
  }
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(failures, 300);
  size_t opens = 0;
  for (size_t p = out.find("Open AUDIO TRACK"); p != std::string::npos; p = out.find("Open AUDIO TRACK", p + 1)) ++opens;
  EXPECT_EQ(opens, 300u);
}

TEST_F(TrackLayerTest, CdTextPacksGoIntoPartFour) {
  data_.has_data = true;
  TrackLayer layer(data_);
  ASSERT_TRUE(layer.AddTrack(Wave("a.wav", Pcm(10)), 150, 0, 0));
  ASSERT_TRUE(layer.SetTrackText(0, 0, 0, "ABC"));
  ASSERT_TRUE(layer.SetTrackText(2, 0, 0, "Song"));
  EXPECT_TRUE(layer.EnableTrackText(true));
  ASSERT_EQ(Start(layer), 750);
  uint8_t part4[2 + 512 * 18];
  int32_t size = layer.Toc().GetPart(4, part4, sizeof part4);
  ASSERT_EQ(size, 2 + 4 * 18);
  EXPECT_EQ(part4[0], 4);
  // "ABC\0" for the disc, " \0" for the data track (1), "Song\0" for track 2.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(part4 + 2 + 4), 12), std::string("ABC\0 \0Song\0\0", 12));
  EXPECT_EQ(part4[2 + 18 + 6], 2);  // last track number in the first size pack

  EXPECT_FALSE(layer.EnableTrackText(false));
  layer.ReadEnd();
  ASSERT_EQ(Start(layer), 750);
  EXPECT_EQ(layer.Toc().GetPart(4, part4, sizeof part4), 0);
}

}  // namespace
}  // namespace sorvel
