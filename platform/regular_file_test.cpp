#include "platform/regular_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "testing/file_bytes.h"
#include "testing/stand_in_file.h"
#include "testing/test_paths.h"

namespace sorvel::platform {
namespace {

using sorvel::testing::StandIn;
using sorvel::testing::StandInFile;

constexpr int64_t kBound = 4096;

struct OpenCase {
  StandIn stand_in;
  FileProblem::Kind read;   // reading the path
  FileProblem::Kind write;  // opening it to write, created when missing
  FileProblem::Kind found;  // opening it as a file found regular before
};

class OpenRegularFileTest : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenRegularFileTest, TakesRegularFilesAndRefusesTheRestWithoutWaiting) {
  const OpenCase& c = GetParam();
  sorvel::testing::ScratchDir dir;
  const std::string path = (dir / "file").string();
  StandInFile stand_in(path, c.stand_in, "sheet", kBound);

  FileProblem problem;
  std::string contents;
  const bool read = ReadRegularFile(path, kBound, &contents, &problem);
  EXPECT_EQ(read, c.read == FileProblem::kNone);
  EXPECT_EQ(problem.kind, c.read);
  EXPECT_EQ(problem.Missing(), c.stand_in == StandIn::kMissing || c.stand_in == StandIn::kDanglingLink);
  if (read) {
    EXPECT_EQ(contents, c.stand_in == StandIn::kRegular ? "sheet" : "");
  }
  EXPECT_EQ(DescribeFileProblem(path, problem).empty(), read);

