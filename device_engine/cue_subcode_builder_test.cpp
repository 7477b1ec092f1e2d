#include "device_engine/cue_subcode_builder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "device_engine/subcode_test_util.h"
#include "device_engine/subchannel_interleave.h"
#include "platform/emulated_drive/cd_codec.h"
#include "platform/emulated_drive/disc_layout.h"

namespace sorvel {
namespace {

using subcode_test::Bcd;
using subcode_test::DecodeQ;
using subcode_test::MakeToc;
using subcode_test::QCrc;
using subcode_test::QFrame;
using subcode_test::TocRow;
using subcode_test::ValidateCueSheet;

constexpr int32_t kLeadIn = -11634;  // 97:26:66

// One expected cue entry; minute, second and frame binary.
struct Cue {
  uint8_t control_adr, tno, index, form, minute, second, frame;
};

std::vector<uint8_t> SheetBytes(const std::vector<Cue>& rows) {
  std::vector<uint8_t> out;
  for (const Cue& c : rows) {
    const uint8_t entry[8] = {c.control_adr, c.tno, c.index, c.form, 0, c.minute, c.second, c.frame};
    out.insert(out.end(), entry, entry + 8);
  }
  return out;
}

std::vector<uint8_t> SheetOf(const CueSubcodeBuilder& b) {
  const int32_t size = b.CopyCueSheet(nullptr, 0);
  std::vector<uint8_t> sheet(static_cast<size_t>(size));
  EXPECT_EQ(b.CopyCueSheet(sheet.data(), size), size);
  return sheet;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
    s += buf;
    s += (i % 8 == 7) ? '\n' : ' ';
  }
  return s;
}

struct SheetCase {
  const char* name;
  std::vector<TocRow> toc;
  int32_t mode;
  int32_t start;
  int session;
  std::vector<Cue> expected;
};

class CueSheetTest : public ::testing::TestWithParam<SheetCase> {};

TEST_P(CueSheetTest, MatchesHandBuiltSheet) {
  const SheetCase& c = GetParam();
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(MakeToc(c.toc), c.mode, c.start, c.session));
  const std::vector<uint8_t> sheet = SheetOf(b);
  const std::vector<uint8_t> expected = SheetBytes(c.expected);
  EXPECT_EQ(Hex(sheet), Hex(expected));
  EXPECT_EQ(ValidateCueSheet(sheet), "");
  EXPECT_EQ(b.CueEntryCount(), static_cast<int>(c.expected.size()));
}

// Two audio tracks, 10,000 sectors each; data tracks Mode 1 unless named.
const std::vector<TocRow> kAudioPregap150 = {{1, 1, 1, 0, 0, 0, 9999}, {1, 2, 0, 0, 0, 10000, 10149},
                                              {1, 2, 1, 0, 0, 10150, 19999}};
const std::vector<TocRow> kAudioPregap0 = {{1, 1, 1, 0, 0, 0, 9999}, {1, 2, 1, 0, 0, 10000, 19999}};
const std::vector<TocRow> kDataAudioNoIndex0 = {{1, 1, 1, 4, 1, 0, 9999}, {1, 2, 1, 0, 0, 10000, 19999}};
const std::vector<TocRow> kDataAudioIndex0 = {{1, 1, 1, 4, 1, 0, 9849}, {1, 2, 0, 0, 0, 9850, 9999},
                                               {1, 2, 1, 0, 0, 10000, 19999}};
const std::vector<TocRow> kTrack1Index0 = {{1, 1, 0, 2, 0, -150, -1}, {1, 1, 1, 2, 0, 0, 9999},
                                            {1, 2, 1, 2, 0, 10000, 19999}};
const std::vector<TocRow> kMode2Data = {{1, 1, 1, 4, 2, 0, 4999}};
const std::vector<TocRow> kTwoSessions = {{1, 1, 1, 0, 0, 0, 9999}, {2, 2, 1, 4, 1, 22000, 29999}};
// Data tracks shorter than a pregap before an audio track.
const std::vector<TocRow> kShortDataAudio = {{1, 1, 1, 4, 1, 0, 99}, {1, 2, 1, 0, 0, 100, 999}};
const std::vector<TocRow> kShortDataWithIndex0Audio = {{1, 1, 1, 0, 0, 0, 999}, {1, 2, 0, 4, 1, 1000, 1149},
                                                       {1, 2, 1, 4, 1, 1150, 1199}, {1, 3, 1, 0, 0, 1200, 1999}};
const std::vector<TocRow> kData151Audio = {{1, 1, 1, 4, 1, 0, 150}, {1, 2, 1, 0, 0, 151, 999}};

