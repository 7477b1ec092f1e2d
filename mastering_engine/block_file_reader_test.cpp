#include "mastering_engine/block_file_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "testing/read_calls.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

constexpr size_t kBlock = BlockFileReader::kBlockSize;

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 131 + (i >> 11) + 3);
  return s;
}

std::string WriteFile(const testing::ScratchDir& dir, const std::string& name, const std::string& data) {
  const std::string path = (dir / name).string();
  std::ofstream(path, std::ios::binary) << data;
  return path;
}

// Reads everything in pieces of `piece` bytes.
std::string ReadAll(BlockFileReader& reader, size_t piece) {
  std::string out;
  std::vector<uint8_t> buffer(piece);
  for (size_t got; (got = reader.Read(buffer.data(), piece)) > 0;) out.append(buffer.begin(), buffer.begin() + got);
  return out;
}

struct SizeCase {
  size_t size;
  uint64_t limit;
  size_t piece;
};

class BlockFileReaderSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(BlockFileReaderSizes, PiecesReproduceTheFileUpToTheLimit) {
  const SizeCase c = GetParam();
  testing::ScratchDir dir;
  const std::string content = Pattern(c.size);
  BlockFileReader reader;
  ASSERT_TRUE(reader.Open(WriteFile(dir, "f", content), c.limit));
  EXPECT_EQ(reader.Path(), (dir / "f").string());
  const std::string got = ReadAll(reader, c.piece);
  EXPECT_EQ(got, content.substr(0, static_cast<size_t>(std::min<uint64_t>(c.size, c.limit))));
  reader.Close();
  EXPECT_FALSE(reader.IsOpen());
  EXPECT_TRUE(reader.Path().empty());
  uint8_t byte;
  EXPECT_EQ(reader.Read(&byte, 1), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BlockFileReaderSizes,
    ::testing::Values(SizeCase{0, 0, 2048}, SizeCase{1, 1, 2048}, SizeCase{2047, 2047, 2048},
                      SizeCase{2048, 2048, 2048}, SizeCase{2049, 2049, 2048}, SizeCase{kBlock - 1, kBlock - 1, 2048},
                      SizeCase{kBlock, kBlock, 2048}, SizeCase{kBlock + 1, kBlock + 1, 2048},
                      SizeCase{3 * kBlock + 100, 3 * kBlock + 100, 2048}, SizeCase{3 * kBlock + 100, 3 * kBlock + 100, 1},
                      SizeCase{3 * kBlock + 100, 3 * kBlock + 100, 3000}, SizeCase{2 * kBlock, 2 * kBlock, kBlock + 7},
                      // A file that grew is cut at its old size; one that shrank ends early.
                      SizeCase{kBlock + 5000, kBlock + 10, 2048}, SizeCase{5000, 100, 2048},
                      SizeCase{5000, 1 << 30, 2048}));

TEST(BlockFileReader, OneReadPerBlockNotPerSector) {
  testing::ScratchDir dir;
  const std::string content = Pattern(4 * kBlock);
  BlockFileReader reader;
  ASSERT_TRUE(reader.Open(WriteFile(dir, "big", content), content.size()));
  const long before = testing::ReadCallsOfThisThread();
  ASSERT_GE(before, 0) << "no read count in /proc/thread-self/io";
  std::vector<uint8_t> sector(2048);
  std::string got;
  for (size_t i = 0; i < content.size() / 2048; ++i) {
    ASSERT_EQ(reader.Read(sector.data(), sector.size()), 2048u) << i;
    got.append(sector.begin(), sector.end());
  }
  // Four blocks (and the count's own read), not 2,048 sector reads.
  EXPECT_LE(testing::ReadCallsOfThisThread() - before, 6);
  EXPECT_EQ(got, content);
}

TEST(BlockFileReader, FileThatShrankWhileOpenEndsThenReadsWhatCameBack) {
  testing::ScratchDir dir;
  const std::string content = Pattern(3 * kBlock);
  const std::string path = WriteFile(dir, "f", content);
  BlockFileReader reader;
  ASSERT_TRUE(reader.Open(path, content.size()));
  std::vector<uint8_t> piece(4096);
  ASSERT_EQ(reader.Read(piece.data(), piece.size()), piece.size());
  // The first block is already in memory; the file is cut inside the second.
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(kBlock + 100)), 0);
  std::string rest = ReadAll(reader, 4096);
  EXPECT_EQ(rest, content.substr(4096, kBlock + 100 - 4096));
  uint8_t byte;
  EXPECT_EQ(reader.Read(&byte, 1), 0u);
  // Bytes appended afterwards are read at the next call, within the limit.
  std::ofstream(path, std::ios::binary | std::ios::app) << std::string(10, 'z');
  EXPECT_EQ(ReadAll(reader, 4096), std::string(10, 'z'));
}

// A file rewritten in place while it is read (same inode and size, its
// modification time moved), or grown, gives out no last block: what was read
// would be its old head and its new tail, a file that never was. Once, all
// of it came.
TEST(BlockFileReader, FileWrittenWhileReadGivesNoLastBlock) {
  const struct {
    const char* name;
    size_t size;
    bool append;  // else rewritten in place
  } cases[] = {{"three blocks", 3 * kBlock, false},
               {"partial last block", 2 * kBlock + 100, false},
               {"grown", 3 * kBlock, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::ScratchDir dir;
    const std::string content = Pattern(c.size);
    const std::string path = WriteFile(dir, "f", content);
    // An old modification time: the write's own time differs from it on any clock.
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    BlockFileReader reader;
    ASSERT_TRUE(reader.Open(path, content.size()));
    std::vector<uint8_t> piece(4096);
    ASSERT_EQ(reader.Read(piece.data(), piece.size()), piece.size());
    if (c.append) {
      std::ofstream(path, std::ios::binary | std::ios::app) << std::string(10, 'z');
    } else {
      const std::string other(content.size(), 'n');
      std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
      file.write(other.data(), static_cast<std::streamsize>(other.size()));
    }
    const std::string rest = ReadAll(reader, 4096);
    // The first block as it was, then the second, and nothing of the last.
    EXPECT_EQ(rest.size(), 2 * kBlock - 4096);
    EXPECT_EQ(rest.substr(0, kBlock - 4096), content.substr(4096, kBlock - 4096));
    EXPECT_FALSE(reader.IsOpen());
    uint8_t byte;
    EXPECT_EQ(reader.Read(&byte, 1), 0u);
  }
}

TEST(BlockFileReader, MissingOrNonRegularSourcesDoNotOpen) {
  testing::ScratchDir dir;
  BlockFileReader reader;
  EXPECT_FALSE(reader.Open((dir / "missing").string(), 10));
  EXPECT_FALSE(reader.Open(dir.path().string(), 10));
  EXPECT_FALSE(reader.IsOpen());
  ASSERT_TRUE(reader.Open(WriteFile(dir, "a", "abc"), 3));
  uint8_t first;
  ASSERT_EQ(reader.Read(&first, 1), 1u);
  EXPECT_EQ(first, 'a');
  // Opening another file ends the first, and its unread block too.
  ASSERT_TRUE(reader.Open(WriteFile(dir, "b", "xyz"), 3));
  EXPECT_EQ(ReadAll(reader, 2), "xyz");
  reader.Release();
  EXPECT_FALSE(reader.IsOpen());
  ASSERT_TRUE(reader.Open((dir / "a").string(), 3));
  EXPECT_EQ(ReadAll(reader, 2), "abc");
}

}  // namespace
}  // namespace sorvel