  const int fd = OpenRegularFile(path, O_WRONLY | O_CREAT, &problem);
  EXPECT_EQ(fd >= 0, c.write == FileProblem::kNone);
  EXPECT_EQ(problem.kind, c.write);
  if (fd >= 0) {
    // Handed back in blocking mode, ready to write.
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(::write(fd, "x", 1), 1);
    ::close(fd);
  }
  EXPECT_FALSE(stand_in.Blocked());
}

// The open of a file found regular before refuses what OpenRegularFile
// refuses, with the same problems, without a look at the path first.
TEST_P(OpenRegularFileTest, AFileFoundRegularBeforeIsCheckedOnItsDescriptor) {
  const OpenCase& c = GetParam();
  sorvel::testing::ScratchDir dir;
  const std::string path = (dir / "file").string();
  StandInFile stand_in(path, c.stand_in, "sheet", kBound);

  FileProblem problem{FileProblem::kTooLarge, 0};
  const int fd = OpenFoundRegularFile(path, &problem);
  EXPECT_EQ(fd >= 0, c.found == FileProblem::kNone);
  EXPECT_EQ(problem.kind, c.found);
  EXPECT_EQ(problem.Missing(), c.stand_in == StandIn::kMissing || c.stand_in == StandIn::kDanglingLink);
  if (fd >= 0) {
    std::string contents;
    EXPECT_TRUE(ReadWholeFile(fd, kBound + 1, &contents, &problem));
    EXPECT_EQ(contents.size(), c.stand_in == StandIn::kRegular ? 5u : static_cast<size_t>(kBound + 1));
    EXPECT_EQ(::write(fd, "x", 1), -1);  // opened for reading only
    ::close(fd);
  }
  EXPECT_FALSE(stand_in.Blocked());
}

INSTANTIATE_TEST_SUITE_P(
    StandIns, OpenRegularFileTest,
    ::testing::Values(
        OpenCase{StandIn::kRegular, FileProblem::kNone, FileProblem::kNone, FileProblem::kNone},
        OpenCase{StandIn::kMissing, FileProblem::kCannotOpen, FileProblem::kNone, FileProblem::kCannotOpen},
        OpenCase{StandIn::kFifo, FileProblem::kNotRegular, FileProblem::kNotRegular, FileProblem::kNotRegular},
        OpenCase{StandIn::kZeroDevice, FileProblem::kNotRegular, FileProblem::kNotRegular, FileProblem::kNotRegular},
        OpenCase{StandIn::kFolder, FileProblem::kNotRegular, FileProblem::kNotRegular, FileProblem::kNotRegular},
        OpenCase{StandIn::kDanglingLink, FileProblem::kCannotOpen, FileProblem::kNone, FileProblem::kCannotOpen},
        OpenCase{StandIn::kOversize, FileProblem::kTooLarge, FileProblem::kNone, FileProblem::kNone}),
    [](const auto& info) { return std::string(sorvel::testing::StandInName(info.param.stand_in)); });

// A name cut at its NUL byte would be another file: "dir/f\0x" is not "dir/f".
TEST(RegularFileTest, ANameWithANulByteOpensNothing) {
  sorvel::testing::ScratchDir dir;
  const std::string path = (dir / "f").string();
  sorvel::testing::WriteFileBytes(path, "sheet");
  FileProblem problem;
  std::string contents;
  for (int flags : {O_RDONLY, O_WRONLY | O_CREAT}) {
    EXPECT_EQ(OpenRegularFile(path + std::string("\0x", 2), flags, &problem), -1);
    EXPECT_EQ(problem.kind, FileProblem::kCannotOpen);
    EXPECT_TRUE(problem.Missing());
  }
  EXPECT_FALSE(ReadRegularFile(path + std::string(1, '\0'), kBound, &contents, &problem));
  EXPECT_TRUE(ReadRegularFile(path, kBound, &contents, &problem));
  EXPECT_EQ(contents, "sheet");
}

TEST(RegularFileTest, TheBoundIsInclusiveAndHoldsForFilesThatGrow) {
  sorvel::testing::ScratchDir dir;
  const std::string path = (dir / "f").string();
  sorvel::testing::WriteFileBytes(path, std::string(kBound, 'a'));
  std::string contents;
  FileProblem problem;
  ASSERT_TRUE(ReadRegularFile(path, kBound, &contents, &problem));
  EXPECT_EQ(contents.size(), static_cast<size_t>(kBound));
  EXPECT_FALSE(ReadRegularFile(path, kBound - 1, &contents, &problem));
  EXPECT_EQ(problem.kind, FileProblem::kTooLarge);
  EXPECT_TRUE(contents.empty());

  // A file that grows past the bound after the size was looked at.
  const int fd = OpenRegularFile(path, O_RDWR, &problem);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(ReadWholeFile(fd, kBound, &contents, &problem));
  ASSERT_EQ(::pwrite(fd, "b", 1, kBound), 1);
  EXPECT_FALSE(ReadWholeFile(fd, kBound, &contents, &problem));
  EXPECT_EQ(problem.kind, FileProblem::kTooLarge);
  ::close(fd);
}

TEST(RegularFileTest, ProblemsDescribeThemselves) {
  EXPECT_EQ(DescribeFileProblem("/a", FileProblem{}), "");
  EXPECT_EQ(DescribeFileProblem("/a", FileProblem{FileProblem::kCannotOpen, ENOENT}),
            "cannot open /a: No such file or directory");
  EXPECT_EQ(DescribeFileProblem("/a", FileProblem{FileProblem::kNotRegular, 0}), "/a is not a regular file");
  EXPECT_EQ(DescribeFileProblem("/a", FileProblem{FileProblem::kTooLarge, 0}), "/a is too large");
  EXPECT_EQ(DescribeFileProblem("/a", FileProblem{FileProblem::kCannotRead, EIO}), "cannot read /a: Input/output error");
  EXPECT_FALSE((FileProblem{FileProblem::kCannotOpen, EACCES}.Missing()));
  EXPECT_FALSE((FileProblem{FileProblem::kNotRegular, ENOENT}.Missing()));
  EXPECT_EQ(OpenRegularFile("", O_RDONLY), -1);
}

}  // namespace
}  // namespace sorvel::platform
