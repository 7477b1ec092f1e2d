#include "gui/model/toc_information.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <array>
#include <climits>

namespace sorvel {
namespace {

TEST(TOCInformationTest, NewAndClearedModelIsEmpty) {
  TOCInformation toc;
  EXPECT_EQ(toc.MCN(), QStringLiteral("0000000000000"));
  EXPECT_EQ(toc.TOCCount(), 0);
  toc.TOCAdd(1, 1, 1, 4, 1, 0, 99);
  toc.RawTOCAdd(1, 0x14, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0);
  toc.ISRCAdd(QStringLiteral("JPABC0000001"));
  toc.CDTextAdd(0x80, 0, 0, 0, {}, {});
  toc.MCN(QStringLiteral("4988001234567"));
  toc.Clear();
  EXPECT_EQ(toc.MCN(), QStringLiteral("0000000000000"));
  EXPECT_EQ(toc.TOCCount() + toc.RawTOCCount() + toc.ISRCCount() + toc.CDTextCount(), 0);
}

TEST(TOCInformationTest, McnAndIsrcArePaddedOrCut) {
  struct Case {
    const char* in;
    const char* mcn;
    const char* isrc;
  };
  const Case cases[] = {
      {"4988", "4988000000000", "498800000000"},
      {"", "0000000000000", "000000000000"},
      {"12345678901234567890", "1234567890123", "123456789012"},
      {"JPXYZ9900001", "JPXYZ99000010", "JPXYZ9900001"},
  };
  for (const Case& c : cases) {
    TOCInformation toc;
    toc.MCN(QString::fromLatin1(c.in));
    EXPECT_EQ(toc.MCN(), QString::fromLatin1(c.mcn)) << c.in;
    toc.ISRCAdd(QString::fromLatin1(c.in));
    EXPECT_EQ(toc.ISRC(1), QString::fromLatin1(c.isrc)) << c.in;
  }
  TOCInformation toc;
  for (int index : {-1, 0, 1, 2}) EXPECT_EQ(toc.ISRC(index), QStringLiteral("000000000000"));
}

TEST(TOCInformationTest, ListsHandOutStoredObjectsAndDeleteMovesDown) {
  TOCInformation toc;
  toc.TOCAdd(1, 1, 0, 2, 0, -150, -1);
  toc.TOCAdd(1, 1, 1, 2, 0, 0, 999);
  toc.TOCAdd(1, 2, 1, 4, 1, 1000, 1999);
  model::TOCTrack* second = toc.TOC(2);
  ASSERT_NE(second, nullptr);
  second->EndLBA = 12345;  // changes the model itself
  EXPECT_EQ(toc.TOC(2)->EndLBA, 12345);
  EXPECT_EQ(toc.TOC(0), nullptr);
  EXPECT_EQ(toc.TOC(4), nullptr);
  EXPECT_FALSE(toc.TOCDelete(0));
  EXPECT_FALSE(toc.TOCDelete(4));
  EXPECT_TRUE(toc.TOCDelete(1));
  EXPECT_EQ(toc.TOC(1), second);
  EXPECT_EQ(toc.TOCCount(), 2);

  toc.RawTOCAdd(1, 0x14, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0);
  toc.RawTOCAdd(2, 0x10, 0, 0xA2, 1, 2, 3, 0, 4, 5, 6);
  const model::TOCRawTrack* raw = toc.RawTOC(2);
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(raw->SessionNo, 2);
  EXPECT_EQ(raw->Point, 0xA2);
  EXPECT_EQ(raw->PFrame, 6);
  EXPECT_EQ(raw->PLBA(), 4 * 4500 + 5 * 75 + 6 - 150);
  EXPECT_TRUE(toc.RawTOCDelete(1));
  EXPECT_EQ(toc.RawTOC(1), raw);
  EXPECT_FALSE(toc.RawTOCDelete(2));

  toc.ISRCAdd(QStringLiteral("AAAAAAAAAAAA"));
  toc.ISRCAdd(QStringLiteral("BBBBBBBBBBBB"));
  EXPECT_TRUE(toc.ISRCDelete(1));
  EXPECT_EQ(toc.ISRC(1), QStringLiteral("BBBBBBBBBBBB"));
  EXPECT_FALSE(toc.ISRCDelete(2));
}

TEST(TOCInformationTest, CDTextAddCopiesTheBytes) {
  TOCInformation toc;
  std::array<uint8_t, 12> data{};
  data.fill(0x41);
  const std::array<uint8_t, 2> crc{0xDE, 0xAD};
  toc.CDTextAdd(0x80, 1, 5, 0, data, crc);
  data.fill(0);
  const uint8_t short_data[3] = {1, 2, 3};
  toc.CDTextAdd(0x81, 2, 6, 0, short_data, {});
  ASSERT_EQ(toc.CDTextCount(), 2);
  EXPECT_EQ(toc.CDText(1)->PackText(), QStringLiteral("80 01 05 00 41 41 41 41 41 41 41 41 41 41 41 41"));
  EXPECT_EQ(toc.CDText(1)->Crc[1], 0xAD);
  EXPECT_EQ(toc.CDText(2)->PackText(), QStringLiteral("81 02 06 00 01 02 03 00 00 00 00 00 00 00 00 00"));
  EXPECT_EQ(toc.CDText(3), nullptr);
  EXPECT_TRUE(toc.CDTextDelete(1));
  EXPECT_EQ(toc.CDText(1)->PacketType, 0x81);
}

TEST(TOCInformationTest, RaiseStatusSendsTheTypedEventFirst) {
  TOCInformation toc;
  QStringList order;
  QObject::connect(&toc, &TOCInformation::StatusChangeEx, [&order](int32_t type, const QString& text) {
    order << QStringLiteral("ex %1 %2").arg(type).arg(text);
  });
  QObject::connect(&toc, &TOCInformation::StatusChange,
                   [&order](const QString& text) { order << QStringLiteral("plain ") + text; });
  toc.RaiseStatus(2, QStringLiteral("失敗"));
  EXPECT_EQ(order, (QStringList{QStringLiteral("ex 2 失敗"), QStringLiteral("plain 失敗")}));
}

TEST(TOCInformationTest, HexTexts) {
  EXPECT_EQ(TOCInformation::ByteToHexText(160), QStringLiteral("0xA0"));
  EXPECT_EQ(TOCInformation::ByteToHexText(10), QStringLiteral("0x0A"));
  EXPECT_EQ(TOCInformation::ByteToHexText(0), QStringLiteral("0x00"));
  EXPECT_EQ(TOCInformation::ByteToHexText(255), QStringLiteral("0xFF"));
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {
      {"0XA0 ", 160}, {"160", 0},     {"0xa0", 160}, {"  0x0a", 10}, {"0xA", 0},    {"0x", 0},
      {"", 0},        {"0xA0B", 160}, {"0xZZ", 0},   {"0x-1", 0},    {"0xff", 255}, {"x0A0", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TOCInformation::HexTextToByte(QString::fromLatin1(c.text)), c.value) << c.text;
  }
  for (int value = 0; value < 256; ++value) {
    const auto byte = static_cast<uint8_t>(value);
    EXPECT_EQ(TOCInformation::HexTextToByte(TOCInformation::ByteToHexText(byte)), byte);
  }
}

TEST(TOCInformationTest, MsfToLba) {
  struct Case {
    const char* text;
    std::optional<int32_t> lba;
  };
  const Case cases[] = {
      {"00:02:00", 0},
      {"00:00:00", -150},
      {"01:01:00", 4575 - 150},
      {"95:00:00", 427350},
      {"100:00:00", 449850},
      {"0:2:0", 0},
      {"00:59:74", 59 * 75 + 74 - 150},
      {"00:60:00", std::nullopt},
      {"00:00:75", std::nullopt},
      {"00:00", std::nullopt},
      {"00:00:00:00", std::nullopt},
      {"aa:00:00", std::nullopt},
      {"-1:00:00", std::nullopt},
      {"00::00", std::nullopt},
      {"00:02:00 ", std::nullopt},
      {"9999999:00:00", std::nullopt},
      // The frame count (LBA + 150) as far as 32 bits reach, and one past.
      {"477218:35:22", INT32_MAX - 150},
      {"477218:35:23", std::nullopt},
      {"477219:00:00", std::nullopt},
      {"999999:59:74", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TOCInformation::MSFToLBA(QString::fromLatin1(c.text)), c.lba) << c.text;
  }
  EXPECT_EQ(TOCInformation::MSFToLBA(95, 0, 0), 427350);
  EXPECT_EQ(TOCInformation::MSFToLBA(0, 2, 0), 0);
  // The number form never wraps.
  EXPECT_EQ(TOCInformation::MSFToLBA(999999, 59, 74), int64_t{999999} * 4500 + 59 * 75 + 74 - 150);
}

}  // namespace
}  // namespace sorvel
