#include "gui/jobs/background_file_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gui/model/model_test_util.h"
#include "testing/file_bytes.h"
#include "testing/file_size_limit.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

using testing::Q;
using testing::ReadFileBytes;
using testing::ScratchDir;

std::string Pattern(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 29 + (i >> 9) + seed);
  return s;
}

struct Shape {
  qsizetype block_size;
  int sectors;
  qsizetype write_size = 0;  // 0: whole blocks
};

class BackgroundFileWriterShapes : public ::testing::TestWithParam<Shape> {};

// Sectors filled in place (2,048 and 2,352 bytes, the engine writing a whole
// 2,352 each time), runs of bytes handed over whole, and a run longer than a
// block, in any block size, written whole or in pieces that do not divide the
// block: the file holds exactly what was committed, in order.
TEST_P(BackgroundFileWriterShapes, FileHoldsWhatWasCommittedInOrder) {
  const Shape shape = GetParam();
  ScratchDir dir;
  const auto path = dir / "out.img";
  FileIO file;
  ASSERT_TRUE(file.OpenFile(Q(path), kGenericWrite, kCreateAlways, 0));
  std::string expected;
  {
    BackgroundFileWriter writer(file, shape.block_size, shape.write_size);
    for (int i = 0; i < shape.sectors; ++i) {
      const std::string sector = Pattern(2352, i);
      const qsizetype keep = i % 3 == 0 ? 2352 : 2048;
      uint8_t* room = writer.Reserve(2352);
      std::memcpy(room, sector.data(), sector.size());
      ASSERT_TRUE(writer.Commit(keep)) << i;
      expected += sector.substr(0, static_cast<size_t>(keep));
      if (i % 5 == 0) {
        const std::string run = Pattern(static_cast<size_t>(i * 13 % 700), -i);
        ASSERT_TRUE(writer.Append(run.data(), static_cast<qsizetype>(run.size())));
        expected += run;
      }
    }
    const std::string long_run = Pattern(static_cast<size_t>(shape.block_size) * 2 + 3, 77);
    ASSERT_TRUE(writer.Append(long_run.data(), static_cast<qsizetype>(long_run.size())));
    expected += long_run;
    ASSERT_TRUE(writer.Finish());
    EXPECT_TRUE(writer.Finish());  // a second finish changes nothing
  }
  file.CloseFile();
  EXPECT_EQ(ReadFileBytes(path), expected);
}

INSTANTIATE_TEST_SUITE_P(Blocks, BackgroundFileWriterShapes,
                         ::testing::Values(Shape{1, 40}, Shape{7, 40}, Shape{2048, 100}, Shape{4096, 100},
                                           Shape{65536, 300}, Shape{1 << 20, 2000}, Shape{65536, 300, 3000},
                                           Shape{1 << 20, 2000, 32 * 1024}));

TEST(BackgroundFileWriter, NothingCommittedGivesAnEmptyFile) {
  ScratchDir dir;
  FileIO file;
  ASSERT_TRUE(file.OpenFile(Q(dir / "empty"), kGenericWrite, kCreateAlways, 0));
  {
    BackgroundFileWriter writer(file);
    std::memset(writer.Reserve(2352), 0x55, 2352);  // reserved, never committed
    ASSERT_TRUE(writer.Commit(0));
    ASSERT_TRUE(writer.Append("", 0));
  }
  file.CloseFile();
  EXPECT_EQ(ReadFileBytes(dir / "empty"), "");
}

