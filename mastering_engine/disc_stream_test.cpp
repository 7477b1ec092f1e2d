// The disc stream over the real data area: the ISO layout's blocks as the data
// track, and what a missing source does to the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "mastering_engine/mastering_engine.h"
#include "mastering_engine/wave_test_files.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

bool AllZero(const std::vector<uint8_t>& s, size_t from, size_t to) {
  return std::all_of(s.begin() + static_cast<long>(from), s.begin() + static_cast<long>(to),
                     [](uint8_t b) { return b == 0; });
}

TEST(DiscStream, SmallDataAreaFillsThreeHundredSectors) {
  testing::ScratchDir dir;
  testing::WriteFile(dir / "a.txt", std::string(5000, 'a'));
  MasteringEngine engine;
  ASSERT_TRUE(engine.InitISOFS(0));
  ASSERT_TRUE(engine.AddISOFile("A.TXT", (dir / "a.txt").string()));
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(engine.Tracks().ReadStart("SMALL"), 300);
  std::vector<uint8_t> s(2352);
  for (int32_t lba = 0; lba < 300; ++lba) {
    ASSERT_TRUE(engine.Tracks().Read(s.data(), false)) << lba;
    if (lba < 16) {
      EXPECT_TRUE(AllZero(s, 0, s.size())) << lba;
    } else if (lba == 16) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(s.data()), 6), "\x01" "CD001");
    } else if (lba > 30) {
      EXPECT_TRUE(AllZero(s, 0, s.size())) << lba;  // after the last file
    }
  }
  EXPECT_FALSE(engine.Tracks().Read(s.data(), false));
  engine.Tracks().ReadEnd();
  ::testing::internal::GetCapturedStdout();
}

TEST(DiscStream, MissingSourceFailsItsSectorsAndTheStreamKeepsCounting) {
  testing::ScratchDir dir;
  testing::WriteFile(dir / "a.bin", std::string(2048 * 3, 'a'));
  testing::WriteFile(dir / "b.bin", std::string(2048 * 2, 'b'));
  MasteringEngine engine;
  ASSERT_TRUE(engine.AddISOFile("a.bin", (dir / "a.bin").string()));
  ASSERT_TRUE(engine.AddISOFile("b.bin", (dir / "b.bin").string()));
  std::filesystem::remove(dir / "a.bin");
  ::testing::internal::CaptureStdout();
  int32_t total = engine.Tracks().ReadStart("GONE");
  ASSERT_EQ(total, 300);
  std::vector<uint8_t> s(2352);
  int failures = 0, b_sectors = 0;
  for (int32_t lba = 0; lba < total; ++lba) {
    failures += engine.Tracks().Read(s.data(), true) ? 0 : 1;
    b_sectors += s[16] == 'b' && s[16 + 2047] == 'b' ? 1 : 0;
  }
  engine.Tracks().ReadEnd();
  std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(failures, 3);
  EXPECT_EQ(b_sectors, 2);  // the next file still lands where the layout put it
  EXPECT_NE(out.find("Read error on '"), std::string::npos) << out;
  EXPECT_EQ(engine.Tracks().RunningLba(), total);
}

TEST(DiscStream, AudioAfterDataAndTheLayoutStreamsAgainAfterReadEnd) {
  testing::ScratchDir dir;
  testing::WriteFile(dir / "a.txt", "text");
  std::string pcm = testing::Pcm(2352 * 2);
  testing::WriteFile(dir / "t.wav", testing::CdWave(pcm));
  MasteringEngine engine;
  ASSERT_TRUE(engine.AddISOFile("a.txt", (dir / "a.txt").string()));
  ASSERT_TRUE(engine.Tracks().AddTrack((dir / "t.wav").string(), 150, 0, 0));
  ::testing::internal::CaptureStdout();
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_EQ(engine.Tracks().ReadStart("AGAIN"), 300 + 150 + 300);
    std::vector<uint8_t> s(2352);
    for (int32_t lba = 0; lba < 450; ++lba) ASSERT_TRUE(engine.Tracks().Read(s.data(), true));
    EXPECT_TRUE(AllZero(s, 0, s.size()));  // the pregap
    ASSERT_TRUE(engine.Tracks().Read(s.data(), true));
    EXPECT_TRUE(std::equal(s.begin(), s.end(), pcm.begin(), [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); }));
    engine.Tracks().ReadEnd();
  }
  ::testing::internal::GetCapturedStdout();
  TrackInfo info;
  ASSERT_TRUE(engine.Tracks().GetTrackInformation(0, &info));
  EXPECT_EQ(info.control, 4);
  EXPECT_GE(info.length, 19);  // the data track's sectors up to its last file, without the run-out
  EXPECT_LT(info.length, 300);
}

}  // namespace
}  // namespace sorvel