INSTANTIATE_TEST_SUITE_P(
    Sheets, CueSheetTest,
    ::testing::Values(
        SheetCase{"AudioPregap150", kAudioPregap150, 0, kLeadIn, 1,
                  {{0x01, 0x00, 0, 0x01, 0, 0, 0},
                   {0x01, 0x01, 0, 0x00, 0, 0, 0},
                   {0x01, 0x01, 1, 0x00, 0, 2, 0},
                   {0x01, 0x02, 0, 0x00, 2, 15, 25},
                   {0x01, 0x02, 1, 0x00, 2, 17, 25},
                   {0x01, 0xAA, 1, 0x01, 4, 28, 50}}},
        SheetCase{"AudioPregap0", kAudioPregap0, 0, kLeadIn, 1,
                  {{0x01, 0x00, 0, 0x01, 0, 0, 0},
                   {0x01, 0x01, 0, 0x00, 0, 0, 0},
                   {0x01, 0x01, 1, 0x00, 0, 2, 0},
                   {0x01, 0x02, 1, 0x00, 2, 15, 25},
                   {0x01, 0xAA, 1, 0x01, 4, 28, 50}}},
        // The audio track after data gets its index 0 150 sectors early.
        SheetCase{"DataAudioNoIndex0", kDataAudioNoIndex0, 0, kLeadIn, 1,
                  {{0x41, 0x00, 0, 0x14, 0, 0, 0},
                   {0x41, 0x01, 0, 0x11, 0, 0, 0},
                   {0x41, 0x01, 1, 0x11, 0, 2, 0},
                   {0x01, 0x02, 0, 0x00, 2, 13, 25},
                   {0x01, 0x02, 1, 0x00, 2, 15, 25},
                   {0x01, 0xAA, 1, 0x01, 4, 28, 50}}},
        SheetCase{"DataAudioIndex0", kDataAudioIndex0, 0, kLeadIn, 1,
                  {{0x41, 0x00, 0, 0x14, 0, 0, 0},
                   {0x41, 0x01, 0, 0x11, 0, 0, 0},
                   {0x41, 0x01, 1, 0x11, 0, 2, 0},
                   {0x01, 0x02, 0, 0x00, 2, 13, 25},
                   {0x01, 0x02, 1, 0x00, 2, 15, 25},
                   {0x01, 0xAA, 1, 0x01, 4, 28, 50}}},
        SheetCase{"Track1OwnIndex0", kTrack1Index0, 0, kLeadIn, 1,
                  {{0x21, 0x00, 0, 0x01, 0, 0, 0},
                   {0x21, 0x01, 0, 0x00, 0, 0, 0},
                   {0x21, 0x01, 1, 0x00, 0, 2, 0},
                   {0x21, 0x02, 1, 0x00, 2, 15, 25},
                   {0x01, 0xAA, 1, 0x01, 4, 28, 50}}},
        SheetCase{"Mode2Data", kMode2Data, 0, kLeadIn, 1,
                  {{0x41, 0x00, 0, 0x24, 0, 0, 0},
                   {0x41, 0x01, 0, 0x21, 0, 0, 0},
                   {0x41, 0x01, 1, 0x21, 0, 2, 0},
                   {0x01, 0xAA, 1, 0x01, 1, 8, 50}}},
        // Raw writing: the host sends every track sector as 2,352 bytes.
        SheetCase{"RawDataAudio", kDataAudioNoIndex0, 1, kLeadIn, 1,
                  {{0x41, 0x00, 0, 0x14, 0, 0, 0},
                   {0x41, 0x01, 0, 0x00, 0, 0, 0},
                   {0x41, 0x01, 1, 0x00, 0, 2, 0},
                   {0x01, 0x02, 0, 0x00, 2, 13, 25},
                   {0x01, 0x02, 1, 0x00, 2, 15, 25},
                   {0x01, 0xAA, 1, 0x01, 4, 28, 50}}},
        // Raw with P-W: every track entry keeps the 96-byte subchannel form.
        SheetCase{"Raw96DataAudio", kDataAudioNoIndex0, 2, kLeadIn, 1,
                  {{0x41, 0x00, 0, 0x14, 0, 0, 0},
                   {0x41, 0x01, 0, 0x40, 0, 0, 0},
                   {0x41, 0x01, 1, 0x40, 0, 2, 0},
                   {0x01, 0x02, 0, 0x40, 2, 13, 25},
                   {0x01, 0x02, 1, 0x40, 2, 15, 25},
                   {0x01, 0xAA, 1, 0x01, 4, 28, 50}}},
        SheetCase{"FirstSessionOfTwo", kTwoSessions, 0, kLeadIn, 1,
                  {{0x01, 0x00, 0, 0x01, 0, 0, 0},
                   {0x01, 0x01, 0, 0x00, 0, 0, 0},
                   {0x01, 0x01, 1, 0x00, 0, 2, 0},
                   {0x01, 0xAA, 1, 0x01, 2, 15, 25}}},
        SheetCase{"SecondSession", kTwoSessions, 0, 16751, 2,
                  {{0x41, 0x00, 0, 0x14, 0, 0, 0},
                   {0x41, 0x02, 0, 0x11, 4, 53, 25},
                   {0x41, 0x02, 1, 0x11, 4, 55, 25},
                   {0x01, 0xAA, 1, 0x01, 6, 42, 0}}},
        // A pregap 150 sectors early would start before the short data track:
        // the audio track gets none, and the times never go back.
        SheetCase{"ShortDataAudio", kShortDataAudio, 0, kLeadIn, 1,
                  {{0x41, 0x00, 0, 0x14, 0, 0, 0},
                   {0x41, 0x01, 0, 0x11, 0, 0, 0},
                   {0x41, 0x01, 1, 0x11, 0, 2, 0},
                   {0x01, 0x02, 1, 0x00, 0, 3, 25},
                   {0x01, 0xAA, 1, 0x01, 0, 15, 25}}},
        SheetCase{"ShortDataWithIndex0Audio", kShortDataWithIndex0Audio, 0, kLeadIn, 1,
                  {{0x01, 0x00, 0, 0x01, 0, 0, 0},
                   {0x01, 0x01, 0, 0x00, 0, 0, 0},
                   {0x01, 0x01, 1, 0x00, 0, 2, 0},
                   {0x41, 0x02, 0, 0x11, 0, 15, 25},
                   {0x41, 0x02, 1, 0x11, 0, 17, 25},
                   {0x01, 0x03, 1, 0x00, 0, 18, 0},
                   {0x01, 0xAA, 1, 0x01, 0, 28, 50}}},
        // One sector longer than the pregap: the data track keeps its first sector.
        SheetCase{"Data151Audio", kData151Audio, 0, kLeadIn, 1,
                  {{0x41, 0x00, 0, 0x14, 0, 0, 0},
                   {0x41, 0x01, 0, 0x11, 0, 0, 0},
                   {0x41, 0x01, 1, 0x11, 0, 2, 0},
                   {0x01, 0x02, 0, 0x00, 0, 2, 1},
                   {0x01, 0x02, 1, 0x00, 0, 4, 1},
                   {0x01, 0xAA, 1, 0x01, 0, 15, 25}}}),
    [](const ::testing::TestParamInfo<SheetCase>& info) { return std::string(info.param.name); });

