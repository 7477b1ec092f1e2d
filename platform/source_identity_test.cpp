#include "platform/source_identity.h"

#include <gtest/gtest.h>

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
  added.modified_ns = 5;
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
         i.modified_ns = 6;
       }, SourceChange::kShrunk},
      {"longer", [](SourceIdentity& i) { i.size = 1001; }, SourceChange::kChanged},
      {"other inode", [](SourceIdentity& i) { i.inode = 3; }, SourceChange::kChanged},
      {"other device", [](SourceIdentity& i) { i.device = 9; }, SourceChange::kChanged},
      {"one nanosecond later", [](SourceIdentity& i) { i.modified_ns = 6; }, SourceChange::kChanged},
      {"other rate", [](SourceIdentity& i) { i.layout.sample_rate = 48000; }, SourceChange::kChanged},
      {"samples further in", [](SourceIdentity& i) { i.layout.data_offset = 60; }, SourceChange::kChanged},
  };
  for (const Case& c : cases) {
    SourceIdentity now = added;
    c.change(now);
    EXPECT_EQ(CompareSource(added, now), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace sorvel::platform
