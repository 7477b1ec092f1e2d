// Program-area subchannel and per-sector output of CueSubcodeBuilder.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "device_engine/cue_subcode_builder.h"
#include "device_engine/subcode_test_util.h"
#include "platform/emulated_drive/disc_layout.h"

namespace sorvel {
namespace {

using subcode_test::DecodeQ;
using subcode_test::MakeToc;
using subcode_test::QFrame;
using subcode_test::Subchannel;
using subcode_test::TocRow;

constexpr int32_t kLeadIn = -11634;
const char kMcn[] = "4901234567894";
const char kIsrc[] = "JPK3A9912345";

// Audio, copy permitted: track 1 0..9999, track 2 pregap 10000..10149 and
// 10150..19999; lead-out from 20000.
TocStructure AudioDisc() {
  TocStructure toc = MakeToc({{1, 1, 1, 2, 0, 0, 9999}, {1, 2, 0, 2, 0, 10000, 10149}, {1, 2, 1, 2, 0, 10150, 19999}});
  McnCode mcn;
  std::memcpy(mcn.data(), kMcn, 13);
  toc.SetMcn(mcn);
  IsrcCode isrc;
  std::memcpy(isrc.data(), kIsrc, 12);
  toc.SetIsrc(1, isrc);  // track 2
  toc.SetCount(TST_ISRC, 2);
  return toc;
}

// Mode 1 track 0..9999, audio track from 10000 (index 0 from 9850), lead-out 20000.
TocStructure DataAudioDisc() { return MakeToc({{1, 1, 1, 4, 1, 0, 9999}, {1, 2, 1, 0, 0, 10000, 19999}}); }

// What the Q of each position of AudioDisc must say, from the disc layout.
struct Expected {
  int tno;
  int index;
  int relative;
  bool p;
};

Expected ExpectedAt(int32_t lba) {
  if (lba < 0) return {1, 0, 0 - lba, lba > -150};
  if (lba < 10000) return {1, 1, lba, lba == 0};
  if (lba < 10150) return {2, 0, 10150 - lba, lba > 10000};
  if (lba < 20000) return {2, 1, lba - 10150, lba == 10150 || lba > 19850};
  return {0xAA, 1, lba - 20000, false};
}

TEST(ProgramAreaQTest, EveryPositionDecodesToTheLayout) {
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(AudioDisc(), 4, kLeadIn, 1));
  int mcn_frames = 0;
  int isrc_frames = 0;
  for (int32_t lba = -150; lba < 20300; ++lba) {
    uint8_t sub[96];
    ASSERT_EQ(b.BuildSubchannel(sub, lba), CueSubcodeBuilder::kAudio);
    const QFrame q = DecodeQ(sub + 12);
    ASSERT_TRUE(q.crc_ok) << lba;
    const Expected e = ExpectedAt(lba);
    for (int i = 0; i < 12; ++i) ASSERT_EQ(sub[i], e.p ? 0xFF : 0x00) << "P at " << lba;
    for (int i = 24; i < 96; ++i) ASSERT_EQ(sub[i], 0) << "R-W at " << lba;
    const int k = ((lba % 100) + 100) % 100;  // the first track starts at LBA 0
    const bool in_track = e.tno != 0xAA && e.index >= 1;
    if (in_track && k == 24) {
      ASSERT_EQ(q.adr, 2) << lba;
      EXPECT_EQ(q.control, 2);
      EXPECT_EQ(q.mcn, kMcn);
      EXPECT_EQ(q.aframe, (lba + 150) % 75);
      EXPECT_EQ(sub[12 + 8], 0);
      ++mcn_frames;
      continue;
    }
    if (in_track && e.tno == 2 && k == 74) {
      ASSERT_EQ(q.adr, 3) << lba;
      EXPECT_EQ(q.control, 2);
      EXPECT_EQ(q.isrc, kIsrc);
      EXPECT_EQ(q.aframe, (lba + 150) % 75);
      ++isrc_frames;
      continue;
    }
    ASSERT_EQ(q.adr, 1) << lba;
    EXPECT_EQ(q.control, e.tno == 0xAA ? 0 : 2) << lba;  // the lead-out entry is plain audio
    ASSERT_EQ(q.tno, e.tno) << lba;
    ASSERT_EQ(q.index, e.index) << lba;
    ASSERT_EQ(q.relative, e.relative) << lba;
    ASSERT_EQ(q.absolute_lba, lba) << lba;
    EXPECT_EQ(sub[12 + 6], 0);
  }
  EXPECT_EQ(mcn_frames, 200 - 2);  // every 100 sectors of both tracks, none in the pregap hundred
  EXPECT_EQ(isrc_frames, 99);
}

TEST(ProgramAreaQTest, PqBlockCarriesQAndTheP) {
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(AudioDisc(), 3, kLeadIn, 1));
  for (int32_t lba : {-100, 0, 1, 5000, 10024, 10100, 10150, 19900, 20010}) {
    uint8_t sub[96];
    b.BuildSubchannel(sub, lba);
    uint8_t block[16];
    b.BuildPqBlock(block, lba);
    EXPECT_EQ(0, std::memcmp(block, sub + 12, 12)) << lba;
    EXPECT_EQ(block[12] | block[13] | block[14], 0);
    EXPECT_EQ(block[15], ExpectedAt(lba).p ? 0x80 : 0x00) << lba;
  }
}

