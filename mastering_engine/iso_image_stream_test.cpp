#include "mastering_engine/iso_image_stream.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "testing/read_calls.h"
#include "testing/stand_in_file.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

std::string Pattern(size_t n, char seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
  return s;
}

std::string WriteFile(const testing::ScratchDir& dir, const std::string& name, const std::string& data) {
  std::string path = (dir / name).string();
  std::ofstream(path, std::ios::binary) << data;
  return path;
}

// Every block of the volume: the results and the bytes.
std::string ReadVolume(IsoImageStream& s, uint32_t volume, std::vector<bool>* results) {
  std::string out(size_t{volume} * 2048, '\0');
  for (uint32_t i = 0; i < volume; ++i) {
    results->push_back(s.ReadDataBlock(reinterpret_cast<uint8_t*>(&out[size_t{i} * 2048])));
  }
  return out;
}

TEST(IsoImageStream, HeadThenFilesInPlacementOrderThenZeros) {
  testing::ScratchDir dir;
  std::string a = Pattern(2049, 'a');
  std::string b = Pattern(5000, 'b');
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(16));
  ASSERT_TRUE(s.MakeISODirectory("sub", 0, 0));
  ASSERT_TRUE(s.ChangeISODirectory("sub"));
  ASSERT_TRUE(s.AddISOFile("b.bin", WriteFile(dir, "b", b)));
  ASSERT_TRUE(s.ChangeISODirectory("\\"));
  ASSERT_TRUE(s.AddISOFile("a.bin", WriteFile(dir, "a", a)));
  ASSERT_TRUE(s.AddISOFile("zero.bin", WriteFile(dir, "zero", "")));
  ASSERT_TRUE(s.AddISODummyFile("dummy", 0, 99999, 0));
  uint32_t volume = s.BuildDataTrack("T");
  ASSERT_EQ(volume, 300u);
  DataTrackLayout layout = s.Layout();
  ASSERT_EQ(layout.files.size(), 2u);
  // Depth-first: a.bin (root, before "sub" in order), then sub's b.bin.
  EXPECT_EQ(layout.files[0].size, 2049u);
  EXPECT_EQ(layout.files[1].lba, layout.data_start + 2);
  std::vector<bool> results;
  std::string volume_bytes = ReadVolume(s, volume, &results);
  for (uint32_t i = 0; i < volume; ++i) EXPECT_TRUE(results[i]) << i;
  EXPECT_EQ(volume_bytes.substr(0, layout.head.size()),
            std::string(layout.head.begin(), layout.head.end()));
  size_t a_at = size_t{layout.data_start} * 2048;
  EXPECT_EQ(volume_bytes.substr(a_at, a.size()), a);
  EXPECT_EQ(volume_bytes.substr(a_at + a.size(), 4096 - a.size()), std::string(4096 - a.size(), '\0'));
  EXPECT_EQ(volume_bytes.substr(a_at + 4096, b.size()), b);
  size_t end = a_at + 4096 + b.size();
  EXPECT_EQ(volume_bytes.find_first_not_of('\0', end), std::string::npos);
  // Past the volume the stream keeps giving zero blocks until it is ended.
  uint8_t block[2048];
  EXPECT_TRUE(s.ReadDataBlock(block));
  s.EndDataTrack();
  EXPECT_FALSE(s.DataTrackReady());
  EXPECT_FALSE(s.ReadDataBlock(block));
  // The layout can be streamed again.
  EXPECT_EQ(s.BuildDataTrack("T"), volume);
  results.clear();
  EXPECT_EQ(ReadVolume(s, volume, &results).substr(a_at, a.size()), a);
}