TEST(CueSheetBuildTest, InternalSheetKeepsLeadInTimeAndCookedForms) {
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(MakeToc(kDataAudioNoIndex0), 2, kLeadIn, 1));
  // The lead-in starts at the given LBA: positions there are in the lead-in.
  uint8_t sub[96];
  b.BuildSubchannel(sub, kLeadIn);
  EXPECT_EQ(DecodeQ(sub + 12).tno, 0);
  EXPECT_EQ(b.SectorType(kLeadIn), CueSubcodeBuilder::kMode1);
  EXPECT_EQ(b.write_mode(), 2);
  EXPECT_EQ(b.start_lba(), kLeadIn);
}

TEST(CueSheetBuildTest, PrintsTheSheetAndTheLeadInTable) {
  CueSubcodeBuilder b;
  ::testing::internal::CaptureStdout();
  ASSERT_TRUE(b.BuildCueSheet(MakeToc(kAudioPregap0), 0, kLeadIn, 1));
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("MMC CUE SHEET session 1\n01 00 00 01 00 61 1A 42\n01 01 00 00 00 00 00 00\n"), std::string::npos)
      << out;
  // Eleven two-digit values a slot: track 1 at 00:02:00, track 2, A0, A1, A2.
  EXPECT_NE(out.find("raw toc table:\n0110000100000000000200\n0110000200000000021525\n"
                     "011000A000000000010000\n011000A100000000020000\n011000A200000000042850\n=== end ===\n"),
            std::string::npos)
      << out;
}

