#include "gui/model/toc_records.h"

#include <gtest/gtest.h>

namespace sorvel::model {
namespace {

TEST(TOCTrackTest, TimeTexts) {
  struct Case {
    int32_t lba;
    const char* start_msf;
    const char* cue_time;
  };
  const Case cases[] = {
      {0, "00:02:00", "00:00:00"},      {4575, "01:03:00", "01:01:00"},    {-150, "00:00:00", "-00:02:00"},
      {449849, "99:59:74", "99:57:74"}, {449850, "100:00:00", "99:58:00"}, {359999, "80:01:74", "79:59:74"},
  };
  for (const Case& c : cases) {
    TOCTrack track;
    track.StartLBA = c.lba;
    track.EndLBA = c.lba;
    EXPECT_EQ(track.StartMSF(), QString::fromLatin1(c.start_msf)) << c.lba;
    EXPECT_EQ(track.EndMSF(), QString::fromLatin1(c.start_msf)) << c.lba;
    EXPECT_EQ(track.CueTime(), QString::fromLatin1(c.cue_time)) << c.lba;
  }
}

TEST(TOCRawTrackTest, AddressesFromNinetyMinutesLieInTheLeadIn) {
  struct Case {
    uint8_t m, s, f;
    int32_t lba;
  };
  const Case cases[] = {
      {0, 2, 0, 0}, {0, 0, 0, -150}, {89, 59, 74, 404849}, {95, 0, 0, -22650}, {97, 27, 0, -11625}, {99, 59, 74, -151},
  };
  for (const Case& c : cases) {
    TOCRawTrack raw;
    raw.Minute = c.m;
    raw.Second = c.s;
    raw.Frame = c.f;
    raw.PMinute = c.m;
    raw.PSecond = c.s;
    raw.PFrame = c.f;
    EXPECT_EQ(raw.LBA(), c.lba) << int(c.m) << ":" << int(c.s) << ":" << int(c.f);
    EXPECT_EQ(raw.PLBA(), c.lba);
  }
}

TEST(TOCCDTextTest, PackTextIsSixteenUpperCasePairs) {
  TOCCDText pack;
  pack.PacketType = 0x80;
  pack.TrackNo = 1;
  pack.PacketNo = 5;
  pack.Flags = 0;
  pack.Data.fill(0x41);
  pack.Crc = {0x12, 0x34};
  EXPECT_EQ(pack.PackText(), QStringLiteral("80 01 05 00 41 41 41 41 41 41 41 41 41 41 41 41"));
  pack.Data[11] = 0xAB;
  EXPECT_EQ(pack.PackText().size(), 47);
  EXPECT_TRUE(pack.PackText().endsWith(QLatin1String(" AB")));
}

TEST(TOCCDTextTest, ParsePackTextRoundTripsAndClearsTheCrc) {
  TOCCDText source;
  source.PacketType = 0x8F;
  source.TrackNo = 0xFE;
  source.PacketNo = 0x2A;
  source.Flags = 0x0F;
  for (size_t i = 0; i < 12; ++i) source.Data[i] = static_cast<uint8_t>(i * 21);
  TOCCDText copy;
  copy.Crc = {1, 2};
  ASSERT_TRUE(copy.ParsePackText(source.PackText()));
  EXPECT_EQ(copy.PackText(), source.PackText());
  EXPECT_EQ(copy.Crc[0], 0);
  EXPECT_EQ(copy.Crc[1], 0);
  // Lower case and single digits are read too.
  ASSERT_TRUE(copy.ParsePackText(QStringLiteral("8f fe 2a f 0 1 2 3 4 5 6 7 8 9 a b")));
  EXPECT_EQ(copy.Flags, 0x0F);
  EXPECT_EQ(copy.Data[11], 0x0B);
}

TEST(TOCCDTextTest, ParsePackTextRefusesAnythingButSixteenHexPieces) {
  const char* bad[] = {
      "",
      "80 01 05 00 41 41 41 41 41 41 41 41 41 41 41",        // 15 pieces
      "80 01 05 00 41 41 41 41 41 41 41 41 41 41 41 41 41",  // 17 pieces
      "80 01 05 00 41 41 41 41 41 41 41 41 41 41 41 4G",
      "80 01 05 00 41 41 41 41 41 41 41 41 41 41 41 141",
      "0x80 01 05 00 41 41 41 41 41 41 41 41 41 41 41 41",
      "+8 01 05 00 41 41 41 41 41 41 41 41 41 41 41 41",
      "-1 01 05 00 41 41 41 41 41 41 41 41 41 41 41 41",
  };
  for (const char* text : bad) {
    TOCCDText pack;
    pack.PacketType = 0x99;
    pack.Crc = {7, 7};
    EXPECT_FALSE(pack.ParsePackText(QString::fromLatin1(text))) << text;
    EXPECT_EQ(pack.PacketType, 0x99) << text;
    EXPECT_EQ(pack.Crc[0], 7) << text;
  }
}

}  // namespace
}  // namespace sorvel::model