// Files of several MiB stream as the same sectors, read in large blocks.
TEST(IsoImageStream, BigSourcesStreamInBlocks) {
  testing::ScratchDir dir;
  const std::vector<std::string> contents = {Pattern((3u << 20) + 5, 'p'), Pattern(1u << 20, 'q'), Pattern(7, 'r'),
                                             Pattern((2u << 20) - 1, 's')};
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(0));
  for (size_t i = 0; i < contents.size(); ++i) {
    const std::string name = std::string("F").append(std::to_string(i));
    ASSERT_TRUE(s.AddISOFile(name, WriteFile(dir, name, contents[i])));
  }
  const uint32_t volume = s.BuildDataTrack("BIG");
  std::vector<bool> results;
  const long before = testing::ReadCallsOfThisThread();
  const std::string bytes = ReadVolume(s, volume, &results);
  const long reads = testing::ReadCallsOfThisThread() - before;
  for (uint32_t i = 0; i < volume; ++i) ASSERT_TRUE(results[i]) << i;
  for (const IsoFileExtent& file : s.Layout().files) {
    const std::string& content = contents[static_cast<size_t>(file.source.back() - '0')];
    ASSERT_EQ(file.size, content.size());
    const size_t at = size_t{file.lba} * 2048;
    EXPECT_EQ(bytes.substr(at, content.size()), content) << file.source;
    EXPECT_EQ(bytes.substr(at + content.size(), size_t{file.sectors} * 2048 - content.size()),
              std::string(size_t{file.sectors} * 2048 - content.size(), '\0'));
  }
  // Seven blocks of 1 MiB at most (and the count's own read), not 3,000 sector reads.
  EXPECT_GE(before, 0);
  EXPECT_LE(reads, 10);
}

// Sources that are not what was added when the stream opens them fail every
// sector they take, zero-filled: gone, grown (once cut at the old size and
// passed), shrunk, a link pointed at another file of the same size (once
// streamed as that file), a file rewritten in place with the same size and
// given back its time (another WAV layout aside, only the time tells). An
// untouched file passes.
TEST(IsoImageStream, SourcesThatChangedAfterTheyWereAdded) {
  testing::ScratchDir dir;
  struct Case {
    const char* name;
    size_t size;
    std::function<void(const std::string&)> change;
    bool passes;
  };
  const std::string other = WriteFile(dir, "other", Pattern(3000, 'o'));
  const Case cases[] = {
      {"a_gone", 3000, [](const std::string& p) { ASSERT_EQ(unlink(p.c_str()), 0); }, false},
      {"b_grow", 100, [](const std::string& p) { std::ofstream(p, std::ios::app) << Pattern(3000, 'G'); }, false},
      {"c_shrink", 5000, [](const std::string& p) { ASSERT_EQ(truncate(p.c_str(), 2100), 0); }, false},
      {"d_link", 3000,
       [&](const std::string& p) {
         ASSERT_EQ(unlink(p.c_str()), 0);
         ASSERT_EQ(symlink(other.c_str(), p.c_str()), 0);
       },
       false},
      {"e_rewritten", 3000,
       [](const std::string& p) {
         struct stat before {};
         ASSERT_EQ(stat(p.c_str(), &before), 0);
         const timespec times[2] = {before.st_atim, {before.st_mtim.tv_sec, (before.st_mtim.tv_nsec + 1) % 1000000000}};
         std::fstream(p, std::ios::in | std::ios::out | std::ios::binary) << "changed";
         ASSERT_EQ(utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
       },
       false},
      {"f_same", 3000, [](const std::string&) {}, true},
  };
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(0));
  std::vector<std::string> paths;
  for (const Case& c : cases) {
    // Each link-to-be is a link from the start, to a file of its own.
    paths.push_back(WriteFile(dir, c.name, Pattern(c.size, c.name[0])));
    ASSERT_TRUE(s.AddISOFile(c.name, paths.back())) << c.name;
  }
  for (size_t i = 0; i < std::size(cases); ++i) cases[i].change(paths[i]);
  const uint32_t volume = s.BuildDataTrack("");
  uint32_t lba = s.Layout().data_start;
  std::vector<bool> results;
  const std::string bytes = ReadVolume(s, volume, &results);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t sectors = (c.size + 2047) / 2048;
    const std::string disc = bytes.substr(size_t{lba} * 2048, sectors * 2048);
    for (size_t k = 0; k < sectors; ++k) EXPECT_EQ(results[lba + k], c.passes) << k;
    if (c.passes) {
      EXPECT_EQ(disc, Pattern(c.size, c.name[0]) + std::string(sectors * 2048 - c.size, '\0'));
    } else {
      EXPECT_EQ(disc.find_first_not_of('\0'), std::string::npos);
    }
    lba += static_cast<uint32_t>(sectors);
  }
}