TEST(CueSheetBuildTest, CopyIsBoundedByRoom) {
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(MakeToc(kAudioPregap150), 0, kLeadIn, 1));
  std::vector<uint8_t> buffer(64, 0xEE);
  EXPECT_EQ(b.CopyCueSheet(buffer.data(), 10), 48);
  EXPECT_EQ(buffer[8], 0x01);  // second entry: control/ADR
  EXPECT_EQ(buffer[9], 0x01);  // and track 1
  EXPECT_EQ(buffer[10], 0xEE);
  EXPECT_EQ(b.CopyCueSheet(buffer.data(), -5), 48);
  EXPECT_EQ(b.CopyCueSheet(nullptr, 100), 48);
  std::fill(buffer.begin(), buffer.end(), 0xEE);
  EXPECT_EQ(b.CopyCueSheet(buffer.data(), 64), 48);
  EXPECT_EQ(buffer[48], 0xEE);
}

TEST(CueSheetBuildTest, NinetyNineTracksStayWithinTheLimits) {
  std::vector<TocRow> rows;
  for (int t = 1; t <= 99; ++t) {
    // Alternating data and audio: every track after the first gains an index 0.
    const uint8_t flags = (t % 2) ? 4 : 0;
    rows.push_back({1, static_cast<uint8_t>(t), 1, flags, static_cast<uint8_t>(flags ? 1 : 0), (t - 1) * 1000,
                    t * 1000 - 1});
  }
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(MakeToc(rows), 0, kLeadIn, 1));
  const std::vector<uint8_t> sheet = SheetOf(b);
  EXPECT_EQ(sheet.size(), (1u + 2u * 99u + 1u) * 8u);
  EXPECT_LE(sheet.size(), 2040u);
  EXPECT_EQ(ValidateCueSheet(sheet), "");
  EXPECT_EQ(b.lead_in_count1(), 99 + 3);
}

TEST(CueSheetBuildTest, BadTocsAreRefused) {
  CueSubcodeBuilder b;
  // Nothing of session 2.
  EXPECT_FALSE(b.BuildCueSheet(MakeToc(kAudioPregap0), 0, kLeadIn, 2));
  EXPECT_EQ(b.CueEntryCount(), 0);
  EXPECT_EQ(b.CopyCueSheet(nullptr, 0), 0);
  // Empty TOC.
  EXPECT_FALSE(b.BuildCueSheet(TocStructure(), 0, kLeadIn, 1));
  // Track number 0 would read as a lead-in.
  EXPECT_FALSE(b.BuildCueSheet(MakeToc({{1, 0, 1, 0, 0, 0, 99}}), 0, kLeadIn, 1));
  EXPECT_FALSE(b.BuildCueSheet(MakeToc({{1, 100, 1, 0, 0, 0, 99}}), 0, kLeadIn, 1));
  // 200 index-1 entries that all change the data bit need more than 255 entries.
  std::vector<TocRow> rows;
  for (int i = 0; i < 250; ++i) {
    rows.push_back({1, static_cast<uint8_t>(i % 99 + 1), 1, static_cast<uint8_t>((i % 2) * 4), 0, i * 300,
                    i * 300 + 299});
  }
  EXPECT_FALSE(b.BuildCueSheet(MakeToc(rows), 0, kLeadIn, 1));
  EXPECT_EQ(b.CueEntryCount(), 0);
  // Nothing generated from an empty builder reaches outside its tables.
  uint8_t sub[96];
  EXPECT_EQ(b.BuildSubchannel(sub, 1000), 0);
  EXPECT_TRUE(DecodeQ(sub + 12).crc_ok);
}

// Up to 200 TOC entries are taken whole; a TOC of more is refused, never cut.
TEST(CueSheetBuildTest, TwoHundredTocEntriesAreTakenAndMoreRefused) {
  auto rows_of = [](int count) {
    std::vector<TocRow> rows;
    for (int i = 0; i < count; ++i) {
      const auto track = static_cast<uint8_t>(i / 3 + 1);
      rows.push_back({1, track, static_cast<uint8_t>(i % 3), 0, 0, i * 300, i * 300 + 299});
    }
    return rows;
  };
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(MakeToc(rows_of(200)), 0, kLeadIn, 1));
  // Lead-in, 200 entries, lead-out after the last.
  EXPECT_EQ(b.CueEntryCount(), 202);
  std::vector<uint8_t> sheet = SheetOf(b);
  const uint8_t* lead_out = sheet.data() + 201 * 8;
  EXPECT_EQ(lead_out[1], 0xAA);
  const int32_t lba = lead_out[5] * 4500 + lead_out[6] * 75 + lead_out[7] - 150;
  EXPECT_EQ(lba, 200 * 300);
  // One entry more, and the most a TOC structure holds.
  for (int count : {201, 256}) {
    EXPECT_FALSE(b.BuildCueSheet(MakeToc(rows_of(count)), 0, kLeadIn, 1)) << count;
    EXPECT_EQ(b.CueEntryCount(), 0) << count;
  }
}

