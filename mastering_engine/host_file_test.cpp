#include "mastering_engine/host_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "testing/test_paths.h"

namespace sorvel {
namespace {

// Reading takes regular files only, decided on the open descriptor, and
// never waits: a FIFO without a writer, a directory or a device fails at once.
TEST(HostFile, ReadingOpensOnlyRegularFilesAndNeverBlocks) {
  testing::ScratchDir dir;
  const std::string fifo = (dir / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string regular = (dir / "plain").string();
  std::ofstream(regular) << "plain";
  HostFile f;
  for (const std::string& path : {fifo, dir.path().string(), std::string("/dev/null"), std::string("/dev/zero")}) {
    // Writing too: a FIFO without a reader would block a write open.
    for (int mode : {HostFile::kRead, HostFile::kWrite, HostFile::kReadWrite, HostFile::kCreate}) {
      EXPECT_FALSE(f.Open(path, mode)) << path << " mode " << mode;
      EXPECT_FALSE(f.IsOpen()) << path;
    }
  }
  // A regular file reads as before (in blocking mode again).
  ASSERT_TRUE(f.Open(regular, HostFile::kRead));
  char buf[8] = {};
  EXPECT_EQ(f.Read(buf, sizeof buf), 5u);
  EXPECT_STREQ(buf, "plain");
}

TEST(HostFile, OpenModes) {
  testing::ScratchDir dir;
  const std::string path = (dir / "f.bin").string();
  HostFile f;
  EXPECT_FALSE(f.Open(path, HostFile::kRead));  // missing
  EXPECT_FALSE(f.Open(path, HostFile::kReadWrite));
  ASSERT_TRUE(f.Open(path, HostFile::kWrite));  // created
  EXPECT_TRUE(f.Writable());
  EXPECT_EQ(f.Path(), path);
  EXPECT_TRUE(f.WriteText("hello"));
  EXPECT_TRUE(f.WriteByte('!'));
  EXPECT_TRUE(f.Close());
  EXPECT_FALSE(f.Close());
  EXPECT_EQ(f.Path(), "");
  ASSERT_TRUE(f.Open(path, HostFile::kWrite));  // contents kept
  EXPECT_EQ(f.Size(), 6);
  ASSERT_TRUE(f.Open(path, HostFile::kRead));
  EXPECT_FALSE(f.Writable());
  EXPECT_EQ(f.Write("x", 1), 0u);
  char buf[16] = {};
  EXPECT_EQ(f.Read(buf, sizeof buf), 6u);
  EXPECT_STREQ(buf, "hello!");
  EXPECT_EQ(f.ReadByte(), 0xFFFFu);
  EXPECT_TRUE(f.Seek(-2, 2));
  EXPECT_EQ(f.ReadByte(), static_cast<uint32_t>('o'));
  EXPECT_EQ(f.Position(), 5);
  EXPECT_TRUE(f.Rewind());
  EXPECT_EQ(f.ReadByte(), static_cast<uint32_t>('h'));
  ASSERT_TRUE(f.Open(path, HostFile::kCreate));  // emptied
  EXPECT_EQ(f.Size(), 0);
  EXPECT_TRUE(f.WriteText("0123456789"));
  EXPECT_TRUE(f.Truncate(4));
  EXPECT_EQ(f.Size(), 4);
  f.Close();
  // Closed: failure values without touching the system.
  EXPECT_EQ(f.Read(buf, 1), 0u);
  EXPECT_EQ(f.ReadByte(), 0xFFFFu);
  EXPECT_FALSE(f.Seek(0, 0));
  EXPECT_EQ(f.Position(), 0);
  EXPECT_EQ(f.Size(), 0);
  EXPECT_FALSE(f.Flush());
}

TEST(HostFile, CopiesRestorePositions) {
  testing::ScratchDir dir;
  std::string data;
  for (int i = 0; i < 100000; ++i) data += static_cast<char>('a' + i % 26);
  std::ofstream((dir / "src").string(), std::ios::binary) << data;
  HostFile src, dst;
  ASSERT_TRUE(src.Open((dir / "src").string(), HostFile::kRead));
  ASSERT_TRUE(dst.Open((dir / "dst").string(), HostFile::kCreate));
  ASSERT_TRUE(src.Seek(10, 0));
  EXPECT_EQ(dst.CopyFrom(src, 70000), 70000);
  EXPECT_EQ(src.Position(), 10);
  EXPECT_EQ(dst.Size(), 70000);
  // Overlapping block copy forwards.
  ASSERT_TRUE(dst.CopyBlock(0, 5, 40000));
  EXPECT_EQ(dst.Position(), 70000);
  ASSERT_TRUE(dst.Seek(5, 0));
  std::string back(40000, '\0');
  ASSERT_EQ(dst.Read(back.data(), back.size()), back.size());
  EXPECT_EQ(back, data.substr(10, 40000));
}

TEST(HostFile, CrcOfFilesAndRanges) {
  testing::ScratchDir dir;
  std::string data = "xx123456789yy";
  std::ofstream((dir / "crc").string(), std::ios::binary) << data;
  HostFile f;
  uint32_t crc = 0;
  EXPECT_FALSE(f.FileCrc(2, &crc));  // closed
  ASSERT_TRUE(f.Open((dir / "crc").string(), HostFile::kRead));
  ASSERT_TRUE(f.Seek(3, 0));
  struct Vector {
    int kind;
    uint32_t check;  // of "123456789"
  };
  for (const Vector& v : {Vector{0, 0x6F91}, Vector{1, 0x4B37}, Vector{2, 0xCBF43926}}) {
    ASSERT_TRUE(f.RangeCrc(v.kind, 2, 9, &crc)) << v.kind;
    EXPECT_EQ(crc, v.check) << v.kind;
    EXPECT_EQ(f.Position(), 3);
  }
  EXPECT_FALSE(f.RangeCrc(3, 0, 1, &crc));
  EXPECT_FALSE(f.RangeCrc(2, 10, 10, &crc));  // past the end
  ASSERT_TRUE(f.FileCrc(2, &crc));
  uint32_t whole = 0;
  ASSERT_TRUE(f.RangeCrc(2, 0, static_cast<int64_t>(data.size()), &whole));
  EXPECT_EQ(crc, whole);
}

TEST(HostFile, PathQueries) {
  testing::ScratchDir dir;
  const std::string path = (dir / ".dotfile").string();
  std::ofstream(path) << "abc";
  EXPECT_TRUE(HostFile::Exists(path));
  EXPECT_EQ(HostFile::SizeOf(path), 3);
  EXPECT_EQ(HostFile::SizeOf64(path), 3);
  EXPECT_EQ(HostFile::SizeOf64((dir / "missing").string()), -1);
  EXPECT_EQ(HostFile::SizeOf((dir / "missing").string()), -1);
  EXPECT_EQ(HostFile::AttributesOf((dir / "missing").string()), 0u);
  EXPECT_EQ(HostFile::AttributesOf(path), HostFile::kHidden | HostFile::kArchive);
  EXPECT_EQ(HostFile::AttributesOf(dir.path().string()) & HostFile::kDirectory, HostFile::kDirectory);
  EXPECT_TRUE(HostFile::SetModificationTime(path, 1234567890));
  EXPECT_EQ(HostFile::ModificationTimeOf(path), 1234567890);
  EXPECT_EQ(HostFile::ModificationTimeOf((dir / "missing").string()), 0);
  EXPECT_TRUE(HostFile::SetAttributes(path, HostFile::kReadOnly));
  EXPECT_TRUE(HostFile::AttributesOf(path) & HostFile::kReadOnly);
  EXPECT_TRUE(HostFile::SetAttributes(path, 0));
  const std::string moved = (dir / "moved").string();
  EXPECT_TRUE(HostFile::Rename(path, moved));
  EXPECT_FALSE(HostFile::Exists(path));
  EXPECT_TRUE(HostFile::IsRegularFile(moved));
  EXPECT_FALSE(HostFile::IsRegularFile(dir.path().string()));
  EXPECT_TRUE(HostFile::Remove(moved));
  EXPECT_FALSE(HostFile::Remove(moved));
}

// The single query AddISOFile makes tells what each separate path query does.
TEST(HostFile, OneQueryAgreesWithEachPathQuery) {
  testing::ScratchDir dir;
  const std::string hidden = (dir / ".hidden").string();
  const std::string read_only = (dir / "read only.txt").string();
  const std::string fifo = (dir / "pipe").string();
  std::ofstream(hidden) << "12345";
  std::ofstream(read_only) << "1";
  ASSERT_TRUE(HostFile::SetAttributes(read_only, HostFile::kReadOnly));
  ASSERT_TRUE(HostFile::SetModificationTime(hidden, 1600000000));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {hidden, read_only, fifo, dir.path().string()}) {
    HostFile::PathInfo info;
    ASSERT_TRUE(HostFile::Query(path, &info)) << path;
    EXPECT_EQ(info.regular, HostFile::IsRegularFile(path)) << path;
    EXPECT_EQ(info.size, HostFile::SizeOf(path)) << path;
    EXPECT_EQ(info.attributes, HostFile::AttributesOf(path)) << path;
    EXPECT_EQ(info.modification_time, HostFile::ModificationTimeOf(path)) << path;
  }
  HostFile::PathInfo info;
  ASSERT_TRUE(HostFile::Query(hidden, &info));
  EXPECT_TRUE(info.regular);
  EXPECT_EQ(info.size, 5);
  EXPECT_EQ(info.attributes, HostFile::kHidden | HostFile::kArchive);
  EXPECT_EQ(info.modification_time, 1600000000);
  info.size = 77;
  EXPECT_FALSE(HostFile::Query((dir / "missing").string(), &info));
  EXPECT_EQ(info.size, 77);  // untouched
}

}  // namespace
}  // namespace sorvel
