#include "gui/foundation/file_io.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "testing/file_size_limit.h"
#include "testing/test_paths.h"

namespace sorvel {
namespace {

QString Q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

TEST(FileIOTest, BlocksPositionsAndSizes) {
  sorvel::testing::ScratchDir dir;
  const QString path = Q(dir / "image.img");
  FileIO out;
  EXPECT_FALSE(out.IsOpened());
  ASSERT_TRUE(out.OpenFile(path, kGenericWrite, kCreateAlways));
  std::vector<uint8_t> sector(2352);
  for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(out.WriteFile(sector), 2352);
  EXPECT_EQ(out.WriteFile(sector), 2352);
  EXPECT_EQ(out.GetPointer(), 4704);
  EXPECT_EQ(out.GetSize(), 4704);
  EXPECT_TRUE(out.CloseFile());
  EXPECT_FALSE(out.CloseFile());
  EXPECT_EQ(out.WriteFile(sector), 0);

  FileIO in;
  ASSERT_TRUE(in.OpenFile(path, kGenericRead, kOpenExisting, kFileShareRead));
  std::vector<uint8_t> back(3000);
  EXPECT_TRUE(in.SeekFile(2352 + 10, FileIO::kBegin));
  EXPECT_EQ(in.ReadFile(back), 2342);  // short read at the end
  EXPECT_EQ(back[0], 10);
  EXPECT_EQ(in.ReadFile(back), 0);
  EXPECT_TRUE(in.SeekFile(-1, FileIO::kEnd));
  EXPECT_EQ(in.GetPointer(), 4703);
  EXPECT_TRUE(in.SeekFile(-3, FileIO::kCurrent));
  EXPECT_EQ(in.GetPointer(), 4700);
  EXPECT_FALSE(in.SeekFile(-5000, FileIO::kCurrent));
  EXPECT_FALSE(in.SeekFile(0, 3));
  EXPECT_EQ(in.GetPointer(), 4700);
  EXPECT_TRUE(in.SeekFile(int64_t{3} << 31, FileIO::kBegin));  // beyond 32 bits
  EXPECT_EQ(in.GetPointer(), int64_t{3} << 31);
  EXPECT_EQ(in.WriteFile(sector), 0);  // opened for reading only
}

TEST(FileIOTest, OpenModesAndRefusals) {
  sorvel::testing::ScratchDir dir;
  const QString path = Q(dir / "f");
  FileIO file;
  EXPECT_FALSE(file.OpenFile(path, kGenericRead, kOpenExisting));
  EXPECT_FALSE(file.OpenFile(Q(dir.path()), kGenericRead, kOpenExisting));
  EXPECT_FALSE(file.OpenFile(path, kGenericWrite, 99));
  EXPECT_FALSE(file.OpenFile("", kGenericWrite, kCreateAlways));
  ASSERT_TRUE(file.OpenFile(path, kGenericWrite, kCreateNew));
  EXPECT_EQ(file.WriteFile(std::vector<uint8_t>{1, 2, 3}), 3);
  file.CloseFile();
  EXPECT_FALSE(file.OpenFile(path, kGenericWrite, kCreateNew));  // exists
  ASSERT_TRUE(file.OpenFile(path, kGenericRead | kGenericWrite, kOpenAlways));
  EXPECT_EQ(file.GetSize(), 3);
  ASSERT_TRUE(file.OpenFile(path, kGenericWrite, kTruncateExisting));  // closes the previous handle
  EXPECT_EQ(file.GetSize(), 0);
}

TEST(FileIOTest, SharingBetweenOpeners) {
  sorvel::testing::ScratchDir dir;
  const QString path = Q(dir / "shared");
  std::ofstream(dir / "shared") << "data";
  struct Case {
    uint32_t first_access;
    int32_t first_share;
    uint32_t second_access;
    int32_t second_share;
    bool second_opens;
  };
  const Case cases[] = {
      {kGenericRead, kFileShareRead, kGenericRead, kFileShareRead, true},
      {kGenericRead, kFileShareRead, kGenericRead, 0, false},
      {kGenericRead, 0, kGenericRead, kFileShareRead, false},
      {kGenericWrite, 0, kGenericRead, kFileShareRead, false},
      {kGenericRead, kFileShareRead, kGenericWrite, 0, false},
  };
  for (const Case& c : cases) {
    FileIO first, second;
    ASSERT_TRUE(first.OpenFile(path, c.first_access, kOpenExisting, c.first_share));
    EXPECT_EQ(second.OpenFile(path, c.second_access, kCreateAlways - (c.second_access == kGenericRead ? -1 : 0),
                              c.second_share),
              c.second_opens);
  }
  // A refused truncating open leaves the content alone.
  std::ifstream in(dir / "shared");
  std::string content;
  in >> content;
  EXPECT_EQ(content, "data");
}

TEST(FileIOTest, FullDiskWritesFail) {
  sorvel::testing::ScratchDir dir;
  FileIO file;
  ASSERT_TRUE(file.OpenFile(QString::fromStdString((dir / "full.bin").string()), kGenericWrite, kCreateAlways));
  sorvel::testing::FileSizeLimit full(4);
  EXPECT_EQ(file.WriteFile(std::vector<uint8_t>(10, 1)), 0);
}

}  // namespace
}  // namespace sorvel