// --- Lead-in Q ---

struct LeadInSlot {
  int adr_control;
  std::array<uint8_t, 3> pmsf;
  int tno;
  std::array<uint8_t, 3> msf;
};

// Walks the lead-in, checks the running time and the repeat pattern, and
// collects the descriptors of each ADR by point.
std::map<int, LeadInSlot> CollectLeadIn(const CueSubcodeBuilder& b, int sectors, int adr, int repeat) {
  std::map<int, LeadInSlot> points;
  uint8_t previous[12] = {};
  for (int d = 0; d < sectors; ++d) {
    const int32_t lba = b.start_lba() + d;
    uint8_t sub[96];
    b.BuildSubchannel(sub, lba);
    const uint8_t* q = sub + 12;
    EXPECT_TRUE(subcode_test::QCrcOk(q)) << d;
    EXPECT_EQ(q[1], 0) << d;  // TNO 0 in the lead-in
    for (int i = 0; i < 12; ++i) EXPECT_EQ(sub[i], 0) << "P in the lead-in at " << d;
    if (d % repeat != 0) {
      // Same descriptor as the sector before: only the running time moves.
      EXPECT_EQ(q[2], previous[2]) << d;
      EXPECT_EQ(q[7], previous[7]) << d;
    }
    std::copy(q, q + 12, previous);
    if ((q[0] & 0x0F) != adr) continue;
    LeadInSlot s{q[0] >> 4 | (q[0] & 0x0F) << 4, {q[7], q[8], q[9]}, q[1], {q[3], q[4], q[5]}};
    points[q[2]] = s;
  }
  return points;
}

TEST(LeadInQTest, TablesFromTheCueSheetDecodeToTheToc) {
  // Tracks 12 to 14 of a second session: track numbers and times are BCD.
  const std::vector<TocRow> rows = {{1, 11, 1, 0, 0, 0, 9999},
                                    {2, 12, 1, 4, 2, 22000, 23999},
                                    {2, 13, 1, 0, 0, 24000, 25999},
                                    {2, 14, 0, 0, 0, 26000, 26149},
                                    {2, 14, 1, 0, 0, 26150, 29999}};
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(MakeToc(rows), 4, 16751, 2));
  ASSERT_EQ(b.lead_in_count1(), 6);
  EXPECT_EQ(b.lead_in_count2(), 0);
  const auto points = CollectLeadIn(b, 6 * 3 * 3, 1, 3);
  ASSERT_EQ(points.size(), 6u);
  auto time = [](const LeadInSlot& s) { return subcode_test::BcdMsfToLba(s.pmsf.data()); };
  EXPECT_EQ(time(points.at(0x12)), 22000);
  EXPECT_EQ(time(points.at(0x13)), 24000);
  EXPECT_EQ(time(points.at(0x14)), 26150);
  EXPECT_EQ(points.at(0x12).adr_control, 0x14);  // data track
  EXPECT_EQ(points.at(0x13).adr_control, 0x10);
  // A0: first track (BCD) and disc type 0x20 for a Mode 2 first track.
  EXPECT_EQ(points.at(0xA0).pmsf, (std::array<uint8_t, 3>{0x12, 0x20, 0x00}));
  EXPECT_EQ(points.at(0xA1).pmsf, (std::array<uint8_t, 3>{0x14, 0x00, 0x00}));
  EXPECT_EQ(time(points.at(0xA2)), 30000);
  for (int p : {0xA0, 0xA1, 0xA2}) EXPECT_EQ(points.at(p).adr_control, 0x14) << p;
}

TEST(LeadInQTest, RunningTimeAndPointsUpToNinetyNine) {
  std::vector<TocRow> rows;
  for (int t = 1; t <= 99; ++t) rows.push_back({1, static_cast<uint8_t>(t), 1, 0, 0, (t - 1) * 300, t * 300 - 1});
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(MakeToc(rows), 3, kLeadIn, 1));
  ASSERT_EQ(b.lead_in_count1(), 102);
  const auto points = CollectLeadIn(b, 102 * 3, 1, 3);
  ASSERT_EQ(points.size(), 102u);
  for (int t = 1; t <= 99; ++t) {
    const int point = (t / 10) << 4 | (t % 10);
    ASSERT_TRUE(points.count(point)) << t;
    EXPECT_EQ(subcode_test::BcdMsfToLba(points.at(point).pmsf.data()), (t - 1) * 300) << t;
  }
  EXPECT_EQ(points.at(0xA0).pmsf[0], 0x01);
  EXPECT_EQ(points.at(0xA0).pmsf[1], 0x00);
  EXPECT_EQ(points.at(0xA1).pmsf[0], 0x99);
  EXPECT_EQ(subcode_test::BcdMsfToLba(points.at(0xA2).pmsf.data()), 99 * 300);
  // Every descriptor, track 64 to 99 included, carries the lead-in's running time.
  for (int d = 0; d < 102 * 3; ++d) {
    uint8_t sub[96];
    b.BuildSubchannel(sub, kLeadIn + d);
    EXPECT_EQ(subcode_test::BcdMsfToLba(sub + 12 + 3), kLeadIn + d) << d;
    EXPECT_TRUE(subcode_test::IsBcd(sub[12 + 2]) || sub[12 + 2] >= 0xA0);
  }
}

