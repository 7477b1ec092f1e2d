#include "platform/source_identity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "testing/file_bytes.h"
#include "testing/stand_in_file.h"
#include "testing/test_paths.h"

namespace sorvel::platform {
namespace {

using sorvel::testing::StandIn;
using sorvel::testing::StandInFile;

// 44,100 Hz 16-bit stereo PCM in the plain 44-byte layout, `pcm` bytes of samples.
std::string CdWave(const std::string& pcm) {
  auto le32 = [](uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  return "RIFF" + le32(static_cast<uint32_t>(36 + pcm.size())) + "WAVEfmt " + le32(16) +
         std::string("\x01\x00\x02\x00", 4) + le32(44100) + le32(176400) + std::string("\x04\x00\x10\x00", 4) +
         "data" + le32(static_cast<uint32_t>(pcm.size())) + pcm;
}

// Whatever stands at the path, telling it never waits; what is told of a
// WAV file and of a file that does not read as one.
TEST(SourceIdentity, PathsAreToldWithoutWaitingAndWaveFilesByTheirChunks) {
  struct Case {
    StandIn stand_in;
    std::string contents;
    bool wave;
    bool told;
    uint64_t data_offset;  // of a told WAV file
  };
  const std::string wave = CdWave(std::string(1000, 's'));
  const Case cases[] = {
      {StandIn::kRegular, "data", false, true, 0},
      {StandIn::kRegular, wave, true, true, 44},
      {StandIn::kRegular, "not a wave", true, true, 0},  // told, with a zero layout
      {StandIn::kMissing, "", false, false, 0},
      {StandIn::kMissing, "", true, false, 0},
      {StandIn::kFifo, "", false, false, 0},
      {StandIn::kFifo, "", true, false, 0},
      {StandIn::kZeroDevice, "", true, false, 0},
      {StandIn::kFolder, "", false, false, 0},
      {StandIn::kDanglingLink, "", true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(sorvel::testing::StandInName(c.stand_in)) + (c.wave ? " wave" : " data"));
    sorvel::testing::ScratchDir dir;
    const auto path = dir / "source";
    StandInFile file(path, c.stand_in, c.contents);
    SourceIdentity identity;
    EXPECT_EQ(IdentifySource(path.string(), c.wave, &identity), c.told);
    EXPECT_FALSE(file.Blocked());
    if (!c.told) continue;
    EXPECT_EQ(identity.size, static_cast<int64_t>(c.contents.size()));
    EXPECT_EQ(identity.wave, c.wave);
    EXPECT_EQ(identity.layout.data_offset, c.data_offset);
    if (c.data_offset != 0) {
      EXPECT_EQ(identity.layout.data_bytes, 1000u);
      EXPECT_EQ(identity.layout.sample_rate, 44100u);
      EXPECT_EQ(identity.layout.channels, 2);
    }
  }
}

// The one comparison: fewer bytes is a shrink, whatever else changed; any
// other difference is a change.
TEST(SourceIdentity, ComparisonTellsShrinkFromChange) {
  SourceIdentity added;
  added.device = 1;
  added.inode = 2;
  added.size = 1000;
  added.modified = FileTime{5, 5};
  added.wave = true;
  added.layout.data_offset = 44;
  added.layout.data_bytes = 956;
  struct Case {
    const char* name;
    void (*change)(SourceIdentity&);
    SourceChange expected;
  };
  const Case cases[] = {
      {"same", [](SourceIdentity&) {}, SourceChange::kNone},
      {"shorter and newer", [](SourceIdentity& i) {
         i.size = 999;
         i.modified.nanoseconds = 6;
       }, SourceChange::kShrunk},
      {"longer", [](SourceIdentity& i) { i.size = 1001; }, SourceChange::kChanged},
      {"other inode", [](SourceIdentity& i) { i.inode = 3; }, SourceChange::kChanged},
      {"other device", [](SourceIdentity& i) { i.device = 9; }, SourceChange::kChanged},
      {"one nanosecond later", [](SourceIdentity& i) { i.modified.nanoseconds = 6; }, SourceChange::kChanged},
      {"other rate", [](SourceIdentity& i) { i.layout.sample_rate = 48000; }, SourceChange::kChanged},
      {"samples further in", [](SourceIdentity& i) { i.layout.data_offset = 60; }, SourceChange::kChanged},
  };
  for (const Case& c : cases) {
    SourceIdentity now = added;
    c.change(now);
    EXPECT_EQ(CompareSource(added, now), c.expected) << c.name;
  }
}

// Dates a file system holds far from the epoch (64-bit seconds) are told and
// compared: once, nanoseconds since the epoch overflowed beyond 2262 and
// before 1677 (undefined behaviour, and dates that compared wrongly).
TEST(SourceIdentity, DatesFarFromTheEpochCompare) {
  struct Case {
    const char* name;
    int64_t seconds;  // the file's modification time
  };
  const Case cases[] = {
      {"2300", INT64_C(10413792000)},   // 2300-01-01 UTC
      {"1600", INT64_C(-11676096000)},  // 1600-01-01 UTC
      {"far future", INT64_C(1) << 40},
      {"far past", -(INT64_C(1) << 40)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    struct stat status {};
    status.st_mtim = {static_cast<time_t>(c.seconds), 999999999};
    status.st_ctim = {static_cast<time_t>(c.seconds), 1};
    const SourceIdentity added = IdentityOfStat(status);
    EXPECT_EQ(added.modified, (FileTime{c.seconds, 999999999}));
    EXPECT_EQ(StampOfStat(status).changed, (FileTime{c.seconds, 1}));
    SourceIdentity now = added;
    EXPECT_EQ(CompareSource(added, now), SourceChange::kNone);
    // One second later with fewer nanoseconds: no sum of the two may make them equal.
    now.modified = FileTime{c.seconds + 1, 0};
    EXPECT_EQ(CompareSource(added, now), SourceChange::kChanged);
  }
  // A file dated so (as far as its file system keeps the date) is told with
  // the date its stat gives.
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("file ") + c.name);
    sorvel::testing::ScratchDir dir;
    const auto path = dir / "source";
    sorvel::testing::WriteFileBytes(path, "data");
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(c.seconds), 999999999}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    SourceIdentity identity;
    ASSERT_TRUE(IdentifySource(path.string(), false, &identity));
    EXPECT_EQ(identity.modified, (FileTime{status.st_mtim.tv_sec, status.st_mtim.tv_nsec}));
  }
}

// The contents' stamp of an open file tells a rewrite of the same size and a
// cut, from one stat of the descriptor.
TEST(SourceIdentity, StampTellsContentsChangedWhileOpen) {
  struct Case {
    const char* name;
    void (*change)(const std::filesystem::path&);
    bool same;
  };
  const Case cases[] = {
      {"untouched", [](const std::filesystem::path&) {}, true},
      {"rewritten in place", [](const std::filesystem::path& path) {
         const int fd = ::open(path.c_str(), O_WRONLY);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(::pwrite(fd, "DATA", 4, 0), 4);
         ::close(fd);
       }, false},
      {"cut", [](const std::filesystem::path& path) { std::filesystem::resize_file(path, 2); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sorvel::testing::ScratchDir dir;
    const auto path = dir / "source";
    sorvel::testing::WriteFileBytes(path, "data");
    // An old modification time: the rewrite's own time differs from it on any clock.
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    SourceIdentity identity;
    ContentStamp stamp;
    ASSERT_TRUE(ReadSourceIdentity(fd, false, &identity, &stamp));
    EXPECT_EQ(stamp.size, 4);
    EXPECT_EQ(stamp.modified, identity.modified);
    c.change(path);
    EXPECT_EQ(SameContents(fd, stamp), c.same);
    ::close(fd);
  }
  EXPECT_FALSE(SameContents(-1, ContentStamp{}));
}

}  // namespace
}  // namespace sorvel::platform