// A disk that fills up: the failure shows in a later Commit or Append (the
// write runs behind them) and in Finish, nothing more is written after it,
// and the writer never blocks.
TEST(BackgroundFileWriter, FailedWriteIsReportedAndStopsTheWriting) {
  struct Case {
    rlim_t limit;
    int sectors;
    bool failure_seen_while_writing;
    qsizetype write_size = 0;
  };
  for (const Case& c : {Case{100000, 60, false}, Case{3 << 20, 8000, true}, Case{100000, 60, false, 32 * 1024},
                        Case{3 << 20, 8000, true, 32 * 1024}}) {
    ScratchDir dir;
    FileIO file;
    ASSERT_TRUE(file.OpenFile(Q(dir / "full"), kGenericWrite, kCreateAlways, 0));
    bool seen = false;
    bool finished;
    {
      testing::FileSizeLimit full(c.limit);
      BackgroundFileWriter writer(file, 1 << 20, c.write_size);
      for (int i = 0; i < c.sectors; ++i) {
        std::memset(writer.Reserve(2048), i & 0xFF, 2048);
        if (!writer.Commit(2048)) {
          seen = true;
          EXPECT_FALSE(writer.Append("x", 1));
        }
      }
      finished = writer.Finish();
    }
    EXPECT_FALSE(finished) << c.limit;
    EXPECT_EQ(seen, c.failure_seen_while_writing) << c.limit;
    EXPECT_LE(file.GetSize(), static_cast<int64_t>(c.limit));
  }
}

// The blocks are made once and reused: writing 128 MiB touches a handful of
// 1 MiB blocks, not fresh memory for every block while the disk lags behind.
TEST(BackgroundFileWriter, BlocksAreReused) {
  ScratchDir dir;
  FileIO file;
  ASSERT_TRUE(file.OpenFile(Q(dir / "big"), kGenericWrite, kCreateAlways, 0));
  const std::string sector = Pattern(2048, 3);
  rusage before{}, after{};
  getrusage(RUSAGE_THREAD, &before);
  {
    BackgroundFileWriter writer(file, 1 << 20);
    for (int i = 0; i < 65536; ++i) ASSERT_TRUE(writer.Append(sector.data(), 2048));
    ASSERT_TRUE(writer.Finish());
  }
  getrusage(RUSAGE_THREAD, &after);
  // Six blocks of 257 pages each at most; 128 fresh blocks would be 33,000.
  EXPECT_LT(after.ru_minflt - before.ru_minflt, 4000);
  EXPECT_EQ(file.GetSize(), int64_t{128} << 20);
}

// How many of the file's pages the page cache holds.
size_t ResidentPages(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return SIZE_MAX;
  const size_t size = std::filesystem::file_size(path);
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) return SIZE_MAX;
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> resident((size + page - 1) / page);
  size_t count = SIZE_MAX;
  if (::mincore(map, size, resident.data()) == 0) {
    count = 0;
    for (unsigned char r : resident) count += r & 1;
  }
  ::munmap(map, size);
  return count;
}

// A long output leaves the page cache behind it as it goes: an image of
// gigabytes neither grows the cache nor evicts the user's, and it reuses
// pages the system just freed. The folder is beside the test program, on a
// disk: a tmpfs keeps its files in the cache by nature.
TEST(BackgroundFileWriter, WrittenBytesLeaveThePageCache) {
  std::error_code ec;
  ScratchDir dir(std::filesystem::read_symlink("/proc/self/exe", ec).parent_path());
  FileIO file;
  ASSERT_TRUE(file.OpenFile(Q(dir / "long"), kGenericWrite, kCreateAlways, 0));
  const std::string sector = Pattern(2048, 5);
  {
    BackgroundFileWriter writer(file, 1 << 20);
    for (int i = 0; i < 32768; ++i) ASSERT_TRUE(writer.Append(sector.data(), 2048));  // 64 MiB
    ASSERT_TRUE(writer.Finish());
  }
  file.CloseFile();
  // The last two write-back steps of 8 MiB and a block may stay: 4,352 pages.
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  EXPECT_LE(ResidentPages(dir / "long"), ((17u << 20) / page));
  const std::string bytes = ReadFileBytes(dir / "long");
  ASSERT_EQ(bytes.size(), size_t{64} << 20);
  EXPECT_EQ(bytes.compare(bytes.size() - 2048, 2048, sector), 0);
}

}  // namespace
}  // namespace sorvel
