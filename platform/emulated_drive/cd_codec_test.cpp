#include "platform/emulated_drive/cd_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "native_common/ecc_encoder.h"
#include "platform/emulated_drive/disc_layout.h"

namespace sorvel::platform::emu {
namespace {

TEST(CdCodecTest, MsfAndLbaRoundTrip) {
  struct Case {
    int32_t lba;
    int m, s, f;
  } cases[] = {{0, 0, 2, 0}, {-150, 0, 0, 0}, {-11634, 97, 26, 66}, {359849, 79, 59, 74}, {-151, 99, 59, 74}, {-1, 0, 1, 74}};
  for (const auto& c : cases) {
    Msf m = LbaToMsf(c.lba);
    EXPECT_EQ(m.minute, c.m);
    EXPECT_EQ(m.second, c.s);
    EXPECT_EQ(m.frame, c.f);
    EXPECT_EQ(MsfToLba(c.m, c.s, c.f), c.lba);
  }
}

TEST(CdCodecTest, CheckValues) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  // CRC-16/XMODEM check value 0x31C3, inverted.
  EXPECT_EQ(Crc16Inverted(digits, 9), 0xCE3C);
  // CRC-32/CD-ROM-EDC check value.
  EXPECT_EQ(ComputeEdc(digits, 9), 0x6EC2EDC4u);
}

TEST(CdCodecTest, ScramblerSequenceStartsAsEcma130Says) {
  const uint8_t expected[] = {0x01, 0x80, 0x00, 0x60, 0x00, 0x28, 0x00, 0x1E, 0x80, 0x08, 0x60, 0x06, 0xA8, 0x02, 0xFE, 0x81};
  EXPECT_EQ(std::memcmp(ScramblerTable().data() + 12, expected, sizeof expected), 0);
  uint8_t sector[2352];
  for (size_t i = 0; i < sizeof sector; ++i) sector[i] = static_cast<uint8_t>(i);
  uint8_t copy[2352];
  std::memcpy(copy, sector, sizeof sector);
  ScrambleSector(sector);
  EXPECT_EQ(std::memcmp(sector, copy, 12), 0);
  EXPECT_NE(std::memcmp(sector, copy, sizeof sector), 0);
  ScrambleSector(sector);
  EXPECT_EQ(std::memcmp(sector, copy, sizeof sector), 0);
}

TEST(CdCodecTest, Mode1SectorAgreesWithTheSectorEncoder) {
  std::mt19937 rng(7);
  for (int32_t lba : {0, 16, 1234, 359000, -150}) {
    uint8_t user[2048];
    for (auto& b : user) b = static_cast<uint8_t>(rng());
    uint8_t ours[2352], theirs[2352] = {};
    BuildMode1Sector(lba, user, ours);
    std::memcpy(theirs + 16, user, 2048);
    EccEncoder().EncodeMode1(theirs, lba);
    EXPECT_EQ(std::memcmp(ours, theirs, 2352), 0) << "LBA " << lba;
  }
}

TEST(CdCodecTest, SubchannelInterleavingRoundTrip) {
  uint8_t separate[96], interleaved[96], back[96];
  for (int i = 0; i < 96; ++i) separate[i] = static_cast<uint8_t>(i * 37 + 5);
  InterleaveSubchannel(separate, interleaved);
  DeinterleaveSubchannel(interleaved, back);
  EXPECT_EQ(std::memcmp(separate, back, 96), 0);
  // P all ones sets bit 7 of every interleaved byte.
  std::memset(separate, 0, 96);
  std::memset(separate, 0xFF, 12);
  InterleaveSubchannel(separate, interleaved);
  for (int i = 0; i < 96; ++i) EXPECT_EQ(interleaved[i], 0x80);
}

TEST(CdCodecTest, CdTextPacksThroughRwSymbols) {
  uint8_t packs[72], symbols[96], back[72];
  for (int i = 0; i < 72; ++i) packs[i] = static_cast<uint8_t>(i * 11);
  PacksToRwSymbols(packs, symbols);
  for (uint8_t s : symbols) EXPECT_LT(s, 64);
  RwSymbolsToPacks(symbols, back);
  EXPECT_EQ(std::memcmp(packs, back, 72), 0);
}

TEST(CdCodecTest, IsrcInQ) {
  uint8_t bytes[8];
  ASSERT_TRUE(EncodeIsrcQ("JPABC0512345", bytes));
  EXPECT_EQ(DecodeIsrcQ(bytes), "JPABC0512345");
  EXPECT_FALSE(EncodeIsrcQ("jpabc0512345", bytes));
  EXPECT_FALSE(EncodeIsrcQ("JPABC05123", bytes));
}

TEST(DiscLayoutTest, ProgramAreaQ) {
  CdLayout layout;
  CdTrack t1;
  t1.number = 1;
  t1.pregap_start = -150;
  t1.start = 0;
  CdTrack t2;
  t2.number = 2;
  t2.pregap_start = 1000;
  t2.start = 1150;
  t2.isrc = "JPABC0512345";
  layout.tracks = {t1, t2};
  CdSession s;
  s.last_track = 2;
  s.leadout = 5000;
  layout.sessions = {s};
  layout.mcn = "4901234567894";
  layout.FixTrackEnds();
  uint8_t q[12];
  bool p = false;
  GenerateQ(layout, 1100, q, &p);  // pregap of track 2, relative time counts down
  EXPECT_TRUE(p);
  EXPECT_EQ(q[0], 0x01);
  EXPECT_EQ(q[1], 0x02);
  EXPECT_EQ(q[2], 0x00);
  EXPECT_EQ(q[5], 0x50);  // 50 frames to index 1
  EXPECT_TRUE(QCrcValid(q));
  GenerateQ(layout, 5001, q, &p);  // lead-out
  EXPECT_EQ(q[1], 0xAA);
  EXPECT_EQ(q[5], 0x01);
  bool found_mcn = false, found_isrc = false;
  for (int32_t lba = 1150; lba < 1350; ++lba) {
    GenerateQ(layout, lba, q, &p);
    EXPECT_TRUE(QCrcValid(q));
    EXPECT_FALSE(p);
    if ((q[0] & 0x0F) == 2) {
      found_mcn = true;
      EXPECT_EQ(q[1], 0x49);
      EXPECT_EQ(q[7], 0x40);
    }
    if ((q[0] & 0x0F) == 3) {
      found_isrc = true;
      EXPECT_EQ(DecodeIsrcQ(q + 1), "JPABC0512345");
    }
  }
  EXPECT_TRUE(found_mcn);
  EXPECT_TRUE(found_isrc);
}

TEST(DiscLayoutTest, LeadInRoundTrip) {
  CdLayout layout;
  for (int n = 1; n <= 3; ++n) {
    CdTrack t;
    t.number = n;
    t.control = n == 1 ? 0x4 : 0x0;
    t.start = (n - 1) * 3000;
    t.pregap_start = n == 1 ? -150 : t.start - 150;
    layout.tracks.push_back(t);
  }
  CdSession s;
  s.last_track = 3;
  s.leadout = 9000;
  layout.sessions = {s};
  layout.FixTrackEnds();
  auto frames = BuildLeadInQ(layout, 1, kFirstLeadInStart, 60);
  frames[0][4] ^= 1;  // a damaged frame is skipped
  std::string error;
  auto decoded = DecodeLeadIn(frames, &error);
  ASSERT_TRUE(decoded) << error;
  ASSERT_EQ(decoded->tracks.size(), 3u);
  EXPECT_EQ(decoded->tracks[1].start, 3000);
  EXPECT_EQ(decoded->tracks[0].control, 0x4);
  EXPECT_EQ(decoded->sessions[0].leadout, 9000);
  frames.resize(6);  // not even A0 yet
  EXPECT_FALSE(DecodeLeadIn(frames, &error));
}

// Lead-in Q frames with a valid CRC but an impossible TOC are refused rather
// than turned into a disc with no tracks, tracks out of order or tracks past
// the lead-out.
TEST(DiscLayoutTest, LeadInWithImpossibleTocIsRefused) {
  auto frame = [](uint8_t point, uint8_t m, uint8_t s, uint8_t f, uint8_t control = 0) {
    std::array<uint8_t, 12> q{};
    q[0] = static_cast<uint8_t>((control << 4) | 1);
    q[2] = point;
    q[7] = m;
    q[8] = s;
    q[9] = f;
    SetQCrc(q.data());
    return q;
  };
  using Frames = std::vector<std::array<uint8_t, 12>>;
  struct Case {
    const char* what;
    Frames frames;
    bool decodes;
  } cases[] = {
      {"two tracks", {frame(0xA0, 0x01, 0, 0), frame(0xA1, 0x02, 0, 0), frame(0xA2, 0x10, 0, 0),
                      frame(0x01, 0x00, 0x02, 0), frame(0x02, 0x05, 0, 0)}, true},
      {"first after last", {frame(0xA0, 0x02, 0, 0), frame(0xA1, 0x01, 0, 0), frame(0xA2, 0x10, 0, 0),
                            frame(0x01, 0x00, 0x02, 0), frame(0x02, 0x05, 0, 0)}, false},
      {"first not BCD", {frame(0xA0, 0xFA, 0, 0), frame(0xA1, 0xFA, 0, 0), frame(0xA2, 0x10, 0, 0),
                         frame(0x01, 0x00, 0x02, 0)}, false},
      {"track zero", {frame(0xA0, 0x00, 0, 0), frame(0xA1, 0x01, 0, 0), frame(0xA2, 0x10, 0, 0),
                      frame(0x01, 0x00, 0x02, 0)}, false},
      {"tracks out of order", {frame(0xA0, 0x01, 0, 0), frame(0xA1, 0x02, 0, 0), frame(0xA2, 0x10, 0, 0),
                               frame(0x01, 0x05, 0, 0), frame(0x02, 0x00, 0x02, 0)}, false},
      {"track after the lead-out", {frame(0xA0, 0x01, 0, 0), frame(0xA1, 0x02, 0, 0), frame(0xA2, 0x10, 0, 0),
                                    frame(0x01, 0x00, 0x02, 0), frame(0x02, 0x20, 0, 0)}, false},
      {"lead-out in the lead-in", {frame(0xA0, 0x01, 0, 0), frame(0xA1, 0x01, 0, 0), frame(0xA2, 0x95, 0, 0),
                                   frame(0x01, 0x00, 0x02, 0)}, false},
      {"track in the lead-in", {frame(0xA0, 0x01, 0, 0), frame(0xA1, 0x01, 0, 0), frame(0xA2, 0x10, 0, 0),
                                frame(0x01, 0x97, 0, 0)}, false},
  };
  for (const auto& c : cases) {
    std::string error;
    auto decoded = DecodeLeadIn(c.frames, &error);
    EXPECT_EQ(decoded.has_value(), c.decodes) << c.what;
    if (!c.decodes) {
      EXPECT_FALSE(error.empty()) << c.what;
    }
  }
}

}  // namespace
}  // namespace sorvel::platform::emu