TEST(ProgramAreaQTest, DataAudioDiscTypesAndControls) {
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(DataAudioDisc(), 3, kLeadIn, 1));
  struct Case {
    int32_t lba;
    int type;
    int control;
    int tno;
    int index;
  };
  const Case cases[] = {{kLeadIn, 1, 4, 0, -1},  {-150, 1, 4, 1, 0},  {0, 1, 4, 1, 1},
                        {9849, 1, 4, 1, 1},      {9850, 0, 0, 2, 0},  {10000, 0, 0, 2, 1},
                        {19999, 0, 0, 2, 1},     {20000, 0, 0, 0xAA, 1}, {26749, 0, 0, 0xAA, 1}};
  for (const Case& c : cases) {
    uint8_t sub[96];
    EXPECT_EQ(b.BuildSubchannel(sub, c.lba), c.type) << c.lba;
    EXPECT_EQ(b.SectorType(c.lba), c.type) << c.lba;
    const QFrame q = DecodeQ(sub + 12);
    EXPECT_EQ(q.control, c.control) << c.lba;
    EXPECT_EQ(q.tno, c.tno) << c.lba;
    if (c.index >= 0) {
      EXPECT_EQ(q.index, c.index) << c.lba;
    }
  }
  // A data disc's lead-out takes the type of the last track.
  CueSubcodeBuilder data_only;
  ASSERT_TRUE(data_only.BuildCueSheet(MakeToc({{1, 1, 1, 4, 2, 0, 999}}), 0, kLeadIn, 1));
  EXPECT_EQ(data_only.SectorType(1000), CueSubcodeBuilder::kMode2);
  EXPECT_EQ(data_only.SectorType(kLeadIn), CueSubcodeBuilder::kMode2);
}

// A Mode 1 track of 100 sectors and an audio track right after it (no
// pregap: it would not fit before the short track). Every position's Q, and
// the sector type, agree with the emulated drive's own Red Book generator for
// that layout.
TEST(ProgramAreaQTest, ShortDataTrackBeforeAudioMatchesTheDrivesQ) {
  namespace emu = platform::emu;
  emu::CdLayout layout;
  emu::CdTrack data;
  data.number = 1;
  data.control = 4;
  data.mode = 1;
  data.pregap_start = -150;
  data.start = 0;
  emu::CdTrack audio;
  audio.number = 2;
  audio.pregap_start = 100;
  audio.start = 100;
  emu::CdSession session;
  session.first_track = 1;
  session.last_track = 2;
  session.leadout = 1000;
  layout.tracks = {data, audio};
  layout.sessions = {session};
  layout.FixTrackEnds();

  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(MakeToc({{1, 1, 1, 4, 1, 0, 99}, {1, 2, 1, 0, 0, 100, 999}}), 4, kLeadIn, 1));
  for (int32_t lba = -150; lba < 1100; ++lba) {
    uint8_t sub[96];
    uint8_t expected[96];
    const int type = b.BuildSubchannel(sub, lba);
    emu::GenerateSubchannel(layout, lba, expected);
    ASSERT_EQ(0, std::memcmp(sub + 12, expected + 12, 12)) << "Q at " << lba;
    const emu::CdTrack* track = layout.TrackAt(lba);
    const int drive_type = track == nullptr ? CueSubcodeBuilder::kAudio : track->mode;
    ASSERT_EQ(type, drive_type) << "sector type at " << lba;
  }
}

// --- Main channel ---