TEST(LeadInQTest, RawTocReplacesTheTablesWithSixSectorCycle) {
  TocStructure toc = MakeToc({{1, 1, 1, 4, 1, 0, 9999}, {1, 2, 1, 0, 0, 10000, 19999}});
  auto raw = [](uint8_t session, uint8_t adr_control, uint8_t point, uint8_t m, uint8_t s, uint8_t f, uint8_t pm,
                uint8_t ps, uint8_t pf) {
    TOCRawTrack r;
    r.SessionNo = session;
    r.AdrControl = adr_control;
    r.Point = point;
    r.Minute = m;
    r.Second = s;
    r.Frame = f;
    r.PMinute = pm;
    r.PSecond = ps;
    r.PFrame = pf;
    return r;
  };
  toc.AddRawTrack(raw(1, 0x14, 0xA0, 0, 0, 0, 1, 0x20, 0));
  toc.AddRawTrack(raw(1, 0x10, 0xA1, 0, 0, 0, 2, 0, 0));
  toc.AddRawTrack(raw(1, 0x10, 0xA2, 0, 0, 0, 4, 28, 50));
  toc.AddRawTrack(raw(1, 0x14, 1, 0, 0, 0, 0, 2, 0));
  toc.AddRawTrack(raw(1, 0x10, 2, 0, 0, 0, 2, 15, 25));
  toc.AddRawTrack(raw(1, 0x54, 0xB0, 6, 58, 50, 79, 59, 74));
  toc.AddRawTrack(raw(1, 0x54, 0xC0, 128, 0, 0, 97, 26, 66));
  toc.AddRawTrack(raw(2, 0x10, 3, 0, 0, 0, 9, 0, 0));  // another session: not taken
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(toc, 4, kLeadIn, 1));
  ASSERT_EQ(b.lead_in_count1(), 5);
  ASSERT_EQ(b.lead_in_count2(), 2);

  // d mod 6 of 0..2 shows table 1 slot (d / 6) mod 5, 3..5 table 2 slot (d / 6) mod 2.
  const uint8_t table1_points[5] = {0xA0, 0xA1, 0xA2, 0x01, 0x02};
  const uint8_t table2_points[2] = {0xB0, 0xC0};
  for (int d = 0; d < 60; ++d) {
    uint8_t sub[96];
    b.BuildSubchannel(sub, kLeadIn + d);
    const uint8_t* q = sub + 12;
    ASSERT_TRUE(subcode_test::QCrcOk(q));
    if (d % 6 < 3) {
      EXPECT_EQ(q[2], table1_points[(d / 6) % 5]) << d;
      EXPECT_EQ(q[0] & 0x0F, 1) << d;
      EXPECT_EQ(subcode_test::BcdMsfToLba(q + 3), kLeadIn + d) << d;
    } else {
      EXPECT_EQ(q[2], table2_points[(d / 6) % 2]) << d;
      EXPECT_EQ(q[0], 0x45) << d;  // control 4, ADR 5
    }
    if (q[2] == 0xA0) {
      EXPECT_EQ((std::array<uint8_t, 3>{q[7], q[8], q[9]}), (std::array<uint8_t, 3>{0x01, 0x20, 0x00}));
    }
    if (q[2] == 0xA2) {
      EXPECT_EQ((std::array<uint8_t, 3>{q[7], q[8], q[9]}), (std::array<uint8_t, 3>{0x04, 0x28, 0x50}));
    }
    if (q[2] == 0x02) {
      EXPECT_EQ((std::array<uint8_t, 3>{q[7], q[8], q[9]}), (std::array<uint8_t, 3>{0x02, 0x15, 0x25}));
    }
    // B0 keeps its own times (next program area 06:58:50, last lead-out 79:59:74).
    if (q[2] == 0xB0) {
      EXPECT_EQ((std::array<uint8_t, 3>{q[3], q[4], q[5]}), (std::array<uint8_t, 3>{0x06, 0x58, 0x50}));
      EXPECT_EQ((std::array<uint8_t, 3>{q[7], q[8], q[9]}), (std::array<uint8_t, 3>{0x79, 0x59, 0x74}));
    }
  }
}