TEST(IsoImageStream, ThreeGiBSourceStreamsTheRightNumberOfSectors) {
  testing::ScratchDir dir;
  std::string big = WriteFile(dir, "big", "head");
  ASSERT_EQ(truncate(big.c_str(), 3LL << 30), 0);
  IsoImageStream s;
  ASSERT_TRUE(s.AddISOFile("big", big));
  uint32_t volume = s.BuildDataTrack("BIG");
  const uint32_t sectors = (3u << 30) / 2048;
  EXPECT_EQ(volume, s.Layout().data_start + sectors + 150);
  // Stream only the head and the first file sector.
  uint8_t block[2048];
  for (uint32_t i = 0; i <= s.Layout().data_start; ++i) ASSERT_TRUE(s.ReadDataBlock(block));
  EXPECT_EQ(std::memcmp(block, "head", 4), 0);
  s.EndDataTrack();
}

// A source replaced by a FIFO after it was added must not block the stream: its
// sectors fail at once, as for a file that vanished.
TEST(IsoImageStream, SourceReplacedByFifoFailsWithoutBlocking) {
  testing::ScratchDir dir;
  std::string path = WriteFile(dir, "f", Pattern(3000, 'f'));
  IsoImageStream s;
  ASSERT_TRUE(s.AddISOFile("f.bin", path));
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  uint32_t volume = s.BuildDataTrack("FIFO");
  uint32_t ds = s.Layout().data_start;
  auto reading = std::async(std::launch::async, [&] {
    std::vector<bool> results;
    uint8_t block[2048];
    for (uint32_t i = 0; i < volume; ++i) results.push_back(s.ReadDataBlock(block));
    return results;
  });
  if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    // Release the blocked open so the test can end, then fail.
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
    reading.wait();
    FAIL() << "the stream blocked on a FIFO";
  }
  std::vector<bool> results = reading.get();
  EXPECT_FALSE(results[ds]);
  EXPECT_FALSE(results[ds + 1]);
  EXPECT_TRUE(results[ds + 2]);
}

// Each source replaced after it was added by something that is not a regular
// file: its sectors fail with the read error naming it, the stream neither
// blocks nor reads the stand-in, and the next source streams as before.
TEST(IsoImageStream, SourcesReplacedByWhatIsNotARegularFileFailTheirSectors) {
  using testing::StandIn;
  for (StandIn kind : {StandIn::kMissing, StandIn::kFifo, StandIn::kZeroDevice, StandIn::kFolder,
                       StandIn::kDanglingLink}) {
    SCOPED_TRACE(testing::StandInName(kind));
    testing::ScratchDir dir;
    const std::string replaced = WriteFile(dir, "a", Pattern(3000, 'a'));
    const std::string kept = WriteFile(dir, "b", Pattern(100, 'b'));
    IsoImageStream s;
    ASSERT_TRUE(s.AddISOFile("a.bin", replaced));
    ASSERT_TRUE(s.AddISOFile("b.bin", kept));
    ASSERT_EQ(unlink(replaced.c_str()), 0);
    testing::StandInFile stand_in(replaced, kind);
    const uint32_t volume = s.BuildDataTrack("GONE");
    const uint32_t ds = s.Layout().data_start;
    std::vector<bool> results;
    ::testing::internal::CaptureStdout();
    const std::string bytes = ReadVolume(s, volume, &results);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(stand_in.Blocked());
    EXPECT_FALSE(results[ds]);
    EXPECT_FALSE(results[ds + 1]);
    EXPECT_EQ(bytes.substr(size_t{ds} * 2048, 2 * 2048), std::string(2 * 2048, '\0'));
    EXPECT_EQ(out, "Open '" + replaced + "'\n\nRead error on '" + replaced + "'.Read error on '" + replaced +
                       "'.Open '" + kept + "'\n\n");
    EXPECT_TRUE(results[ds + 2]);
    EXPECT_EQ(bytes.substr(size_t{ds + 2} * 2048, 100), Pattern(100, 'b'));
  }
}