uint32_t Edc(const uint8_t* data, size_t length) {
  uint32_t edc = 0;
  for (size_t i = 0; i < length; ++i) {
    edc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) edc = (edc >> 1) ^ ((edc & 1u) ? 0xD8018001u : 0u);
  }
  return edc;
}

void ExpectSyncAndHeader(const uint8_t* s, int32_t lba, uint8_t mode) {
  EXPECT_EQ(s[0], 0x00);
  for (int i = 1; i < 11; ++i) EXPECT_EQ(s[i], 0xFF);
  EXPECT_EQ(s[11], 0x00);
  const int x = lba + 150;
  EXPECT_EQ(s[12], ((x / 4500) / 10) << 4 | (x / 4500) % 10);
  EXPECT_EQ(s[13], (((x / 75) % 60) / 10) << 4 | ((x / 75) % 60) % 10);
  EXPECT_EQ(s[14], ((x % 75) / 10) << 4 | (x % 75) % 10);
  EXPECT_EQ(s[15], mode);
}

uint32_t Load32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

TEST(MainChannelTest, FormsByTypeAndData) {
  CueSubcodeBuilder b;
  std::vector<uint8_t> data(2352);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  std::vector<uint8_t> out(2352);

  EXPECT_EQ(b.BuildMainChannel(0, 500, out.data(), data.data(), true), 2352);
  EXPECT_EQ(out, data);
  b.BuildMainChannel(0, 500, out.data(), nullptr, false);
  EXPECT_EQ(out, std::vector<uint8_t>(2352, 0));

  // Mode 1 from 2,048 bytes of user data.
  b.BuildMainChannel(1, 1234, out.data(), data.data(), true);
  ExpectSyncAndHeader(out.data(), 1234, 1);
  EXPECT_EQ(0, std::memcmp(out.data() + 16, data.data(), 2048));
  EXPECT_EQ(Load32(out.data() + 2064), Edc(out.data(), 2064));
  for (int i = 2068; i < 2076; ++i) EXPECT_EQ(out[i], 0);
  // Mode 1 raw: taken whole.
  b.BuildMainChannel(1, 1234, out.data(), data.data(), false);
  EXPECT_EQ(out, data);
  // Empty Mode 1: zero user data, still a valid sector.
  b.BuildMainChannel(1, 77, out.data(), nullptr, false);
  ExpectSyncAndHeader(out.data(), 77, 1);
  EXPECT_EQ(Load32(out.data() + 2064), Edc(out.data(), 2064));

  // Empty Mode 2: sync and header only.
  b.BuildMainChannel(2, 88, out.data(), nullptr, false);
  ExpectSyncAndHeader(out.data(), 88, 2);
  for (int i = 16; i < 2352; ++i) ASSERT_EQ(out[i], 0) << i;
  // Mode 2 Form 1 from 2,336 bytes whose subheader copies agree.
  std::vector<uint8_t> form1(2336, 0x5A);
  const uint8_t subheader[4] = {0, 0, 0x08, 0};
  std::memcpy(form1.data(), subheader, 4);
  std::memcpy(form1.data() + 4, subheader, 4);
  b.BuildMainChannel(2, 99, out.data(), form1.data(), true);
  ExpectSyncAndHeader(out.data(), 99, 2);
  EXPECT_EQ(0, std::memcmp(out.data() + 16, form1.data(), 2056));
  EXPECT_EQ(Load32(out.data() + 2072), Edc(out.data() + 16, 2056));
  // Mode 2 raw: taken whole.
  b.BuildMainChannel(2, 99, out.data(), data.data(), false);
  EXPECT_EQ(out, data);
}

// --- Whole sectors ---

struct ModeCase {
  int32_t mode;
  int32_t size;
};

class SectorModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(SectorModeTest, ScramblingAndAppendedSubchannel) {
  const int32_t mode = GetParam().mode;
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(DataAudioDisc(), mode, kLeadIn, 1));
  const std::vector<uint8_t> sequence = subcode_test::ScramblingSequence(2340);
  std::vector<uint8_t> user(2352, 0x3C);
  // Data sector, audio sector, pregap of the audio track, lead-in.
  for (int32_t lba : {100, 15000, 9900, kLeadIn + 10}) {
    std::vector<uint8_t> out(2448, 0xEE);
    ASSERT_EQ(b.BuildSector(out.data(), user.data(), nullptr, mode, lba, true, false), GetParam().size) << lba;
    std::vector<uint8_t> main(2352);
    b.BuildMainChannel(b.SectorType(lba), lba, main.data(), user.data(), true);
    const bool scrambled = mode != 0 && (b.SectorType(lba) != 0 || lba < -150);
    for (int i = 0; i < 2352; ++i) {
      const uint8_t expected = (scrambled && i >= 12) ? main[i] ^ sequence[i - 12] : main[i];
      ASSERT_EQ(out[i], expected) << lba << " byte " << i;
    }
    uint8_t sub[96];
    b.BuildSubchannel(sub, lba);
    if (mode == 2) {
      EXPECT_EQ(0, std::memcmp(out.data() + 2352, sub, 96));
    }
    if (mode == 3) {
      uint8_t block[16];
      b.BuildPqBlock(block, lba);
      EXPECT_EQ(0, std::memcmp(out.data() + 2352, block, 16));
    }
    if (mode == 4) {
      const Subchannel channels = subcode_test::DeinterleavePw(out.data() + 2352);
      EXPECT_EQ(0, std::memcmp(channels.data(), sub, 96)) << lba;
    }
    if (GetParam().size < 2448) {
      EXPECT_EQ(out[GetParam().size], 0xEE);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, SectorModeTest,
                         ::testing::Values(ModeCase{0, 2352}, ModeCase{1, 2352}, ModeCase{2, 2448}, ModeCase{3, 2368},
                                           ModeCase{4, 2448}));

TEST(SectorTest, AudioFirstLeadInIsScrambledInRawModes) {
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(AudioDisc(), 4, kLeadIn, 1));
  std::vector<uint8_t> out(2448);
  b.BuildSector(out.data(), nullptr, nullptr, 4, kLeadIn, false, false);
  const std::vector<uint8_t> sequence = subcode_test::ScramblingSequence(2340);
  EXPECT_EQ(0, std::memcmp(out.data() + 12, sequence.data(), 2340));
  b.BuildSector(out.data(), nullptr, nullptr, 4, -150, false, false);
  EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 2352), std::vector<uint8_t>(2352, 0));
}

Subchannel Generated(const CueSubcodeBuilder& b, int32_t lba) {
  Subchannel s{};
  b.BuildSubchannel(s.data(), lba);
  return s;
}

void SetPBits(Subchannel& s, int bits) {
  std::memset(s.data(), 0, 12);
  for (int i = 0; i < bits; ++i) s[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
}

struct PCase {
  int bits;
  bool correct;
  uint8_t expected;  // every P byte; 0x11 stands for "unchanged"
};

class PCorrectionTest : public ::testing::TestWithParam<PCase> {};

TEST_P(PCorrectionTest, MajorityOfTheNinetySixBits) {
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(AudioDisc(), 2, kLeadIn, 1));
  Subchannel given = Generated(b, 5000);
  SetPBits(given, GetParam().bits);
  std::vector<uint8_t> out(2448);
  ASSERT_EQ(b.BuildSector(out.data(), nullptr, given.data(), 2, 5000, false, GetParam().correct), 2448);
  for (int i = 0; i < 12; ++i) {
    const uint8_t expected = GetParam().expected == 0x11 ? given[i] : GetParam().expected;
    EXPECT_EQ(out[2352 + i], expected) << i;
  }
  EXPECT_EQ(0, std::memcmp(out.data() + 2352 + 12, given.data() + 12, 84));
}

INSTANTIATE_TEST_SUITE_P(Bits, PCorrectionTest,
                         ::testing::Values(PCase{0, true, 0x00}, PCase{96, true, 0xFF}, PCase{1, true, 0x00},
                                           PCase{47, true, 0x00}, PCase{48, true, 0xFF}, PCase{50, true, 0xFF},
                                           PCase{95, true, 0xFF}, PCase{50, false, 0x11}, PCase{20, false, 0x11}));

TEST(SectorTest, BadQIsReplacedGoodQStays) {
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(AudioDisc(), 2, kLeadIn, 1));
  std::vector<uint8_t> out(2448);
  // A valid Q of another position is not the builder's business.
  Subchannel other = Generated(b, 7000);
  other[12] = (other[12] & 0xF0) | 0x05;  // not ADR 1: no offset learned from it
  b.SetQCrc(other.data() + 12);
  b.BuildSector(out.data(), nullptr, other.data(), 2, 5000, false, true);
  EXPECT_EQ(0, std::memcmp(out.data() + 2352, other.data(), 96));
  EXPECT_EQ(b.subchannel_offset(), 0);
  // A broken Q becomes the generated one.
  Subchannel broken = Generated(b, 5000);
  broken[12 + 4] ^= 0x10;
  b.BuildSector(out.data(), nullptr, broken.data(), 2, 5000, false, true);
  const QFrame q = DecodeQ(out.data() + 2352 + 12);
  EXPECT_TRUE(q.crc_ok);
  EXPECT_EQ(q.absolute_lba, 5000);
  EXPECT_EQ(q.relative, 5000);
  // Without the correct flag it stays broken.
  b.BuildSector(out.data(), nullptr, broken.data(), 2, 5000, false, false);
  EXPECT_EQ(0, std::memcmp(out.data() + 2352, broken.data(), 96));
}