TEST(LeadInQTest, RawTocOfOtherSessionsOnlyKeepsTheCueTables) {
  TocStructure toc = MakeToc(kAudioPregap0);
  TOCRawTrack r;
  r.SessionNo = 2;
  r.AdrControl = 0x10;
  r.Point = 3;
  toc.AddRawTrack(r);
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(toc, 4, kLeadIn, 1));
  EXPECT_EQ(b.lead_in_count1(), 5);
  EXPECT_EQ(b.LeadInSlot1(0).Point, 0x01);
}

TEST(LeadInQTest, OnlyOtherAdrsInTheRawTocStillGiveQ) {
  TocStructure toc = MakeToc(kAudioPregap0);
  TOCRawTrack r;
  r.SessionNo = 1;
  r.AdrControl = 0x50;
  r.Point = 0xB0;
  toc.AddRawTrack(r);
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(toc, 4, kLeadIn, 1));
  EXPECT_EQ(b.lead_in_count1(), 0);
  EXPECT_EQ(b.lead_in_count2(), 1);
  for (int d = 0; d < 9; ++d) {
    uint8_t sub[96];
    b.BuildSubchannel(sub, kLeadIn + d);
    EXPECT_EQ(sub[12 + 2], 0xB0);
    EXPECT_TRUE(subcode_test::QCrcOk(sub + 12));
  }
}

// A whole lead-in as raw writing sends it, read back by the emulated drive's
// own lead-in decoder: the same tracks, lead-out, disc type and CD-Text.
TEST(LeadInQTest, DrivesDecoderReadsTheTocAndCdTextBack) {
  namespace emu = platform::emu;
  TocStructure toc = MakeToc({{1, 1, 1, 4, 2, 0, 9849},
                              {1, 2, 0, 0, 0, 9850, 9999},
                              {1, 2, 1, 0, 0, 10000, 19999},
                              {1, 3, 1, 1, 0, 20000, 25999}});
  std::vector<std::array<uint8_t, 18>> packs;
  for (int i = 0; i < 5; ++i) {
    std::array<uint8_t, 18> p{};
    p[0] = 0x80;
    p[1] = static_cast<uint8_t>(i < 2 ? 0 : i - 1);
    p[2] = static_cast<uint8_t>(i);
    for (int j = 0; j < 12; ++j) p[4 + j] = static_cast<uint8_t>('a' + i + j);
    const uint16_t crc = QCrc(p.data(), 16);
    p[16] = static_cast<uint8_t>(crc >> 8);
    p[17] = static_cast<uint8_t>(crc);
    TOCCDText pack = TOCCDText::Load(p.data());
    pack.Crc = {0, 0};  // the builder sets the CRC
    toc.AddCdText(pack);
    packs.push_back(p);
  }
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(toc, 4, kLeadIn, 1));

  std::vector<std::array<uint8_t, 12>> frames;
  std::vector<uint8_t> symbols;
  for (int32_t lba = kLeadIn; lba < -150; ++lba) {
    uint8_t sub[96];
    b.BuildSubchannel(sub, lba);
    std::array<uint8_t, 12> q;
    std::copy(sub + 12, sub + 24, q.begin());
    frames.push_back(q);
    uint8_t pw[96];
    uint8_t rw[96];
    SubchannelChannelsToPw(sub, pw);
    emu::ExtractRwSymbols(pw, rw);
    symbols.insert(symbols.end(), rw, rw + 96);
  }
  std::string error;
  const auto layout = emu::DecodeLeadIn(frames, &error);
  ASSERT_TRUE(layout.has_value()) << error;
  ASSERT_EQ(layout->sessions.size(), 1u);
  EXPECT_EQ(layout->sessions[0].first_track, 1);
  EXPECT_EQ(layout->sessions[0].last_track, 3);
  EXPECT_EQ(layout->sessions[0].leadout, 26000);
  EXPECT_EQ(layout->sessions[0].disc_type, 0x20);  // Mode 2 first track
  ASSERT_EQ(layout->tracks.size(), 3u);
  const int32_t starts[3] = {0, 10000, 20000};
  const uint8_t controls[3] = {4, 0, 1};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(layout->tracks[i].number, i + 1);
    EXPECT_EQ(layout->tracks[i].start, starts[i]) << i;
    EXPECT_EQ(layout->tracks[i].control, controls[i]) << i;
  }
  const std::vector<emu::CdTextPack> text = emu::CollectCdTextPacks(symbols);
  ASSERT_EQ(text.size(), packs.size());
  for (size_t i = 0; i < packs.size(); ++i) EXPECT_EQ(text[i], packs[i]) << i;
}

