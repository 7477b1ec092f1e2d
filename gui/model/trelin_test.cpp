// The device engine binding over the stand-in engine library: what reaches
// each export (arguments, order, buffers byte for byte) and how answers come back.
#include "gui/model/trelin.h"

#include <gtest/gtest.h>

#include <functional>

#include <QByteArray>
#include <climits>
#include <cstring>

#include "gui/model/fake_engine/fake_engine_control.h"
#include "gui/model/toc_parts.h"

namespace sorvel {
namespace {

using testing::FakeEngine;

QByteArray Le16(int v) { return QByteArray(1, static_cast<char>(v & 0xFF)) + QByteArray(1, static_cast<char>(v >> 8)); }
QByteArray Le32(int32_t v) {
  QByteArray b(4, '\0');
  for (int i = 0; i < 4; ++i) b[i] = static_cast<char>(static_cast<uint32_t>(v) >> (8 * i));
  return b;
}

class TrelinTest : public ::testing::Test {
 protected:
  FakeEngine fake_{"full", "libtrelin.so"};
};

TEST_F(TrelinTest, ConstructionStartsOneEngineAndDestructionEndsIt) {
  {
    Trelin trelin;
    EXPECT_EQ(trelin.engine_handle(), 0x5A17);
    EXPECT_EQ(trelin.block_length(), 26);
    EXPECT_EQ(trelin.GetEngineVersion(), 10203);
  }
  EXPECT_EQ(fake_.Calls(), (QStringList{"Initialize", "GetEngineVersion", "Terminate 23063"}));
}

TEST_F(TrelinTest, ArgumentsAreClampedAndTranslated) {
  Trelin trelin;
  fake_.Reset();
  for (int length : {0, 30, -5, 12}) trelin.SetBufferingBlockLength(length);
  EXPECT_EQ(fake_.Calls("SetBufferingBlockLength"),
            (QStringList{"SetBufferingBlockLength 23063 1", "SetBufferingBlockLength 23063 26",
                         "SetBufferingBlockLength 23063 1", "SetBufferingBlockLength 23063 12"}));
  EXPECT_EQ(trelin.block_length(), 12);
  trelin.SetReadSpeed(0);
  trelin.SetReadSpeed(-3, true);
  trelin.SetWriteSpeed(36000, true);  // BD speeds do not fit 16 bits signed
  EXPECT_EQ(fake_.Calls("Set") .filter("Speed"),
            (QStringList{"SetReadSpeed 23063 -1 0", "SetReadSpeed 23063 -1 1", "SetWriteSpeed 23063 36000 1"}));
  trelin.WriteEnd();
  trelin.WriteFlush(true);
  trelin.EraseMedia();
  trelin.LoadTray(false);
  trelin.CheckWriteMode(CCC_DAO_RAW96, true, MFT_CDFAMILY);
  EXPECT_EQ(fake_.Calls().mid(fake_.Calls().size() - 5),
            (QStringList{"WriteEnd 23063 0", "WriteFlush 23063 1", "Erase 23063 1", "LoadTray 23063 0",
                         "CheckWriteMode 23063 4 1 1"}));
}

TEST_F(TrelinTest, OpenAndCloseKeepTheDriveState) {
  Trelin trelin;
  fake_.SetOutput("GetDeviceName", DNC_ALL, QByteArray("SORVEL EMU WRITER 1.00\0", 23));
  ASSERT_TRUE(trelin.OpenDeviceEx(QStringLiteral("\\\\host:8801\\E:")));
  EXPECT_TRUE(trelin.remote());
  EXPECT_EQ(trelin.device_name(), QStringLiteral("SORVEL EMU WRITER 1.00"));
  // A second open closes the first drive.
  fake_.Reset();
  fake_.SetOutput("GetDeviceName", DNC_ALL, QByteArray("X\0", 2));
  ASSERT_TRUE(trelin.OpenDeviceEx(QStringLiteral("\\\\.\\D:")));
  EXPECT_FALSE(trelin.remote());
  EXPECT_EQ(fake_.Calls().first(), QStringLiteral("SetReadSpeed 23063 -1 0"));
  EXPECT_TRUE(fake_.Calls().contains(QStringLiteral("Close 23063")));
  EXPECT_TRUE(fake_.Calls().contains(QStringLiteral("OpenEx 23063 \\\\.\\D:")));

  // Close after a change of the error correction puts it back first.
  ASSERT_TRUE(trelin.SetECCMode(false, 8));
  EXPECT_TRUE(trelin.ecc_changed());
  fake_.Reset();
  EXPECT_TRUE(trelin.CloseDevice());
  EXPECT_EQ(fake_.Calls(), (QStringList{"SetECCMode 23063 1 0", "SetReadSpeed 23063 -1 0",
                                        "SetWriteSpeed 23063 -1 0", "ResetSense 23063", "Close 23063"}));
  EXPECT_TRUE(trelin.device_name().isEmpty());
  EXPECT_FALSE(trelin.ecc_changed());
  // Without a change it does not touch the error correction; a failed close keeps the name.
  fake_.Reset();
  fake_.SetOutput("GetDeviceName", DNC_ALL, QByteArray("Y\0", 2));
  ASSERT_TRUE(trelin.OpenDevice(3));
  fake_.SetResult("Close", 0);
  EXPECT_FALSE(trelin.CloseDevice());
  EXPECT_TRUE(fake_.Calls("SetECCMode").isEmpty());
  EXPECT_EQ(trelin.device_name(), QStringLiteral("Y"));
  // A failed open clears both flags.
  fake_.SetResult("Close", 1);
  trelin.SetECCMode(true, 0);
  fake_.SetResult("Open", 0);
  EXPECT_FALSE(trelin.OpenDevice(4));
  EXPECT_FALSE(trelin.ecc_changed());
  EXPECT_FALSE(trelin.remote());
}

TEST_F(TrelinTest, DeviceNameCutInsideACharacterDropsIt) {
  Trelin trelin;
  // 255 bytes of "A" and the first byte of a three-byte character fill the buffer.
  fake_.SetOutput("GetDeviceName", DNC_VENDOR, QByteArray(255, 'A') + QByteArray("\xE5", 1));
  EXPECT_EQ(trelin.GetDeviceName(DNC_VENDOR), QString(255, QLatin1Char('A')));
  fake_.SetOutput("GetDeviceName", DNC_NAME, QByteArray("\xE5\x85\x89\xE7\x9B\xA4\0", 7));
  EXPECT_EQ(trelin.GetDeviceName(DNC_NAME), QStringLiteral("光盤"));
  fake_.SetResult("GetDeviceName", 0);
  EXPECT_EQ(trelin.GetDeviceName(DNC_NAME), QString());
  EXPECT_EQ(fake_.Calls("GetDeviceName").last(), QStringLiteral("GetDeviceName 23063 2 256"));
}

TEST_F(TrelinTest, DefaultCdWriteCommandTriesEveryCandidateInOrder) {
  struct Case {
    bool remote;
    std::vector<int> supported;
    int expected;
    QStringList order;
  };
  const QStringList local{"0", "1", "3", "4"};
  const QStringList reverse{"4", "3", "1", "0"};
  const Case cases[] = {
      {false, {0, 1, 3}, 3, local}, {true, {0, 1, 3}, 0, reverse}, {false, {}, 0, local},
      {true, {3, 4}, 3, reverse},   {false, {4}, 4, local},
  };
  for (const Case& c : cases) {
    Trelin trelin;
    fake_.Reset();
    fake_.SetOutput("GetDeviceName", DNC_ALL, QByteArray("D\0", 2));
    ASSERT_TRUE(c.remote ? trelin.OpenDeviceEx(QStringLiteral("\\\\h:1\\E:")) : trelin.OpenDevice(4));
    for (int mode : c.supported) fake_.SetResult(("CheckWriteMode" + std::to_string(mode)).c_str(), 1);
    fake_.Reset();
    for (int mode : c.supported) fake_.SetResult(("CheckWriteMode" + std::to_string(mode)).c_str(), 1);
    EXPECT_EQ(trelin.GetDefaultCDWriteCommand(), c.expected);
    QStringList tried;
    for (const QString& call : fake_.Calls("CheckWriteMode")) tried << call.section(QLatin1Char(' '), 2, 2);
    EXPECT_EQ(tried, c.order);
    EXPECT_TRUE(fake_.Calls("CheckWriteMode").first().endsWith(QLatin1String(" 0 1")));  // no test write, CD family
  }
}

TEST_F(TrelinTest, ReadSpeedListsByMedium) {
  struct Case {
    int family, type;
    std::vector<int32_t> speeds;
  };
  const Case cases[] = {
      {1, 9, {8467, 7056, 5645, 4234, 3528, 2822, 2117, 1764, 1411, 706, 352, 176}},
      {255, 0, {8467, 7056, 5645, 4234, 3528, 2822, 2117, 1764, 1411, 706, 352, 176}},
      {2, 18, {22160, 16620, 11080, 8310, 6925, 4155, 2770}},
      {2, 27, {22160, 16620, 11080, 8310, 5540, 3324}},
      {2, 43, {22160, 16620, 11080, 8310, 5540, 3324}},
      {2, 17, {22160, 16620, 11080, 8310, 5540, 2770, 1385}},
      {3, 65, {4500, 6750, 9000, 18000, 27000, 36000}},
      {4, 81, {4500, 6750, 9000, 18000, 27000, 36000}},
      {0, 0, {}},
      {5, 0, {}},
  };
  Trelin trelin;
  for (const Case& c : cases) {
    fake_.Reset();
    fake_.SetResult("GetMediaFamilyType", c.family);
    fake_.SetResult("GetMediaType", c.type);
    auto speeds = trelin.GetReadSpeed();
    std::vector<int32_t> got;
    for (int i = 1; i <= speeds->Count(); ++i) {
      got.push_back(speeds->Items(i)->Speed);
      EXPECT_FALSE(speeds->Items(i)->CAV);
    }
    EXPECT_EQ(got, c.speeds) << c.family << "/" << c.type;
    // The media type is asked only for DVD.
    EXPECT_EQ(fake_.Calls("GetMediaType ").size(), c.family == 2 ? 1 : 0);
  }
}

TEST_F(TrelinTest, WriteSpeedsComeFromTheEngineOrFallBackToReadSpeeds) {
  Trelin trelin;
  QByteArray entries;
  entries += QByteArray("\0\0", 2) + Le16(36000);  // CLV 36,000 kB/s
  entries += QByteArray("\0\1", 2) + Le16(7056);   // CAV
  fake_.SetOutput("GetWriteSpeed", 0, entries);
  auto speeds = trelin.GetWriteSpeed();
  ASSERT_EQ(speeds->Count(), 2);
  EXPECT_EQ(speeds->Items(1)->Speed, 36000);
  EXPECT_FALSE(speeds->Items(1)->CAV);
  EXPECT_EQ(speeds->Items(2)->Speed, 7056);
  EXPECT_TRUE(speeds->Items(2)->CAV);
  EXPECT_EQ(fake_.Calls("GetWriteSpeed").last(), QStringLiteral("GetWriteSpeed 23063 255"));
  // A count beyond the room is not believed.
  fake_.SetResult("GetWriteSpeed", 100000);
  EXPECT_EQ(trelin.GetWriteSpeed()->Count(), 255);
  fake_.SetResult("GetWriteSpeed", 0);
  fake_.SetResult("GetMediaFamilyType", 1);
  EXPECT_EQ(trelin.GetWriteSpeed()->Count(), 12);
}

TEST_F(TrelinTest, MediaWritableByProfile) {
  Trelin trelin;
  fake_.SetResult("IsReady", 0);
  EXPECT_FALSE(trelin.IsMediaWritable());
  fake_.SetResult("IsReady", 1);
  for (int type : {9, 17, 21, 22, 27, 43, 65, 66, 81, 88}) {
    fake_.SetResult("GetMediaType", type);
    fake_.SetResult("IsDiscEmpty", 1);
    EXPECT_TRUE(trelin.IsMediaWritable()) << type;
    fake_.SetResult("IsDiscEmpty", 0);
    EXPECT_FALSE(trelin.IsMediaWritable()) << type;
  }
  for (int type : {10, 18, 19, 20, 23, 26, 42, 67, 82, 83, 90}) {
    fake_.SetResult("GetMediaType", type);
    EXPECT_TRUE(trelin.IsMediaWritable()) << type;
  }
  for (int type : {0, 8, 16, 24, 64, 80}) {
    fake_.SetResult("GetMediaType", type);
    EXPECT_FALSE(trelin.IsMediaWritable()) << type;
  }
}

TEST_F(TrelinTest, MediaTypeNames) {
  EXPECT_EQ(Trelin::GetMediaTypeName(19), QStringLiteral("DVD-RW(OW)"));
  EXPECT_EQ(Trelin::GetMediaTypeName(43), QStringLiteral("PC-R DL"));
  EXPECT_EQ(Trelin::GetMediaTypeName(90), QStringLiteral("HDDVD-RW DL"));
  EXPECT_EQ(Trelin::GetMediaTypeName(8), QStringLiteral("CD-ROM"));
  for (int type : {-1, 0, 25, 68, 0x10000}) EXPECT_EQ(Trelin::GetMediaTypeName(type), QStringLiteral("UNKNOWN MEDIA"));
}

TEST_F(TrelinTest, SectorBuffersAreCheckedAgainstWhatTheExportTouches) {
  Trelin trelin;
  QByteArray small(2352, 'x');
  EXPECT_FALSE(trelin.ReadLBA(small, 5));
  EXPECT_FALSE(trelin.ReadLBADummy(small, 5));
  EXPECT_TRUE(fake_.Calls("ReadLBA").isEmpty());
  QByteArray sector(2448, '\0');
  ASSERT_TRUE(trelin.ReadLBA(sector, 5));
  EXPECT_EQ(static_cast<uint8_t>(sector[2447]), static_cast<uint8_t>(5 + 2447));
  // A short sector goes out zero-padded to the whole size the export reads.
  const QByteArray user(2048, '\x5A');
  ASSERT_TRUE(trelin.WriteLBA(CSD_SECTORONLY, user, 7));
  const QByteArray sent = fake_.Bytes("WriteLBA");
  ASSERT_EQ(sent.size(), 2448);
  EXPECT_EQ(sent.left(2048), user);
  EXPECT_EQ(sent.mid(2048), QByteArray(400, '\0'));
  EXPECT_EQ(fake_.Calls("WriteLBA").first(), QStringLiteral("WriteLBA 23063 0 7"));
}

// Numbers no drive can take stop at the binding: an LBA outside what any
// medium names (lead-in 90:00:00 to the last sector of the largest disc), a
// drive index outside A: to Z:, a port outside 0 to 65535.
TEST_F(TrelinTest, NumbersNoDriveTakesNeverReachTheEngine) {
  Trelin trelin;
  QByteArray sector(2448, '\0');
  fake_.Reset();
  for (int32_t lba : {INT32_MIN, -45151, 62500864, INT32_MAX}) {
    EXPECT_FALSE(trelin.ReadLBA(sector, lba)) << lba;
    EXPECT_FALSE(trelin.ReadLBADummy(sector, lba)) << lba;
    EXPECT_FALSE(trelin.WriteLBA(CSD_MAINCHANNEL, sector, lba)) << lba;
  }
  for (int32_t drive : {INT32_MIN, -1, 26, INT32_MAX}) EXPECT_FALSE(trelin.OpenDevice(drive)) << drive;
  for (int32_t port : {INT32_MIN, -1, 65536, INT32_MAX}) {
    EXPECT_TRUE(trelin.GetRemoteHosts(QStringLiteral("127.0.0.1"), port, 10).isEmpty()) << port;
  }
  EXPECT_TRUE(fake_.Calls().isEmpty()) << fake_.Calls().join(' ').toStdString();
  // The ends of the ranges pass.
  for (int32_t lba : {-45150, 62500863}) {
    EXPECT_TRUE(trelin.ReadLBA(sector, lba)) << lba;
    EXPECT_TRUE(trelin.WriteLBA(CSD_MAINCHANNEL, sector, lba)) << lba;
  }
  trelin.OpenDevice(25);
  trelin.GetRemoteHosts(QStringLiteral("127.0.0.1"), 65535, 10);
  EXPECT_EQ(fake_.Calls("ReadLBA").size(), 2);
  EXPECT_EQ(fake_.Calls("WriteLBA").size(), 2);
  EXPECT_EQ(fake_.Calls("Open "), QStringList{QStringLiteral("Open 23063 25")});
  EXPECT_EQ(fake_.Calls("GetRemoteHosts").size(), 1);
}

TEST_F(TrelinTest, RemoteHostListCutIsFetchedAgainWithTheRoomAsked) {
  Trelin trelin;
  fake_.SetResult("GetRemoteHosts", 1);
  EXPECT_EQ(trelin.GetRemoteHosts(QStringLiteral("127.0.0.1"), 8801), QString());
  QByteArray hosts;
  for (int i = 0; i < 120; ++i) hosts += "127.0.0." + QByteArray::number(i % 250) + "|";
  hosts += "127.0.0.250";
  fake_.SetOutput("GetRemoteHosts", 0, hosts);
  fake_.SetResult("GetRemoteHosts", static_cast<int32_t>(hosts.size() + 1));
  fake_.Reset();
  fake_.SetOutput("GetRemoteHosts", 0, hosts);
  fake_.SetResult("GetRemoteHosts", static_cast<int32_t>(hosts.size() + 1));
  EXPECT_EQ(trelin.GetRemoteHosts(QStringLiteral("127.0.0.1|127.255.255.255"), 8801, 50), QString::fromUtf8(hosts));
  const QStringList calls = fake_.Calls("GetRemoteHosts");
  ASSERT_EQ(calls.size(), 2);
  EXPECT_EQ(calls[0], QStringLiteral("GetRemoteHosts 23063 8801 1024 50 127.0.0.1|127.255.255.255"));
  EXPECT_EQ(calls[1], QStringLiteral("GetRemoteHosts 23063 8801 %1 50 127.0.0.1|127.255.255.255").arg(hosts.size() + 1));
  // Still cut on the second call (more hosts answered): only whole names are kept.
  fake_.Reset();
  fake_.SetOutput("GetRemoteHosts", 0, hosts);
  fake_.SetResult("GetRemoteHosts", 1100);
  fake_.SetResult("GetRemoteHosts#2", static_cast<int32_t>(hosts.size() + 50));
  const QString kept = trelin.GetRemoteHosts(QStringLiteral("127.0.0.1"), 8801, 10);
  EXPECT_TRUE(QString::fromUtf8(hosts).startsWith(kept + QLatin1Char('|'))) << kept.toStdString();
  EXPECT_EQ(kept.size(), hosts.lastIndexOf('|', 1099));
  EXPECT_EQ(fake_.Calls("GetRemoteHosts").size(), 2);
}

TEST_F(TrelinTest, SetTOCStructureHandsOverEveryPartByteForByte) {
  TOCInformation toc;
  toc.TOCAdd(1, 1, 1, 4, 1, 0, 0x01020304);
  toc.TOCAdd(2, 2, 0, 0, 0, -150, -1);
  toc.RawTOCAdd(1, 0x14, 0, 0xA0, 1, 2, 3, 0, 1, 32, 0);
  toc.MCN(QStringLiteral("4901234567894"));
  toc.ISRCAdd(QStringLiteral("JPABC0012345"));
  toc.ISRCAdd(QStringLiteral("000000000000"));
  const uint8_t data[12] = {'A', 'B', 'C', 0, 'D', 'E', 'F', 0, 1, 2, 3, 4};
  const uint8_t crc[2] = {0xAB, 0xCD};
  toc.CDTextAdd(0x80, 0, 0, 0x0F, data, crc);
  Trelin trelin;
  fake_.Reset();
  trelin.SetTOCStructure(toc);
  EXPECT_EQ(fake_.Calls(), (QStringList{"ClearTOCStructure 23063", "SetTOCStructure 23063 0 3330",
                                        "SetTOCStructure 23063 1 1410", "SetTOCStructure 23063 2 14",
                                        "SetTOCStructure 23063 3 1202", "SetTOCStructure 23063 4 9218"}));
  QByteArray tracks = Le16(2);
  tracks += QByteArray("\1\1\1\4\1", 5) + Le32(0) + Le32(0x01020304);
  tracks += QByteArray("\2\2\0\0\0", 5) + Le32(-150) + Le32(-1);
  EXPECT_EQ(fake_.Bytes("SetTOCStructure 23063 0"), tracks + QByteArray(3330 - tracks.size(), '\0'));
  QByteArray raw = Le16(1) + QByteArray("\1\x14\0\xA0\1\2\3\0\1\x20\0", 11);
  EXPECT_EQ(fake_.Bytes("SetTOCStructure 23063 1"), raw + QByteArray(1410 - raw.size(), '\0'));
  EXPECT_EQ(fake_.Bytes("SetTOCStructure 23063 2"), QByteArray("4901234567894\0", 14));
  QByteArray isrc = Le16(2) + QByteArray("JPABC0012345") + QByteArray(12, '\0');
  EXPECT_EQ(fake_.Bytes("SetTOCStructure 23063 3"), isrc + QByteArray(1202 - isrc.size(), '\0'));
  QByteArray pack = Le16(1) + QByteArray("\x80\0\0\x0F", 4) + QByteArray(reinterpret_cast<const char*>(data), 12) +
                    QByteArray("\xAB\xCD", 2);
  EXPECT_EQ(fake_.Bytes("SetTOCStructure 23063 4"), pack + QByteArray(9218 - pack.size(), '\0'));

  // No MCN: 14 zero bytes.
  TOCInformation empty;
  fake_.Reset();
  trelin.SetTOCStructure(empty);
  EXPECT_EQ(fake_.Bytes("SetTOCStructure 23063 2"), QByteArray(14, '\0'));
  EXPECT_EQ(fake_.Bytes("SetTOCStructure 23063 0"), QByteArray(3330, '\0'));
}

// A list longer than its part would lose its tail: the TOC is refused whole
// and the engine's TOC only emptied (it was once cut to the first entries).
TEST_F(TrelinTest, SetTOCStructureRefusesWhatAPartCannotHold) {
  const struct {
    int part;
    int capacity;
    std::function<void(TOCInformation&)> add;
  } cases[] = {
      {0, 256, [](TOCInformation& t) { t.TOCAdd(1, 1, 1, 0, 0, 0, 0); }},
      {1, 128, [](TOCInformation& t) { t.RawTOCAdd(1, 1, 0, 1, 0, 2, 0, 0, 0, 2, 0); }},
      {3, 100, [](TOCInformation& t) { t.ISRCAdd(QStringLiteral("JPABC0012345")); }},
      {4, 512, [](TOCInformation& t) { t.CDTextAdd(0x80, 0, 0, 0, {}, {}); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.part);
    TOCInformation toc;
    for (int i = 0; i < c.capacity; ++i) c.add(toc);
    Trelin trelin;
    fake_.Reset();
    EXPECT_EQ(OverfullTocPart(toc), -1);
    EXPECT_TRUE(trelin.SetTOCStructure(toc));
    const QByteArray bytes = fake_.Bytes(QStringLiteral("SetTOCStructure 23063 %1").arg(c.part));
    EXPECT_EQ(static_cast<uint8_t>(bytes[0]) | static_cast<uint8_t>(bytes[1]) << 8, c.capacity);
    c.add(toc);
    fake_.Reset();
    EXPECT_EQ(OverfullTocPart(toc), c.part);
    EXPECT_FALSE(trelin.SetTOCStructure(toc));
    EXPECT_EQ(fake_.Calls(), QStringList{QStringLiteral("ClearTOCStructure 23063")});
  }
}

TEST_F(TrelinTest, GetTOCStructureTakesOnlyWhatTheEngineCopied) {
  Trelin trelin;
  fake_.Reset();
  QByteArray tracks = Le16(2) + QByteArray("\1\1\1\4\1", 5) + Le32(0) + Le32(1000) + QByteArray("\1\2\1\0\0", 5) +
                      Le32(1001) + Le32(-7);
  fake_.SetOutput("GetTOCStructure", 0, tracks);
  // The count says 200 but only one entry was copied.
  fake_.SetOutput("GetTOCStructure", 1, Le16(200) + QByteArray("\1\x14\0\xA0\1\2\3\0\1\x20\0", 11));
  fake_.SetOutput("GetTOCStructure", 2, QByteArray("4901234567894"));
  fake_.SetOutput("GetTOCStructure", 3, Le16(3) + QByteArray("JPABC0012345") + QByteArray(12, '\0') +
                                            QByteArray("USXYZ9900001"));
  QByteArray pack = QByteArray("\x8F\1\2\x80", 4) + QByteArray("0123456789AB") + QByteArray("\x12\x34", 2);
  fake_.SetOutput("GetTOCStructure", 4, Le16(1) + pack);
  auto toc = trelin.GetTOCStructure();
  ASSERT_NE(toc, nullptr);
  EXPECT_EQ(fake_.Calls(), (QStringList{"GetTOCStructure 23063 0 3330", "GetTOCStructure 23063 1 1410",
                                        "GetTOCStructure 23063 2 13", "GetTOCStructure 23063 3 1202",
                                        "GetTOCStructure 23063 4 9218"}));
  ASSERT_EQ(toc->TOCCount(), 2);
  EXPECT_EQ(toc->TOC(1)->Flags, 4);
  EXPECT_EQ(toc->TOC(1)->SectorMode, 1);
  EXPECT_EQ(toc->TOC(1)->EndLBA, 1000);
  EXPECT_EQ(toc->TOC(2)->TrackNo, 2);
  EXPECT_EQ(toc->TOC(2)->EndLBA, -7);
  ASSERT_EQ(toc->RawTOCCount(), 1);
  EXPECT_EQ(toc->RawTOC(1)->Point, 0xA0);
  EXPECT_EQ(toc->RawTOC(1)->PSecond, 0x20);
  EXPECT_EQ(toc->MCN(), QStringLiteral("4901234567894"));
  ASSERT_EQ(toc->ISRCCount(), 3);
  EXPECT_EQ(toc->ISRC(1), QStringLiteral("JPABC0012345"));
  EXPECT_EQ(toc->ISRC(2), QStringLiteral("000000000000"));
  EXPECT_EQ(toc->ISRC(3), QStringLiteral("USXYZ9900001"));
  ASSERT_EQ(toc->CDTextCount(), 1);
  EXPECT_EQ(toc->CDText(1)->PacketType, 0x8F);
  EXPECT_EQ(toc->CDText(1)->Flags, 0x80);
  EXPECT_EQ(toc->CDText(1)->Data[11], 'B');
  EXPECT_EQ(toc->CDText(1)->Crc[1], 0x34);

  // A part the engine does not give is left empty; an MCN with a leading zero byte is none.
  fake_.Reset();
  auto unset = trelin.GetTOCStructure();
  EXPECT_EQ(unset->MCN(), QStringLiteral("0000000000000"));
  fake_.SetOutput("GetTOCStructure", 2, QByteArray("\0" "901234567894", 13));
  auto none = trelin.GetTOCStructure();
  EXPECT_EQ(none->TOCCount(), 0);
  EXPECT_EQ(none->MCN(), QStringLiteral("0000000000000"));
}

TEST_F(TrelinTest, SenseDescriptionOfTheLastStatus) {
  Trelin trelin;
  fake_.SetResult("GetSCSIErrorStatus", 0x052400);
  EXPECT_EQ(trelin.GetSCSIErrorDescription(), QStringLiteral("(5 24 00) INVALID FIELD IN CDB"));
  fake_.SetResult("GetSCSIErrorStatus", 0);
  EXPECT_EQ(trelin.GetSCSIErrorDescription(), QString());
}

TEST(TrelinPartialLibraryTest, AMissingLaterExportFailsOnlyThatCall) {
  FakeEngine fake("partial", "libtrelin.so");
  Trelin trelin;
  EXPECT_EQ(trelin.GetLastWroteLBA(), 0);  // not exported by this library
  EXPECT_EQ(trelin.GetLastLBA(), 359849);
  EXPECT_TRUE(trelin.IsReady());
  EXPECT_EQ(fake.Calls(), (QStringList{"Initialize", "GetLastLBA 23063", "IsReady 23063"}));
}

}  // namespace
}  // namespace sorvel
