#include "native_common/toc_structure.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace sorvel {
namespace {

std::vector<uint8_t> CountedBuffer(int16_t count, size_t entry_bytes, uint8_t fill) {
  std::vector<uint8_t> buf(2 + entry_bytes, fill);
  buf[0] = static_cast<uint8_t>(count);
  buf[1] = static_cast<uint8_t>(static_cast<uint16_t>(count) >> 8);
  return buf;
}

TocStructure WithTracks(int n) {
  TocStructure toc;
  for (int i = 0; i < n; ++i) {
    TOCTrack t;
    t.SessionNo = 1;
    t.TrackNo = static_cast<uint8_t>(i + 1);
    t.IndexNo = 1;
    t.StartLBA = i * 100;
    t.EndLBA = i * 100 + 99;
    EXPECT_TRUE(toc.AddTrack(t));
  }
  return toc;
}

TEST(TocStructureTest, EmptyStructureIsAllZero) {
  TocStructure toc;
  for (int32_t part : {TST_TOC, TST_RAWTOC, TST_ISRC, TST_CDTEXT}) EXPECT_EQ(toc.Count(part), 0);
  EXPECT_EQ(toc.Mcn(), McnCode{});
  EXPECT_EQ(toc.LastSession(), 0);
  EXPECT_EQ(toc.SessionEndLBA(1), 0);
  TocStructure filled = WithTracks(3);
  filled.SetMcn(McnCode{'1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2', '3'});
  filled.Clear();
  EXPECT_EQ(filled, toc);
}

TEST(TocStructureTest, TrackEntryLayout) {
  TocStructure toc;
  TOCTrack t;
  t.SessionNo = 2;
  t.TrackNo = 3;
  t.IndexNo = 1;
  t.Flags = TCF_DATATRACK | TCF_COPYPERMITTED;
  t.SectorMode = SMC_MODE2;
  t.StartLBA = 0x01020304;
  t.EndLBA = -2;
  ASSERT_TRUE(toc.AddTrack(t));
  uint8_t buf[64] = {};
  ASSERT_EQ(toc.GetPart(TST_TOC, buf, sizeof buf), 15);
  const uint8_t expected[15] = {1, 0, 2, 3, 1, 6, 2, 0x04, 0x03, 0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(std::memcmp(buf, expected, sizeof expected), 0);
  EXPECT_EQ(TOCTrack::Load(buf + 2), t);
}

TEST(TocStructureTest, RawTrackAndCdTextAndIsrcLayouts) {
  TocStructure toc;
  TOCRawTrack r{1, 0x14, 0, 0xA0, 0, 0, 0, 0, 1, 0x20, 0};
  ASSERT_TRUE(toc.AddRawTrack(r));
  uint8_t buf[64] = {};
  ASSERT_EQ(toc.GetPart(TST_RAWTOC, buf, sizeof buf), 13);
  const uint8_t raw_expected[13] = {1, 0, 1, 0x14, 0, 0xA0, 0, 0, 0, 0, 1, 0x20, 0};
  EXPECT_EQ(std::memcmp(buf, raw_expected, sizeof raw_expected), 0);

  TOCCDText pack;
  pack.PacketType = 0x80;
  pack.TrackNo = 1;
  pack.PacketNo = 5;
  pack.Flags = 0x0F;
  pack.Data.fill(0x41);
  pack.Crc = {0xAB, 0xCD};
  ASSERT_TRUE(toc.AddCdText(pack));
  ASSERT_EQ(toc.GetPart(TST_CDTEXT, buf, sizeof buf), 20);
  const uint8_t pack_expected[20] = {1,    0,    0x80, 1,    5,    0x0F, 0x41, 0x41, 0x41, 0x41,
                                     0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0x41, 0xAB, 0xCD};
  EXPECT_EQ(std::memcmp(buf, pack_expected, sizeof pack_expected), 0);

  const IsrcCode isrc{'J', 'P', 'A', 'B', 'C', '1', '2', '0', '0', '0', '0', '1'};
  toc.SetIsrc(1, isrc);
  ASSERT_TRUE(toc.SetCount(TST_ISRC, 2));
  ASSERT_EQ(toc.GetPart(TST_ISRC, buf, sizeof buf), 26);
  EXPECT_EQ(buf[0], 2);
  EXPECT_EQ(std::memcmp(buf + 2, IsrcCode{}.data(), 12), 0);
  EXPECT_EQ(std::memcmp(buf + 14, isrc.data(), 12), 0);
  EXPECT_EQ(toc.Isrc(1), isrc);
}

// Sizes given and results expected for the exchange of each part.
struct PartCase {
  const char* name;
  int32_t part;
  int entries;  // entries present before GetPart
  int32_t size;
  int32_t expected;
};

class GetPartTest : public ::testing::TestWithParam<PartCase> {};

TEST_P(GetPartTest, BytesCopied) {
  const PartCase& c = GetParam();
  TocStructure toc;
  toc.SetCount(c.part, c.entries);
  std::vector<uint8_t> buf(static_cast<size_t>(std::max(c.size, 1)) + 16, 0xEE);
  EXPECT_EQ(toc.GetPart(c.part, buf.data(), c.size), c.expected) << c.name;
  // Nothing beyond the reported bytes is written.
  for (size_t i = static_cast<size_t>(c.expected); i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xEE) << c.name << " " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Parts, GetPartTest,
    ::testing::Values(PartCase{"five tracks into 1000", TST_TOC, 5, 1000, 67},
                      PartCase{"five tracks into 2", TST_TOC, 5, 2, 0},
                      PartCase{"five tracks into 3", TST_TOC, 5, 3, 3},
                      PartCase{"five tracks into 40", TST_TOC, 5, 40, 40},
                      PartCase{"no tracks", TST_TOC, 0, 1000, 0},
                      PartCase{"full tracks", TST_TOC, 256, 5000, 3330},
                      PartCase{"full raw", TST_RAWTOC, 128, 5000, 1410},
                      PartCase{"full isrc", TST_ISRC, 100, 5000, 1202},
                      PartCase{"full cd-text", TST_CDTEXT, 512, 10000, 9218},
                      PartCase{"mcn into 20", TST_MCN, 0, 20, 13},
                      PartCase{"mcn into 5", TST_MCN, 0, 5, 5},
                      PartCase{"mcn into 0", TST_MCN, 0, 0, 0},
                      PartCase{"negative size", TST_TOC, 5, -1, 0},
                      PartCase{"unknown part", 5, 0, 100, 0},
                      PartCase{"negative part", -1, 0, 100, 0}));

class SetPartTest : public ::testing::TestWithParam<PartCase> {};

TEST_P(SetPartTest, BytesTaken) {
  const PartCase& c = GetParam();
  TocStructure toc;
  std::vector<uint8_t> buf(static_cast<size_t>(std::max(c.size, 0)) + 16, 0x31);
  if (buf.size() >= 2) {
    buf[0] = static_cast<uint8_t>(c.entries);
    buf[1] = static_cast<uint8_t>(c.entries >> 8);
  }
  EXPECT_EQ(toc.SetPart(c.part, buf.data(), c.size), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Parts, SetPartTest,
    ::testing::Values(PartCase{"cd-text 10000", TST_CDTEXT, 512, 10000, 9218},
                      PartCase{"tracks 5000", TST_TOC, 256, 5000, 3330},
                      PartCase{"raw 5000", TST_RAWTOC, 128, 5000, 1410},
                      PartCase{"isrc 5000", TST_ISRC, 100, 5000, 1202},
                      PartCase{"tracks 2", TST_TOC, 1, 2, 0},
                      PartCase{"tracks 3", TST_TOC, 1, 3, 3},
                      PartCase{"mcn 13", TST_MCN, 0, 13, 0},
                      PartCase{"mcn 14", TST_MCN, 0, 14, 13},
                      PartCase{"mcn 100", TST_MCN, 0, 100, 13},
                      PartCase{"unknown part", 7, 1, 100, 0}));

TEST(TocStructureTest, McnIsSetFromFourteenBytesAndReadAsThirteen) {
  TocStructure toc;
  const char digits[14] = "4901234567894";
  ASSERT_EQ(toc.SetPart(TST_MCN, digits, 13), 0);
  EXPECT_EQ(toc.Mcn(), McnCode{});
  ASSERT_EQ(toc.SetPart(TST_MCN, digits, 14), 13);
  char out[20] = {};
  ASSERT_EQ(toc.GetPart(TST_MCN, out, sizeof out), 13);
  EXPECT_EQ(std::string(out, 13), "4901234567894");
  const char other[14] = "0000000000001";
  ASSERT_EQ(toc.SetPart(TST_MCN, other, 13), 0);
  EXPECT_EQ(std::string(toc.Mcn().data(), 13), "4901234567894");
}

TEST(TocStructureTest, PartRoundTripsAndKeepsEntriesBeyondTheGivenBytes) {
  TocStructure source = WithTracks(5);
  uint8_t buf[TocStructure::kTrackPartSize];
  ASSERT_EQ(source.GetPart(TST_TOC, buf, sizeof buf), 67);

  TocStructure target;
  ASSERT_EQ(target.SetPart(TST_TOC, buf, 67), 67);
  EXPECT_EQ(target, source);

  // Two entries of new bytes with a count of 2: entries 3..5 keep their bytes.
  std::vector<uint8_t> two = CountedBuffer(2, 2 * TOCTrack::kSize, 0x55);
  ASSERT_EQ(target.SetPart(TST_TOC, two.data(), static_cast<int32_t>(two.size())), 28);
  EXPECT_EQ(target.Count(TST_TOC), 2);
  EXPECT_EQ(target.Track(0).StartLBA, 0x55555555);
  EXPECT_EQ(target.Track(2), source.Track(2));
  EXPECT_EQ(target.Track(4), source.Track(4));
}

// Counts that do not fit the part or the bytes given are clamped.
struct HostileCount {
  const char* name;
  int32_t part;
  int16_t count;
  size_t entry_bytes;  // bytes after the count
  int expected_count;
};

class HostileCountTest : public ::testing::TestWithParam<HostileCount> {};

TEST_P(HostileCountTest, CountIsClamped) {
  const HostileCount& c = GetParam();
  TocStructure toc;
  std::vector<uint8_t> buf = CountedBuffer(c.count, c.entry_bytes, 0x7A);
  const int32_t taken = toc.SetPart(c.part, buf.data(), static_cast<int32_t>(buf.size()));
  ASSERT_GT(taken, 0) << c.name;
  EXPECT_EQ(toc.Count(c.part), c.expected_count) << c.name;

  // Readers stay inside the part: GetPart reports no more than the count covers...
  std::vector<uint8_t> out(20000, 0);
  const int32_t got = toc.GetPart(c.part, out.data(), static_cast<int32_t>(out.size()));
  const int32_t entry_size = c.part == TST_TOC ? 13 : c.part == TST_RAWTOC ? 11 : c.part == TST_ISRC ? 12 : 18;
  if (c.expected_count > 0) {
    EXPECT_EQ(got, 2 + c.expected_count * entry_size) << c.name;
    EXPECT_EQ(out[0] | out[1] << 8, c.expected_count);
  } else {
    EXPECT_EQ(got, 0) << c.name;
  }
  // ...and the last session / session end look only at counted entries.
  if (c.part == TST_TOC && c.expected_count > 0) {
    EXPECT_EQ(toc.LastSession(), 0x7A);
    EXPECT_EQ(toc.SessionEndLBA(0x7A), 0x7A7A7A7A);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, HostileCountTest,
    ::testing::Values(HostileCount{"tracks above capacity", TST_TOC, 300, 256 * 13, 256},
                      HostileCount{"tracks max int16", TST_TOC, 32767, 5000, 256},
                      HostileCount{"tracks negative", TST_TOC, -1, 13, 0},
                      HostileCount{"tracks int16 min", TST_TOC, -32768, 13, 0},
                      HostileCount{"tracks above bytes", TST_TOC, 5, 2 * 13, 2},
                      HostileCount{"tracks part entry", TST_TOC, 3, 2 * 13 + 12, 2},
                      HostileCount{"tracks one byte short", TST_TOC, 1, 1, 0},
                      HostileCount{"raw above capacity", TST_RAWTOC, 129, 2000, 128},
                      HostileCount{"raw above bytes", TST_RAWTOC, 10, 11 * 3, 3},
                      HostileCount{"isrc above capacity", TST_ISRC, 101, 2000, 100},
                      HostileCount{"isrc above bytes", TST_ISRC, 99, 12 * 7 + 5, 7},
                      HostileCount{"cd-text above capacity", TST_CDTEXT, 513, 10000, 512},
                      HostileCount{"cd-text above bytes", TST_CDTEXT, 512, 18 * 40, 40},
                      HostileCount{"cd-text exact", TST_CDTEXT, 40, 18 * 40, 40}));

TEST(TocStructureTest, GetPartNeverCopiesMoreThanTheCountCovers) {
  TocStructure toc;
  std::vector<uint8_t> hostile = CountedBuffer(32767, 9216, 0x11);
  ASSERT_EQ(toc.SetPart(TST_CDTEXT, hostile.data(), static_cast<int32_t>(hostile.size())), 9218);
  EXPECT_EQ(toc.Count(TST_CDTEXT), 512);
  std::vector<uint8_t> out(100000, 0);
  EXPECT_EQ(toc.GetPart(TST_CDTEXT, out.data(), static_cast<int32_t>(out.size())), 9218);
  // A part that was set with a short buffer and a huge count reads back only
  // the entries it was given.
  std::vector<uint8_t> short_buf = CountedBuffer(32767, 18 * 3, 0x22);
  ASSERT_EQ(toc.SetPart(TST_CDTEXT, short_buf.data(), static_cast<int32_t>(short_buf.size())), 56);
  EXPECT_EQ(toc.GetPart(TST_CDTEXT, out.data(), static_cast<int32_t>(out.size())), 56);
}

TEST(TocStructureTest, NullBuffersAreRefused) {
  TocStructure toc = WithTracks(2);
  EXPECT_EQ(toc.GetPart(TST_TOC, nullptr, 100), 0);
  EXPECT_EQ(toc.SetPart(TST_TOC, nullptr, 100), 0);
  EXPECT_EQ(toc.SetPart(TST_MCN, nullptr, 14), 0);
  EXPECT_EQ(toc.Count(TST_TOC), 2);
}

TEST(TocStructureTest, TypedAccessorsCheckTheCapacity) {
  TocStructure toc = WithTracks(256);
  TOCTrack extra;
  EXPECT_FALSE(toc.AddTrack(extra));
  EXPECT_EQ(toc.Count(TST_TOC), 256);
  EXPECT_THROW(toc.Track(256), std::out_of_range);
  EXPECT_THROW(toc.Track(-1), std::out_of_range);
  EXPECT_THROW(toc.SetRawTrack(128, TOCRawTrack{}), std::out_of_range);
  EXPECT_THROW(toc.Isrc(100), std::out_of_range);
  EXPECT_THROW(toc.CdText(512), std::out_of_range);
  EXPECT_FALSE(toc.SetCount(TST_MCN, 1));
  EXPECT_TRUE(toc.SetCount(TST_RAWTOC, 1000));
  EXPECT_EQ(toc.Count(TST_RAWTOC), 128);
  EXPECT_TRUE(toc.SetCount(TST_RAWTOC, -5));
  EXPECT_EQ(toc.Count(TST_RAWTOC), 0);
}

TEST(TocStructureTest, WholeCopyIsIndependent) {
  TocStructure original = WithTracks(3);
  original.AddRawTrack(TOCRawTrack{1, 0x14, 0, 1, 0, 0, 0, 0, 0, 2, 0});
  original.SetMcn(McnCode{'1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '1', '2', '3'});
  TOCCDText pack;
  pack.PacketType = 0x8F;
  original.AddCdText(pack);
  const TocStructure copy = original;
  EXPECT_EQ(copy, original);
  original.Clear();
  EXPECT_EQ(copy.Count(TST_TOC), 3);
  EXPECT_EQ(copy.Count(TST_RAWTOC), 1);
  EXPECT_EQ(copy.Count(TST_CDTEXT), 1);
  EXPECT_EQ(copy.Mcn()[0], '1');
}

TEST(TocStructureTest, SessionsOfTheTrackPart) {
  TocStructure toc;
  auto add = [&](uint8_t session, uint8_t track, uint8_t index, int32_t start, int32_t end) {
    ASSERT_TRUE(toc.AddTrack(TOCTrack{session, track, index, 0, 0, start, end}));
  };
  add(1, 1, 0, -150, -1);
  add(1, 1, 1, 0, 999);
  add(1, 2, 1, 1000, 4999);
  add(2, 3, 0, 16000, 16149);
  add(2, 3, 1, 16150, 20000);
  EXPECT_EQ(toc.LastSession(), 2);
  EXPECT_EQ(toc.SessionEndLBA(1), 4999);
  EXPECT_EQ(toc.SessionEndLBA(2), 20000);
  EXPECT_EQ(toc.SessionEndLBA(3), 0);
  EXPECT_EQ(toc.SessionEndLBA(0), 0);
}

TEST(TocStructureTest, MakeSingleTrackToc) {
  TocStructure toc = WithTracks(4);
  const TocStructure before = toc;
  EXPECT_FALSE(toc.MakeSingleTrackToc(1, 0));
  EXPECT_FALSE(toc.MakeSingleTrackToc(1, -5));
  EXPECT_EQ(toc, before);

  ASSERT_TRUE(toc.MakeSingleTrackToc(SMC_MODE1, 1000));
  ASSERT_EQ(toc.Count(TST_TOC), 1);
  EXPECT_EQ(toc.Track(0), (TOCTrack{1, 1, 1, TCF_DATATRACK, SMC_MODE1, 0, 999}));
  EXPECT_EQ(toc.Track(1), TOCTrack{});  // the rest was cleared

  ASSERT_TRUE(toc.MakeSingleTrackToc(SMC_AUDIO, 1));
  EXPECT_EQ(toc.Track(0), (TOCTrack{1, 1, 1, 0, SMC_AUDIO, 0, 0}));
  ASSERT_TRUE(toc.MakeSingleTrackToc(SMC_MODE2, 300000));
  EXPECT_EQ(toc.Track(0).Flags, TCF_DATATRACK);
  EXPECT_EQ(toc.LastSession(), 1);
  EXPECT_EQ(toc.SessionEndLBA(1), 299999);
}

}  // namespace
}  // namespace sorvel