// The race of a check before the open: 2,000 sources, each replaced by a
// FIFO renamed into place while the volume streams. Whatever the order, every
// read ends at once, and a source that became a FIFO is a read error.
TEST(IsoImageStream, FifoRenamedIntoPlaceWhileStreamingAlwaysEnds) {
  constexpr int kFiles = 2000;
  testing::ScratchDir dir;
  std::vector<std::string> paths;
  IsoImageStream s;
  ASSERT_TRUE(s.InitISOFS(0));
  for (int i = 0; i < kFiles; ++i) {
    const std::string index = std::to_string(i);
    paths.push_back(WriteFile(dir, std::string("f").append(index), Pattern(100, static_cast<char>('a' + i % 26))));
    ASSERT_TRUE(s.AddISOFile(std::string("F").append(index), paths.back()));
  }
  const uint32_t volume = s.BuildDataTrack("RACE");
  const uint32_t data_start = s.Layout().data_start;
  // The sources in the order the volume holds them, one sector each.
  std::vector<std::string> placed;
  for (const auto& entry : s.Layout().files) placed.push_back(entry.source);
  ASSERT_EQ(placed.size(), static_cast<size_t>(kFiles));
  std::atomic<bool> done{false};
  std::atomic<uint32_t> blocks_read{0};
  std::atomic<int> swapped{0};
  // Follows the stream: the source about to be opened is swapped between a
  // FIFO and a regular file as fast as renames go, so that the swap lands
  // between any check of the path and the open. Both are links of two inodes
  // that stay reachable, so an open that blocked can be released.
  const std::string fifo = (dir / "fifo").string();
  const std::string plain = WriteFile(dir, "plain", "x");
  const std::string link_path = (dir / "link").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // The last source is a FIFO for good; the others race.
  ASSERT_EQ(link(fifo.c_str(), link_path.c_str()), 0);
  ASSERT_EQ(rename(link_path.c_str(), placed.back().c_str()), 0);
  std::thread swapper([&] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    for (int round = 0; !done && std::chrono::steady_clock::now() < until; ++round) {
      const int64_t at = int64_t{blocks_read.load()} - data_start + (round & 1);
      if (at < 0 || at >= kFiles - 1) {
        std::this_thread::yield();
        continue;
      }
      const bool to_fifo = (round & 2) == 0;
      if (link((to_fifo ? fifo : plain).c_str(), link_path.c_str()) != 0) continue;
      if (rename(link_path.c_str(), placed[static_cast<size_t>(at)].c_str()) == 0 && to_fifo) ++swapped;
      unlink(link_path.c_str());  // left when the source was that inode already
    }
  });
  // The stream waits at the first file sector until the swapper has swapped
  // once (bounded), so that the race is run however the threads are scheduled.
  std::atomic<bool> first_swap_seen{false};
  auto reading = std::async(std::launch::async, [&] {
    std::vector<bool> results;
    uint8_t block[2048];
    for (uint32_t i = 0; i < volume; ++i) {
      if (i == data_start) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (swapped.load() == 0 && std::chrono::steady_clock::now() < give_up)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        first_swap_seen = swapped.load() > 0;
      }
      results.push_back(s.ReadDataBlock(block));
      ++blocks_read;
    }
    return results;
  });
  const bool ended = reading.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
  done = true;
  swapper.join();
  if (!ended) {
    // Release the blocked open so the test can end, then fail.
    while (reading.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
      int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) close(fd);
    }
    FAIL() << "the stream blocked on a FIFO";
  }
  const std::vector<bool> results = reading.get();
  EXPECT_TRUE(first_swap_seen.load());
  EXPECT_FALSE(results[data_start + kFiles - 1]);
  s.EndDataTrack();
}

}  // namespace
}  // namespace sorvel