class ShiftedQTest : public ::testing::TestWithParam<int> {};

// The image's subchannel runs `shift` sectors ahead of its main channel: the
// offset is learned from the good frames, and the broken ones are rebuilt to
// fit the shifted stream (position, MCN and ISRC frames alike).
TEST_P(ShiftedQTest, BrokenFramesFollowTheShift) {
  const int shift = GetParam();
  CueSubcodeBuilder source;
  ASSERT_TRUE(source.BuildCueSheet(AudioDisc(), 2, kLeadIn, 1));
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(AudioDisc(), 2, kLeadIn, 1));
  std::vector<uint8_t> out(2448);
  int replaced = 0;
  for (int32_t lba = 10050; lba < 10450; ++lba) {
    const Subchannel clean = Generated(source, lba + shift);
    Subchannel given = clean;
    if (lba % 7 == 3 || lba % 100 == 22 || lba % 100 == 76) {
      given[12 + 1 + lba % 9] ^= 0x21;
      ++replaced;
    }
    if (lba % 11 == 0) given[3] ^= 0x04;  // one stray P bit
    ASSERT_EQ(b.BuildSector(out.data(), nullptr, given.data(), 2, lba, false, true), 2448);
    ASSERT_EQ(0, std::memcmp(out.data() + 2352, clean.data(), 96)) << lba;
    const QFrame q = DecodeQ(out.data() + 2352 + 12);
    ASSERT_TRUE(q.crc_ok);
    if (q.adr == 1) {
      ASSERT_EQ(q.absolute_lba, lba + shift) << lba;
    }
  }
  EXPECT_GT(replaced, 50);
  EXPECT_EQ(b.subchannel_offset(), shift);
  // A new build forgets the offset.
  ASSERT_TRUE(b.BuildCueSheet(AudioDisc(), 2, kLeadIn, 1));
  EXPECT_EQ(b.subchannel_offset(), 0);
}

INSTANTIATE_TEST_SUITE_P(Shifts, ShiftedQTest, ::testing::Values(-2, 2, 0));

TEST(SectorTest, PqBlockFromAHandedOverSubchannel) {
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(AudioDisc(), 3, kLeadIn, 1));
  std::vector<uint8_t> out(2448);
  Subchannel given = Generated(b, 5000);
  struct Case {
    uint8_t p0, p1, flag;
  };
  for (const Case& c : {Case{0xFF, 0xFF, 0x80}, Case{0xFF, 0x00, 0x00}, Case{0x00, 0x01, 0x00}, Case{0x01, 0x40, 0x80}}) {
    given[0] = c.p0;
    given[1] = c.p1;
    ASSERT_EQ(b.BuildSector(out.data(), nullptr, given.data(), 3, 5000, false, false), 2368);
    EXPECT_EQ(0, std::memcmp(out.data() + 2352, given.data() + 12, 12));
    EXPECT_EQ(out[2352 + 12] | out[2352 + 13] | out[2352 + 14], 0);
    EXPECT_EQ(out[2352 + 15], c.flag) << int(c.p0) << " " << int(c.p1);
  }
}

TEST(SectorTest, UserDataIgnoresTheHandedOverSubchannel) {
  CueSubcodeBuilder b;
  ASSERT_TRUE(b.BuildCueSheet(DataAudioDisc(), 2, kLeadIn, 1));
  Subchannel junk;
  junk.fill(0x5A);
  std::vector<uint8_t> user(2352, 0x11);
  std::vector<uint8_t> out(2448);
  b.BuildSector(out.data(), user.data(), junk.data(), 2, 300, true, true);
  const Subchannel generated = Generated(b, 300);
  EXPECT_EQ(0, std::memcmp(out.data() + 2352, generated.data(), 96));
}

}  // namespace
}  // namespace sorvel