TEST(LeadInQTest, CdTextPacksTravelInRwWithFreshCrc) {
  TocStructure toc = MakeToc(kAudioPregap0);
  const int n = 7;
  for (int i = 0; i < n; ++i) {
    TOCCDText pack;
    pack.PacketType = static_cast<uint8_t>(0x80 + (i % 3));
    pack.TrackNo = static_cast<uint8_t>(i % 3);
    pack.PacketNo = static_cast<uint8_t>(i);
    for (int j = 0; j < 12; ++j) pack.Data[j] = static_cast<uint8_t>('A' + i + j);
    pack.Crc = {0x12, 0x34};  // wrong on purpose
    toc.AddCdText(pack);
  }
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(toc, 4, kLeadIn, 1));
  // The copy carries the recomputed CRCs.
  for (int i = 0; i < n; ++i) {
    uint8_t bytes[18];
    b.toc().CdText(i).Store(bytes);
    const uint16_t crc = QCrc(bytes, 16);
    EXPECT_EQ(bytes[16], crc >> 8) << i;
    EXPECT_EQ(bytes[17], crc & 0xFF) << i;
  }
  for (int d = 0; d < 20; ++d) {
    uint8_t sub[96];
    b.BuildSubchannel(sub, kLeadIn + d);
    const std::array<uint8_t, 72> packs = subcode_test::RwToPacks(sub);
    for (int j = 0; j < 4; ++j) {
      const int expected = (4 * d + j) % n;
      const uint8_t* pack = packs.data() + j * 18;
      EXPECT_EQ(pack[2], expected) << d << "/" << j;
      EXPECT_EQ(pack[4], 'A' + expected) << d << "/" << j;
      const uint16_t crc = QCrc(pack, 16);
      EXPECT_EQ(pack[16], crc >> 8);
      EXPECT_EQ(pack[17], crc & 0xFF);
    }
  }
  // Outside the lead-in R-W stay clear.
  uint8_t sub[96];
  b.BuildSubchannel(sub, 500);
  for (int i = 24; i < 96; ++i) EXPECT_EQ(sub[i], 0) << i;
}

// --- Q CRC ---

TEST(QCrcTest, TestSideCrcMatchesThePublishedCheckValue) {
  // CRC-16 poly 0x1021, init 0, not reflected, output inverted: check 0xCE3C.
  const char text[] = "123456789";
  EXPECT_EQ(QCrc(reinterpret_cast<const uint8_t*>(text), 9), 0xCE3C);
}

struct QCrcCase {
  std::array<uint8_t, 10> q;
};

class QCrcFrameTest : public ::testing::TestWithParam<QCrcCase> {};

TEST_P(QCrcFrameTest, BuilderAgreesWithTheBitwiseCrc) {
  std::array<uint8_t, 12> q{};
  std::copy(GetParam().q.begin(), GetParam().q.end(), q.begin());
  CueSubcodeBuilder b;
  b.SetQCrc(q.data());
  const uint16_t crc = QCrc(q.data(), 10);
  EXPECT_EQ(q[10], crc >> 8);
  EXPECT_EQ(q[11], crc & 0xFF);
  EXPECT_TRUE(b.IsQCrcValid(q.data()));
  q[11] ^= 1;
  EXPECT_FALSE(b.IsQCrcValid(q.data()));
  q[11] ^= 1;
  q[4] ^= 0x80;
  EXPECT_FALSE(b.IsQCrcValid(q.data()));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, QCrcFrameTest,
    ::testing::Values(QCrcCase{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},                         // CRC FF FF
                      QCrcCase{{0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00}},  // track 1 start
                      QCrcCase{{0x41, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x02, 0x01}},
                      QCrcCase{{0x01, 0xAA, 0x01, 0x00, 0x00, 0x00, 0x00, 0x72, 0x12, 0x34}},
                      QCrcCase{{0x02, 0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x30, 0x00, 0x41}}));

TEST(QCrcTest, AllZeroQHasInvertedZeroCrc) {
  uint8_t q[12] = {};
  CueSubcodeBuilder().SetQCrc(q);
  EXPECT_EQ(q[10], 0xFF);
  EXPECT_EQ(q[11], 0xFF);
}

}  // namespace
}  // namespace sorvel
